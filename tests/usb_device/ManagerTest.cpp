#include "UsbDeviceFixture.h"

#include <thread>

using namespace XEVTest;

namespace {

std::string noDevice(int number, int count) {
    return "Error : The device number(" + std::to_string(number) +
           ") does not exist, device count is " + std::to_string(count) + ".";
}

} // namespace

TEST_F(UsbDeviceTest, ManagerWithoutCameras) {
    XEVManager* manager = XEVManager::getInstance();
    EXPECT_EQ(XEVManager::getSDKVersion(), "2.4.0");
    EXPECT_EQ(XEVManager::getSDKVersion(), XEV_TEST_PROJECT_VERSION); // one version, CMake's
    EXPECT_EQ(manager->deviceCount(), 0u);
    EXPECT_EQ(messageOf([&] { manager->openOneDevice(0, 8); }), "Error : No device connected.");
    EXPECT_EQ(messageOf([&] { manager->getDeviceDescriptor(0); }), noDevice(0, 0));
}

TEST_F(UsbDeviceTest, ManagerOpensByNumberAndSerial) {
    plug(usb3(UsbModel::Heron));
    XEVUsbCameraConfig second = kestrelConfig();
    second.serialNumber = 777;
    plug(second);
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_EQ(manager->deviceCount(), 2u);

    XEVDevice* first = manager->openDevice(0, 0, 8);
    EXPECT_EQ(manager->openDevice(0, 0, 16), first); // the same device, FIFO size unused
    EXPECT_EQ(manager->openOneDevice(0, 4), first);
    XEVDevice* kestrel = manager->openDeviceBySerialNumber("777", 0, 8);
    EXPECT_EQ(manager->openDevice(1, 0, 8), kestrel);
    EXPECT_EQ(messageOf([&] { manager->openDeviceBySerialNumber("778", 0, 8); }),
              "Error : No device with serial number 778.");
    EXPECT_EQ(messageOf([&] { manager->openDevice(2, 0, 8); }), noDevice(2, 2));
    int notADevice = 0;
    EXPECT_EQ(manager->castVoidToDevicePointer(&notADevice), nullptr);

    // The GigE lookups parse their argument, but no GigE camera is listed.
    EXPECT_EQ(messageOf([&] { manager->openDeviceByIP("not an address", 0, 8); }),
              "Error : The IP address(not an address) is not a dotted-decimal IPv4 address.");
    EXPECT_EQ(messageOf([&] { manager->openDeviceByIP("192.0.2.7", 0, 8); }),
              "Error : No device with IP 192.0.2.7.");
    EXPECT_EQ(messageOf([&] { manager->openDeviceByMacAddress("00:0C:0A:01:02:03", 0, 8); }),
              "Error : No device with mac_address 00:0C:0A:01:02:03.");
}

TEST_F(UsbDeviceTest, ManagerEnumerationReplacesDevicesAndListsUnidentifiedCameras) {
    XEVDevice* heron = openOne(usb3(UsbModel::Heron));
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_NE(manager->castVoidToDevicePointer(heron), nullptr);
    // A bridge version that does not parse leaves its camera unidentified.
    XEVUsbCameraConfig odd = kestrelConfig();
    odd.bridgeFirmware = "v2";
    plug(odd);
    manager->enumerate();
    ASSERT_EQ(manager->deviceCount(), 2u);
    EXPECT_EQ(manager->castVoidToDevicePointer(heron), nullptr);
    EXPECT_EQ(manager->getDeviceDescriptor(0)->modelId(), "Heron");
    EXPECT_EQ(manager->getDeviceDescriptor(1)->modelId(), "");

    // An empty model id is compatible with every USB 3.0 model: ambiguous.
    EXPECT_NE(messageOf([&] {
                  manager->openDevice(1, 0, 8);
              }).find("is compatible with more than one XEVModelConfiguration"),
              std::string::npos);
    EXPECT_EQ(messageOf([&] { manager->forceDeviceModel(1, "Osprey"); }),
              "Error : The model id(Osprey) does not exist.");
    EXPECT_EQ(manager->getDeviceDescriptor(1)->modelId(), "");
    manager->forceDeviceModel(1, "Kestrel");
    EXPECT_EQ(manager->getDeviceDescriptor(1)->modelId(), "Kestrel");
    EXPECT_EQ(messageOf([&] { manager->forceDeviceModel(2, "Heron"); }), noDevice(2, 2));
}

TEST_F(UsbDeviceTest, ManagerRelaysTheLossOfACamera) {
    openOne();
    ConfigLog log;
    log.connectTo(*device);
    XEVManager* manager = XEVManager::getInstance();
    manager->disconnectDevice(*manager->getDeviceDescriptor(0));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"disconnected"});
    EXPECT_EQ(messageOf([&] { device->start(); }), "Error : XEVDevice(Kestrel) is disconnected.");

    XEVDeviceDescriptorUsb stranger(USB2, 9);
    EXPECT_EQ(messageOf([&] { manager->disconnectDevice(stranger); }),
              "CriticalError : 'USB 2.0 (9) -- [Model:Unknown]' is not already opened, it cannot "
              "be disconnected.");
}

TEST_F(UsbDeviceTest, ManagerRefusesACameraHeldByAnotherProgram) {
    camera = plug(kestrelConfig());
    XEVManager::getInstance();
    camera->holdInterface(true);
    EXPECT_EQ(messageOf([&] { open(); }),
              "Error : Device {USB 3.0 (0) -- [Model:Kestrel] [FWVer:3.5] [SerNum:4242] [FX3; "
              "USB3; USB FW: 2.1.10]} cannot be opened: interface 0 cannot be claimed (the camera "
              "is in use by another program).");
    camera->holdInterface(false);
    EXPECT_NE(open(), nullptr);
}

TEST_F(UsbDeviceTest, ManagerOpensACameraOnceWhicheverThreadsAsk) {
    plug(kestrelConfig());
    XEVManager* manager = XEVManager::getInstance();
    finishesWithin(
        "concurrent opening",
        [&] {
            for (int i = 0; i < 200; ++i) {
                XEVDevice *bySerial = nullptr, *found = nullptr;
                std::thread other([&] {
                    bySerial = manager->openDeviceBySerialNumber("16962", 0, 8);
                    found = manager->castVoidToDevicePointer(bySerial);
                });
                XEVDevice* byNumber = manager->openDevice(0, 0, 8);
                other.join();
                ASSERT_EQ(byNumber, bySerial) << i;
                ASSERT_EQ(found, bySerial) << i;
                manager->flushDevs();
                ASSERT_EQ(manager->castVoidToDevicePointer(byNumber), nullptr);
            }
        },
        std::chrono::seconds(25));
}

TEST_F(UsbDeviceTest, ManagerClosesDevicesBeforeForgettingTheirCameras) {
    openOne();
    device->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 1; }));
    XEVManager* manager = XEVManager::getInstance();
    manager->flushEnumeration();
    EXPECT_EQ(manager->deviceCount(), 0u);
    EXPECT_EQ(manager->castVoidToDevicePointer(device), nullptr);
    EXPECT_FALSE(recorder.hasReadingThread());
}

TEST_F(UsbDeviceTest, UnpluggedCameraIsReportedAndRefused) {
    openOne();
    // The loss callback may use the manager, not destroy its device.
    struct Reactor : XEVConfigObserver {
        void onParamChanged(const std::string&, const std::string&, bool) override {}
        void onDeviceDisconnected() override { own.ask(device()); }
        OwnThreadAnswers own;
    } reactor;
    reactor.connectTo(*device);
    device->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 1; }));
    m_bus.unplug(camera);
    const std::string gone = "Error : XEVDevice(Kestrel) is disconnected.";
    EXPECT_EQ(reactor.own.answers(), OwnThreadAnswers::expected(gone, gone));
    EXPECT_FALSE(device->isConnected());
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(recorder.hasReadingThread());
    EXPECT_EQ(messageOf([&] { device->start(); }), gone);
    EXPECT_EQ(messageOf([&] { device->updateConfig(true); }), gone);
    EXPECT_EQ(device->paramStrValueOf("Exposure Time"), "2ms"); // the register images stay
    finishesWithin("destroying the manager", [] { XEVManager::destroyInstance(); });
}
