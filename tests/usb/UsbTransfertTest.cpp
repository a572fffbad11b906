#include "XEVDeviceDescriptorUsb.h"
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
using std::chrono::milliseconds;

namespace {

using Kind = XEVUsbCameraEvent::Kind;

// The descriptor enumeration would give the emulated camera, without recognition.
XEVDeviceDescriptorUsb descriptorOf(const XEVUsbEmulatedCamera& camera) {
    XEVDeviceDescriptorUsb d(camera.config().bcdUSB > 0x02FF ? USB3 : USB2, 0);
    d.setFxType(camera.config().newBridge() ? FX3 : FX2);
    d.setBcdUSB(camera.config().bcdUSB);
    for (const auto& device : UsbBus::instance().listDevices())
        if (device->location().rfind("emulated", 0) == 0 &&
            device->info().idProduct == camera.config().productId)
            d.setUsbDevice(device);
    return d;
}

class Transfer : public ::testing::Test {
protected:
    void plug(UsbModel model, UsbLink link = UsbLink::USB3) {
        if (handle)
            transfer.close(descriptor, std::move(handle));
        bus.unplugAll();
        camera = bus.plug(XEVUsbCameraConfig::forModel(model, link));
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
    bool read(int64_t& length, int64_t asked = 2048) {
        length = asked;
        return transfer.transfertFrame(descriptor, handle.get(), frame.data(), length);
    }
    std::vector<Kind> kinds() const {
        std::vector<Kind> result;
        for (const auto& event : camera->events())
            result.push_back(event.kind);
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
    const uint16_t* w = words.data();
    EXPECT_EQ(nullptr, FindInfoLine(w, w + 64));
    std::copy(InfoLineHeader + 1, InfoLineHeader + 8, words.begin() + 21); // word 0 is not checked
    EXPECT_EQ(w + 20, FindInfoLine(w, w + 64));
    EXPECT_EQ(w + 20, FindInfoLine(w + 20, w + 28));
    EXPECT_EQ(nullptr, FindInfoLine(w + 20, w + 27)); // header cut by the end
    EXPECT_EQ(nullptr, FindInfoLine(w + 21, w + 64));
    EXPECT_TRUE(InfoLineValid(w + 20, 8));
    EXPECT_FALSE(InfoLineValid(w + 20, 7));
    for (int k = 21; k < 28; ++k) {
        auto broken = words;
        broken[k] ^= 1;
        EXPECT_FALSE(InfoLineValid(broken.data() + 20)) << k;
        EXPECT_EQ(nullptr, FindInfoLine(broken.data(), broken.data() + 64)) << k;
    }
}

TEST_F(Transfer, RequestBytesOnBothBridges) {
    using Sent = std::vector<std::pair<uint8_t, uint16_t>>; // request, value
    // Frame and info line: (lines + 1) x line bytes. Only the old bridge is told
    // the line format, d = 4096 - line bytes: r + 8 + (q + 16) x 2048 for d = 1024 q + r.
    const struct {
        int columns, lines, type;
        int64_t bytes;
        std::pair<uint8_t, uint16_t> oldBridge;
    } formats[] = {{640, 512, CV_16UC1, 656640, {0xD4, 0x9308}}, // d 2816: q 2, r 768
                   {320, 256, CV_8UC1, 82240, {0xD5, 0x9AC8}},   // d 3776: q 3, r 704
                   {8, 8, CV_16UC3, 432, {0xD4, 0x9BD8}}};       // d 4048: q 3, r 976
    for (UsbLink link : {UsbLink::USB2, UsbLink::USB3}) {
        SCOPED_TRACE(int(link));
        plug(UsbModel::Heron, link);
        const auto start = Clock::now();
        EXPECT_TRUE(transfer.setRegVal(descriptor, handle.get(), 0x1A, 0x05));
        const auto paused = Clock::now() - start; // the camera's pause after a write
        EXPECT_GE(paused, milliseconds(100));
        EXPECT_LT(paused, milliseconds(5000));
        camera->injectControlErrors(1, UsbError::Pipe);
        EXPECT_FALSE(transfer.setRegVal(descriptor, handle.get(), 0x105, 0x42)); // low byte only
        EXPECT_EQ(4, transfer.setMultipleRegVals(descriptor, handle.get(), {0x0C40, 0x0D00}));
        EXPECT_EQ(0x40, camera->registerValue(12));
        Sent expected{{0xD3, 0x1A05}, {0xD3, 0x0542}, {0xD6, 0}};
        for (const auto& f : formats) {
            EXPECT_EQ(f.bytes, transfer.setFrameFormat(descriptor, handle.get(), f.columns, f.lines,
                                                       f.type));
            if (link == UsbLink::USB2)
                expected.push_back(f.oldBridge);
        }
        const auto requests = camera->vendorRequests();
        Sent sent;
        for (const auto& r : requests)
            sent.emplace_back(r.request, r.value);
        EXPECT_EQ(expected, sent);
        ASSERT_GE(requests.size(), 3u);
        EXPECT_EQ(0x40, requests[0].requestType);
        EXPECT_EQ(0, requests[0].index);
        EXPECT_TRUE(requests[0].data.empty());
        EXPECT_EQ(UsbError::Pipe, requests[1].result);
        EXPECT_EQ((std::vector<uint8_t>{0x40, 0x0C, 0x00, 0x0D}), requests[2].data);
    }
}

// A time-out, or any failure on the new bridge, stops and restarts the stream
// (other failures on the old bridge: ResetsStopAfterNineFailuresInARow).
// Failures other than time-outs count, and the next good frame clears the count.
TEST_F(Transfer, AFailedReadRecoversAsItsBridgeNeeds) {
    const struct {
        const char* name;
        UsbModel model;
        UsbLink link;
        int error, errors;
    } cases[] = {{"time-out, old bridge", UsbModel::Heron, UsbLink::USB2, UsbError::Timeout, 0},
                 {"overflow, new bridge", UsbModel::Kestrel, UsbLink::USB3, UsbError::Overflow, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plug(c.model, c.link);
        camera->injectBulkErrors(1, c.error);
        int64_t length;
        const auto start = Clock::now();
        EXPECT_FALSE(read(length));
        EXPECT_GE(Clock::now() - start, milliseconds(75)); // stopped that long
        EXPECT_EQ((std::vector<Kind>{Kind::Reset, Kind::Control, Kind::Control}), kinds());
        const auto requests = camera->vendorRequests();
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ(0xD1, requests[0].request);
        EXPECT_EQ(0xD0, requests[1].request);
        EXPECT_EQ(c.errors, XEVTransfert::bulkErrorCount());
        EXPECT_TRUE(read(length));
        EXPECT_EQ(0, XEVTransfert::bulkErrorCount());
    }
}

// Failures in a row reset the camera nine times at most; any answer, an empty
// one too, ends the run without a recovery of its own.
TEST_F(Transfer, ResetsStopAfterNineFailuresInARow) {
    plug(UsbModel::Heron, UsbLink::USB2);
    camera->injectBulkErrors(11, UsbError::IO);
    int64_t length;
    std::vector<Kind> expected;
    for (int i = 1; i <= 11; ++i) {
        EXPECT_FALSE(read(length));
        if (i <= 9)
            expected.push_back(Kind::Reset);
        expected.push_back(Kind::ClearHalt);
    }
    EXPECT_EQ(11, XEVTransfert::bulkErrorCount());
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
    plug(UsbModel::Heron, UsbLink::USB2);
    std::vector<std::string> reported;
    XEVTransfert::setDisconnectionHandler(
        [&](const XEVDeviceDescriptorUsb& d) { reported.push_back(d.toString()); });
    int64_t length;
    camera->injectOverlongReports(1); // a count beyond what was asked: nothing of it is used
    EXPECT_FALSE(read(length));
    EXPECT_EQ(-1, length);
    EXPECT_EQ((std::vector<std::string>{descriptor.toString()}), reported);
    bus.unplug(camera);
    EXPECT_FALSE(read(length));
    EXPECT_EQ(2u, reported.size());
    EXPECT_EQ(0, XEVTransfert::bulkErrorCount());
}

TEST_F(Transfer, RequestsBeyondA32BitCountAreRefused) {
    plug(UsbModel::Kestrel);
    for (int64_t asked : {int64_t(1) << 32, int64_t(INT_MAX) + 1, int64_t(0), int64_t(-1)}) {
        int64_t length;
        EXPECT_FALSE(read(length, asked)) << asked;
        EXPECT_EQ(-1, length) << asked;
    }
    EXPECT_EQ(0u, camera->deliveredFrames());
    EXPECT_TRUE(camera->events().empty()) << "nothing sent, nothing to recover";
}

TEST_F(Transfer, ErrorCountSharedByDevicesWithoutRace) {
    auto jacana = XEVUsbCameraConfig::forModel(UsbModel::Jacana, UsbLink::USB2);
    jacana.productId = 0x1004;
    auto heron = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    auto other = bus.plug(jacana);
    std::atomic<int> ready{0};
    auto run = [&](XEVUsbEmulatedCamera& camera) {
        camera.injectBulkErrors(300, UsbError::IO);
        const XEVDeviceDescriptorUsb d = descriptorOf(camera);
        XEVTransfert own;
        auto h = own.open(d);
        std::vector<uint8_t> buffer(1024);
        for (++ready; ready < 2;) {
        }
        for (int i = 0; i < 300; ++i) {
            int64_t length = 1024;
            own.transfertFrame(d, h.get(), buffer.data(), length);
        }
    };
    std::thread a(run, std::ref(*heron)), b(run, std::ref(*other));
    XEVTest::finishesWithin("two devices failing reads", [&] {
        a.join();
        b.join();
    });
    EXPECT_EQ(600, XEVTransfert::bulkErrorCount());
}

// The claim refused by another program: UsbDeviceTest.ManagerRefusesACameraHeldByAnotherProgram.
TEST(TransferOpen, FailureNamesTheDescriptor) {
    XEVTransfert transfer;
    EXPECT_EQ(XEVTest::messageOf([&] { transfer.open(XEVDeviceDescriptorUsb(USB3, 0)); }),
              "Error : Device {USB 3.0 (0) -- [Model:Unknown]} cannot be opened.");
}
