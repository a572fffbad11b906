#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVFrameProducer.h"
#include "XEVModelConfiguration.h"
#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

namespace {

using Kind = XEVUsbCameraEvent::Kind;

// Builds the descriptor enumeration would give the emulated camera, without recognition.
XEVDeviceDescriptorUsb descriptorOf(const XEVUsbEmulatedCamera& camera) {
    std::shared_ptr<UsbDevice> found;
    for (const auto& device : UsbBus::instance().listDevices())
        if (device->location().rfind("emulated", 0) == 0 &&
            device->info().idProduct == camera.config().productId)
            found = device;
    XEVDeviceDescriptorUsb d(camera.config().bcdUSB > 0x02FF ? USB3 : USB2, 0);
    d.setFxType(camera.config().newBridge() ? FX3 : FX2);
    d.setBcdUSB(camera.config().bcdUSB);
    d.setUsbDevice(found);
    return d;
}

class Transfer : public ::testing::Test {
protected:
    void plug(const XEVUsbCameraConfig& config) {
        if (handle)
            transfer.close(descriptor, std::move(handle));
        bus.unplugAll();
        camera = bus.plug(config);
        camera->setPacing(XEVUsbPacing::Fastest);
        descriptor = descriptorOf(*camera);
        handle = transfer.open(descriptor);
        ASSERT_TRUE(handle);
        // 64 x 8 pixels of 16 bits: 1024 bytes, then the info line.
        ASSERT_EQ(6,
                  transfer.setMultipleRegVals(descriptor, handle.get(), {0x0000, 0x0808, 0x0A01}));
        transfer.start(handle.get());
        camera->clearEvents();
        XEVTransfert::resetBulkErrorCount();
    }
    void TearDown() override {
        XEVTransfert::setDisconnectionHandler(nullptr);
        XEVTransfert::resetBulkErrorCount();
    }
    bool read(int64_t& length) {
        length = int64_t(frame.size()) - 16;
        return transfer.transfertFrame(descriptor, handle.get(), frame.data(), length);
    }
    std::vector<Kind> kinds() const {
        std::vector<Kind> result;
        for (const auto& event : camera->events())
            result.push_back(event.kind);
        return result;
    }
    std::vector<uint8_t> vendorRequests() const {
        std::vector<uint8_t> result;
        for (const auto& event : camera->vendorRequests())
            result.push_back(event.request);
        return result;
    }

    XEVUsbEmulatedBus bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
    XEVDeviceDescriptorUsb descriptor;
    XEVTransfert transfer;
    std::unique_ptr<UsbDeviceHandle> handle;
    std::vector<uint8_t> frame = std::vector<uint8_t>(2048 + 16, 0xEE);
};

} // namespace

TEST(InfoLine, FindAndValidate) {
    std::vector<uint16_t> words(64, 0x1234);
    EXPECT_EQ(nullptr, FindInfoLine(words.data(), words.data() + words.size()));
    EXPECT_EQ(nullptr, FindInfoLine(words.data(), words.data()));
    std::copy(InfoLineHeader, InfoLineHeader + 8, words.begin());
    EXPECT_EQ(words.data(), FindInfoLine(words.data(), words.data() + words.size()));
    EXPECT_EQ(words.data(), FindInfoLine(words.data(), words.data() + 8));
    EXPECT_EQ(nullptr, FindInfoLine(words.data(), words.data() + 7)); // header cut by the end
    EXPECT_TRUE(InfoLineValid(words.data()));
    words[0] = 0xBEEF; // word 0 is not checked
    EXPECT_TRUE(InfoLineValid(words.data()));
    EXPECT_TRUE(InfoLineValid(words.data(), 8));
    EXPECT_FALSE(InfoLineValid(words.data(), 7));

    std::vector<uint16_t> later(64, 0);
    std::copy(InfoLineHeader + 1, InfoLineHeader + 8, later.begin() + 21);
    EXPECT_EQ(later.data() + 20, FindInfoLine(later.data(), later.data() + later.size()));
    EXPECT_EQ(nullptr, FindInfoLine(later.data() + 21, later.data() + later.size()));
    for (int k = 1; k < 8; ++k) {
        auto broken = words;
        broken[k] ^= 1;
        EXPECT_FALSE(InfoLineValid(broken.data())) << k;
        EXPECT_EQ(nullptr, FindInfoLine(broken.data(), broken.data() + 8)) << k;
    }
}

TEST_F(Transfer, RequestBytesOnBothBridges) {
    using Sent = std::vector<std::pair<uint8_t, uint16_t>>; // request, value
    for (UsbLink link : {UsbLink::USB2, UsbLink::USB3}) {
        SCOPED_TRACE(int(link));
        plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, link));
        const auto start = Clock::now();
        EXPECT_TRUE(transfer.setRegVal(descriptor, handle.get(), 0x1A, 0x05));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100)); // the camera's pause
        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_FALSE(transfer.setRegVal(descriptor, handle.get(), 0x105, 0x42));
        EXPECT_EQ(4, transfer.setMultipleRegVals(descriptor, handle.get(), {0x0C40, 0x0D00}));
        EXPECT_EQ(0x40, camera->registerValue(12));
        // Frame, info line and nothing else: (lines + 1) x line bytes.
        EXPECT_EQ(656640, transfer.setFrameFormat(descriptor, handle.get(), 640, 512, CV_16UC1));
        EXPECT_EQ(1313280, transfer.setFrameFormat(descriptor, handle.get(), 1280, 512, CV_16UC1));
        EXPECT_EQ(82240, transfer.setFrameFormat(descriptor, handle.get(), 320, 256, CV_8UC1));
        EXPECT_EQ(432, transfer.setFrameFormat(descriptor, handle.get(), 8, 8, CV_16UC3));

        const auto requests = camera->vendorRequests();
        Sent sent;
        for (const auto& r : requests)
            sent.emplace_back(r.request, r.value);
        // Only the low address byte; the old bridge alone is told the line
        // format, d = 4096 - line bytes: r + 8 + (q + 16) x 2048 for d = 1024 q + r.
        Sent expected{{0xD3, 0x1A05}, {0xD3, 0x0542}, {0xD6, 0}};
        if (link == UsbLink::USB2)
            expected.insert(expected.end(), {{0xD4, 0x9308},   // d 2816: q 2, r 768
                                             {0xD4, 0x8A08},   // d 1536: q 1, r 512
                                             {0xD5, 0x9AC8},   // d 3776: q 3, r 704
                                             {0xD4, 0x9BD8}}); // d 4048: q 3, r 976
        EXPECT_EQ(expected, sent);
        ASSERT_GE(requests.size(), 3u);
        EXPECT_EQ(0x40, requests[0].requestType);
        EXPECT_EQ(0, requests[0].index);
        EXPECT_TRUE(requests[0].data.empty());
        EXPECT_EQ(UsbError::Pipe, requests[1].result);
        EXPECT_EQ((std::vector<uint8_t>{0x40, 0x0C, 0x00, 0x0D}), requests[2].data);
    }
}

TEST_F(Transfer, FrameSuccessAndStartedFlag) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    boost::mutex flagLock;
    boost::condition_variable started;
    bool startedFlag = false;
    int64_t length = 2048;
    EXPECT_TRUE(transfer.transfertFrame(descriptor, handle.get(), frame.data(), length, &started,
                                        &startedFlag, &flagLock));
    EXPECT_TRUE(startedFlag);
    EXPECT_EQ(2048, length);
    EXPECT_TRUE(InfoLineValid(reinterpret_cast<const uint16_t*>(frame.data() + 1024)));
    EXPECT_EQ(0xEE, frame[2048]);
    EXPECT_TRUE(kinds().empty()) << "no recovery after a good frame";
}

// A time-out, or any failure on the new bridge, stops and restarts the stream;
// the old bridge clears the halt of its endpoint instead. Failures other than
// time-outs count, and the next good frame clears the count.
TEST_F(Transfer, AFailedReadRecoversAsItsBridgeNeeds) {
    struct Case {
        const char* name;
        UsbModel model;
        UsbLink link;
        int error; // Pipe: a halted endpoint
        bool restarts;
        int errors;
    };
    const Case cases[] = {
        {"time-out on the old bridge", UsbModel::Heron, UsbLink::USB2, UsbError::Timeout, true, 0},
        {"overflow on the new bridge", UsbModel::Kestrel, UsbLink::USB3, UsbError::Overflow, true,
         1},
        {"I/O error on the old bridge", UsbModel::Heron, UsbLink::USB2, UsbError::IO, false, 1},
        {"halt on the old bridge", UsbModel::Heron, UsbLink::USB2, UsbError::Pipe, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plug(XEVUsbCameraConfig::forModel(c.model, c.link));
        if (c.error == UsbError::Pipe)
            camera->haltBulkEndpoint();
        else
            camera->injectBulkErrors(1, c.error);
        int64_t length;
        const auto start = Clock::now();
        EXPECT_FALSE(read(length));
        if (c.restarts) {
            EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(75)); // stopped that long
            EXPECT_EQ((std::vector<Kind>{Kind::Reset, Kind::Control, Kind::Control}), kinds());
            EXPECT_EQ((std::vector<uint8_t>{0xD1, 0xD0}), vendorRequests());
        } else {
            EXPECT_EQ((std::vector<Kind>{Kind::Reset, Kind::ClearHalt}), kinds());
        }
        EXPECT_EQ(c.errors, XEVTransfert::bulkErrorCount());
        EXPECT_TRUE(read(length));
        EXPECT_EQ(0, XEVTransfert::bulkErrorCount());
    }
}

// Failures in a row reset the camera nine times at most; any answer, an empty
// one too, ends the run without a recovery of its own.
TEST_F(Transfer, ResetsStopAfterNineFailuresInARow) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    camera->injectBulkErrors(11, UsbError::IO);
    int64_t length;
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(read(length));
    EXPECT_EQ(11, XEVTransfert::bulkErrorCount());
    std::vector<Kind> expected;
    for (int i = 1; i <= 11; ++i) {
        if (i <= 9)
            expected.push_back(Kind::Reset);
        expected.push_back(Kind::ClearHalt);
    }
    EXPECT_EQ(expected, kinds());
    EXPECT_EQ((std::vector<uint8_t>{0x82}), camera->events().back().data);
    camera->clearEvents();
    camera->injectEmptyReads(1);
    EXPECT_FALSE(read(length));
    EXPECT_EQ(-1, length);
    EXPECT_EQ(0, XEVTransfert::bulkErrorCount());
    EXPECT_TRUE(kinds().empty());
}

TEST_F(Transfer, VanishedCameraIsReportedOnce) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    std::vector<std::string> reported;
    XEVTransfert::setDisconnectionHandler(
        [&](const XEVDeviceDescriptorUsb& d) { reported.push_back(d.toString()); });
    int64_t length;
    // A count beyond what was asked: nothing of it is used.
    camera->injectOverlongReports(1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read(length));
    EXPECT_EQ("Receive Ko: Device disconnection\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(-1, length);
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(descriptor.toString(), reported[0]);

    bus.unplug(camera);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read(length));
    EXPECT_EQ("Receive Ko: Device disconnection\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(2u, reported.size());
    EXPECT_EQ(0, XEVTransfert::bulkErrorCount());
}

TEST_F(Transfer, RequestsBeyondA32BitCountAreRefused) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    for (int64_t asked : {int64_t(1) << 32, int64_t(INT_MAX) + 1, int64_t(0), int64_t(-1)}) {
        int64_t length = asked;
        EXPECT_FALSE(transfer.transfertFrame(descriptor, handle.get(), frame.data(), length))
            << asked;
        EXPECT_EQ(-1, length) << asked;
    }
    EXPECT_EQ(0u, camera->deliveredFrames());
    EXPECT_TRUE(camera->events().empty()) << "nothing sent, nothing to recover";
}

TEST(TransferCounter, SharedByDevicesWithoutRace) {
    XEVUsbEmulatedBus bus;
    auto first = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    auto configuration = XEVUsbCameraConfig::forModel(UsbModel::Jacana, UsbLink::USB2);
    configuration.productId = 0x1004;
    auto second = bus.plug(configuration);
    XEVTransfert::resetBulkErrorCount();
    constexpr int Errors = 300;
    std::atomic<int> ready{0};
    auto run = [&](XEVUsbEmulatedCamera& camera) {
        camera.injectBulkErrors(Errors, UsbError::IO);
        const XEVDeviceDescriptorUsb d = descriptorOf(camera);
        XEVTransfert transfer;
        auto handle = transfer.open(d);
        std::vector<uint8_t> buffer(1024);
        ++ready;
        while (ready < 2) {
        }
        for (int i = 0; i < Errors; ++i) {
            int64_t length = 1024;
            transfer.transfertFrame(d, handle.get(), buffer.data(), length);
        }
    };
    std::thread a(run, std::ref(*first));
    std::thread b(run, std::ref(*second));
    XEVTest::finishesWithin("two devices failing reads", [&] {
        a.join();
        b.join();
    });
    EXPECT_EQ(2 * Errors, XEVTransfert::bulkErrorCount());
    XEVTransfert::resetBulkErrorCount();
}

TEST(TransferOpen, FailureNamesTheDescriptor) {
    XEVTransfert transfer;
    EXPECT_EQ(XEVTest::messageOf([&] { transfer.open(XEVDeviceDescriptorUsb(USB3, 0)); }),
              "Error : Device {USB 3.0 (0) -- [Model:Unknown]} cannot be opened.");
    XEVUsbEmulatedBus bus;
    auto camera = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    const XEVDeviceDescriptorUsb d = descriptorOf(*camera);
    camera->holdInterface(true);
    EXPECT_EQ(XEVTest::messageOf([&] { transfer.open(d); }),
              "Error : Device {USB 3.0 (0) -- [Model:Unknown]} cannot be opened: interface 0 "
              "cannot be claimed (the camera is in use by another program).");
    bus.unplug(camera);
    EXPECT_THROW(transfer.open(d), XEVException);
}

TEST(TransferOpen, FrameSizesAgreeWithTheFifo) {
    XEVTransfert transfer;
    XEVDeviceDescriptorUsb newBridge(USB3, 0);
    newBridge.setFxType(FX3); // sends nothing, so no camera is needed
    for (int type : {CV_8UC1, CV_16UC1, CV_16FC1, CV_32FC1, CV_8UC3, CV_64FC2}) {
        XEVFrameProducer fifo(3);
        fifo.ensureFrameFormat(100, 20, type, XEVFrameProducer::FLAG_INFO_LINE);
        EXPECT_EQ(int64_t(fifo.slotBufferSize()),
                  transfer.setFrameFormat(newBridge, nullptr, 100, 20, type))
            << "type " << type;
    }
}

TEST(TransferUnimplemented, PrintTheirName) {
    XEVTransfert transfer;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, transfer.deviceCount());
    EXPECT_EQ(0, transfer.getProductID());
    EXPECT_EQ(0, transfer.getVendorID());
    EXPECT_EQ(0, transfer.getFX3Device());
    EXPECT_EQ("XEVTransfert::deviceCount() not implemented\n"
              "XEVTransfert::getProductID() not implemented\n"
              "XEVTransfert::getVendorID() not implemented\n"
              "XEVTransfert::getFX3Device() not implemented\n",
              testing::internal::GetCapturedStdout());
}
