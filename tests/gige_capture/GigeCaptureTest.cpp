// Captures from emulated GigE cameras through the manager and the device:
// exact frame counts, pixel formats, stream faults, a lost camera and a
// second controller.

#include "CameraAddress.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "XEVCatalog.h"
#include "XEVConfigObserver.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVManager.h"
#include "XEVObserver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace XEVTest {
namespace {

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

/// Keeps what a final observer saw; optionally slow, to lose frames.
class FrameLog : public XEVObserver {
public:
    explicit FrameLog(int delayMs = 0) : m_delayMs(delayMs) {}
    ~FrameLog() override { disconnect(); }
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_numbers.push_back(info.frameNumber);
            m_type = frame.type();
            m_cols = frame.cols;
            m_rows = frame.rows;
            m_infoMatches = m_infoMatches && info.width == frame.cols &&
                            info.height == frame.rows && info.temperature == -128.0f;
            m_origins.emplace_back(info.offsetX, info.offsetY);
        }
        if (m_delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs)); // a slow stage
    }
    std::vector<uint64_t> numbers() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_numbers;
    }
    int type() const { return m_type; }
    int cols() const { return m_cols; }
    int rows() const { return m_rows; }
    bool infoMatches() const { return m_infoMatches; }
    /// The window origin of every frame, as (offsetX, offsetY).
    std::vector<std::pair<uint32_t, uint32_t>> origins() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_origins;
    }

private:
    int m_delayMs;
    mutable std::mutex m_lock;
    std::vector<uint64_t> m_numbers;
    int m_type = -1, m_cols = 0, m_rows = 0;
    bool m_infoMatches = true;
    std::vector<std::pair<uint32_t, uint32_t>> m_origins;
};

/// Counts the loss of the camera.
class LossWatch : public XEVConfigObserver {
public:
    void onParamChanged(const std::string&, const std::string&, bool) override {}
    void onDeviceDisconnected() override { lost.open(); }
    Gate lost;
};

class GigeCapture : public ::testing::Test {
protected:
    void TearDown() override {
        XEVManager::destroyInstance();
        camera.reset();
        XEVManager::useUsb = true;
        XEVManager::useGige = false;
        XEVManager::gigeBroadcast = true;
        XEVManager::gigeCameraAddresses.clear();
    }

    XEVDeviceGige* open(GigeModel model, unsigned mtu = 1500, const std::string& firmware = "") {
        XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(model, cameraAddress());
        config.mtu = mtu;
        if (!firmware.empty())
            config.firmwareVersion = firmware;
        camera = std::make_unique<XEVGigeEmulatedCamera>(config);
        XEVManager::useUsb = false;
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeCameraAddresses = {config.address};
        XEVManager::gigeDiscoveryTimeInSeconds = 1;
        XEVManager* manager = XEVManager::getInstance();
        manager->enumerate();
        EXPECT_EQ(manager->deviceCount(), 1u);
        XEVDevice* device = manager->openDevice(0, 0, 8);
        return dynamic_cast<XEVDeviceGige*>(device);
    }

    /// Captures @p n frames into @p log and waits for the end of the capture.
    static bool capture(XEVDeviceGige& device, FrameLog& log, long n) {
        device << log;
        bool completed = false;
        finishesWithin("a GigE capture", [&] {
            device.captureNFrames(n);
            completed = device.waitEndCapture(-1);
        });
        return completed;
    }

    std::unique_ptr<XEVGigeEmulatedCamera> camera;
};

TEST_F(GigeCapture, DeliversExactlyNFramesAtBothPacketSizesAndPixelDepths) {
    struct Case {
        unsigned mtu;
        const char* format;
        int type;
    };
    for (const Case& c : {Case{1500, "Mono16", CV_16UC1}, Case{9000, "Mono16", CV_16UC1},
                          Case{9000, "Mono8", CV_8UC1}}) {
        SCOPED_TRACE(std::string(c.format) + " at " + std::to_string(c.mtu));
        XEVDeviceGige* device = open(GigeModel::HeronGigE, c.mtu);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->packetSize(), c.mtu);
        device->setParamValueOf("PixelFormat", std::string(c.format), false);
        device->setFps(200.0);
        FrameLog log;
        EXPECT_TRUE(capture(*device, log, 25));
        EXPECT_FALSE(device->isCapturing());
        const std::vector<uint64_t> numbers = log.numbers();
        ASSERT_EQ(numbers.size(), 25u);
        for (std::size_t i = 1; i < numbers.size(); ++i)
            EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "block ids follow each other";
        EXPECT_EQ(log.type(), c.type);
        EXPECT_EQ(log.cols(), 640);
        EXPECT_EQ(log.rows(), 512);
        EXPECT_TRUE(log.infoMatches());
        EXPECT_GE(device->streamStatistics().framesCompleted, 25u);
        EXPECT_EQ(device->streamStatistics().packetsMissing, 0u);
        TearDown();
    }
}

TEST_F(GigeCapture, CamerasBeforeGigeVisionTwoStreamFromTheHostsPort) {
    // Without a source port register the channel expects the stream from the
    // port it streams to; 01.04 negotiates the packet size, 01.03 does not.
    struct Case {
        GigeModel model;
        const char* firmware;
        unsigned packetSize;
    };
    for (const Case& c :
         {Case{GigeModel::HeronGigE, "01.04", 9000}, Case{GigeModel::FulmarGigE, "01.03", 1500}}) {
        SCOPED_TRACE(c.firmware);
        XEVDeviceGige* device = open(c.model, 9000, c.firmware);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->packetSize(), c.packetSize);
        device->setFps(100.0);
        FrameLog log;
        EXPECT_TRUE(capture(*device, log, 3));
        EXPECT_EQ(log.numbers().size(), 3u);
        TearDown();
    }
}

TEST_F(GigeCapture, ColourFramesComeInTheirWindowAsThreeChannels) {
    XEVDeviceGige* device = open(GigeModel::CurlewcGigE, 9000);
    ASSERT_NE(device, nullptr);
    device->setParamValueOf("PixelFormat", std::string("RGB8"), false);
    device->setParamValueOf("Number of Column", 320, false);
    device->setParamValueOf("Number of Line", 256, false);
    device->updateConfig();
    FrameLog log;
    EXPECT_TRUE(capture(*device, log, 5));
    EXPECT_EQ(log.numbers().size(), 5u);
    EXPECT_EQ(log.type(), CV_8UC3);
    EXPECT_EQ(log.cols(), 320);
    EXPECT_EQ(log.rows(), 256);
}

TEST_F(GigeCapture, FramesCarryTheOriginOfTheirWindowOnTheSensor) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE, 9000);
    ASSERT_NE(device, nullptr);
    device->setFps(100.0);
    FrameLog whole;
    EXPECT_TRUE(capture(*device, whole, 2));
    using Origin = std::pair<uint32_t, uint32_t>;
    EXPECT_EQ(whole.origins(), std::vector<Origin>(2, Origin(0, 0)));
    device->stop();
    whole.disconnect();

    device->setParamValueOf("Number of Column", 320, false);
    device->setParamValueOf("Number of Line", 256, false);
    device->setParamValueOf("First Column", 96, false);
    device->setParamValueOf("First Line", 40, false);
    ASSERT_TRUE(device->updateConfig());
    EXPECT_EQ(camera->registerValue(camera->featureAddress("OffsetX")), 96u);
    FrameLog window;
    EXPECT_TRUE(capture(*device, window, 3));
    EXPECT_EQ(window.origins(), std::vector<Origin>(3, Origin(96, 40)));
    EXPECT_EQ(window.cols(), 320);
    EXPECT_EQ(window.rows(), 256);
}

TEST_F(GigeCapture, AssemblesFramesFromReorderedAndDuplicatedPackets) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE);
    ASSERT_NE(device, nullptr);
    XEVGigeFaults faults;
    faults.reorderRatio = 0.05;
    faults.duplicateRatio = 0.05;
    camera->setFaults(faults);
    device->setFps(100.0);
    FrameLog log;
    EXPECT_TRUE(capture(*device, log, 10));
    EXPECT_EQ(log.numbers().size(), 10u);
    const XEVGigeStreamStatistics statistics = device->streamStatistics();
    EXPECT_GT(statistics.packetsDuplicated, 0u);
    EXPECT_GT(statistics.packetsOutOfOrder, 0u);
}

TEST_F(GigeCapture, FramesMissingAPacketAreNeverDelivered) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE);
    ASSERT_NE(device, nullptr);
    XEVGigeFaults faults;
    faults.dropPacketIds = {7};
    camera->setFaults(faults);
    device->setFps(100.0);
    FrameLog log;
    *device << log;
    bool completed = true;
    finishesWithin("a capture that gets no frame", [&] {
        device->captureNFrames(3);
        // Three frames given up, whatever the pace of a loaded machine; then
        // the capture is ended.
        EXPECT_TRUE(
            waitUntil([&] { return device->streamStatistics().framesDroppedIncomplete >= 3; }));
        completed = device->waitEndCapture(0);
    });
    EXPECT_FALSE(completed);
    EXPECT_FALSE(device->isCapturing());
    EXPECT_TRUE(log.numbers().empty());
    const XEVGigeStreamStatistics statistics = device->streamStatistics();
    EXPECT_EQ(statistics.framesCompleted, 0u);
    EXPECT_GT(statistics.framesDroppedIncomplete, 0u);
}

TEST_F(GigeCapture, ASlowFinalObserverNeitherBlocksTheStreamNorTheEndOfTheCapture) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE, 9000);
    ASSERT_NE(device, nullptr);
    device->setFps(200.0);
    FrameLog slow(30);
    EXPECT_TRUE(capture(*device, slow, 40));
    // The stream went on at the camera's pace while the observer lagged: it
    // lost frames, and the capture still ended with the camera's 40th frame.
    EXPECT_GE(device->streamStatistics().framesCompleted, 40u);
    EXPECT_LT(slow.numbers().size(), 40u);
    EXPECT_EQ(device->streamStatistics().framesDroppedIncomplete, 0u);
}

TEST_F(GigeCapture, StopsAndStartsAgain) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE);
    ASSERT_NE(device, nullptr);
    device->setFps(100.0);
    FrameLog log;
    *device << log;
    finishesWithin("start, frames, stop", [&] {
        device->start();
        EXPECT_TRUE(waitUntil([&] { return log.numbers().size() >= 3; }));
        device->stop();
    });
    EXPECT_FALSE(device->isCapturing());
    EXPECT_FALSE(camera->isStreaming());
    const std::size_t before = log.numbers().size();
    finishesWithin("a second capture", [&] {
        device->captureNFrames(4);
        EXPECT_TRUE(device->waitEndCapture(-1));
    });
    EXPECT_EQ(log.numbers().size(), before + 4);
    EXPECT_EQ(messageOf([&] { device->captureNFrames(0); }),
              "Error : For XEVDevice(HeronGigE), you can't ask for capture n(0) frames, cause "
              "n<1.");
}

TEST_F(GigeCapture, ASilentCameraDisconnectsTheDeviceAndEndsItsCapture) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE);
    ASSERT_NE(device, nullptr);
    // A short heartbeat: the loss shows within a second or two.
    device->setParamValueOf("GevHeartbeatTimeout", 1000, true);
    LossWatch watch;
    watch.connectTo(*device);
    FrameLog log;
    *device << log;
    device->start();
    ASSERT_TRUE(waitUntil([&] { return !log.numbers().empty(); }));
    XEVGigeFaults faults;
    faults.silent = true;
    camera->setFaults(faults);
    EXPECT_TRUE(watch.lost.wait());
    EXPECT_FALSE(device->isConnected());
    EXPECT_TRUE(waitUntil([&] { return !device->isCapturing(); }));
    EXPECT_EQ(messageOf([&] { device->start(); }), "Error : XEVDevice(HeronGigE) is disconnected.");
    watch.disconnect();
}

TEST_F(GigeCapture, ASecondControllerIsRefused) {
    XEVDeviceGige* device = open(GigeModel::HeronGigE);
    ASSERT_NE(device, nullptr);
    const auto* descriptor =
        static_cast<const XEVDeviceDescriptorGige*>(device->deviceDescriptor());
    const XEVModelConfiguration& configuration =
        *XEVCatalog::getInstance()->selectModelConfiguration(*descriptor);
    const std::string message =
        messageOf([&] { XEVDeviceGige second(descriptor, configuration, 0, 8); });
    EXPECT_NE(message.find("cannot be controlled"), std::string::npos) << message;
    EXPECT_TRUE(camera->hasController());
}

} // namespace
} // namespace XEVTest
