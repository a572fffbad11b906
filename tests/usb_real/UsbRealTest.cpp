#include "UsbfsCamera.h"

#include "XEVCatalog.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVManager.h"
#include "XEVObserver.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>

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
        kestrel = std::make_shared<XEVUsbEmulatedCamera>(
            XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3));
        heron = std::make_shared<XEVUsbEmulatedCamera>(
            XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
        kestrelNode = std::make_unique<XEVTest::UsbfsCamera>(bed, kestrel, 1, 2);
        heronNode = std::make_unique<XEVTest::UsbfsCamera>(bed, heron, 1, 3);
    }
    void TearDown() override {
        kestrelNode.reset();
        heronNode.reset();
        g_object_unref(bed);
    }
    UMockdevTestbed* bed = nullptr;
    std::shared_ptr<XEVUsbEmulatedCamera> kestrel, heron;
    std::unique_ptr<XEVTest::UsbfsCamera> kestrelNode, heronNode;
};

Testbed* testbed = static_cast<Testbed*>(::testing::AddGlobalTestEnvironment(new Testbed()));

std::shared_ptr<UsbDevice> realDevice(uint16_t product) {
    for (const auto& device : UsbBus::instance().listDevices())
        if (device->location().rfind("usb ", 0) == 0 && device->info().idVendor == 0x04B4 &&
            device->info().idProduct == product)
            return device;
    return nullptr;
}

std::unique_ptr<UsbDeviceHandle> open(uint16_t product) {
    auto device = realDevice(product);
    std::unique_ptr<UsbDeviceHandle> handle;
    if (!device || device->open(handle) != UsbError::Success)
        return nullptr;
    EXPECT_EQ(0, handle->claimInterface(0));
    return handle;
}

int vendor(UsbDeviceHandle& handle, uint8_t request, uint16_t value = 0,
           std::vector<uint8_t> data = {}) {
    unsigned char zero = 0;
    return handle.controlTransfer(0x40, request, value, 0, data.empty() ? &zero : data.data(),
                                  uint16_t(data.size()), 1000);
}

} // namespace

TEST(UsbReal, LibusbListsTheEmulatedCameras) {
    struct Case {
        uint16_t product, bcd;
        const char* productString;
        const char* bridge;
    };
    for (const Case& c : {Case{0x00F1, 0x0300, "FX3", "v002.001.010"},
                          Case{0x1003, 0x0200, "FX2", "v001.003.000"}}) {
        SCOPED_TRACE(c.productString);
        auto device = realDevice(c.product);
        ASSERT_TRUE(device);
        EXPECT_EQ(c.bcd, device->info().bcdUSB);
        std::unique_ptr<UsbDeviceHandle> handle;
        ASSERT_EQ(UsbError::Success, device->open(handle));
        unsigned char text[512];
        ASSERT_GT(handle->getStringDescriptorAscii(device->info().iProduct, text, sizeof(text)), 0);
        EXPECT_STREQ(c.productString, reinterpret_cast<char*>(text));
        ASSERT_GT(
            handle->getStringDescriptorAscii(device->info().iSerialNumber, text, sizeof(text)), 0);
        EXPECT_STREQ(c.bridge, reinterpret_cast<char*>(text));
    }
}

TEST(UsbReal, ControlTransfersCarryTheRequestBytes) {
    auto handle = open(0x00F1);
    ASSERT_TRUE(handle);
    testbed->kestrel->clearEvents();
    EXPECT_EQ(0, vendor(*handle, 0xD3, 0x0542));
    EXPECT_EQ(6, vendor(*handle, 0xD6, 0, {0x11, 0x03, 0x22, 0x0C, 0x07, 0x05}));
    EXPECT_EQ(0x11, testbed->kestrel->registerValue(3));
    EXPECT_EQ(0x22, testbed->kestrel->registerValue(12));
    EXPECT_EQ(0x07, testbed->kestrel->registerValue(5));
    const auto requests = testbed->kestrel->vendorRequests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0x40, requests[0].requestType);
    EXPECT_EQ(0xD3, requests[0].request);
    EXPECT_EQ(0x0542, requests[0].value);
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x03, 0x22, 0x0C, 0x07, 0x05}), requests[1].data);
    EXPECT_EQ(UsbError::Pipe, vendor(*handle, 0xD2));

    unsigned char descriptor[18] = {};
    ASSERT_EQ(18, handle->controlTransfer(0x80, 0x06, 0x0100, 0, descriptor, 18, 1000));
    EXPECT_EQ(0xB4, descriptor[8]);
    EXPECT_EQ(0x04, descriptor[9]);
}

TEST(UsbReal, BulkReadReturnsAFrameWithItsInfoLine) {
    auto handle = open(0x00F1);
    ASSERT_TRUE(handle);
    testbed->kestrel->setPacing(XEVUsbPacing::Fastest);
    testbed->kestrel->setFrameCounter(0x000ABC);
    // 64 x 8 pixels of 16 bits, then the info line, padded to 2048 bytes.
    ASSERT_EQ(6, vendor(*handle, 0xD6, 0, {0x00, 0x00, 0x08, 0x08, 0x01, 0x0A}));
    ASSERT_EQ(0, vendor(*handle, 0xD0));
    std::vector<unsigned char> frame(4096, 0xEE);
    int got = 0;
    ASSERT_EQ(0, handle->bulkTransfer(0x83, frame.data(), 2048, &got, 1000));
    EXPECT_EQ(2048, got);
    auto word = [&](int k) { return frame[1024 + 2 * k] | frame[1024 + 2 * k + 1] << 8; };
    const int header[] = {0x0555, 0x0AAA, 0x0555, 0x0AAA, 0x0555, 0x0AAA, 0x0000, 0x0FFF};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(header[k], word(k)) << k;
    EXPECT_EQ(111, word(8));
    EXPECT_EQ(0x000, word(13));
    EXPECT_EQ(0xABC, word(14));
    EXPECT_EQ(0xEE, frame[2048]);
    vendor(*handle, 0xD1);
}

TEST(UsbReal, BulkTimeOutAndErrors) {
    auto handle = open(0x1003);
    ASSERT_TRUE(handle);
    ASSERT_EQ(0, vendor(*handle, 0xD1));
    std::vector<unsigned char> buffer(2048);
    int got = -1;
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, handle->bulkTransfer(0x82, buffer.data(), 1024, &got, 200));
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_EQ(0, got);

    // A camera that swallows a read: libusb gives up at its own time-out.
    testbed->heron->setPacing(XEVUsbPacing::Fastest);
    ASSERT_EQ(6, vendor(*handle, 0xD6, 0, {0x00, 0x00, 0x08, 0x08, 0x01, 0x0A}));
    ASSERT_EQ(0, vendor(*handle, 0xD0));
    testbed->heron->injectBulkErrors(1, UsbError::Timeout);
    EXPECT_EQ(UsbError::Timeout, handle->bulkTransfer(0x82, buffer.data(), 2048, &got, 150));
    EXPECT_EQ(0, handle->bulkTransfer(0x82, buffer.data(), 2048, &got, 1000));
    EXPECT_EQ(2048, got);

    testbed->heron->injectBulkErrors(1, UsbError::IO);
    EXPECT_EQ(UsbError::IO, handle->bulkTransfer(0x82, buffer.data(), 2048, &got, 1000));
    testbed->heron->haltBulkEndpoint();
    EXPECT_EQ(UsbError::Pipe, handle->bulkTransfer(0x82, buffer.data(), 2048, &got, 1000));
    EXPECT_EQ(0, handle->clearHalt(0x82));
    EXPECT_EQ(0, handle->resetDevice());
    EXPECT_EQ(0, handle->bulkTransfer(0x82, buffer.data(), 2048, &got, 1000));
    vendor(*handle, 0xD1);
}

TEST(UsbReal, EnumerationRecognisesTheCamerasThroughLibusb) {
    std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>> descriptors;
    enumerateUsbCameras(descriptors);
    ASSERT_EQ(2u, descriptors.size());
    std::sort(descriptors.begin(), descriptors.end(),
              [](const auto& a, const auto& b) { return a->connectorType() > b->connectorType(); });
    const XEVDeviceDescriptorUsb& kestrel = *descriptors[0];
    EXPECT_EQ(USB3, kestrel.connectorType());
    EXPECT_EQ(XEVCatalog::Kestrel, kestrel.modelId());
    EXPECT_EQ(FX3, kestrel.fxType());
    EXPECT_EQ(0x2010Au, kestrel.usbFirmwareVersion());
    EXPECT_EQ(testbed->kestrel->config().serialNumber, kestrel.serialNumber());
    EXPECT_EQ(testbed->kestrel->config().capacity, kestrel.capacity());
    EXPECT_EQ(XEVCatalog::FLAG_INFO_LINE, kestrel.flags());
    const XEVDeviceDescriptorUsb& heron = *descriptors[1];
    EXPECT_EQ(USB2, heron.connectorType());
    EXPECT_EQ(XEVCatalog::Heron, heron.modelId());
    EXPECT_EQ(FX2, heron.fxType());
    EXPECT_EQ(640, heron.SensorWidth());
    EXPECT_EQ(512, heron.SensorHeight());
    EXPECT_NE(kestrel.connectorNumber(), heron.connectorNumber());

    // The descriptor opens the camera through libusb for frame transfers.
    XEVTransfert transfer;
    auto handle = transfer.open(kestrel);
    ASSERT_TRUE(handle);
    testbed->kestrel->setPacing(XEVUsbPacing::Fastest);
    ASSERT_EQ(6, transfer.setMultipleRegVals(kestrel, handle.get(), {0x0000, 0x0808, 0x0A01}));
    transfer.start(handle.get());
    std::vector<uint8_t> frame(2048);
    int64_t length = 2048;
    EXPECT_TRUE(transfer.transfertFrame(kestrel, handle.get(), frame.data(), length));
    EXPECT_EQ(2048, length);
    EXPECT_TRUE(InfoLineValid(reinterpret_cast<const uint16_t*>(frame.data() + 1024)));
    transfer.stop(handle.get());
    transfer.close(kestrel, std::move(handle));
}

namespace {

/// Keeps the frame numbers it receives.
class NumberRecorder : public XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        std::lock_guard<std::mutex> guard(lock);
        numbers.push_back(info.frameNumber);
    }
    std::mutex lock;
    std::vector<uint64_t> numbers;
};

} // namespace

TEST(UsbReal, ManagerOpensAndCapturesThroughLibusb) {
    testbed->kestrel->setPacing(XEVUsbPacing::Fastest);
    XEVManager* manager = XEVManager::getInstance();
    int kestrel = -1;
    for (unsigned i = 0; i < manager->deviceCount(); ++i)
        if (manager->getDeviceDescriptor(i)->modelId() == XEVCatalog::Kestrel)
            kestrel = int(i);
    ASSERT_GE(kestrel, 0);
    XEVDevice* device = manager->openDevice(unsigned(kestrel), 0, 8);
    device->setParamValueOf("Number of Line", 64.0, true);
    NumberRecorder recorder;
    *device << recorder;
    device->captureNFrames(5);
    auto done = std::async(std::launch::async, [&] { return device->waitEndCapture(-1); });
    ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(20)));
    EXPECT_TRUE(done.get());
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        EXPECT_EQ((std::vector<uint64_t>{1, 2, 3, 4, 5}), recorder.numbers);
    }
    XEVManager::destroyInstance();
}
