#include "UsbDeviceFixture.h"

using namespace XEVTest;

namespace {

std::vector<uint64_t> sequence(uint64_t first, uint64_t last) {
    std::vector<uint64_t> numbers;
    for (uint64_t n = first; n <= last; ++n)
        numbers.push_back(n);
    return numbers;
}

} // namespace

TEST_F(UsbDeviceTest, CapturesExactlyNFramesWithInfoLineData) {
    auto camera = plug(kestrelConfig());
    camera->setFrameCounter(0xFFFFFD);
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    device->captureNFrames(6);
    bool completed = false;
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_TRUE(completed);
    EXPECT_FALSE(device->isCapturing());
    // The camera counter wraps after 0xFFFFFF: numbering goes on.
    EXPECT_EQ(recorder.frameNumbers(), sequence(1, 6));
    // Kestrel with TEC: (raw - 0xD81) * -0.1462 for raw = 0xD81 - 103.
    for (float t : recorder.frameTemperatures())
        EXPECT_NEAR(t, 15.0586, 1e-3);

    // A second capture numbers from 1 again.
    device->captureNFrames(3);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    EXPECT_EQ(recorder.count(), 9u);
    EXPECT_EQ(recorder.frameNumbers().back(), 3u);
}

TEST_F(UsbDeviceTest, SlowObserverStillEndsTheCapture) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open(0, 4);
    FrameRecorder slow, fast;
    slow.delay = std::chrono::milliseconds(15);
    *device << slow;
    *device << fast;
    device->captureNFrames(40);
    bool completed = false;
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_TRUE(completed);
    EXPECT_EQ(fast.frameNumbers().back(), 40u);
    // The slow observer lost frames but read the capture's last one.
    EXPECT_LT(slow.count(), 40u);
    EXPECT_EQ(slow.frameNumbers().back(), 40u);
}

TEST_F(UsbDeviceTest, WaitEndCaptureWithATimeLimit) {
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    device->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 3; }));
    bool completed = true;
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(10); });
    EXPECT_FALSE(completed); // an unlimited capture is stopped
    EXPECT_FALSE(device->isCapturing());

    device->captureNFrames(2);
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(2000); });
    EXPECT_TRUE(completed);
    device->start();
    device->stop(false);
    EXPECT_FALSE(device->isCapturing());
}

TEST_F(UsbDeviceTest, RefusedCaptures) {
    plug(kestrelConfig(UsbCapacity::Present | UsbCapacity::SoftTrigger));
    XEVDeviceUsb* device = open();
    EXPECT_EQ(messageOf([&] { device->captureNFrames(0); }),
              "Error : For XEVDevice(Kestrel), you can't ask for capture n(0) frames, cause n<1.");
    device->setParamValueOf("Trigger Mode", "Soft", true);
    EXPECT_EQ(messageOf([&] { device->start(); }),
              "Error : You cannot call 'start' in soft trigger mode. Call 'captureNFrames' instead "
              "or choose another trigger mode");
    EXPECT_EQ(messageOf([&] { device->captureNFrames(9); }),
              "Error : In Soft Trigger mode the number of queried frames must be between 1 and 8 "
              "inclusive.");
}

TEST_F(UsbDeviceTest, SoftTriggerAsksForABurstAfterEachRead) {
    auto camera = plug(kestrelConfig(UsbCapacity::Present | UsbCapacity::SoftTrigger));
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    device->setParamValueOf("Trigger Mode", "Soft", true);
    camera->clearEvents();
    device->captureNFrames(8);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    EXPECT_EQ(recorder.count(), 8u);
    bool sawBurst = false;
    for (const auto& event : camera->vendorRequests())
        sawBurst = sawBurst || (event.request == 0xD6 &&
                                event.data == std::vector<uint8_t>{0xE0, 12, 0x00, 13});
    EXPECT_TRUE(sawBurst);
}

TEST_F(UsbDeviceTest, CaptureForDurationFollowsTheAppliedRate) {
    auto camera = plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3));
    XEVDeviceUsb* device = open();
    device->setFps(50.0, true);
    FrameRecorder recorder;
    *device << recorder;
    device->captureForDuration(100); // ceil(0.1 s * 50 fps) = 5 frames
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    // The capture ends once the camera has counted five frames. A host slowed
    // down (by the race detector, say) misses frames the camera sent: they
    // count by their numbers but never arrive, so fewer than five may arrive,
    // never more.
    const auto numbers = recorder.frameNumbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_GE(numbers.back(), 5u);
    EXPECT_LE(numbers.size(), 5u);
    EXPECT_EQ(messageOf([&] { device->captureForDuration(0); }),
              "Error : For XEVDevice(Heron), you can't ask for capture n(0) frames, cause n<1.");
}

TEST_F(UsbDeviceTest, DeliveredRateMatchesTheRequestedRate) {
    auto camera = plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3));
    camera->setPacing(XEVUsbPacing::Registers);
    XEVDeviceUsb* device = open();
    device->setFps(40.0, true);
    using Arrival = std::pair<uint64_t, std::chrono::steady_clock::time_point>;
    class Clocked : public XEVObserver {
    public:
        void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
            std::lock_guard<std::mutex> guard(lock);
            arrivals.emplace_back(info.frameNumber, std::chrono::steady_clock::now());
        }
        std::mutex lock;
        std::vector<Arrival> arrivals;
    } clocked;
    *device << clocked;
    // A first capture lets the camera render its scene, which a slow host
    // (a sanitizer build) would otherwise pay for with lost frames.
    device->captureNFrames(1);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    {
        std::lock_guard<std::mutex> guard(clocked.lock);
        clocked.arrivals.clear();
    }
    device->captureNFrames(21);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    std::lock_guard<std::mutex> guard(clocked.lock);
    // The camera's own frame numbers count the frames it sent, also those a
    // slow reader missed: the rate is measured between the second and the last.
    ASSERT_GE(clocked.arrivals.size(), 10u);
    const Arrival& first = clocked.arrivals[1];
    const Arrival& last = clocked.arrivals.back();
    EXPECT_EQ(last.first, 21u);
    const double seconds = std::chrono::duration<double>(last.second - first.second).count();
    EXPECT_NEAR(double(last.first - first.first) / seconds, 40.0, 4.0);
}

TEST_F(UsbDeviceTest, BrokenFramesAreNeverCommitted) {
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    camera->breakInfoLineInFrame(3);
    device->captureNFrames(5);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    // The third frame's counter is spent: numbering shows the gap.
    const auto numbers = recorder.frameNumbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 3u), 0);
    EXPECT_EQ(numbers.back(), 5u);

    camera->injectShortReads(2, 4096);
    camera->injectBulkErrors(2, UsbError::IO);
    camera->injectEmptyReads(2);
    device->captureNFrames(4);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    EXPECT_EQ(recorder.frameNumbers().back(), 4u);
}

TEST_F(UsbDeviceTest, UnpluggedCameraIsReportedAndRefused) {
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    ConfigLog log;
    log.connectTo(*device);
    FrameRecorder recorder;
    *device << recorder;
    device->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 2; }));
    m_bus.unplug(camera);
    ASSERT_TRUE(waitUntil([&] { return log.disconnected.load(); }));
    EXPECT_FALSE(device->isConnected());
    EXPECT_FALSE(device->isCapturing());
    EXPECT_EQ(messageOf([&] { device->start(); }), "Error : XEVDevice(Kestrel) is disconnected.");
    EXPECT_EQ(messageOf([&] { device->updateConfig(true); }),
              "Error : XEVDevice(Kestrel) is disconnected.");
    EXPECT_EQ(messageOf([&] { device->waitEndCapture(-1); }),
              "Error : XEVDevice(Kestrel) is disconnected.");
    // Reads of the register images still work.
    EXPECT_EQ(device->paramStrValueOf("Exposure Time"), "2ms");
}

TEST_F(UsbDeviceTest, EightBitFramesCarryTheirInfoLineInTwoBytesPerWord) {
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    config.rawTemperature = 0x1A5;
    plug(config);
    XEVDeviceUsb* device = open();
    device->setParamValueOf("Pixel Depth", "8bits", true);
    FrameRecorder recorder;
    *device << recorder;
    device->captureNFrames(3);
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    EXPECT_EQ(recorder.frameNumbers(), sequence(1, 3));
    EXPECT_FLOAT_EQ(recorder.frameTemperatures().at(0), float(0x1A5 * 0.0625));
    EXPECT_EQ(device->frameType(), CV_8UC1);
}
