#include "UsbDeviceFixture.h"

#include "device/DeviceImpl.h"

using namespace XEVTest;

TEST_F(UsbDeviceTest, UpdateConfigSendsOnlyChangedRegisters) {
    openOne();
    // Opening wrote every register the model uses (12 only serves extended
    // frame rates).
    const auto opened = device->virtualRegistry();
    EXPECT_EQ(opened, device->appliedRegistry());
    EXPECT_EQ(opened[13], 0xC2);
    const auto registers = camera->registers();
    std::vector<uint8_t> written(registers.begin(), registers.end());
    written[12] = opened[12];
    EXPECT_EQ(written, opened);

    camera->clearEvents();
    EXPECT_TRUE(device->updateConfig(false)); // nothing pending: nothing sent
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());

    device->setParamValueOf("Number of Line", 256u, false); // integers are values too
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 256.0);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 512.0);
    EXPECT_TRUE(requestsOf(*camera, 0xD6).empty());

    EXPECT_TRUE(device->updateConfig(false));
    const auto blocks = requestsOf(*camera, 0xD6);
    ASSERT_EQ(blocks.size(), 1u);
    // One word (value, then address) per changed register, ascending.
    const auto after = device->virtualRegistry();
    std::vector<uint8_t> expected;
    for (uint8_t i = 0; i < 16; ++i)
        if (after[i] != opened[i])
            expected.insert(expected.end(), {after[i], i});
    EXPECT_EQ(blocks[0].data, expected);
    EXPECT_EQ(after[10], 256 / 8);
    EXPECT_EQ(camera->registerValue(10), 256 / 8);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 256.0);

    camera->clearEvents();
    EXPECT_TRUE(device->updateConfig(true)); // every used register again
    const auto all = requestsOf(*camera, 0xD6);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].data.size(), 2u * 15u); // every register but 12
}

TEST_F(UsbDeviceTest, FailedWritesStayPendingAndAreReported) {
    // Bridges before firmware 2.0.0 (the USB 2.0 default) take one register
    // per request, with the register in the high byte of the value; later
    // ones a block of (value, address) bytes.
    for (UsbLink link : {UsbLink::USB2, UsbLink::USB3}) {
        const bool single = link == UsbLink::USB2;
        SCOPED_TRACE(single ? "single writes" : "block writes");
        openOne(XEVUsbCameraConfig::forModel(UsbModel::Heron, link));
        ConfigLog log;
        log.connectTo(*device);
        camera->clearEvents();
        device->setParamValueOf("Gain", 2, false);
        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_FALSE(device->updateConfig());
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "1.00");
        EXPECT_EQ(device->paramStrValueOf("Gain", false), "2.00");
        EXPECT_NE(camera->registerValue(2), 0x08);
        EXPECT_TRUE(device->updateConfig()); // sent again
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "2.00");
        EXPECT_EQ(camera->registerValue(2), 0x08); // 2.00 in quarter steps
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{"Gain=2.00 pending", "Gain=2.00 applied"}));
        const auto taken = requestsOf(*camera, single ? 0xD3 : 0xD6);
        ASSERT_EQ(taken.size(), 2u); // refused, then taken
        if (single)
            EXPECT_EQ(taken[1].value, 0x0208);
        else
            EXPECT_EQ(taken[1].data, (std::vector<uint8_t>{0x08, 2}));
        EXPECT_TRUE(requestsOf(*camera, single ? 0xD6 : 0xD3).empty());

        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_EQ(messageOf([&] { device->setParamValueOf("Gain", 3); }),
                  "Error : For XEVDevice(Heron), the camera refused the register writes; the "
                  "settings stay pending.");
        EXPECT_EQ(device->paramStrValueOf("Gain", true), "2.00");
        XEVManager::destroyInstance();
        m_bus.unplugAll();
    }
}

TEST_F(UsbDeviceTest, RefusedSettingsLeaveNothingPending) {
    openOne();
    ConfigLog log;
    log.connectTo(*device);
    // A window the sensor cannot hold drops every pending edit.
    const std::string kestrel = "Error : For XEVDevice(Kestrel), ";
    const std::string reset = " > SensorWidth(640). Virtual Registry was reset.";
    EXPECT_EQ(set("Number of Column", 104.0), "<no exception>");
    EXPECT_EQ(set("First Column", 600.0),
              kestrel + "FirstColumn(600.000000) + NumberOfColumn(104.000000)" + reset);
    EXPECT_EQ(device->paramValueOf("Number of Column", false), 640.0);
    EXPECT_TRUE(log.has("Number of Column=640 pending"));

    const struct {
        const char* name;
        double value;
        std::string message;
    } refusals[] = {
        // The window edits go together.
        {"First Column", 600.0,
         kestrel + "FirstColumn(600.000000) + NumberOfColumn(640.000000)" + reset},
        // The info line needs 56 columns.
        {"Number of Column", 48.0,
         kestrel + "NumberOfColumn(48.000000) < MinimumNumberOfColumn(56.000000). Virtual "
                   "Registry was reset."},
        {"Number of Line", 520.0,
         "Error : For parameter 'Number of Line', value(520.000000) is out of range "
         "[8.000000;512.000000]."},
        {"Nothing", 1.0, kestrel + "param(Nothing) does not exist."},
        {"Pixel Clock", 40.0, kestrel + "param(Pixel Clock) is inert."},
    };
    for (const auto& refusal : refusals) {
        EXPECT_EQ(set(refusal.name, refusal.value), refusal.message);
        EXPECT_EQ(device->virtualRegistry(), device->appliedRegistry()) << refusal.name;
    }
    const char* nothing = nullptr;
    EXPECT_EQ(set("Gain", nothing), kestrel + "param(Gain) cannot take a null text.");
}

TEST_F(UsbDeviceTest, KestrelCouplingRules) {
    openOne();
    const auto refusal = [](const char* name, const char* why) {
        return std::string("Error : For XEVDevice(Kestrel), param(") + name + ")" + why;
    };
    const auto pending = [&](const char* name) { return device->paramStrValueOf(name, false); };
    const std::string ok = "<no exception>";

    // The NUC signal follows the configuration written to the camera.
    std::vector<std::pair<std::string, double>> nucs;
    device->impl()->nucSignal.connect([&](std::string& path, double exposure, double) {
        nucs.emplace_back(path, exposure);
        return true;
    });
    device->setParamValueOf("Exposure Time", 3000.0, true);
    EXPECT_EQ(nucs,
              (std::vector<std::pair<std::string, double>>{{"120MHz/Log/Standard/T_15/", 3000.0}}));

    EXPECT_EQ(pending("Sensor Response"), "Log");
    EXPECT_EQ(set("Analog Gain", "High"),
              refusal("Analog Gain", " Log Sensor Response accept only 'Standard' gain"));
    EXPECT_EQ(set("CDS", "On"), refusal("CDS", ": can be 'on' only in Lin Mode and High Gain."));
    // Linear response turns a Standard gain to Low.
    EXPECT_EQ(set("Sensor Response", "Lin"), ok);
    EXPECT_EQ(pending("Analog Gain"), "Low");
    EXPECT_EQ(set("Analog Gain", "Standard"),
              refusal("Analog Gain", " Lin Sensor Response accept only 'Low' or 'High' gain."));
    EXPECT_EQ(set("Analog Gain", "High"), ok);
    EXPECT_EQ(set("CDS", "On"), ok);
    EXPECT_EQ(set("Sensor Response", "Lin"), ok); // again: a Lin gain stays
    EXPECT_EQ(pending("Analog Gain"), "High");
    EXPECT_EQ(device->MakeNucPath(), "120MHz/Lin/High-CDS/T_15/");
    // Back to logarithmic: the gain returns to Standard and CDS goes off.
    EXPECT_EQ(set("Sensor Response", "Log"), ok);
    EXPECT_EQ(pending("Analog Gain"), "Standard");
    EXPECT_EQ(pending("CDS"), "Off");
    EXPECT_EQ(device->MakeNucPath(), "120MHz/Log/Standard/T_15/");
    EXPECT_DOUBLE_EQ(device->MinExposureTime(), 100.0);

    // Each trigger delay belongs to one mode.
    EXPECT_EQ(
        set("Trigger Delay Input Gated", 0.1),
        refusal("Trigger Delay Input Gated", " can only be used in Gated mode(exposure <= 10us)."));
    EXPECT_EQ(set("Trigger Delay Input", 0), ok); // 0 is no null text
    std::vector<bool> modes;
    device->impl()->modeSignal.connect([&](bool gated) { modes.push_back(gated); });
    EXPECT_EQ(set("Mode", "Gated"), ok);
    EXPECT_EQ(modes, std::vector<bool>{true});
    // The exposure is re-clamped to the gated ranges, the TEC set for gating.
    EXPECT_EQ(pending("Exposure Time"), "9us");
    EXPECT_EQ(device->paramValueOf("Temperature TEC", false), 35.0);
    EXPECT_EQ(pending("TEC Mode"), "Medium current");
    EXPECT_DOUBLE_EQ(device->MinExposureTime(), 0.1);
    EXPECT_EQ(set("Trigger Delay Input", 0.0),
              refusal("Trigger Delay Input",
                      " can only be used in Global Shutter mode(exposure > 10us)."));
    EXPECT_EQ(set("Trigger Delay Input Gated", 0.1), ok);

    EXPECT_EQ(set("Mode", "Global Shutter"), ok);
    EXPECT_EQ(set("Trigger Mode", "Input"), ok);
    EXPECT_EQ(set("Integration Mode", "IWR"),
              refusal("Integration Mode", ": IWR is incompatible with external trigger."));
}

struct FramePeriodCase {
    const char* name;
    XEVUsbCameraConfig config;
    double fps;
    uint8_t coarse, fine;
    long minFps, maxFps;
};

class FramePeriod : public UsbDeviceTest, public ::testing::WithParamInterface<FramePeriodCase> {};

TEST_P(FramePeriod, RegistersAndLimitsWorkedOutByHand) {
    const FramePeriodCase& c = GetParam();
    XEVDevice::Fastest = true; // worked out without writing to the camera
    openOne(c.config)->setFps(c.fps, false);
    const auto vr = device->virtualRegistry();
    EXPECT_EQ(vr[5], c.coarse);
    EXPECT_EQ(vr[6], c.fine);
    EXPECT_EQ(device->minFps(false), c.minFps);
    EXPECT_EQ(device->maxFps(false), c.maxFps);
}

// Line count L, line time T and exposure term E (us) of each family (the
// Egret's are the Heron's).
INSTANTIATE_TEST_SUITE_P(
    EveryModelFamily, FramePeriod,
    ::testing::Values(
        // Heron on USB 3.0: T 29.4, L 516, E 1500, P 16670.4 us.
        FramePeriodCase{"Heron", usb3(UsbModel::Heron), 30.0, 0x8D, 0x7D, 22, 59},
        // Dunlin, rolling: T 30.8, L 721, no exposure term.
        FramePeriodCase{"Dunlin", usb3(UsbModel::Dunlin), 25.0, 0x90, 0x14, 19, 45},
        // Kestrel, firmware 3.5, no extended rates: T 992/120, L 514, E 2122.
        FramePeriodCase{"Kestrel", kestrelConfig(), 100.0, 0x36, 0xD8, 44, 156},
        // Jacana on USB 3.0: T 30, N 256, P (N + 4) T + 300 = 8100 us.
        FramePeriodCase{"Jacana", usb3(UsbModel::Jacana), 50.0, 0x18, 0x94, 8, 123},
        // Lapwing on USB 3.0, snapshot: T 22.5, L 481, E 2000.
        FramePeriodCase{"Lapwing", usb3(UsbModel::Lapwing), 50.0, 0x27, 0x5A, 28, 77},
        // Merlin, snapshot: T 33.75, L 1025, E 2000.
        FramePeriodCase{"Merlin", usb3(UsbModel::Merlin), 20.0, 0x63, 0x65, 15, 27},
        // Ibis on USB 3.0: T 29.4, L 516, no exposure term; k 211.
        FramePeriodCase{"Ibis", usb3(UsbModel::Ibis), 25.0, 0xD3, 0x06, 23, 65}),
    [](const ::testing::TestParamInfo<FramePeriodCase>& info) { return info.param.name; });

TEST_F(UsbDeviceTest, FrameRateIsClampedToItsLimits) {
    openOne(usb3(UsbModel::Heron));
    ConfigLog log;
    log.connectTo(*device);
    EXPECT_DOUBLE_EQ(device->setFps(30, true), 30.0);
    EXPECT_TRUE(log.has("fps 30.000000"));
    // Clamped to the limits, and the caller sees the rate that results.
    EXPECT_DOUBLE_EQ(device->setFps(5000.0, true), device->maxFpsAsDouble(true));
    EXPECT_DOUBLE_EQ(device->setFps(0.5, false), device->minFpsAsDouble(false));
}

TEST_F(UsbDeviceTest, FirstExposureWriteToAHeron) {
    // It used to fail on the gated exposure, which shares the register.
    openOne(usb3(UsbModel::Heron));
    EXPECT_EQ(set("Exposure Time", "2000us", true), "<no exception>");
    EXPECT_DOUBLE_EQ(device->paramValueOf("Exposure Time"), 2000.0);
}

TEST_F(UsbDeviceTest, FastestOpensWithoutThreadsOrWrites) {
    XEVDevice::Fastest = true;
    camera = plug(kestrelConfig());
    XEVManager::getInstance();
    camera->clearEvents();
    EXPECT_TRUE(open()->updateConfig(true));
    EXPECT_TRUE(camera->vendorRequests().empty());
}
