#include "UsbDeviceFixture.h"

#include "XEVCatalog.h"

#include <boost/system/system_error.hpp>

using namespace XEVTest;

TEST_F(UsbDeviceTest, ManagerWithoutCameras) {
    XEVManager* manager = XEVManager::getInstance();
    EXPECT_EQ(XEVManager::getSDKVersion(), "2.4.0");
    EXPECT_EQ(manager->deviceCount(), 0u);
    EXPECT_EQ(messageOf([&] { manager->openOneDevice(0, 8); }), "Error : No device connected.");
    EXPECT_EQ(messageOf([&] { manager->openDevice(0, 0, 8); }),
              "Error : The device number(0) does not exist, device count is 0.");
    EXPECT_EQ(messageOf([&] { manager->getDeviceDescriptor(0); }),
              "Error : The device number(0) does not exist, device count is 0.");
    EXPECT_EQ(messageOf([&] { manager->openDeviceBySerialNumber("1", 0, 8); }),
              "Error : No device connected.");
    EXPECT_EQ(manager->castVoidToDevicePointer(nullptr), nullptr);
}

TEST_F(UsbDeviceTest, ManagerOpensByNumberAndSerial) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3));
    XEVUsbCameraConfig second = kestrelConfig();
    second.serialNumber = 777;
    plug(second);
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_EQ(manager->deviceCount(), 2u);
    EXPECT_EQ(manager->getDeviceDescriptor(1)->modelId(), "Kestrel");

    XEVDevice* first = manager->openDevice(0, 0, 8);
    EXPECT_EQ(manager->openDevice(0, 0, 16), first); // the same device, FIFO size unused
    EXPECT_EQ(manager->openOneDevice(0, 4), first);
    XEVDevice* kestrel = manager->openDeviceBySerialNumber("777", 0, 8);
    EXPECT_EQ(kestrel->modelId(), "Kestrel");
    EXPECT_EQ(manager->openDevice(1, 0, 8), kestrel);
    EXPECT_EQ(messageOf([&] { manager->openDeviceBySerialNumber("778", 0, 8); }),
              "Error : No device with serial number 778.");
    EXPECT_EQ(messageOf([&] { manager->openDevice(2, 0, 8); }),
              "Error : The device number(2) does not exist, device count is 2.");

    EXPECT_EQ(manager->castVoidToDevicePointer(static_cast<void*>(kestrel)), kestrel);
    int notADevice = 0;
    EXPECT_EQ(manager->castVoidToDevicePointer(&notADevice), nullptr);

    // The GigE lookups parse their argument, but no GigE camera is listed.
    EXPECT_THROW(manager->openDeviceByIP("not an address", 0, 8), boost::system::system_error);
    EXPECT_EQ(messageOf([&] { manager->openDeviceByIP("192.0.2.7", 0, 8); }),
              "Error : No device with IP 192.0.2.7.");
    EXPECT_EQ(messageOf([&] { manager->openDeviceByMacAddress("00:0C:0A:01:02:03", 0, 8); }),
              "Error : No device with mac_address 00:0C:0A:01:02:03.");
}

TEST_F(UsbDeviceTest, ManagerForcesAModelOnAnUnidentifiedCamera) {
    auto camera = plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3));
    camera->injectShortReads(1000, 512); // never shows its info line
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_EQ(manager->deviceCount(), 1u);
    EXPECT_EQ(manager->getDeviceDescriptor(0)->modelId(), "");
    // An empty model id is compatible with every USB 3.0 model: ambiguous.
    EXPECT_NE(messageOf([&] {
                  manager->openDevice(0, 0, 8);
              }).find("is compatible with more than one XEVModelConfiguration"),
              std::string::npos);
    EXPECT_EQ(messageOf([&] { manager->forceDeviceModel(0, "Osprey"); }),
              "Error : The model id(Osprey) does not exist.");
    EXPECT_EQ(manager->getDeviceDescriptor(0)->modelId(), "");
    manager->forceDeviceModel(0, "Heron");
    EXPECT_EQ(manager->getDeviceDescriptor(0)->modelId(), "Heron");
    EXPECT_EQ(messageOf([&] { manager->forceDeviceModel(3, "Heron"); }),
              "Error : The device number(3) does not exist, device count is 1.");
}

TEST_F(UsbDeviceTest, ManagerEnumerationReplacesDevices) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3));
    XEVManager* manager = XEVManager::getInstance();
    XEVDevice* device = manager->openDevice(0, 0, 8);
    ASSERT_NE(manager->castVoidToDevicePointer(device), nullptr);
    plug(kestrelConfig());
    manager->enumerate();
    EXPECT_EQ(manager->deviceCount(), 2u);
    EXPECT_EQ(manager->castVoidToDevicePointer(device), nullptr);
}

TEST_F(UsbDeviceTest, ManagerRelaysTheLossOfACamera) {
    plug(kestrelConfig());
    XEVManager* manager = XEVManager::getInstance();
    XEVDevice* device = manager->openDevice(0, 0, 8);
    ConfigLog log;
    log.connectTo(*device);
    manager->disconnectDevice(*manager->getDeviceDescriptor(0));
    EXPECT_TRUE(log.disconnected.load());
    EXPECT_EQ(messageOf([&] { device->start(); }), "Error : XEVDevice(Kestrel) is disconnected.");

    XEVDeviceDescriptorUsb stranger(USB2, 9);
    EXPECT_EQ(messageOf([&] { manager->disconnectDevice(stranger); }),
              "CriticalError : 'USB 2.0 (9) -- [Model:Unknown]' is not already opened, it cannot "
              "be disconnected.");
}

TEST_F(UsbDeviceTest, GigeDiscoveryIsRefusedClearly) {
    XEVManager* manager = XEVManager::getInstance();
    XEVManager::useGige = true;
    const std::string message = messageOf([&] { manager->enumerate(); });
    XEVManager::useGige = false;
    EXPECT_NE(message.find("GigE Vision cameras are not supported by this build"),
              std::string::npos)
        << message;
}
