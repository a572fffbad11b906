#include "CameraAddress.h"
#include "DiagnosticsCapture.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "Gige/GigeTransport.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVManager.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::DeviceInfo;
using XEVLibrary::GigeTransport;
using XEVLibrary::XEVManager;
using XEVLibrary::ByteOrder::Ipv4FromString;
using XEVLibrary::ByteOrder::Ipv4ToString;
using XEVLibrary::Emulator::GigeModel;
using XEVLibrary::Emulator::XEVGigeCameraConfig;
using XEVLibrary::Emulator::XEVGigeEmulatedCamera;
using Clock = std::chrono::steady_clock;

// Cameras on loopback are asked directly: these tests never broadcast.
std::unique_ptr<XEVGigeEmulatedCamera> Plug(GigeModel model, const std::string& address,
                                            const std::string& maker = "") {
    XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(model, address);
    if (!maker.empty())
        config.manufacturerName = maker;
    return std::make_unique<XEVGigeEmulatedCamera>(config);
}

TEST(GigeDiscovery, ListedCamerasAnswerInOneCycleAndForeignOnesAreMarked) {
    const std::string a = cameraAddress(), b = cameraAddress(), c = cameraAddress();
    auto heron = Plug(GigeModel::HeronGigE, a);
    auto kestrel = Plug(GigeModel::KestrelGigE, b);
    auto foreign = Plug(GigeModel::HeronGigE, c, "Another maker");
    DiagnosticsCapture diagnostics;
    const auto start = Clock::now();
    const std::vector<DeviceInfo> found = GigeTransport::Discover(
        5, 3, {Ipv4FromString(a), Ipv4FromString(b), Ipv4FromString(c)}, false);
    const auto elapsed = Clock::now() - start;
    ASSERT_EQ(found.size(), 3u) << diagnostics.text();
    EXPECT_LT(elapsed, 2500ms); // all in the first cycle of one second
    for (const DeviceInfo& info : found) {
        EXPECT_TRUE(info.IsReachable());
        EXPECT_EQ(Ipv4ToString(info.LocalIp()), "127.0.0.1");
        EXPECT_EQ(info.IsXevCamera(), info.ManufacturerName() != "Another maker");
    }
    EXPECT_NE(diagnostics.text().find("A reachable Gige device was detected but it is not a XEV "
                                      "camera"),
              std::string::npos);
    EXPECT_NE(diagnostics.text().find("Nbre devices = 3\n"), std::string::npos);

    const std::vector<DeviceInfo> one = GigeTransport::Discover(5, 1, {Ipv4FromString(b)}, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].ModelName(), "KestrelGigE");
    EXPECT_EQ(GigeTransport::Discover(1, 1, {Ipv4FromString(cameraAddress())}, false).size(), 0u);
}

TEST(GigeDiscovery, ForceIpMovesACameraToItsNewAddress) {
    const std::string before = cameraAddress(), after = cameraAddress();
    auto camera = Plug(GigeModel::HeronGigE, before);
    std::vector<DeviceInfo> found = GigeTransport::Discover(1, 1, {Ipv4FromString(before)}, false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(GigeTransport::ForceIp(found[0], after, "255.255.0.0", "127.0.0.1"));
    EXPECT_EQ(Ipv4ToString(found[0].CurrentIp()), after);
    EXPECT_EQ(Ipv4ToString(found[0].CurrentSubnetMask()), "255.255.0.0");
    EXPECT_EQ(camera->address(), after);
    found = GigeTransport::Discover(1, 1, {Ipv4FromString(after)}, false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Ipv4ToString(found[0].CurrentIp()), after);
    EXPECT_FALSE(GigeTransport::ForceIp(found[0], "not an address", "255.0.0.0", "0.0.0.0"));
}

class ManagerListsGigeCameras : public ::testing::Test {
protected:
    void SetUp() override {
        XEVManager::destroyInstance();
        XEVManager::useUsb = false;
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeDiscoveryTimeInSeconds = 2;
        XEVManager::numberGigeDevicesToDiscover = 2;
    }
    void TearDown() override {
        XEVManager::destroyInstance();
        XEVManager::useUsb = true;
        XEVManager::useGige = false;
        XEVManager::gigeBroadcast = true;
        XEVManager::gigeCameraAddresses.clear();
        unsetenv("XEV_GIGE_CAMERAS");
    }
};

TEST_F(ManagerListsGigeCameras, FromItsListAndTheEnvironment) {
    const std::string a = cameraAddress(), b = cameraAddress();
    auto heron = Plug(GigeModel::HeronGigE, a);
    auto fulmar = Plug(GigeModel::FulmarGigE, b);
    XEVManager::gigeCameraAddresses = {a, "not an address"};
    setenv("XEV_GIGE_CAMERAS", b.c_str(), 1);
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_EQ(manager->deviceCount(), 2u);
    std::set<std::string> models;
    for (unsigned n = 0; n < 2; ++n) {
        auto* descriptor =
            dynamic_cast<XEVLibrary::XEVDeviceDescriptorGige*>(manager->getDeviceDescriptor(n));
        ASSERT_NE(descriptor, nullptr);
        EXPECT_EQ(descriptor->connectorNumber(), n);
        EXPECT_EQ(Ipv4ToString(descriptor->LocalIp()), "127.0.0.1");
        models.insert(descriptor->modelId());
    }
    EXPECT_EQ(models, (std::set<std::string>{"HeronGigE", "FulmarGigE"}));
    EXPECT_EQ(messageOf([&] { manager->openDeviceByMacAddress("00:0C:0A:FF:FF:FF", 0, 8); }),
              "Error : No device with mac_address 00:0C:0A:FF:FF:FF.");
    EXPECT_EQ(messageOf([&] { manager->openDeviceByIP("127.0.0.77", 0, 8); }),
              "Error : No device with IP 127.0.0.77.");
    XEVLibrary::XEVDevice* byIp = manager->openDeviceByIP(a.c_str(), 0, 8);
    ASSERT_NE(byIp, nullptr);
    EXPECT_EQ(byIp->modelId(), "HeronGigE");
    std::string upper = heron->macAddress();
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(manager->openDeviceByMacAddress(upper.c_str(), 0, 8), byIp);
    EXPECT_EQ(manager->openDeviceBySerialNumber(heron->config().serialNumber.c_str(), 0, 8), byIp);
    const unsigned fulmarNumber =
        manager->getDeviceDescriptor(0)->modelId() == "FulmarGigE" ? 0 : 1;
    DiagnosticsCapture diagnostics;
    XEVLibrary::XEVDevice* byNumber = manager->openDevice(fulmarNumber, 5000, 8);
    EXPECT_EQ(byNumber->modelId(), "FulmarGigE");
    EXPECT_EQ(manager->openDevice(1 - fulmarNumber, 0, 8), byIp);
    EXPECT_NE(diagnostics.text().find("Instantiating Device SN: "), std::string::npos);
}

} // namespace
} // namespace XEVTest
