#include "TestSupport.h"
#include "XEVFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

using namespace XEVLibrary;

namespace {

/// Pixel i of frame n: the checksum pattern that observers verify.
inline uint16_t patternPixel(uint64_t frame, std::size_t index) {
    return static_cast<uint16_t>(frame * 2654435761u + index * 40503u);
}

void fillFrame(cv::Mat& image, uint64_t frame) {
    auto* pixels = image.ptr<uint16_t>();
    const std::size_t count = image.total();
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] = patternPixel(frame, i);
}

/// Copies its input into its own FIFO, as a processing stage would.
class CopyStage : public XEVFilter {
public:
    explicit CopyStage(unsigned int fifoSize) : XEVFilter(fifoSize) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
        cv::Mat* out = lockFrameForWrite();
        frame.copyTo(*out);
        unlockFrameForWrite(info);
    }
};

/// Verifies every frame and that no frame arrives twice or out of order.
class CheckingObserver : public XEVObserver {
public:
    explicit CheckingObserver(unsigned seed) : m_random(seed) {}
    void onStart() override { m_last = 0; }
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ++received;
        if (info.frameNumber <= m_last)
            ++outOfOrder;
        m_last = info.frameNumber;
        const auto* pixels = frame.ptr<uint16_t>();
        for (std::size_t i = 0; i < frame.total(); ++i) {
            if (pixels[i] != patternPixel(info.frameNumber, i)) {
                ++torn;
                break;
            }
        }
        const int delay = std::uniform_int_distribution<int>(0, 3)(m_random);
        if (delay == 3)
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(10, 300)(m_random)));
    }
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> outOfOrder{0};
    std::atomic<uint64_t> torn{0};

private:
    std::mt19937 m_random;
    uint64_t m_last = 0;
};

} // namespace

TEST(PipelineSoak, HundredThousandFramesThroughTwoFiltersAndThreeObservers) {
    constexpr int Cycles = 200;
    constexpr int FramesPerCycle = 500;
    const cv::Size formats[] = {{32, 16}, {64, 48}, {17, 9}};

    XEVFrameProducer device(5);
    CopyStage first(4), second(4);
    CheckingObserver a(1), b(2), c(3);
    device << first << second << a;
    second << b;
    device << c;

    std::mt19937 random(42);
    uint64_t frame = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(15);
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        const cv::Size size = formats[(cycle / 10) % 3];
        device.ensureFrameFormat(size.width, size.height, CV_16UC1, 0);
        device.startProduction();
        for (int i = 0; i < FramesPerCycle; ++i) {
            if (i == FramesPerCycle / 2 && cycle % 7 == 0) {
                // A format change while the graph runs.
                const cv::Size other = formats[(cycle / 10 + 1) % 3];
                device.ensureFrameFormat(other.width, other.height, CV_16UC1, 0);
            }
            cv::Mat* image = device.lockFrameForWrite();
            ++frame;
            if (std::uniform_int_distribution<int>(0, 50)(random) == 0) {
                device.cancelWriting();
                continue;
            }
            fillFrame(*image, frame);
            XEVFrameInfo info;
            info.frameNumber = frame;
            device.unlockFrameForWrite(info);
            if (i % 64 == 0)
                std::this_thread::yield();
        }
        device.stopProduction(cycle % 2 == 0);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "soak too slow at cycle " << cycle;
    }

    for (CheckingObserver* observer : {&a, &b, &c}) {
        EXPECT_GT(observer->received.load(), 0u);
        EXPECT_EQ(observer->outOfOrder.load(), 0u);
        EXPECT_EQ(observer->torn.load(), 0u);
        EXPECT_FALSE(observer->lastError());
    }
    EXPECT_EQ(frame, uint64_t(Cycles) * FramesPerCycle);
}
