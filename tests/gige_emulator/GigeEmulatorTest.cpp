#include "CameraAddress.h"
#include "GvcpClient.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "Gige/DescriptionFile.h"
#include "Gige/DeviceInfo.h"
#include "Gige/GenicamXml.h"
#include "XEVGigeCameraEmulator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <random>
#include <string>

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::Emulator::GigeModel;
using XEVLibrary::Emulator::XEVGigeCameraConfig;
using XEVLibrary::Emulator::XEVGigeDescriptionFault;
using XEVLibrary::Emulator::XEVGigeEmulatedCamera;
using XEVLibrary::Emulator::XEVGigeFaults;

constexpr uint16_t ReadMem = 0x0084;
constexpr uint32_t ControlPrivilege = 0x0A00;
constexpr uint32_t HeartbeatTimeout = 0x0938;

class GigeEmulatorTest : public ::testing::Test {
protected:
    std::unique_ptr<XEVGigeEmulatedCamera> Plug(GigeModel model) {
        auto camera =
            std::make_unique<XEVGigeEmulatedCamera>(XEVGigeCameraConfig::forModel(model, address));
        return camera;
    }

    std::string address = cameraAddress();
};

TEST_F(GigeEmulatorTest, DiscoveryAnswersWithTheCamerasIdentity) {
    auto camera = Plug(GigeModel::KestrelGigE);
    GvcpClient client(address);
    const uint16_t id = client.send(0x0002, {}, 0x11);
    const std::vector<uint8_t> ack = client.receive();
    ASSERT_EQ(ack.size(), 256u);
    const XEVLibrary::DeviceInfo info(ack.data(), ack.size());
    EXPECT_EQ(info.Status(), 0);
    EXPECT_EQ(info.Answer(), 0x0003);
    EXPECT_EQ(info.DataBytes(), 248);
    EXPECT_EQ(info.Id(), id);
    EXPECT_TRUE(XEVLibrary::IsXEVCamera(info));
    EXPECT_EQ(info.ModelName(), "KestrelGigE");
    EXPECT_EQ(info.DeviceVersion(), "01.04");
    EXPECT_EQ(info.SpecVersion(), "2.0");
    EXPECT_EQ(info.MacAddress(), camera->macAddress());
    EXPECT_EQ(XEVLibrary::ByteOrder::Ipv4ToString(info.CurrentIp()), address);
    EXPECT_EQ(info.SerialNumber(), camera->config().serialNumber);
}

/// Downloads the description as a GigE Vision client does: first URL, then
/// the file in blocks of 512 bytes.
std::vector<char> Download(GvcpClient& client, std::string& error) {
    const std::vector<uint8_t> url = client.readMemory(0x0200, 512);
    XEVLibrary::DescriptionFile file;
    if (!file.ParseUrl(std::string(reinterpret_cast<const char*>(url.data())), error))
        return {};
    std::vector<char> archive;
    uint32_t at = file.Address();
    while (archive.size() < file.Length()) {
        const std::vector<uint8_t> block = client.readMemory(at, 512);
        if (block.empty())
            break;
        archive.insert(archive.end(), block.begin(), block.end());
        at += 512;
    }
    archive.resize(std::min<std::size_t>(archive.size(), file.Length()));
    std::vector<char> xml;
    XEVLibrary::DescriptionFile::Unzip(archive, xml, error);
    return xml;
}

TEST_F(GigeEmulatorTest, DescriptionIsServedZippedAndNamesTheCamerasRegisters) {
    for (GigeModel model : {GigeModel::FulmarGigE, GigeModel::HeronGigE, GigeModel::KestrelGigE,
                            GigeModel::CurlewcGigE}) {
        address = cameraAddress();
        auto camera = Plug(model);
        GvcpClient client(address);
        std::string error;
        const std::vector<char> text = Download(client, error);
        ASSERT_EQ(error, "");
        EXPECT_EQ(std::string(text.begin(), text.end()), camera->descriptionXml());
        XEVLibrary::GenicamXml xml;
        ASSERT_TRUE(xml.Parse(text));
        for (const char* feature : {"Width", "Height", "PixelFormat", "PayloadSize",
                                    "AcquisitionMode", "GevHeartbeatTimeout", "NIOS_is_BUSY"})
            EXPECT_EQ(xml.GetFeatureRegister(feature)->Address(), camera->featureAddress(feature))
                << feature;
        EXPECT_EQ(xml.GetCommandRegister("AcquisitionStart")->Address(),
                  camera->featureAddress("AcquisitionStart"));
        EXPECT_FALSE(xml.FeaturesNames2Reg().count("NIOS_is_BUSY")); // a debug feature
        EXPECT_EQ(xml.FeatureValueAsDouble(
                      "Width", client.readRegister(camera->featureAddress("SensorWidth"))),
                  xml.FeatureValueAsDouble("Width",
                                           client.readRegister(camera->featureAddress("Width"))));
    }
}

TEST_F(GigeEmulatorTest, DescriptionFaultsReachTheClient) {
    auto camera = Plug(GigeModel::HeronGigE);
    GvcpClient client(address);
    const std::map<XEVGigeDescriptionFault, std::string> expected{
        {XEVGigeDescriptionFault::PlainXml, "Bad zip file signature"},
        {XEVGigeDescriptionFault::OtherScheme, "description File not of type local"},
        {XEVGigeDescriptionFault::AbsurdLength,
         "description File length 4294967295 refused: it must be between 1 and 16777216 bytes"},
    };
    for (const auto& [fault, message] : expected) {
        XEVGigeFaults faults;
        faults.description = fault;
        camera->setFaults(faults);
        std::string error;
        EXPECT_TRUE(Download(client, error).empty());
        EXPECT_EQ(error, message);
    }
    for (XEVGigeDescriptionFault fault :
         {XEVGigeDescriptionFault::Corrupt, XEVGigeDescriptionFault::Truncated}) {
        XEVGigeFaults faults;
        faults.description = fault;
        camera->setFaults(faults);
        std::string error;
        EXPECT_TRUE(Download(client, error).empty());
        EXPECT_NE(error, "");
    }
}

TEST_F(GigeEmulatorTest, OneControllerAtATimeUntilItsHeartbeatStops) {
    auto camera = Plug(GigeModel::HeronGigE);
    GvcpClient first(address);
    GvcpClient second(address);
    const uint32_t width = camera->featureAddress("Width");
    EXPECT_EQ(first.writeRegister(width, 320), 0x8006); // nobody controls the camera yet
    EXPECT_EQ(first.writeRegister(ControlPrivilege, 1), 0);
    EXPECT_TRUE(camera->hasController());
    EXPECT_EQ(second.writeRegister(ControlPrivilege, 1), 0x8006);
    EXPECT_EQ(second.writeRegister(width, 320), 0x8006);
    EXPECT_EQ(first.writeRegister(width, 320), 0);
    EXPECT_EQ(second.readRegister(width), 320u); // reading needs no control
    EXPECT_EQ(first.writeRegister(camera->featureAddress("SensorWidth"), 1), 0x8004);
    EXPECT_EQ(first.writeRegister(width + 2, 1), 0x8005);
    EXPECT_EQ(first.writeRegister(0x00FFFFF0, 1), 0x8003);

    // The controller falls silent: after the heartbeat timeout it has lost control.
    EXPECT_EQ(first.writeRegister(HeartbeatTimeout, 500), 0);
    const auto silent = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitUntil([&] { return !camera->hasController(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - silent, 450ms);
    EXPECT_EQ(second.writeRegister(ControlPrivilege, 1), 0);
    EXPECT_EQ(second.writeRegister(ControlPrivilege, 0), 0);
    EXPECT_FALSE(camera->hasController());
}

TEST_F(GigeEmulatorTest, ControlFaultsAreCommittedOnDemand) {
    auto camera = Plug(GigeModel::HeronGigE);
    GvcpClient client(address);
    XEVGigeFaults faults;
    faults.staleAcknowledgeFirst = true;
    camera->setFaults(faults);
    const uint16_t id = client.send(0x0080, be32({0x0938}));
    const std::vector<uint8_t> stale = client.receive();
    const std::vector<uint8_t> right = client.receive();
    ASSERT_EQ(stale.size(), 12u);
    ASSERT_EQ(right.size(), 12u);
    EXPECT_EQ(load16(stale, 6), static_cast<uint16_t>(id - 1));
    EXPECT_EQ(load16(right, 6), id);
    EXPECT_EQ(load32(right, 8), 3000u);

    faults = {};
    faults.status = 0x8FFF;
    camera->setFaults(faults);
    EXPECT_EQ(load16(client.transact(0x0080, be32({0x0938})), 0), 0x8FFF);
    faults = {};
    faults.accessDenied = true;
    camera->setFaults(faults);
    EXPECT_EQ(client.writeRegister(ControlPrivilege, 1), 0x8006);
    faults = {};
    faults.silent = true;
    camera->setFaults(faults);
    client.send(0x0080, be32({0x0938}));
    EXPECT_TRUE(client.receive(300ms).empty());
    EXPECT_TRUE(waitUntil([&] { return camera->counters().commands == 4; }));
}

TEST_F(GigeEmulatorTest, AnyDatagramIsSurvived) {
    auto camera = Plug(GigeModel::KestrelGigE);
    GvcpClient client(address);
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> datagram(random() % 64);
        for (uint8_t& byte : datagram)
            byte = static_cast<uint8_t>(random());
        if (i % 2 == 0 && datagram.size() >= 4) {
            datagram[0] = 0x42; // a command header with arbitrary fields
            datagram[2] = 0x00;
            datagram[3] = static_cast<uint8_t>(0x80 + random() % 8);
        }
        client.sendRaw(datagram);
    }
    while (!client.receive(100ms).empty()) {
    }
    EXPECT_EQ(client.readRegister(HeartbeatTimeout), 3000u);
    EXPECT_GT(camera->counters().refused, 0u);
    EXPECT_EQ(client.readMemory(0x1FFFF0, 512).size(), 0u);
    EXPECT_EQ(load16(client.transact(ReadMem, be32({0x0200, 600})), 0), 0x8002);
}

TEST_F(GigeEmulatorTest, StreamsFramesToTheProgrammedDestination) {
    auto camera = Plug(GigeModel::HeronGigE);
    GvcpClient client(address);
    UdpReceiver stream;
    ASSERT_EQ(client.writeRegister(ControlPrivilege, 1), 0);
    ASSERT_EQ(client.writeRegister(0x0D18, 0x7F000001), 0);
    ASSERT_EQ(client.writeRegister(0x0D00, stream.port()), 0);
    // A test packet of the asked size arrives; one beyond the link's MTU does not.
    ASSERT_EQ(client.writeRegister(0x0D04, 0xC0000000 | 1400), 0);
    EXPECT_EQ(stream.receive(2000ms).size(), 1400u - 28u);
    ASSERT_EQ(client.writeRegister(0x0D04, 0xC0000000 | 9000), 0);
    EXPECT_TRUE(stream.receive(200ms).empty());
    EXPECT_EQ(client.readRegister(0x0D04), 0x40000000u | 9000);
    ASSERT_EQ(client.writeRegister(0x0D04, 0x40000000 | 1500), 0);

    ASSERT_EQ(client.writeRegister(camera->featureAddress("Width"), 64), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("Height"), 32), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("AcquisitionMode"), 2), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("AcquisitionFrameCount"), 2), 0);
    EXPECT_EQ(client.readRegister(camera->featureAddress("PayloadSize")), 64u * 32 * 2);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("AcquisitionStart"), 1), 0);

    // 4096 bytes in packets of 1464: three payload packets per frame.
    std::vector<std::string> formats;
    std::vector<uint8_t> image;
    uint16_t block = 0;
    while (formats.size() < 10) {
        const std::vector<uint8_t> p = stream.receive(3000ms);
        ASSERT_GE(p.size(), 8u) << "stream stopped after " << formats.size() << " packets";
        const uint32_t packetId = load32(p, 4) & 0xFFFFFF;
        block = load16(p, 2);
        formats.push_back(std::to_string(p[4]) + ":" + std::to_string(packetId));
        if (p[4] == 1) {
            EXPECT_EQ(load16(p, 10), 1);           // uncompressed image
            EXPECT_EQ(load32(p, 20), 0x01100007u); // Mono16
            EXPECT_EQ(load32(p, 24), 64u);
            EXPECT_EQ(load32(p, 28), 32u);
        } else if (p[4] == 3 && formats.size() <= 5) {
            image.insert(image.end(), p.begin() + 8, p.end());
        }
    }
    EXPECT_EQ(formats, (std::vector<std::string>{"1:0", "3:1", "3:2", "3:3", "2:4", "1:0", "3:1",
                                                 "3:2", "3:3", "2:4"}));
    EXPECT_EQ(block, 2);
    EXPECT_EQ(image.size(), 64u * 32 * 2);
    EXPECT_TRUE(stream.receive(300ms).empty()); // MultiFrame of 2: the camera stops
    EXPECT_EQ(camera->counters().framesSent, 2u);
}

TEST_F(GigeEmulatorTest, StreamFaultsDropReorderAndDuplicatePackets) {
    auto camera = Plug(GigeModel::HeronGigE);
    GvcpClient client(address);
    UdpReceiver stream;
    XEVGigeFaults faults;
    faults.dropPacketIds = {2};
    faults.trailerBeforeLastPayload = true;
    camera->setFaults(faults);
    ASSERT_EQ(client.writeRegister(ControlPrivilege, 1), 0);
    ASSERT_EQ(client.writeRegister(0x0D18, 0x7F000001), 0);
    ASSERT_EQ(client.writeRegister(0x0D00, stream.port()), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("Width"), 64), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("Height"), 32), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("AcquisitionMode"), 1), 0);
    ASSERT_EQ(client.writeRegister(camera->featureAddress("AcquisitionStart"), 1), 0);
    std::vector<std::string> formats;
    for (std::vector<uint8_t> p = stream.receive(3000ms); !p.empty(); p = stream.receive(300ms))
        formats.push_back(std::to_string(p[4]) + ":" + std::to_string(load32(p, 4) & 0xFFFFFF));
    EXPECT_EQ(formats, (std::vector<std::string>{"1:0", "3:1", "2:4", "3:3"}));
}

} // namespace
} // namespace XEVTest
