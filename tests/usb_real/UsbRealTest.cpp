#include "UsbfsCamera.h"

#include "XEVCatalog.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVManager.h"
#include "XEVObserver.h"
#include "usb/XEVTransfert.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

// umockdev and glib hand data between their threads through synchronisation
// that ThreadSanitizer cannot see (they are not instrumented); that includes
// the URB buffers they allocate and the usbfs worker then fills.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so\nrace:libglib-2.0.so\nrace:libgio-2.0.so\n"
           "race:libgobject-2.0.so\nrace:libumockdev-preload.so\n"
           "race:XEVTest::UsbfsCamera::work\n";
}

namespace {

// The testbed must exist before libusb starts, so it is built once for the
// whole program, before the first test.
struct Testbed : ::testing::Environment {
    void SetUp() override {
        bed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        heron = std::make_shared<XEVUsbEmulatedCamera>(
            XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
        heron->setPacing(XEVUsbPacing::Fastest);
        heronNode = std::make_unique<XEVTest::UsbfsCamera>(bed, heron, 1, 3);
    }
    void TearDown() override {
        heronNode.reset();
        g_object_unref(bed);
    }
    UMockdevTestbed* bed = nullptr;
    std::shared_ptr<XEVUsbEmulatedCamera> heron;
    std::unique_ptr<XEVTest::UsbfsCamera> heronNode;
};

Testbed* testbed = static_cast<Testbed*>(::testing::AddGlobalTestEnvironment(new Testbed()));

std::shared_ptr<UsbDevice> realDevice() {
    for (const auto& device : UsbBus::instance().listDevices())
        if (device->location().rfind("usb ", 0) == 0 && device->info().idVendor == 0x04B4 &&
            device->info().idProduct == 0x1003)
            return device;
    return nullptr;
}

class NumberRecorder : public XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        std::lock_guard<std::mutex> guard(lock);
        numbers.push_back(info.frameNumber);
    }
    std::mutex lock;
    std::vector<uint64_t> numbers;
};

int vendor(UsbDeviceHandle& handle, uint8_t request, std::vector<uint8_t> data = {}) {
    unsigned char zero = 0;
    return handle.controlTransfer(0x40, request, 0, 0, data.empty() ? &zero : data.data(),
                                  uint16_t(data.size()), 1000);
}

} // namespace

// Listing, string descriptors, claiming and transfers, through libusb and usbfs.
TEST(UsbReal, ListsClaimsAndTransfersThroughUsbfs) {
    auto device = realDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(0x0200, device->info().bcdUSB);
    std::unique_ptr<UsbDeviceHandle> handle;
    ASSERT_EQ(UsbError::Success, device->open(handle));
    unsigned char text[512];
    ASSERT_GT(handle->getStringDescriptorAscii(device->info().iProduct, text, sizeof(text)), 0);
    EXPECT_STREQ("FX2", reinterpret_cast<char*>(text));
    ASSERT_GT(handle->getStringDescriptorAscii(device->info().iSerialNumber, text, sizeof(text)),
              0);
    EXPECT_STREQ("v001.003.000", reinterpret_cast<char*>(text));
    // A buffer too small still ends with a terminator.
    EXPECT_EQ(3, handle->getStringDescriptorAscii(device->info().iSerialNumber, text, 4));
    EXPECT_STREQ("v00", reinterpret_cast<char*>(text));

    ASSERT_EQ(0, handle->claimInterface(0));
    ASSERT_EQ(0, vendor(*handle, 0xD1));
    EXPECT_EQ(UsbError::Pipe, vendor(*handle, 0xD2)); // a request the camera refuses
    std::vector<unsigned char> frame(4096, 0xEE);
    int got = -1;
    auto bulk = [&](int length, unsigned timeout = 1000) {
        return handle->bulkTransfer(0x82, frame.data(), length, &got, timeout);
    };
    const auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, bulk(1024, 200)); // not streaming: libusb gives up
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_EQ(0, got);

    // The block request's bytes arrive: 64 x 8 pixels of 16 bits, then the
    // info line, padded to 2048 bytes.
    testbed->heron->setFrameCounter(0x000ABC);
    ASSERT_EQ(6, vendor(*handle, 0xD6, {0x00, 0x00, 0x08, 0x08, 0x01, 0x0A}));
    ASSERT_EQ(0, vendor(*handle, 0xD0));
    ASSERT_EQ(0, bulk(2048));
    EXPECT_EQ(2048, got);
    EXPECT_TRUE(InfoLineValid(reinterpret_cast<const uint16_t*>(frame.data() + 1024)));
    EXPECT_EQ(0xBC, frame[1024 + 28]); // counter low word 0xABC
    EXPECT_EQ(0x0A, frame[1024 + 29]);
    EXPECT_EQ(0xEE, frame[2048]);

    testbed->heron->injectBulkErrors(1, UsbError::IO);
    EXPECT_EQ(UsbError::IO, bulk(2048));
    testbed->heron->haltBulkEndpoint();
    EXPECT_EQ(UsbError::Pipe, bulk(2048));
    EXPECT_EQ(0, handle->clearHalt(0x82));
    EXPECT_EQ(0, handle->resetDevice());
    EXPECT_EQ(0, bulk(2048));
    vendor(*handle, 0xD1);
}

// The manager enumerates and recognises the camera through libusb, then
// opens and captures from it. (Recognition of each model: Recognition/*.)
TEST(UsbReal, ManagerRecognisesOpensAndCapturesThroughLibusb) {
    XEVManager* manager = XEVManager::getInstance();
    ASSERT_EQ(1u, manager->deviceCount());
    EXPECT_EQ(XEVCatalog::Heron, manager->getDeviceDescriptor(0)->modelId());
    XEVDevice* device = manager->openDevice(0, 0, 8);
    device->setParamValueOf("Number of Line", 64.0, true);
    NumberRecorder recorder;
    *device << recorder;
    device->captureNFrames(5);
    bool completed = false;
    XEVTest::finishesWithin(
        "the capture", [&] { completed = device->waitEndCapture(-1); }, std::chrono::seconds(20));
    EXPECT_TRUE(completed);
    XEVManager::destroyInstance();
    std::lock_guard<std::mutex> guard(recorder.lock);
    EXPECT_EQ((std::vector<uint64_t>{1, 2, 3, 4, 5}), recorder.numbers);
}
