#include "GigeDeviceFixture.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>
#include <thread>

using namespace XEVTest;

namespace {

const std::string NoException = "<no exception>";

/// The text in @p camera's register of @p feature, @p width bytes at most.
std::string cameraText(const XEVGigeEmulatedCamera& camera, const std::string& feature,
                       unsigned width) {
    std::string text;
    const uint32_t address = camera.featureAddress(feature);
    for (unsigned i = 0; i < width; ++i) {
        const uint32_t word = camera.registerValue(address + (i & ~3u));
        const char c = static_cast<char>(word >> (24 - 8 * (i % 4)));
        if (c == '\0')
            break;
        text += c;
    }
    return text;
}

std::vector<std::string> walk(const XEVParam& param) {
    std::vector<std::string> values;
    for (auto it = param.begin(); it != param.end(); ++it)
        values.push_back(*it);
    return values;
}

/// One shared Heron (firmware 02.01, 640 x 512) for the tests that do not
/// disturb each other: each leaves the camera's applied settings as it found
/// them, and its pending ones are reset after it.
class HeronParams : public ::testing::Test {
protected:
    static void SetUpTestSuite() { cameras().open({gigeConfig(GigeModel::HeronGigE)}); }
    static void TearDownTestSuite() { cameras().close(); }
    static GigeCameras& cameras() {
        static GigeCameras shared;
        return shared;
    }

    void SetUp() override {
        device = cameras().device(0);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override {
        camera().setFaults(XEVGigeFaults());
        if (device)
            device->resetVirtualRegistry();
    }

    XEVGigeEmulatedCamera& camera() { return cameras().camera(0); }
    /// Sets and applies @p values in order.
    void apply(const std::vector<std::pair<const char*, double>>& values) {
        for (const auto& [name, value] : values)
            device->setParamValueOf(name, value, false);
        EXPECT_TRUE(device->updateConfig());
    }

    XEVDeviceGige* device = nullptr;
};

TEST_F(HeronParams, PendingValuesReachTheCameraOnlyThroughUpdateConfig) {
    ConfigLog log;
    log.connectTo(*device);
    const auto writes = camera().counters().writeRegisters;
    device->setParamValueOf("Number of Line", 256, false);
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 256.0);
    EXPECT_EQ(device->paramValueOf("Height", false), 256.0);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 512.0);
    EXPECT_EQ(device->paramStrValueOf("Height", true), "512");
    EXPECT_EQ(cameraValue(camera(), "Height"), 512u);
    EXPECT_EQ(camera().counters().writeRegisters, writes);

    EXPECT_TRUE(device->updateConfig());
    EXPECT_EQ(camera().counters().writeRegisters - writes, 1u);
    EXPECT_EQ(cameraValue(camera(), "Height"), 256u);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 256.0);
    // A change of timing: the camera's limits are read back. It reads a line
    // out in 30 us: a frame of 2000 + 30 x (256 + 10) us allows 100.2 fps,
    // and 25 fps leave 40000 - 30 x 266 us of exposure.
    EXPECT_EQ(device->maxFpsAsDouble(true), 100.0);
    EXPECT_EQ(device->paramValueOf("MaxExposureTime", true), 32020.0);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"Height=256 pending", "Height=256 applied",
                                        "MaxExposureTime=32020.000000 applied", "max fps 100"}));
    apply({{"Number of Line", 512}});
    EXPECT_EQ(device->maxFpsAsDouble(true), 56.0); // 2000 + 30 x 522 us
}

TEST_F(HeronParams, RefusedValuesLeaveThePendingSettingsAsTheyWere) {
    device->setParamValueOf("Number of Line", 400, false);
    device->setParamValueOf("First Line", "100", false);
    const auto pending = pendingValues(*device);
    const auto before = camera().counters();
    ConfigLog log;
    log.connectTo(*device);

    const std::string heron = "Error : For XEVDevice(HeronGigE), ";
    const std::string height = heron + "param(Height) : ";
    struct Refusal {
        std::function<void(XEVDeviceGige&)> action;
        std::string message;
    };
    const std::vector<Refusal> refusals{
        {[](XEVDeviceGige& d) { d.setParamValueOf("Number of Line", 450); },
         heron + "param(Number of Line) : For XEVDevice(HeronGigE), FirstLine(100.000000) + "
                 "NumberOfLine(450.000000) > SensorHeight(512)"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("First Line", 120.0, false); },
         heron + "param(First Line) : For XEVDevice(HeronGigE), FirstLine(120.000000) + "
                 "NumberOfLine(400.000000) > SensorHeight(512)"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("First Column", "8", false); },
         heron + "param(First Column) : For XEVDevice(HeronGigE), FirstColumn(8.000000) + "
                 "NumberOfColumn(640.000000) > SensorWidth(640)"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Height", 513.0, false); },
         height + " value(513.000000) must be in the range [8, 512] by step of 2"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Height", "451", false); },
         height + " value(451) must be in the range [8, 512] by step of 2"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Height", "tall", false); }, height + "stoul"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Pixel Depth", "Mono12", false); },
         heron + "param(Pixel Depth) :  value(Mono12) is not one of [Mono16| Mono8]"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Gamma", 5.0, false); },
         heron + "param(Gamma) :  value(5.000000) must be in the range [0.100000, 4.000000] by "
                 "step of 0.000000"},
        {[](XEVDeviceGige& d) { d.setParamValueOf("Gain", 1, false); },
         heron + "param(Gain) does not exist or as no equivalent in GEV."},
        {[](XEVDeviceGige& d) { d.setParamValueOf("AcquisitionStart", 1, false); },
         heron + "param(AcquisitionStart) does not exist or as no equivalent in GEV."},
        {[](XEVDeviceGige& d) { d.setParamValueOf("SensorWidth", 320, false); },
         heron + "param(SensorWidth) is read-only."},
        {[](XEVDeviceGige& d) { d.setParamValueOf("GevModelName", "Other", false); },
         heron + "param(GevModelName) is read-only."},
        {[](XEVDeviceGige& d) { d.setParamValueOf("GevUserDefinedName", std::string(16, 'n')); },
         heron + "param(GevUserDefinedName) : GevUserDefinedName is limited to 15 caracters"},
        {[](XEVDeviceGige& d) { d.paramValueOf("Gain"); },
         heron + "param(Gain) does not exist or as no equivalent in GEV."},
        {[](XEVDeviceGige& d) { d.paramValueOf("GevUserDefinedName"); },
         heron + "param(GevUserDefinedName) can only be represented as string."},
        {[](XEVDeviceGige& d) { d.SendCommand("Width", 1); },
         heron + "command(Width) does not exist or as no equivalent in GEV."},
        {[](XEVDeviceGige& d) { d.ParamNames("Optics"); },
         "Error : The camera's description has no category(Optics)."},
    };
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        SCOPED_TRACE("refusal " + std::to_string(i));
        EXPECT_EQ(messageOf([&] { refusals[i].action(*device); }), refusals[i].message);
    }
    EXPECT_EQ(pendingValues(*device), pending);
    EXPECT_TRUE(log.lines().empty());
    const auto after = camera().counters();
    EXPECT_EQ(after.writeRegisters, before.writeRegisters);
    EXPECT_EQ(after.writeMemories, before.writeMemories);
    EXPECT_TRUE(device->checkParams());
}

TEST_F(HeronParams, UpdateConfigWithNothingPendingWritesAndReportsNothing) {
    device->setParamValueOf("Number of Column", 640, false); // the applied value
    device->setFps(device->fpsAsDouble(true), false);
    ConfigLog log;
    log.connectTo(*device);
    const auto before = camera().counters();
    EXPECT_TRUE(device->updateConfig(false));
    const auto after = camera().counters();
    EXPECT_EQ(after.writeRegisters, before.writeRegisters);
    EXPECT_EQ(after.writeMemories, before.writeMemories);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(HeronParams, TextsAreWrittenAtOnce) {
    ConfigLog log;
    log.connectTo(*device);
    const auto before = camera().counters();
    const std::string name = "Bench camera 15"; // 15 characters, the most
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("GevUserDefinedName", name, false); }),
              NoException);
    EXPECT_EQ(cameraText(camera(), "GevUserDefinedName", 16), name);
    const auto after = camera().counters();
    EXPECT_EQ(after.writeMemories - before.writeMemories, 1u);
    EXPECT_EQ(after.writeRegisters, before.writeRegisters);
    EXPECT_EQ(device->paramStrValueOf("GevUserDefinedName", true), name);
    EXPECT_EQ(device->paramStrValueOf("GevUserDefinedName", false), name);
    EXPECT_EQ(device->paramStrValueOf("GevModelName"), "HeronGigE");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"GevUserDefinedName=" + name + " pending"});
}

TEST_F(HeronParams, NamesLeaveOutDebugFeaturesCommandsAndInvisibleOnes) {
    EXPECT_EQ(device->GroupNames(),
              (std::vector<std::string>{"ImageFormatControl", "AcquisitionControl", "DeviceControl",
                                        "TransportLayerControl", "AGC", "NUC", "BPR",
                                        "ImageProcessing", "Reticle", "ConfigurationControl"}));
    EXPECT_EQ(device->ParamNames("NUC"),
              (std::vector<std::string>{"NucSelectTable", "NucActivate", "NucSaveInFlash",
                                        "NucLoadFromFlash", "NucResetTable", "NucCompute1Pts",
                                        "NucCompute2Pts1", "NucCompute2Pts2"}));
    EXPECT_EQ(device->ParamNames("DebugControl"),
              (std::vector<std::string>{"NIOS_is_BUSY", "DebugFrameCounter"}));

    const std::vector<std::string> names = device->ParamNames();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    auto listed = [&](const char* name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (const char* name : {"Width", "CamIntegrationTime", "GevUserDefinedName", "SensorWidth"})
        EXPECT_TRUE(listed(name)) << name;
    for (const char* name : {"NIOS_is_BUSY", "DebugFrameCounter", "AcquisitionStart", "BprRun"})
        EXPECT_FALSE(listed(name)) << name;
}

TEST_F(HeronParams, ManualHeaderThenCategoriesWithTheirFeatures) {
    const std::string manual = device->manual();
    const std::string rule(26, '-');
    const std::string header = rule +
                               "\nConnector            GIGE\nModel                HeronGigE\n"
                               "Firmware Version     02.01\nSerial Number        " +
                               camera().config().serialNumber + "\n" + rule + "\n";
    EXPECT_EQ(manual.substr(0, header.size()), header);
    EXPECT_NE(manual.find("\nNUC :\n"
                          "\tNucSelectTable : RW\tInteger \n\t\t[min: 0, max: 3, Step: 1]\n"
                          "\tNucActivate : RW\tEnum \n\t\t[Off| On]\n"
                          "\tNucSaveInFlash : String \n\t\t[NucSaveInFlash]\n"),
              std::string::npos);
    EXPECT_NE(manual.find("\tDeviceScanType : RW\tEnum \n\t\t[Areascan] - Inert\n"),
              std::string::npos);
    EXPECT_EQ(manual.find("DebugControl"), std::string::npos);
    EXPECT_EQ(manual.find("NIOS_is_BUSY"), std::string::npos);
}

TEST_F(HeronParams, ParametersDescribeTheirFeatures) {
    struct Expected {
        const char* name;
        const char* type;
        double min, max, step;
        bool inert, continuous;
        std::vector<std::string> values;
    };
    const std::vector<Expected> table{
        {"Height", "Int", 8, 512, 2, false, true, {}},
        {"SensorWidth", "Int", 640, 640, 0, true, true, {}},
        {"Gamma", "Float", 0.1, 4.0, 0, false, true, {}},
        {"PixelFormat", "Enumeration", 0, 0, 0, false, false, {"Mono16", "Mono8"}},
        {"AcquisitionMode",
         "Enumeration",
         0,
         0,
         0,
         false,
         false,
         {"Continuous", "SingleFrame", "MultiFrame"}},
        {"DeviceScanType", "Enumeration", 0, 0, 0, true, false, {"Areascan"}},
        {"GevUserDefinedName", "String", 0, 0, 0, false, false, {}},
        {"GevModelName", "String", 0, 0, 0, true, false, {}},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        const XEVParam* param = device->getParam(e.name);
        ASSERT_NE(param, nullptr);
        EXPECT_EQ(param->valueType(), e.type);
        EXPECT_DOUBLE_EQ(param->minValue(), e.min);
        EXPECT_DOUBLE_EQ(param->maxValue(), e.max);
        EXPECT_EQ(param->step(), e.step);
        EXPECT_EQ(param->isInert(), e.inert);
        EXPECT_EQ(param->isContinuous(), e.continuous);
        EXPECT_EQ(walk(*param), e.values);
    }
    EXPECT_EQ(device->getParam("AcquisitionStart"), nullptr); // commands are no parameters

    // Past the last entry the walk stays at the end; copies walk on their own.
    const XEVParam& mode = *device->getParam("AcquisitionMode");
    auto it = mode.begin();
    const auto first = it++;
    EXPECT_EQ(*first, "Continuous");
    EXPECT_EQ(*it, "SingleFrame");
    EXPECT_TRUE(++ ++it == mode.end());
    EXPECT_TRUE(++it == mode.end());
    EXPECT_EQ(*it, "");
    EXPECT_FALSE(first == mode.end());

    std::ostringstream line;
    device->getParam("PixelFormat")->manual(line, 16);
    EXPECT_EQ(line.str(), "PixelFormat :        Enum \n\t\t[Mono16| Mono8]\n");

    // One parameter per feature element of the description the camera serves.
    const std::string xml = camera().descriptionXml();
    std::size_t features = 0;
    for (const char* element : {"<Integer ", "<Float ", "<Enumeration ", "<String "})
        for (auto at = xml.find(element); at != std::string::npos; at = xml.find(element, at + 1))
            ++features;
    EXPECT_EQ(device->paramCount(), features);
}

TEST_F(HeronParams, AWriteTheCameraRefusesStaysPending) {
    ConfigLog log;
    log.connectTo(*device);
    device->setParamValueOf("Number of Column", 320, false);
    XEVGigeFaults denied;
    denied.accessDenied = true;
    camera().setFaults(denied);
    EXPECT_FALSE(device->updateConfig());
    EXPECT_EQ(device->paramValueOf("Number of Column", true), 640.0);
    EXPECT_EQ(device->paramValueOf("Number of Column", false), 320.0);
    EXPECT_EQ(cameraValue(camera(), "Width"), 640u);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("First Column", 64, true); }),
              "Error : For XEVDevice(HeronGigE), the camera refused the register writes; the "
              "settings stay pending.");
    EXPECT_EQ(device->paramValueOf("First Column", false), 64.0);
    // A memory write is acknowledged even when refused: the device reads back.
    const std::string userName = device->paramStrValueOf("GevUserDefinedName");
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("GevUserDefinedName", "Refused", false); }),
              "Error : For XEVDevice(HeronGigE), param(GevUserDefinedName) : the camera did not "
              "take the text");
    EXPECT_EQ(device->paramStrValueOf("GevUserDefinedName"), userName);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Width=320 pending", "OffsetX=64 pending"}));

    camera().setFaults(XEVGigeFaults());
    EXPECT_TRUE(device->updateConfig()); // sent again
    EXPECT_EQ(cameraValue(camera(), "Width"), 320u);
    EXPECT_EQ(cameraValue(camera(), "OffsetX"), 64u);
    EXPECT_EQ(device->paramValueOf("First Column", true), 64.0);
    EXPECT_EQ(log.lines().size(), 4u);
    apply({{"First Column", 0}, {"Number of Column", 640}});
}

TEST_F(HeronParams, SettersGettersAndUpdatesFromSeveralThreads) {
    std::vector<std::string> errors;
    std::mutex errorsLock;
    auto attempt = [&](const std::function<void()>& action) {
        const std::string message = messageOf(action);
        if (message != NoException) {
            std::lock_guard<std::mutex> guard(errorsLock);
            errors.push_back(message);
        }
    };
    finishesWithin("settings from three threads", [&] {
        std::thread writer([&] {
            for (int i = 0; i < 40; ++i)
                attempt([&] {
                    device->setParamValueOf("Gamma", 1.0 + (i % 4) * 0.5, false);
                    device->updateConfig();
                });
        });
        std::thread rates([&] {
            for (int i = 0; i < 40; ++i)
                attempt([&] { device->setFps(20.0 + i % 5, false); });
        });
        for (int i = 0; i < 40; ++i)
            attempt([&] {
                (void)device->paramValueOf("Gamma", true);
                (void)device->paramStrValueOf("Gamma", false);
                (void)device->fpsAsDouble(false);
                (void)device->manual();
            });
        writer.join();
        rates.join();
    });
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(device->paramValueOf("Gamma", true), 2.5);
    EXPECT_EQ(cameraFloat(camera(), "Gamma"), 2.5f);
    device->setFps(25.0, true);
    apply({{"Gamma", 1.0}});
    EXPECT_EQ(cameraFloat(camera(), "AcquisitionFrameRate"), 25.0f);
}

/// Cameras whose models and firmware follow different rules, opened together.
class ModelRules : public ::testing::Test {
protected:
    enum : std::size_t { Kestrel, Fulmar, OldHeron, OldCurlew };

    static void SetUpTestSuite() {
        cameras().open({gigeConfig(GigeModel::KestrelGigE), gigeConfig(GigeModel::FulmarGigE),
                        gigeConfig(GigeModel::HeronGigE, "01.03"),
                        gigeConfig(GigeModel::CurlewGigE, "01.05")});
    }
    static void TearDownTestSuite() { cameras().close(); }
    static GigeCameras& cameras() {
        static GigeCameras shared;
        return shared;
    }
    void SetUp() override {
        for (std::size_t i : {Kestrel, Fulmar, OldHeron, OldCurlew})
            ASSERT_NE(cameras().device(i), nullptr) << i;
    }
    void TearDown() override {
        for (std::size_t i : {Kestrel, Fulmar, OldHeron, OldCurlew})
            if (XEVDeviceGige* d = cameras().device(i))
                d->resetVirtualRegistry();
    }
    static XEVDeviceGige& device(std::size_t i) { return *cameras().device(i); }
    static XEVGigeEmulatedCamera& camera(std::size_t i) { return cameras().camera(i); }
};

TEST_F(ModelRules, ExposureTimeIsCappedByModelAndFirmwareButNotItsIntegrationTime) {
    // Capped: Kestrel. Not: Heron before 01.04, Curlew before 02.00, Fulmar.
    for (const auto& [index, capped] : std::vector<std::pair<std::size_t, bool>>{
             {Kestrel, true}, {OldHeron, false}, {OldCurlew, false}, {Fulmar, false}}) {
        XEVDeviceGige& d = device(index);
        SCOPED_TRACE(d.modelId() + " " + camera(index).config().firmwareVersion);
        const float maximum = cameraFloat(camera(index), "MaxExposureTime");
        ASSERT_LT(maximum, 30000.0f);
        const double expected = capped ? double(maximum) : 30000.0;
        d.setParamValueOf("ExposureTime", 30000.0, false);
        EXPECT_EQ(d.paramValueOf("ExposureTime", false), expected);
        d.resetVirtualRegistry();
        d.setParamValueOf("ExposureTime", "30000", false);
        EXPECT_EQ(d.paramValueOf("ExposureTime", false), expected);
        d.setParamValueOf("Exposure Time", 30000, false);
        EXPECT_EQ(d.paramValueOf("CamIntegrationTime", false), 30000.0);
        EXPECT_EQ(d.paramValueOf("Exposure Time", false), 30000.0);
        d.resetVirtualRegistry();
    }
}

TEST_F(ModelRules, FulmarRatesAreEnumerationEntries) {
    XEVDeviceGige& fulmar = device(Fulmar);
    EXPECT_EQ(fulmar.minFpsAsDouble(false), 1.0);
    EXPECT_EQ(fulmar.maxFpsAsDouble(false), 200.0);
    EXPECT_EQ(fulmar.setFps(50.0, false), 50.0);
    EXPECT_EQ(fulmar.registryValue("AcquisitionFrameRate", false), 50u);
    EXPECT_EQ(fulmar.paramStrValueOf("AcquisitionFrameRate", false), "Hz50.000000");
    EXPECT_TRUE(fulmar.updateConfig());
    EXPECT_EQ(cameraValue(camera(Fulmar), "AcquisitionFrameRate"), 50u);
    EXPECT_EQ(fulmar.fpsAsDouble(true), 50.0);

    EXPECT_EQ(messageOf([&] { fulmar.setFps(33.0, false); }),
              "Error : For XEVDevice(FulmarGigE), value(33.000000) does not exist for fps.");
    EXPECT_EQ(fulmar.fpsAsDouble(false), 50.0);
    EXPECT_EQ(fulmar.registryValue("AcquisitionFrameRate", false), 50u);
    EXPECT_EQ(fulmar.setFps(1000.0, false), 200.0);
    EXPECT_EQ(fulmar.paramStrValueOf("AcquisitionFrameRate", false), "Hz200.000000");
    EXPECT_EQ(fulmar.setFps(25.0, true), 25.0);
    EXPECT_EQ(cameraValue(camera(Fulmar), "AcquisitionFrameRate"), 25u);
}

TEST_F(ModelRules, FrameRatesAreClampedToTheLimitsOfEachModel) {
    // The Kestrel takes the camera's own maximum.
    XEVDeviceGige& kestrel = device(Kestrel);
    const double kestrelMax = std::floor(cameraFloat(camera(Kestrel), "MaxFPS"));
    EXPECT_EQ(kestrel.maxFpsAsDouble(false), kestrelMax);
    EXPECT_EQ(kestrel.maxFpsAsDouble(true), kestrelMax);
    EXPECT_EQ(kestrel.setFps(1000.0, false), kestrelMax);
    EXPECT_EQ(kestrel.paramValueOf("AcquisitionFrameRate", false), kestrelMax);

    // A Curlew before 02.00 computes it: 1280 x 1024 pixels need
    // (1310720 + 1025 x 1500 + 100) / 80 = 35604 us, or 28.09 fps, less than
    // the 52.17 fps of 2000 us of exposure and 1050 x 1308 / 80 us of readout.
    XEVDeviceGige& curlew = device(OldCurlew);
    EXPECT_EQ(curlew.maxFpsAsDouble(false), 28.0);
    EXPECT_EQ(curlew.minFpsAsDouble(false), 1.0);
    EXPECT_EQ(curlew.setFps(1000.0, false), 28.0);
    EXPECT_EQ(curlew.setFps(0.5, false), 1.0);

    // A Heron before 01.04 has no limits of its own: its feature's range refuses.
    XEVDeviceGige& heron = device(OldHeron);
    EXPECT_EQ(heron.maxFpsAsDouble(false), 0.0);
    EXPECT_EQ(messageOf([&] { heron.setFps(1000.0, false); }),
              "Error : For XEVDevice(HeronGigE), value(1000.000000) does not exist for fps.");
    EXPECT_EQ(heron.fpsAsDouble(false), 25.0);
    EXPECT_EQ(heron.setFps(300.0, false), 300.0);
    EXPECT_EQ(heron.paramValueOf("AcquisitionFrameRate", false), 300.0);
}

TEST(GigeDisconnection, StoredValuesStayReadableButTheCameraIsNotReached) {
    GigeCameras cameras;
    cameras.open({gigeConfig(GigeModel::HeronGigE)});
    XEVDeviceGige* device = cameras.device(0);
    ASSERT_NE(device, nullptr);
    device->setParamValueOf("Number of Line", 256, false);
    XEVGigeFaults silent;
    silent.silent = true;
    cameras.camera(0).setFaults(silent);
    finishesWithin("a reading from a silent camera", [&] {
        EXPECT_NE(messageOf([&] { device->paramValueOf("CamBoardTemperature"); }), NoException);
    });
    ASSERT_TRUE(waitUntil([&] { return !device->isConnected(); }));

    const std::string disconnected = "Error : XEVDevice(HeronGigE) is disconnected.";
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 256.0);
    EXPECT_EQ(device->paramValueOf("Number of Line", true), 512.0);
    EXPECT_EQ(device->paramStrValueOf("GevModelName"), "HeronGigE");
    EXPECT_EQ(messageOf([&] { device->paramValueOf("CamBoardTemperature"); }), disconnected);
    EXPECT_EQ(messageOf([&] { device->updateConfig(); }), disconnected);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("Number of Line", 128, true); }),
              disconnected);
    EXPECT_EQ(messageOf([&] { device->setFps(30.0, true); }), disconnected);
    EXPECT_EQ(messageOf([&] { device->setParamValueOf("GevUserDefinedName", "lab"); }),
              disconnected);
    EXPECT_EQ(messageOf([&] { device->SendCommand("AcquisitionStop", 1); }), disconnected);
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 256.0);
    // Pending edits go on, within the last limits the camera gave.
    device->setParamValueOf("Number of Line", 128, false);
    EXPECT_EQ(device->paramValueOf("Number of Line", false), 128.0);
    cameras.close();
}

} // namespace
