#include "UsbDeviceFixture.h"

#include <thread>

using namespace XEVTest;

TEST_F(UsbDeviceTest, NFrameCapturesEndOnceEveryFinalObserverHasTheLastFrame) {
    openOne(kestrelConfig(), 4);
    FrameRecorder fast, slow([](const cv::Mat&, const XEVFrameInfo&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    });
    *device << slow; // between two fast ones
    *device << fast;
    // Twice: the second capture must not inherit the end of the first.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(capture(device, 40));
        EXPECT_FALSE(device->isCapturing());
        EXPECT_EQ(recorder.numbers().back(), 40u);
        EXPECT_EQ(fast.numbers().back(), 40u);
        // The slow observer lost frames but read the capture's last one.
        EXPECT_LT(slow.count(), 40u * round);
        EXPECT_EQ(slow.numbers().back(), 40u);
    }
}

TEST_F(UsbDeviceTest, WaitEndCaptureWithATimeLimit) {
    openOne();
    device->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 3; }));
    bool completed = true;
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(10); });
    EXPECT_FALSE(completed); // an unlimited capture is stopped
    EXPECT_FALSE(device->isCapturing());

    device->captureNFrames(2);
    finishesWithin("the capture", [&] { completed = device->waitEndCapture(2000); });
    EXPECT_TRUE(completed);
}

TEST_F(UsbDeviceTest, SoftTriggerCapturesAreBurstsOfOneToEightFrames) {
    openOne(softTriggerKestrel())->setParamValueOf("Trigger Mode", "Soft", true);
    EXPECT_EQ(messageOf([&] { device->start(); }),
              "Error : You cannot call 'start' in soft trigger mode. Call 'captureNFrames' instead "
              "or choose another trigger mode");
    EXPECT_EQ(messageOf([&] { device->captureNFrames(9); }),
              "Error : In Soft Trigger mode the number of queried frames must be between 1 and 8 "
              "inclusive.");
    camera->clearEvents();
    EXPECT_TRUE(capture(device, 8));
    EXPECT_EQ(recorder.count(), 8u);
    // Register 12 takes (8 - 1) x 32, then register 13 cleared fires the burst.
    const auto blocks = requestsOf(*camera, 0xD6);
    EXPECT_TRUE(std::any_of(blocks.begin(), blocks.end(), [](const XEVUsbCameraEvent& event) {
        return event.data == std::vector<uint8_t>{0xE0, 12, 0x00, 13};
    }));
}

TEST_F(UsbDeviceTest, CaptureForDurationFollowsTheAppliedRate) {
    openOne(usb3(UsbModel::Heron))->setFps(50.0, true);
    device->captureForDuration(100); // ceil(0.1 s * 50 fps) = 5 frames
    finishesWithin("the capture", [&] { device->waitEndCapture(-1); });
    // The capture ends once the camera has counted five frames. A host slowed
    // down (by the race detector, say) misses frames the camera sent: they
    // count by their numbers but never arrive, so fewer than five may arrive,
    // never more.
    const auto numbers = recorder.numbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_GE(numbers.back(), 5u);
    EXPECT_LE(numbers.size(), 5u);
    EXPECT_EQ(messageOf([&] { device->captureForDuration(0); }),
              "Error : For XEVDevice(Heron), you can't ask for capture n(0) frames, cause n<1.");
}

TEST_F(UsbDeviceTest, DeliveredRateMatchesTheRequestedRate) {
    openOne(usb3(UsbModel::Heron));
    camera->setPacing(XEVUsbPacing::Registers);
    device->setFps(40.0, true);
    // The camera's own 24-bit counter of each frame, from the info line that
    // follows the image in the frame's buffer.
    std::mutex lock;
    std::vector<int64_t> counters;
    FrameRecorder reader([&](const cv::Mat& frame, const XEVFrameInfo&) {
        const auto* line = reinterpret_cast<const uint16_t*>(frame.data + frame.total() * 2);
        std::lock_guard<std::mutex> guard(lock);
        counters.push_back((int64_t(line[13]) * 4096 + line[14]) & 0xFFFFFF);
    });
    const auto firstFrom = [&](int64_t counter) { // the first counter read from @p counter on
        std::lock_guard<std::mutex> guard(lock);
        for (int64_t seen : counters)
            if (seen >= counter)
                return seen;
        return int64_t(-1);
    };
    *device << reader;

    // The camera offers frame k of its stream from t0 + k P on; a read later
    // than t0 + (k + 1) P skips it, its counter spent. So a frame read at t
    // has counter c0 + k with t0 + k P <= t < t0 + (k + 1) P, however late
    // the host. The camera's next counter, taken between two clock readings,
    // tells which frames were read before and which after.
    using Clock = std::chrono::steady_clock;
    struct Snapshot {
        Clock::time_point before;
        int64_t next;
        Clock::time_point after;
    };
    const auto snapshot = [&] { // a braced list evaluates in order
        return Snapshot{Clock::now(), int64_t(camera->frameCounter()), Clock::now()};
    };
    device->start();
    ASSERT_TRUE(waitUntil([&] { return firstFrom(0) >= 0; }));
    const Snapshot first = snapshot();
    ASSERT_TRUE(waitUntil([&] { return firstFrom(first.next + 40) >= 0; }));
    const Snapshot second = snapshot();
    ASSERT_TRUE(waitUntil([&] { return firstFrom(second.next) >= 0; }));
    finishesWithin("stop", [&] { device->stop(); });

    // Frames first.next - 1 and second.next - 1 were read before the
    // snapshots ended, frames a and x after they began, hence
    // (second.next - 1 - a - 1) P < second.after - first.before and
    // (x + 1 - (first.next - 1)) P > second.before - first.after.
    const int64_t a = firstFrom(first.next), x = firstFrom(second.next);
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    const double atLeast = double(second.next - a - 2) / seconds(second.after - first.before);
    const double atMost = double(x + 2 - first.next) / seconds(second.before - first.after);
    EXPECT_LE(atLeast, 40.0 * 1.1) << "frames per second, at least";
    EXPECT_GE(atMost, 40.0 * 0.9) << "frames per second, at most";
}

TEST_F(UsbDeviceTest, BrokenFramesAreNeverCommitted) {
    openOne();
    camera->breakInfoLineInFrame(3);
    capture(device, 5);
    // The third frame's counter is spent: numbering shows the gap.
    const auto numbers = recorder.numbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 3u), 0);
    EXPECT_EQ(numbers.back(), 5u);

    camera->injectShortReads(2, 4096);
    camera->injectBulkErrors(2, UsbError::IO);
    camera->injectEmptyReads(2);
    capture(device, 4);
    EXPECT_EQ(recorder.numbers().back(), 4u);
}

TEST_F(UsbDeviceTest, FramesCarryTheOriginOfTheirWindowOnTheSensor) {
    openOne();
    EXPECT_TRUE(capture(device, 2));
    for (const XEVFrameInfo& info : recorder.infos()) {
        EXPECT_EQ(info.offsetX, 0u);
        EXPECT_EQ(info.offsetY, 0u);
    }
    device->setParamValueOf("Number of Column", 320.0, false);
    device->setParamValueOf("Number of Line", 200.0, false);
    device->setParamValueOf("First Column", 128.0, false);
    device->setParamValueOf("First Line", 64.0, false);
    ASSERT_TRUE(device->updateConfig());
    FrameRecorder window([](const cv::Mat& frame, const XEVFrameInfo&) {
        EXPECT_EQ(frame.cols, 320);
        EXPECT_EQ(frame.rows, 200);
    });
    *device << window;
    EXPECT_TRUE(capture(device, 3));
    ASSERT_EQ(window.count(), 3u);
    for (const XEVFrameInfo& info : window.infos()) {
        EXPECT_EQ(info.offsetX, 128u);
        EXPECT_EQ(info.offsetY, 64u);
    }
}
