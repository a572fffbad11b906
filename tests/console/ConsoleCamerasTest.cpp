// The console on emulated cameras: the manager's lists and errors, opening,
// and a device loop that sets, captures and quits.

#include "ConsoleFixture.h"

#include "CameraAddress.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVUsbCameraEmulator.h"

#include <boost/regex.hpp>

using namespace XEVTest;
using namespace XEVLibrary::Emulator;

namespace {

/// The catalog's model ids in catalog order, between the two dashed lines.
const std::string CatalogModels = Dashes + "\n" +
                                  "Auklet\nBittern\nFulmar\nHeron\nIbis\nJacana\nLapwing\nDunlin\n"
                                  "Curlew\nGannet_HD\nGannet_BIN\nGannet_ZOOM\nHeron\nIbis\n"
                                  "Lapwing\nMerlin\nKestrel\nEgret\nCurlewcGigE\nCurlewGigE\n"
                                  "FulmarGigE\nHeronGigE\nHeronGigE-SPOT\nJacana\nKestrelGigE\n" +
                                  Dashes + "\n";

XEVUsbCameraConfig kestrel(uint32_t serial) {
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3);
    config.serialNumber = serial;
    return config;
}

/// The lines of @p text.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

/// Emulated cameras for one test; the manager, its devices and the
/// manager's settings are given back at the end.
class ConsoleCameras : public ::testing::Test {
protected:
    void SetUp() override {
        m_useGige = XEVManager::useGige;
        m_broadcast = XEVManager::gigeBroadcast;
        m_addresses = XEVManager::gigeCameraAddresses;
        m_discoveryTime = XEVManager::gigeDiscoveryTimeInSeconds;
        m_toDiscover = XEVManager::numberGigeDevicesToDiscover;
    }
    void TearDown() override {
        finishesWithin("destroying the manager", [] { XEVManager::destroyInstance(); });
        XEVManager::useGige = m_useGige;
        XEVManager::gigeBroadcast = m_broadcast;
        XEVManager::gigeCameraAddresses = m_addresses;
        XEVManager::gigeDiscoveryTimeInSeconds = m_discoveryTime;
        XEVManager::numberGigeDevicesToDiscover = m_toDiscover;
    }
    void plug(const XEVUsbCameraConfig& config) {
        m_bus.plug(config)->setPacing(XEVUsbPacing::Fastest);
    }
    /// Starts a HeronGigE without serial number and lists it to the manager.
    void startGige() {
        XEVGigeCameraConfig config =
            XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, cameraAddress());
        config.serialNumber = "";
        m_gige = std::make_unique<XEVGigeEmulatedCamera>(config);
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeCameraAddresses = {config.address};
        XEVManager::gigeDiscoveryTimeInSeconds = 2;
        XEVManager::numberGigeDevicesToDiscover = 1;
    }

    XEVUsbEmulatedBus m_bus;
    std::unique_ptr<XEVGigeEmulatedCamera> m_gige;

private:
    bool m_useGige = false, m_broadcast = true;
    std::vector<std::string> m_addresses;
    int m_discoveryTime = 0, m_toDiscover = 0;
};

} // namespace

TEST_F(ConsoleCameras, ManagerLoopListsOpensAndTheDeviceLoopCaptures) {
    plug(kestrel(4242));
    XEVUsbCameraConfig heron = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2);
    heron.serialNumber = 77;
    plug(heron);

    const std::vector<Exchange> manager{
        {"list", Dashes + "\n" + " 0. USB 3.0 -- Kestrel : 4242\n" + " 1. USB 2.0 -- Heron : 77\n" +
                     Dashes + "\n"},
        {"open 3", noDevice(3, 2)},
        {"listModels", CatalogModels},
        {"forceModel 1 'Osprey'", "Error : The model id(Osprey) does not exist.\n"},
        {"setFifoSize 2", ""},
        {"open 0", ""},
    };
    const Session session = runConsole(scriptOf(manager) + "set 'Exposure Time' '100 us'\n"
                                                           "config\n"
                                                           "setFps 50\n"
                                                           "fps\n"
                                                           "capture 5\n"
                                                           "waitEndCapture\n"
                                                           "quit # done\n"
                                                           "open 1\n");
    EXPECT_EQ(session.rest, "open 1\n");
    ASSERT_NE(session.opened, nullptr);
    EXPECT_EQ(session.opened->modelId(), "Kestrel");
    EXPECT_FALSE(session.opened->isCapturing()); // waitEndCapture saw the capture end
    EXPECT_EQ(session.opened->paramStrValueOf("Exposure Time"), "100us");
    EXPECT_EQ(session.opened->fps(), 50);

    const std::string managerPart = ManagerBanner + answersOf(manager, ManagerPrompt);
    ASSERT_EQ(session.output.substr(0, managerPart.size()), managerPart);
    const std::string devicePart = session.output.substr(managerPart.size());
    const std::string prompt = "XEV@Kestrel> ";
    ASSERT_EQ(devicePart.substr(0, DeviceBanner.size() + prompt.size() * 2),
              DeviceBanner + prompt + prompt);

    // config: the Kestrel's parameters in catalog order, then the ones the
    // device adds, names padded to "Trigger Delay Output Gated" (26).
    const std::vector<std::string> lines =
        linesOf(devicePart.substr(DeviceBanner.size() + prompt.size() * 2));
    const std::vector<std::string> expected{
        "First Column               :0",        "Number of Column           :640",
        "First Line                 :0",        "Number of Line             :512",
        "Pixel Depth                :14bits",   "Trigger Mode               :Disabled",
        "Trigger Delay Input        :0us",      "Trigger Delay Output       :0us",
        "Trigger Delay Input Gated  :",         "Trigger Delay Output Gated :",
        "Pixel Clock                :[120MHz]", "Integration Mode           :ITR",
        "Sensor Response            :Log",      "Analog Gain                :Standard",
        "Temperature TEC            :15",       "TEC Mode                   :No current",
        "CDS                        :Off",      "Exposure Time              :100us",
        "Mode                       :",
    };
    ASSERT_GE(lines.size(), expected.size() + 3);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].back() == ':') // a value of the camera's, not of the catalog
            EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]);
        else
            EXPECT_EQ(lines[i], expected[i]);
    }
    const boost::regex fpsLine(R"(\[MinFps = \d+\]---\[Fps = (\d+)\]---\[MaxFps = \d+\])");
    boost::smatch match;
    ASSERT_TRUE(boost::regex_match(lines[expected.size()], match, fpsLine));
    EXPECT_EQ(match[1].str(), "25");
    EXPECT_EQ(lines[expected.size() + 1], std::string(27, '-'));
    // After setFps 50, fps shows 50; capture, waitEndCapture and quit print
    // nothing but their prompts.
    ASSERT_EQ(lines.size(), expected.size() + 4);
    const std::string fpsAfter = lines[expected.size() + 2];
    ASSERT_EQ(fpsAfter.substr(0, 2 * prompt.size()), prompt + prompt);
    const std::string fpsText = fpsAfter.substr(2 * prompt.size());
    ASSERT_TRUE(boost::regex_match(fpsText, match, fpsLine)) << fpsAfter;
    EXPECT_EQ(match[1].str(), "50");
    EXPECT_EQ(lines.back(), prompt + prompt + prompt);
}

TEST_F(ConsoleCameras, UnknownModelsSerialLessGigeCamerasAndForcedModels) {
    XEVUsbCameraConfig odd = kestrel(4343);
    odd.bridgeFirmware = "v2"; // a bridge version that does not parse: unidentified
    plug(odd);
    startGige();

    const std::string heronGige = " 1. GIGE -- HeronGigE\n";
    const std::vector<Exchange> manager{
        {"list", Dashes + "\n" + " 0. USB 3.0 -- Unknown : 0\n" + heronGige + Dashes + "\n"},
        {"forceModel 0 'Kestrel'", ""},
        {"list", Dashes + "\n" + " 0. USB 3.0 -- Kestrel : 0\n" + heronGige + Dashes + "\n"},
        {"open 2", noDevice(2, 2)},
        {"open 1", ""},
    };
    const std::string prompt = "XEV@HeronGigE> ";
    const Session session = runConsole(scriptOf(manager) + "setFps 20\nfps\nexit\n");
    ASSERT_NE(session.opened, nullptr);
    EXPECT_EQ(session.opened->modelId(), "HeronGigE");
    const std::string expected =
        ManagerBanner + answersOf(manager, ManagerPrompt) + DeviceBanner + prompt + prompt +
        "[MinFps = " + std::to_string(session.opened->minFps()) + "]---[Fps = 20]---" +
        "[MaxFps = " + std::to_string(session.opened->maxFps()) + "]\n" + prompt;
    EXPECT_EQ(session.output, expected);
}
