// The lifecycle of captures: back-to-back captures, frame callbacks that call
// the device, errors on the capture thread and the camera's frame counter.

#include "UsbDeviceFixture.h"

#include <cmath>
#include <thread>

using namespace XEVTest;

namespace {

/// Runs a callback of the test's own inside every onNewFrame.
class CallbackObserver : public XEVObserver {
public:
    explicit CallbackObserver(std::function<void(const cv::Mat&, const XEVFrameInfo&)> callback)
        : m_callback(std::move(callback)) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        m_callback(frame, info);
        frames.fetch_add(1);
    }
    std::atomic<uint64_t> frames{0};

private:
    std::function<void(const cv::Mat&, const XEVFrameInfo&)> m_callback;
};

/// A Kestrel in soft trigger mode: a capture starts without the pause with
/// which a free-running camera restarts its stream, so that hundreds of
/// captures fit in a short test.
XEVUsbCameraConfig softTriggerKestrel() {
    return kestrelConfig(UsbCapacity::Present | UsbCapacity::SoftTrigger);
}

constexpr int Iterations = 200;
constexpr std::chrono::seconds LoopDeadline{25};

} // namespace

TEST_F(UsbDeviceTest, ACaptureRunsUntilItsProductionHasStopped) {
    plug(softTriggerKestrel());
    XEVDeviceUsb* device = open();
    device->setParamValueOf("Trigger Mode", "Soft", true);
    FrameRecorder recorder;
    *device << recorder;
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
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    device->setParamValueOf("Number of Line", 128.0, true);
    std::atomic<int> lastWidth{0};
    CallbackObserver reader([&](const cv::Mat& frame, const XEVFrameInfo& info) {
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
    auto camera = plug(softTriggerKestrel());
    camera->setPacing(XEVUsbPacing::Registers); // frames of a burst come one period apart
    XEVDeviceUsb* device = open();
    device->setParamValueOf("Trigger Mode", "Soft", true);
    device->setParamValueOf("Number of Line", 64.0, true);
    device->setFps(double(device->maxFps()), true);
    std::atomic<bool> armed{false};
    Gate* entered = nullptr;
    std::atomic<int> answers{0};
    CallbackObserver asker([&](const cv::Mat&, const XEVFrameInfo&) {
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
    plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    std::mutex lock;
    std::vector<std::string> messages;
    Gate done;
    CallbackObserver misuser([&](const cv::Mat&, const XEVFrameInfo&) {
        if (done.isOpen())
            return;
        XEVManager* manager = XEVManager::getInstance();
        std::vector<std::string> seen{
            messageOf([&] { device->stop(); }),
            messageOf([&] { device->waitEndCapture(-1); }),
            messageOf([&] { device->waitEndCapture(10); }),
            messageOf([&] { manager->flushDevs(); }),
            messageOf([&] { manager->enumerate(); }),
            messageOf([&] { XEVManager::destroyInstance(); }),
            messageOf([&] { (void)manager->deviceCount(); }),
        };
        {
            std::lock_guard<std::mutex> guard(lock);
            messages = seen;
        }
        done.open();
    });
    *device << misuser;
    device->start();
    ASSERT_TRUE(done.wait());
    const std::string own = " cannot be called from one of the device's own threads (a frame "
                            "callback or a camera notification).";
    const std::string destroy = " cannot destroy XEVDevice(Kestrel) from one of its own threads.";
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Error : For XEVDevice(Kestrel), stop()" + own,
                            "Error : For XEVDevice(Kestrel), waitEndCapture()" + own,
                            "Error : For XEVDevice(Kestrel), waitEndCapture()" + own,
                            "Error : XEVManager::flushDevs()" + destroy,
                            "Error : XEVManager::enumerate()" + destroy,
                            "Error : XEVManager::destroyInstance()" + destroy,
                            "<no exception>",
                        }));
    // The capture still runs and ends as usual; the observer can be destroyed.
    EXPECT_TRUE(device->isCapturing());
    finishesWithin("stop and destroy", [&] {
        device->stop();
        XEVManager::destroyInstance();
    });
    EXPECT_FALSE(misuser.hasReadingThread());
}

TEST_F(UsbDeviceTest, StopCutsShortTheWaitForSlowStages) {
    plug(kestrelConfig());
    XEVDeviceUsb* device = open(0, 8);
    Gate release;
    std::atomic<int> frames{0};
    CallbackObserver slow([&](const cv::Mat&, const XEVFrameInfo&) {
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
    auto camera = plug(kestrelConfig());
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    camera->injectBulkExceptions(1);
    device->captureNFrames(5);
    bool completed = true;
    finishesWithin("a failed capture", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_FALSE(completed);
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(device->isRunning());
    EXPECT_FALSE(recorder.hasReadingThread());
    EXPECT_TRUE(device->lastError());
    EXPECT_EQ(device->lastErrorMessage(), "unknown error (not a std::exception)");

    // The next capture starts afresh: error cleared, numbering from 1.
    device->captureNFrames(3);
    EXPECT_FALSE(device->lastError());
    finishesWithin("the next capture", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_TRUE(completed);
    const auto numbers = recorder.frameNumbers();
    ASSERT_GE(numbers.size(), 3u);
    EXPECT_EQ(std::vector<uint64_t>(numbers.end() - 3, numbers.end()),
              (std::vector<uint64_t>{1, 2, 3}));
}

class FrameCounterWrap : public UsbDeviceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FrameCounterWrap, RepeatsCountNothingAndTheWrapCountsOne) {
    XEVUsbCameraConfig config = kestrelConfig();
    config.counterWrapsToZero = GetParam();
    auto camera = plug(config);
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    camera->setFrameCounter(0xFFFFFC);
    camera->repeatFrameCounter(2); // the second and third frames repeat the first's counter
    const uint64_t before = camera->deliveredFrames();
    device->captureNFrames(6);
    bool completed = false;
    finishesWithin("a capture across the wrap", [&] { completed = device->waitEndCapture(-1); });
    EXPECT_TRUE(completed);
    EXPECT_EQ(recorder.frameNumbers(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(camera->deliveredFrames() - before, 8u); // two repeats were dropped
}

INSTANTIATE_TEST_SUITE_P(WrapTo, FrameCounterWrap, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Zero") : std::string("One");
                         });

TEST_F(UsbDeviceTest, TemperatureOfCamerasWithoutCoolerIsSigned) {
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    auto camera = plug(config);
    XEVDeviceUsb* device = open();
    FrameRecorder recorder;
    *device << recorder;
    const std::vector<std::pair<uint16_t, float>> readings{
        {400, 25.0f},        {0x7FF, 127.9375f}, {0xFF0, -1.0f},
        {0x801, -127.9375f}, {0x1010, -127.0f},  {0x800, 0.0f},
    };
    for (const auto& reading : readings) {
        camera->setRawTemperature(reading.first);
        device->captureNFrames(1);
        finishesWithin("a one-frame capture", [&] { device->waitEndCapture(-1); });
        const float celsius = recorder.frameTemperatures().back();
        EXPECT_FLOAT_EQ(celsius, reading.second) << std::hex << reading.first;
        EXPECT_FALSE(std::signbit(celsius) && celsius == 0.0f) << "-0.0 for " << reading.first;
    }
}
