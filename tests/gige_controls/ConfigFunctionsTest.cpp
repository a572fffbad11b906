#include "ControlsFixture.h"

#include "XEVDeviceUsb.h"
#include "XEVGigeAutomaticGainControl.h"
#include "XEVGigeBpr.h"
#include "XEVGigeConfig.h"
#include "XEVGigeEnhancementFilter.h"
#include "XEVGigeEqualizationHistogram.h"
#include "XEVGigeFunctions.h"
#include "XEVGigeGammaCorrection.h"
#include "XEVGigeManualGainControl.h"
#include "XEVGigeNUC1Point.h"
#include "XEVGigeNUC2Points.h"
#include "XEVGigeReticule.h"
#include "XEVUsbCameraEmulator.h"

#include <functional>
#include <iterator>

using namespace XEVTest;
using namespace XEVLibrary::Gige;

namespace {

using Lines = std::vector<std::string>;

TEST_F(ControlsTest, ConfigLoadAndResetReadTheCameraBack) {
    open(GigeModel::HeronGigE, "", {{"Gamma", "2.0"}, {"EnhancCoef", "9"}});
    Config config(device);
    EXPECT_EQ(config.BusyFeature(), "NIOS_is_BUSY");
    config.Save();
    EXPECT_EQ(writes(), Lines{"CamSaveConfiguration=1"});
    EXPECT_EQ(busy(), 0u);
    device->setParamValueOf("Gamma", 3.0);
    device->setParamValueOf("EnhancCoef", 11);
    writes();

    config.Load();
    EXPECT_EQ(writes(), Lines{"CamLoadConfiguration=1"});
    EXPECT_EQ(busy(), 0u);
    for (bool applied : {true, false}) {
        EXPECT_EQ(device->paramValueOf("Gamma", applied), 2.0);
        EXPECT_EQ(device->paramValueOf("EnhancCoef", applied), 9.0);
    }
    EXPECT_EQ(cameraFloat(camera(), "Gamma"), 2.0f);

    // Back to the description's values: gamma 1, kernel 3.
    config.Reset();
    EXPECT_EQ(writes(), Lines{"CamResetParameter=1"});
    for (bool applied : {true, false}) {
        EXPECT_EQ(device->paramValueOf("Gamma", applied), 1.0);
        EXPECT_EQ(device->paramValueOf("EnhancCoef", applied), 3.0);
    }
    // A later change is a change again.
    device->setParamValueOf("Gamma", 2.0);
    EXPECT_EQ(writes(), Lines{"Gamma=2"});
}

TEST_F(ControlsTest, BusyWaitsGiveUpAfterTheBound) {
    const struct {
        GigeModel model;
        const char* firmware;
        const char* busyFeature;
        const char* operation;
        std::function<void(XEVDeviceGige*)> run;
    } cases[] = {
        {GigeModel::HeronGigE, "", "NIOS_is_BUSY", "NucCompute1Pts",
         [](XEVDeviceGige* d) {
             NUC1Point nuc;
             *d << nuc;
             nuc.Compute(0);
         }},
        {GigeModel::CurlewcGigE, "01.02", "NucProcessing_WAIT_plz", "NucSaveInFlash",
         [](XEVDeviceGige* d) {
             NUC1Point nuc;
             *d << nuc;
             nuc.Save(1);
         }},
        {GigeModel::CurlewcGigE, "01.02", "NucProcessing_WAIT_plz", "CamLoadConfiguration",
         [](XEVDeviceGige* d) { Config(d).Load(); }},
        {GigeModel::CurlewcGigE, "01.03", "NIOS_is_BUSY", "CamSaveConfiguration",
         [](XEVDeviceGige* d) { Config(d).Save(); }},
        {GigeModel::KestrelGigE, "", "NIOS_is_BUSY", "BprActivate",
         [](XEVDeviceGige* d) {
             Bpr bpr;
             *d << bpr;
         }},
    };
    std::vector<CameraSetup> setups;
    for (const auto& c : cases)
        setups.push_back({c.model, c.firmware, {}});
    open(setups);
    BusyWait::setTimeout(150ms);
    XEVGigeFaults faults;
    faults.busyForever = true;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].operation);
        camera(i).setFaults(faults);
        std::string message;
        finishesWithin("a wait for a camera that stays busy",
                       [&] { message = messageOf([&] { cases[i].run(deviceAt(i)); }); });
        EXPECT_EQ(message, std::string("Error : The camera stayed busy (") + cases[i].busyFeature +
                               ") for more than 150 ms after " + cases[i].operation + ".");
    }
    BusyWait::setTimeout(1s);
    EXPECT_EQ(BusyWait::timeout(), 1000ms);
    EXPECT_EQ(messageOf([&] {
                  NUC1Point nuc(0);
                  *device << nuc;
              }),
              "Error : The camera stayed busy (NIOS_is_BUSY) for more than 1 s after "
              "NucLoadFromFlash.");
}

TEST_F(ControlsTest, DisablePersistentIpOnlyWhereTheCameraKeepsOne) {
    const struct {
        GigeModel model;
        const char* firmware;
        bool written;
    } cases[] = {{GigeModel::HeronGigE, "01.04", false},
                 {GigeModel::FulmarGigE, "01.03", false},
                 {GigeModel::HeronGigE, "02.00", true},
                 {GigeModel::CurlewGigE, "02.01", true},
                 {GigeModel::KestrelGigE, "01.04", true}};
    std::vector<CameraSetup> setups;
    for (const auto& c : cases)
        setups.push_back({c.model, c.firmware, {{"GevNetworkConfiguration", "LLA_Persistent"}}});
    open(setups);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(gigeModelName(cases[i].model) + " " + cases[i].firmware);
        DisablePersistentIp(*deviceAt(i));
        EXPECT_EQ(writes(i), cases[i].written ? Lines{"GevNetworkConfiguration=6"} : Lines{});
        if (!cases[i].written) {
            // Nor does it set one (and so returns at once).
            SetPersistentIp(*deviceAt(i), "192.168.10.5", "255.255.255.0", "192.168.10.1");
            EXPECT_EQ(writes(i), Lines{});
        }
    }
}

TEST_F(ControlsTest, SetPersistentIpWritesThePersistentRegisters) {
    open(GigeModel::KestrelGigE);
    // The emulated camera stores each setting at once.
    const unsigned settle = XEVDeviceGige::persistentSettleMs.exchange(0);
    finishesWithin("setting the persistent IP", [&] {
        SetPersistentIp(*device, "192.168.10.5", "255.255.255.0", "192.168.10.1");
    });
    XEVDeviceGige::persistentSettleMs = settle;
    EXPECT_EQ(writes(), (Lines{"GevPersistentIPAddress=" + std::to_string(0xC0A80A05u),
                               "GevPersistentSubnetMask=" + std::to_string(0xFFFFFF00u),
                               "GevPersistentDefaultGateway=" + std::to_string(0xC0A80A01u),
                               "GevNetworkConfiguration=7"}));
    EXPECT_EQ(cameraValue(camera(), "GevPersistentIPAddress"), 0xC0A80A05u);
    EXPECT_EQ(cameraValue(camera(), "GevPersistentSubnetMask"), 0xFFFFFF00u);
    EXPECT_EQ(cameraValue(camera(), "GevPersistentDefaultGateway"), 0xC0A80A01u);
    EXPECT_EQ(device->paramStrValueOf("GevNetworkConfiguration"), "LLA_DHCP_Persistent");
    EXPECT_EQ(device->registryValue("GevPersistentIPAddress", true), 0xC0A80A05u);
    EXPECT_EQ(device->registryValue("GevPersistentIPAddress", false), 0xC0A80A05u);
}

TEST_F(ControlsTest, UserDefinedNameAndCommands) {
    open(GigeModel::HeronGigE);
    SetUserDefinedName(*device, "fifteen-chars-x");
    EXPECT_EQ(writes(), Lines{"GevUserDefinedName=\"fifteen-chars-x\""});
    EXPECT_EQ(GetUserDefinedName(*device), "fifteen-chars-x");
    EXPECT_EQ(messageOf([&] { SetUserDefinedName(*device, "sixteen-chars-xy"); }),
              "Error : For XEVDevice(HeronGigE), param(GevUserDefinedName) : GevUserDefinedName "
              "is limited to 15 caracters");
    EXPECT_EQ(writes(), Lines{});
    EXPECT_EQ(GetUserDefinedName(*device), "fifteen-chars-x");

    sendCommand(*device, "BprSave", 3);
    EXPECT_EQ(writes(), Lines{"BprSave=3"});
    EXPECT_EQ(messageOf([&] { sendCommand(*device, "NoSuchCommand", 1); }),
              "Error : For XEVDevice(HeronGigE), command(NoSuchCommand) does not exist or as no "
              "equivalent in GEV.");
}

TEST_F(ControlsTest, NameListsAreTheGigeDevicesOwn) {
    open(GigeModel::HeronGigE);
    EXPECT_EQ(paramNames(device), device->ParamNames());
    EXPECT_EQ(groupNames(device), device->GroupNames());
    EXPECT_EQ(paramNames(device, "BPR"),
              (Lines{"BprActivate", "BprDetectMethod", "BprGainThreshold", "BprOffsetThreshold",
                     "BprBadPixelNumber", "BprRun", "BprLoad", "BprSave", "BprResetList"}));
    EXPECT_EQ(paramNames(nullptr), Lines{});
    EXPECT_EQ(groupNames(nullptr), Lines{});
    EXPECT_EQ(paramNames(nullptr, "BPR"), Lines{});
}

/// A USB camera opened through the manager, the manager's settings restored
/// afterwards.
class UsbCameraControls : public ::testing::Test {
protected:
    void SetUp() override {
        m_useUsb = XEVManager::useUsb;
        m_useGige = XEVManager::useGige;
        XEVManager::destroyInstance();
        m_bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
        XEVManager::useUsb = true;
        XEVManager::useGige = false;
        finishesWithin("opening the USB camera",
                       [&] { usb = XEVManager::getInstance()->openDevice(0, 0, 8); });
        ASSERT_NE(dynamic_cast<XEVDeviceUsb*>(usb), nullptr);
    }
    void TearDown() override {
        finishesWithin("closing the USB camera", [] { XEVManager::destroyInstance(); });
        XEVManager::useUsb = m_useUsb;
        XEVManager::useGige = m_useGige;
    }

    XEVDevice* usb = nullptr;

private:
    XEVUsbEmulatedBus m_bus;
    bool m_useUsb = false;
    bool m_useGige = false;
};

TEST_F(UsbCameraControls, OtherDevicesAreRefusedAndListNothing) {
    EXPECT_EQ(paramNames(usb), Lines{});
    EXPECT_EQ(groupNames(usb), Lines{});
    EXPECT_EQ(paramNames(usb, "AGC"), Lines{});

    AutomaticGainControl agc(0.5f, "Mean");
    ManualGainControl manual(1.0f, 0.0f);
    NUC1Point onePoint(1);
    NUC2Points twoPoints(1);
    Bpr bpr;
    GammaCorrection gamma(1.0f, 0);
    EqualizationHistogram equalization(0, true);
    EnhancementFilter enhancement(EnhancementFilter::Sharpen, 3, true);
    std::vector<InternalFilter*> controls{&agc, &manual, &onePoint,     &twoPoints,
                                          &bpr, &gamma,  &equalization, &enhancement};
    const std::string refused = "Error : Camera-side controls need a GigE device.";
    for (InternalFilter* control : controls) {
        EXPECT_EQ(messageOf([&] { *usb << *control; }), refused);
        EXPECT_EQ(messageOf([&] { control->Connect(nullptr); }), refused);
    }
    const std::function<void()> others[] = {
        [&] { Config config(usb); },
        [&] { Config config(nullptr); },
        [&] { Reticule reticule(usb); },
        [&] { Reticule reticule(nullptr, 1, 2, 3, 4, 1, 1, Reticule::Black, false); },
        [&] { sendCommand(*usb, "NucResetTable", 1); },
        [&] { SetPersistentIp(*usb, "192.168.10.5", "255.255.255.0", "192.168.10.1"); },
        [&] { DisablePersistentIp(*usb); },
    };
    for (const auto& other : others)
        EXPECT_EQ(messageOf(other), refused);
    // Refused controls stay unconnected.
    EXPECT_EQ(messageOf([&] { onePoint.Activate(true); }),
              "Error : The NUC control is not connected to a camera.");
}

} // namespace
