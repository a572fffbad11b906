// The lifecycle of captures: back-to-back captures, frame callbacks that call
// the device, errors on the capture thread and what the info line carries.

#include "UsbDeviceFixture.h"

#include <cmath>
#include <stdexcept>
#include <thread>

using namespace XEVTest;

namespace {

constexpr int Iterations = 200;
constexpr std::chrono::seconds LoopDeadline{25};

} // namespace

TEST_F(UsbDeviceTest, ACaptureRunsUntilItsProductionHasStopped) {
    openOne(softTriggerKestrel())->setParamValueOf("Trigger Mode", "Soft", true);
    finishesWithin(
        "back-to-back captures",
        [&] {
            for (int i = 0; i < Iterations; ++i) {
                if (i % 2 == 0) {
                    device->captureNFrames(1);
                    ASSERT_TRUE(waitUntil([&] { return !device->isCapturing(); })) << i;
                } else {
                    device->captureForDuration(5); // one frame at 25 fps
                    device->stop();
                    ASSERT_FALSE(device->isCapturing()) << i;
                }
                // Once a capture no longer runs, nothing of it is left running:
                // the stages below may be destroyed or restarted at once.
                ASSERT_FALSE(device->isRunning()) << i;
                ASSERT_FALSE(recorder.hasReadingThread()) << i;
            }
        },
        LoopDeadline);
}

TEST_F(UsbDeviceTest, LiveViewSurvivesWindowChangesWhileCallbacksReadTheDevice) {
    openOne()->setParamValueOf("Number of Line", 128.0, true);
    std::atomic<int> lastWidth{0};
    FrameRecorder reader([&](const cv::Mat& frame, const XEVFrameInfo& info) {
        // The getters take the device's locks while the capture thread
        // reformats the FIFO for the new window.
        (void)device->paramValueOf("Number of Column");
        (void)device->paramStrValueOf("Pixel Depth", false);
        (void)device->fps();
        if (info.frameNumber % 8 == 0)
            (void)device->manual();
        lastWidth.store(frame.cols);
    });
    *device << reader;
    device->start();
    finishesWithin(
        "window changes in live view",
        [&] {
            for (int i = 0; i < Iterations; ++i) {
                const int width = (i % 2 == 0) ? 320 : 640;
                device->setParamValueOf("Number of Column", double(width), true);
                ASSERT_TRUE(waitUntil([&] { return lastWidth.load() == width; })) << i;
            }
            device->stop();
        },
        LoopDeadline);
}

TEST_F(UsbDeviceTest, StopJoinsCallbacksThatAskWhetherTheDeviceCaptures) {
    openOne(softTriggerKestrel());
    camera->setPacing(XEVUsbPacing::Registers); // frames of a burst come one period apart
    device->setParamValueOf("Trigger Mode", "Soft", true);
    device->setParamValueOf("Number of Line", 64.0, true);
    device->setFps(double(device->maxFps()), true);
    std::atomic<bool> armed{false};
    Gate* entered = nullptr;
    std::atomic<int> answers{0};
    FrameRecorder asker([&](const cv::Mat&, const XEVFrameInfo&) {
        if (!armed.exchange(false))
            return;
        entered->open();
        // Asks while stop() joins this thread.
        waitUntil([&] { return !device->isRunning(); });
        (void)device->isCapturing();
        answers.fetch_add(1);
    });
    *device << asker;
    finishesWithin(
        "stop beside isCapturing",
        [&] {
            for (int i = 0; i < Iterations; ++i) {
                Gate gate;
                entered = &gate;
                armed.store(true);
                device->captureNFrames(8);
                ASSERT_TRUE(gate.wait()) << i;
                device->stop();
                ASSERT_FALSE(device->isCapturing()) << i;
                ASSERT_EQ(answers.load(), i + 1);
            }
        },
        LoopDeadline);
}

TEST_F(UsbDeviceTest, CallsThatWouldWaitForTheirOwnThreadAreRefused) {
    openOne();
    OwnThreadAnswers answers;
    FrameRecorder misuser([&](const cv::Mat&, const XEVFrameInfo&) { answers.ask(device); });
    *device << misuser;
    device->start();
    const std::string refused = "() cannot be called from one of the device's own threads (a "
                                "frame callback or a camera notification).";
    const std::string own = "Error : For XEVDevice(Kestrel), ";
    EXPECT_EQ(answers.answers(),
              OwnThreadAnswers::expected(own + "stop" + refused, own + "waitEndCapture" + refused));
    // The capture still runs and ends as usual; the observer can be destroyed.
    EXPECT_TRUE(device->isCapturing());
    finishesWithin("stop and destroy", [&] {
        device->stop();
        XEVManager::destroyInstance();
    });
    EXPECT_FALSE(misuser.hasReadingThread());
}

TEST_F(UsbDeviceTest, StopCutsShortTheWaitForSlowStages) {
    openOne();
    Gate release;
    std::atomic<int> frames{0};
    FrameRecorder slow([&](const cv::Mat&, const XEVFrameInfo&) {
        if (frames.fetch_add(1) == 0)
            release.wait(); // holds the first frame
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a slow stage
    });
    *device << slow;
    device->captureNFrames(6);
    // The camera delivered the six frames: the capture waits for the stage.
    ASSERT_TRUE(waitUntil([&] { return device->writeCounter() >= 6 && frames.load() == 1; }));
    std::thread stopper([&] { EXPECT_EQ(messageOf([&] { device->stop(); }), "<no exception>"); });
    // stop() does not wait for the stage to work through the frames it
    // still could read: production stops once the stage's current frame ends.
    const bool stopping = waitUntil([&] { return !device->isRunning(); });
    release.open();
    finishesWithin("stop", [&] { stopper.join(); });
    EXPECT_TRUE(stopping);
    EXPECT_EQ(frames.load(), 1);
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(device->waitEndCapture(0)); // cut short: not completed
}

TEST_F(UsbDeviceTest, AnErrorOnTheCaptureThreadEndsTheCaptureAndIsKept) {
    openOne();
    camera->injectBulkExceptions(1);
    EXPECT_FALSE(capture(device, 5));
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(device->isRunning());
    EXPECT_FALSE(recorder.hasReadingThread());
    EXPECT_TRUE(device->lastError());
    EXPECT_EQ(device->lastErrorMessage(), "unknown error (not a std::exception)");

    // The next capture starts afresh: error cleared, numbering from 1.
    device->captureNFrames(3);
    EXPECT_FALSE(device->lastError());
    bool completed = false;
    finishesWithin("the next capture", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_TRUE(completed);
    const auto numbers = recorder.numbers();
    ASSERT_GE(numbers.size(), 3u);
    EXPECT_EQ(std::vector<uint64_t>(numbers.end() - 3, numbers.end()),
              (std::vector<uint64_t>{1, 2, 3}));

    // A capture whose stages cannot start is no success either, even right
    // after one that completed.
    struct Refusing : FrameRecorder {
        void startReading() override { throw std::runtime_error("no thread for this stage"); }
    } refusing;
    *device << refusing;
    EXPECT_EQ(messageOf([&] { device->captureNFrames(3); }), "no thread for this stage");
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(device->waitEndCapture(0));
    EXPECT_FALSE(recorder.hasReadingThread());
}

class FrameCounterWrap : public UsbDeviceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FrameCounterWrap, RepeatsCountNothingAndTheWrapCountsOne) {
    XEVUsbCameraConfig config = kestrelConfig();
    config.counterWrapsToZero = GetParam();
    openOne(config);
    camera->setFrameCounter(0xFFFFFC);
    camera->repeatFrameCounter(2); // the second and third frames repeat the first's counter
    const uint64_t before = camera->deliveredFrames();
    EXPECT_TRUE(capture(device, 6));
    EXPECT_EQ(recorder.numbers(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(camera->deliveredFrames() - before, 8u); // two repeats were dropped
}

INSTANTIATE_TEST_SUITE_P(Camera, FrameCounterWrap, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "WrapsToZero" : "WrapsToOne");
                         });

TEST_F(UsbDeviceTest, InfoLineTemperaturesInBothPixelDepths) {
    XEVUsbCameraConfig cooledHeron = usb3(UsbModel::Heron);
    cooledHeron.capacity = UsbCapacity::Present | UsbCapacity::Tec;
    const std::shared_ptr<XEVUsbEmulatedCamera> cameras[] = {
        plug(usb3(UsbModel::Heron)), plug(kestrelConfig()), plug(cooledHeron)};
    XEVDeviceUsb* devices[] = {open(0), open(1), open(2)};
    FrameRecorder recorders[3];
    for (int n = 0; n < 3; ++n)
        *devices[n] << recorders[n];
    // A camera without cooler (the Heron) reads 1/16 degree steps, below zero
    // above 0x7FF with the magnitude of the reading's 11-bit complement. The
    // Kestrel's TEC reads ((raw & 0xFFF) - 0xD81) x -0.1462, another camera's
    // TEC (raw - 0x3D7) x -0.534.
    const struct {
        int camera;
        bool eightBit;
        uint16_t raw;
        float celsius;
    } readings[] = {
        {0, false, 0x7FF, 127.9375f},
        {0, false, 0x801, -127.9375f},
        {0, false, 0x1010, -127.0f},
        {0, false, 0x800, 0.0f},
        // 8-bit frames carry each info line word in two bytes.
        {0, true, 0x1A5, 26.3125f},
        {1, false, 0x1D1A, 15.0586f},
        {2, false, 0x373, 53.4f},
    };
    for (const auto& reading : readings) {
        SCOPED_TRACE(::testing::Message() << std::hex << reading.raw);
        cameras[reading.camera]->setRawTemperature(reading.raw);
        XEVDeviceUsb* on = devices[reading.camera];
        if (reading.eightBit)
            on->setParamValueOf("Pixel Depth", "8bits", true);
        ASSERT_TRUE(capture(on, 1));
        const XEVFrameInfo last = recorders[reading.camera].infos().back();
        EXPECT_EQ(last.frameNumber, 1u);
        EXPECT_NEAR(last.temperature, reading.celsius, 1e-4);
        EXPECT_FALSE(std::signbit(last.temperature) && last.temperature == 0.0f) << "-0.0";
    }
    // What is asked from the camera: 640 x 513 pixels (the info line
    // included) of one or two bytes, in whole KiB.
    EXPECT_EQ(devices[0]->frameType(), CV_8UC1);
    EXPECT_EQ(devices[0]->slotBufferSize(), 321u * 1024u);
    EXPECT_EQ(devices[1]->frameType(), CV_16UC1);
    EXPECT_EQ(devices[1]->slotBufferSize(), 642u * 1024u);
}
