#include "UsbDeviceFixture.h"

#include "XEVParam.h"
#include "device/DeviceImpl.h"

using namespace XEVTest;

namespace {

/// Vendor requests of kind @p request seen by @p camera.
std::vector<XEVUsbCameraEvent> requestsOf(const XEVUsbEmulatedCamera& camera, uint8_t request) {
    std::vector<XEVUsbCameraEvent> found;
    for (const auto& event : camera.vendorRequests())
        if (event.request == request)
            found.push_back(event);
    return found;
}

XEVUsbCameraConfig heronUsb3() {
    return XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
}

} // namespace

TEST_F(UsbDeviceTest, OpeningWritesEveryUsedRegisterOnce) {
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->modelId(), "Kestrel");
    const auto vr = device->virtualRegistry();
    EXPECT_EQ(vr, device->appliedRegistry());
    EXPECT_EQ(vr[13], 0xC2);
    EXPECT_EQ(vr[14], 0x00);
    const auto registers = camera->registers();
    for (int i = 0; i < 16; ++i) {
        if (i != 12) {
            EXPECT_EQ(registers[i], vr[i]) << "register " << i;
        }
    }
    EXPECT_EQ(device->paramStrValueOf("Exposure Time"), "2ms");
    EXPECT_EQ(device->paramStrValueOf("Mode"), "Global Shutter");
    EXPECT_EQ(device->paramStrValueOf("Pixel Clock"), "[120MHz]");
}

TEST_F(UsbDeviceTest, UpdateConfigSendsOnlyChangedRegisters) {
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    ConfigLog log;
    log.connectTo(*device);
    camera->clearEvents();

    EXPECT_TRUE(device->updateConfig(false)); // nothing pending: nothing sent
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());
    EXPECT_TRUE(log.lines().empty());

    const auto before = device->appliedRegistry();
    device->setParamValueOf("Number of Line", 256.0, false);
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 256.0);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 512.0);
    EXPECT_TRUE(log.has("Number of Line=256 pending"));
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());

    EXPECT_TRUE(device->updateConfig(false));
    const auto blocks = requestsOf(*camera, 0xD6);
    ASSERT_EQ(blocks.size(), 1u);
    // One word (value, then address) per changed register, ascending.
    const auto after = device->virtualRegistry();
    std::vector<uint8_t> expected;
    for (int i = 0; i < 16; ++i) {
        if (after[i] != before[i]) {
            expected.push_back(after[i]);
            expected.push_back(uint8_t(i));
        }
    }
    EXPECT_EQ(blocks[0].data, expected);
    EXPECT_EQ(after[10], 256 / 8);
    EXPECT_EQ(camera->registerValue(10), 256 / 8);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 256.0);
    EXPECT_TRUE(log.has("Number of Line=256 applied"));

    camera->clearEvents();
    EXPECT_TRUE(device->updateConfig(true)); // every used register again
    const auto all = requestsOf(*camera, 0xD6);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].data.size(), 2u * 15u); // every register but 12
}

TEST_F(UsbDeviceTest, SingleRegisterWritesBeforeBridgeFirmwareTwo) {
    auto camera = plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    XEVDeviceUsb* device = open();
    ConfigLog log;
    log.connectTo(*device);
    camera->clearEvents();
    device->setParamValueOf("Gain", 2.0, true);
    const auto writes = requestsOf(*camera, 0xD3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, 0x0208); // register 2, gain 2.00 in quarter steps
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());
    EXPECT_EQ(camera->registerValue(2), 0x08);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Gain=2.00 pending", "Gain=2.00 applied"}));
}

TEST_F(UsbDeviceTest, FailedWritesStayPendingAndAreReported) {
    // Single writes before bridge firmware 2.0.0, one block afterwards.
    for (UsbLink link : {UsbLink::USB2, UsbLink::USB3}) {
        SCOPED_TRACE(int(link));
        auto camera = plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, link));
        XEVDeviceUsb* device = open();
        device->setParamValueOf("Gain", 2.0, false);
        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_FALSE(device->updateConfig());
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "1.00");
        EXPECT_EQ(device->paramStrValueOf("Gain", false), "2.00");
        EXPECT_NE(camera->registerValue(2), 0x08);
        EXPECT_TRUE(device->updateConfig()); // sent again
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "2.00");
        EXPECT_EQ(camera->registerValue(2), 0x08);

        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_EQ(messageOf([&] { device->setParamValueOf("Gain", 3.0, true); }),
                  "Error : For XEVDevice(Heron), the camera refused the register writes; the "
                  "settings stay pending.");
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "2.00");
        XEVManager::destroyInstance();
        m_bus.unplugAll();
    }
}

TEST_F(UsbDeviceTest, PendingEditsAreDroppedOnRequestAndOnBadGeometry) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    ConfigLog log;
    log.connectTo(*device);

    device->setParamValueOf("Number of Column", 104.0, false);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("First Column", 600.0, false); }),
              "Error : For XEVDevice(Kestrel), FirstColumn(600.000000) + "
              "NumberOfColumn(104.000000) > SensorWidth(640). Virtual Registry was reset.");
    EXPECT_EQ(device->paramValueOf("Number of Column", false), 640.0);
    EXPECT_EQ(device->virtualRegistry(), device->appliedRegistry());
    EXPECT_TRUE(log.has("Number of Column=640 pending"));

    // The info line needs 56 columns.
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Number of Column", 48.0, false); }),
              "Error : For XEVDevice(Kestrel), NumberOfColumn(48.000000) < "
              "MinimumNumberOfColumn(56.000000). Virtual Registry was reset.");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Number of Line", 520.0, false); }),
              "Error : For parameter 'Number of Line', value(520.000000) is out of range "
              "[8.000000;512.000000].");

    device->setParamValueOf("Number of Line", 64.0, false);
    device->resetVirtualRegistry();
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 512.0);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Nothing", 1.0, false); }),
              "Error : For XEVDevice(Kestrel), param(Nothing) does not exist.");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Pixel Clock", 40.0, false); }),
              "Error : For XEVDevice(Kestrel), param(Pixel Clock) is inert.");
}

TEST_F(UsbDeviceTest, KestrelGainAndResponseRules) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    EXPECT_EQ(device->paramStrValueOf("Sensor Response", false), "Log");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Analog Gain", "High", false); }),
              "Error : For XEVDevice(Kestrel), param(Analog Gain) Log Sensor Response accept "
              "only 'Standard' gain");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("CDS", "On", false); }),
              "Error : For XEVDevice(Kestrel), param(CDS): can be 'on' only in Lin Mode and High "
              "Gain.");

    // Linear response turns a Standard gain to Low.
    device->setParamValueOf("Sensor Response", "Lin", false);
    EXPECT_EQ(device->paramStrValueOf("Analog Gain", false), "Low");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Analog Gain", "Standard", false); }),
              "Error : For XEVDevice(Kestrel), param(Analog Gain) Lin Sensor Response accept only "
              "'Low' or 'High' gain.");
    device->setParamValueOf("Analog Gain", "High", false);
    device->setParamValueOf("CDS", "On", false);
    EXPECT_EQ(device->MakeNucPath(), "120MHz/Lin/High-CDS/T_15/");

    // Back to logarithmic: the gain returns to Standard and CDS goes off.
    device->setParamValueOf("Sensor Response", "Log", false);
    EXPECT_EQ(device->paramStrValueOf("Analog Gain", false), "Standard");
    EXPECT_EQ(device->paramStrValueOf("CDS", false), "Off");
    EXPECT_EQ(device->MakeNucPath(), "120MHz/Log/Standard/T_15/");
    EXPECT_DOUBLE_EQ(device->MinExposureTime(), 100.0);
}

TEST_F(UsbDeviceTest, KestrelModeAndTriggerRules) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Trigger Delay Input Gated", 0.1, false); }),
              "Error : For XEVDevice(Kestrel), param(Trigger Delay Input Gated) can only be used "
              "in Gated mode(exposure <= 10us).");
    EXPECT_NO_THROW(device->setParamValueOf("Trigger Delay Input", 0.0, false));

    std::vector<bool> modes;
    device->impl()->modeSignal.connect([&](bool gated) { modes.push_back(gated); });
    device->setParamValueOf("Mode", "Gated", false);
    EXPECT_EQ(modes, std::vector<bool>{true});
    // The exposure is re-clamped to the gated ranges, the TEC set for gating.
    EXPECT_EQ(device->paramStrValueOf("Exposure Time", false), "9us");
    EXPECT_EQ(device->paramValueOf("Temperature TEC", false), 35.0);
    EXPECT_EQ(device->paramStrValueOf("TEC Mode", false), "Medium current");
    EXPECT_DOUBLE_EQ(device->MinExposureTime(), 0.1);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Trigger Delay Input", 0.0, false); }),
              "Error : For XEVDevice(Kestrel), param(Trigger Delay Input) can only be used in "
              "Global Shutter mode(exposure > 10us).");
    EXPECT_NO_THROW(device->setParamValueOf("Trigger Delay Input Gated", 0.1, false));

    device->setParamValueOf("Mode", "Global Shutter", false);
    device->setParamValueOf("Trigger Mode", "Input", false);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Integration Mode", "IWR", false); }),
              "Error : For XEVDevice(Kestrel), param(Integration Mode): IWR is incompatible with "
              "external trigger.");
}

TEST_F(UsbDeviceTest, NucSignalFollowsTheConfiguration) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    std::vector<std::string> paths;
    std::vector<double> exposures;
    device->impl()->nucSignal.connect([&](std::string& path, double exposure, double) {
        paths.push_back(path);
        exposures.push_back(exposure);
        return true;
    });
    device->setParamValueOf("Exposure Time", 3000.0, true);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], "120MHz/Log/Standard/T_15/");
    EXPECT_DOUBLE_EQ(exposures[0], 3000.0);
}

TEST_F(UsbDeviceTest, ManualListsTheCameraAndItsParameters) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    const std::string manual = device->manual();
    EXPECT_EQ(manual.substr(0, 27), std::string(26, '-') + "\n");
    auto line = [](const std::string& label, const std::string& value) {
        return label + std::string(21 - label.size(), ' ') + value + "\n";
    };
    EXPECT_NE(manual.find(line("Connector", "USB 3.0")), std::string::npos);
    EXPECT_NE(manual.find(line("Model", "Kestrel")), std::string::npos);
    EXPECT_NE(manual.find(line("Firmware Version", "3.5")), std::string::npos);
    EXPECT_NE(manual.find(line("Serial Number", "4242")), std::string::npos);
    EXPECT_NE(manual.find("Exposure Time :"), std::string::npos);
    EXPECT_EQ(manual.substr(manual.size() - 27), "\n" + std::string(26, '-'));
}

namespace {

struct FramePeriodCase {
    const char* name;
    XEVUsbCameraConfig config;
    double fps;
    uint8_t coarse, fine;
    long minFps, maxFps;
};

class FramePeriod : public UsbDeviceTest, public ::testing::WithParamInterface<FramePeriodCase> {};

} // namespace

TEST_P(FramePeriod, RegistersAndLimitsWorkedOutByHand) {
    const FramePeriodCase& c = GetParam();
    plug(c.config);
    XEVDeviceUsb* device = open();
    device->setFps(c.fps, false);
    const auto vr = device->virtualRegistry();
    EXPECT_EQ(vr[5], c.coarse);
    EXPECT_EQ(vr[6], c.fine);
    EXPECT_EQ(device->minFps(false), c.minFps);
    EXPECT_EQ(device->maxFps(false), c.maxFps);
}

INSTANTIATE_TEST_SUITE_P(
    EveryModelFamily, FramePeriod,
    ::testing::Values(
        // Heron on USB 3.0: T 29.4, L 516, E 1500, P 16670.4 us.
        FramePeriodCase{"HeronUsb3", heronUsb3(), 30.0, 0x8D, 0x7D, 22, 59},
        // Heron on the old USB 2.0 bridge: T 37.44, P 20819.04 us.
        FramePeriodCase{"HeronUsb2", XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2),
                        25.0, 0x80, 0x10, 17, 48},
        // Dunlin, rolling: T 30.8, L 721, no exposure term.
        FramePeriodCase{"Dunlin", XEVUsbCameraConfig::forModel(UsbModel::Dunlin, UsbLink::USB3),
                        25.0, 0x90, 0x14, 19, 45},
        // Kestrel, firmware 3.5, no extended rates: T 992/120, L 514, E 2122.
        FramePeriodCase{"Kestrel", kestrelConfig(), 100.0, 0x36, 0xD8, 44, 156},
        // Jacana on USB 3.0: T 30, N 256, P (N + 4) T + 300 = 8100 us.
        FramePeriodCase{"Jacana", XEVUsbCameraConfig::forModel(UsbModel::Jacana, UsbLink::USB3),
                        50.0, 0x18, 0x94, 8, 123},
        // Lapwing on USB 3.0, snapshot: T 22.5, L 481, E 2000.
        FramePeriodCase{"Lapwing", XEVUsbCameraConfig::forModel(UsbModel::Lapwing, UsbLink::USB3),
                        50.0, 0x27, 0x5A, 28, 77},
        // Merlin, snapshot: T 33.75, L 1025, E 2000.
        FramePeriodCase{"Merlin", XEVUsbCameraConfig::forModel(UsbModel::Merlin, UsbLink::USB3),
                        20.0, 0x63, 0x65, 15, 27},
        // Egret: T 29.4, L 260, E 1500.
        FramePeriodCase{"Egret", XEVUsbCameraConfig::forModel(UsbModel::Egret, UsbLink::USB3), 60.0,
                        0x3F, 0xB0, 26, 109},
        // Ibis on USB 3.0: T 29.4, L 516, no exposure term; k 211.
        FramePeriodCase{"Ibis", XEVUsbCameraConfig::forModel(UsbModel::Ibis, UsbLink::USB3), 25.0,
                        0xD3, 0x06, 23, 65}),
    [](const ::testing::TestParamInfo<FramePeriodCase>& info) { return info.param.name; });

TEST_F(UsbDeviceTest, FrameRateIsClampedToItsLimits) {
    plug(heronUsb3());
    XEVDeviceUsb* device = open();
    ConfigLog log;
    log.connectTo(*device);
    EXPECT_TRUE(device->refreshFPS(1000.0));
    EXPECT_DOUBLE_EQ(device->fpsAsDouble(false), device->maxFpsAsDouble(false));
    EXPECT_FALSE(device->refreshFPS(device->fpsAsDouble(false)));
    EXPECT_DOUBLE_EQ(device->setFps(30, true), 30.0);
    EXPECT_DOUBLE_EQ(device->fpsAsDouble(true), 30.0);
    EXPECT_TRUE(log.has("fps 30.000000"));
    // Clamped to the limits, and the caller sees the rate that results.
    EXPECT_DOUBLE_EQ(device->setFps(5000.0, true), device->maxFpsAsDouble(true));
    EXPECT_DOUBLE_EQ(device->fpsAsDouble(true), device->maxFpsAsDouble(true));
    EXPECT_DOUBLE_EQ(device->setFps(0.5, false), device->minFpsAsDouble(false));
}

TEST_F(UsbDeviceTest, OneExposureTextMeansOneExposureOnEveryModel) {
    // The Heron's exposure is numeric, the Kestrel's a table of ranges with
    // its own grammar, the Lapwing's a multi-range field.
    plug(heronUsb3());
    plug(kestrelConfig());
    plug(XEVUsbCameraConfig::forModel(UsbModel::Lapwing, UsbLink::USB3));
    XEVManager* manager = XEVManager::getInstance();
    for (unsigned n = 0; n < 3; ++n) {
        XEVDevice* device = manager->openDevice(n, 0, 8);
        SCOPED_TRACE(device->modelId());
        for (const char* text : {"2ms", "2000us", "2000\265s", "2000\xC2\xB5s", "0.002s"}) {
            // The first write to a Heron used to fail on its gated exposure,
            // which shares the register.
            EXPECT_EQ(messageOf([&] { device->setParamValueOf("Exposure Time", text, true); }),
                      "<no exception>")
                << text;
            EXPECT_DOUBLE_EQ(device->paramValueOf("Exposure Time"), 2000.0) << text;
            device->setParamValueOf("Exposure Time", "1ms", true);
        }
    }
}

TEST_F(UsbDeviceTest, IntegersAreValuesAndANullTextIsRefused) {
    plug(heronUsb3());
    XEVDeviceUsb* device = open();
    device->setParamValueOf("Number of Column", 320u, false);
    EXPECT_EQ(device->paramValueOf("Number of Column", false), 320.0);
    device->setParamValueOf("First Column", 8, true);
    EXPECT_EQ(device->paramValueOf("First Column"), 8.0);
    device->setParamValueOf("First Column", 0); // no ambiguity with a text
    EXPECT_EQ(device->paramValueOf("First Column"), 0.0);
    const char* nothing = nullptr;
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Gain", nothing); }),
              "Error : For XEVDevice(Heron), param(Gain) cannot take a null text.");
    const XEVParam* exposure = device->getParam("Exposure Time");
    EXPECT_EQ(exposure->valueType(), "Numeric");
    EXPECT_EQ(exposure->minValue(), 100.0);
    EXPECT_EQ(exposure->maxValue(), 25600.0);
    EXPECT_EQ(exposure->step(), 100.0);
}

TEST_F(UsbDeviceTest, FastestOpensWithoutThreadsOrWrites) {
    XEVDevice::Fastest = true;
    auto camera = plug(kestrelConfig());
    XEVManager::getInstance();
    camera->clearEvents();
    XEVDeviceUsb* device = open();
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());
    EXPECT_TRUE(device->updateConfig(true));
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());
}
