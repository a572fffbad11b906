#include "../pipeline/RecordingObserver.h"

#include <gtest/gtest.h>

#include <random>

using namespace XEVLibrary;

namespace {

/// Pixel i of frame n: the checksum pattern that observers verify.
uint16_t patternPixel(uint64_t frame, std::size_t index) {
    return static_cast<uint16_t>(frame * 2654435761u + index * 40503u);
}

/// Verifies every frame, and that none arrives twice or out of order; sleeps now and then.
class CheckingObserver : public XEVObserver {
public:
    explicit CheckingObserver(unsigned seed) : m_random(seed) {}
    void onStart() override { m_last = 0; }
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ++received;
        outOfOrder += info.frameNumber <= m_last;
        m_last = info.frameNumber;
        const auto* pixels = frame.ptr<uint16_t>();
        for (std::size_t i = 0; i < frame.total(); ++i) {
            if (pixels[i] != patternPixel(info.frameNumber, i)) {
                ++torn;
                break;
            }
        }
        if (std::uniform_int_distribution<int>(0, 3)(m_random) == 3)
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(10, 300)(m_random)));
    }
    std::atomic<uint64_t> received{0}, outOfOrder{0}, torn{0};

private:
    std::mt19937 m_random;
    uint64_t m_last = 0;
};

} // namespace

TEST(PipelineSoak, HundredThousandFramesThroughTwoFiltersAndThreeObservers) {
    constexpr int Cycles = 200, FramesPerCycle = 500;
    const cv::Size formats[] = {{32, 16}, {64, 48}, {17, 9}};
    XEVFrameProducer device(5);
    XEVTest::PassThroughFilter first, second;
    CheckingObserver a(1), b(2), c(3);
    device << first << second << a;
    second << b;
    device << c;
    std::mt19937 random(42);
    uint64_t frame = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(15);
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        const cv::Size size = formats[(cycle / 10) % 3], other = formats[(cycle / 10 + 1) % 3];
        device.ensureFrameFormat(size.width, size.height, CV_16UC1, 0);
        device.startProduction();
        for (int i = 0; i < FramesPerCycle; ++i) {
            if (i == FramesPerCycle / 2 && cycle % 7 == 0) // a format change while the graph runs
                device.ensureFrameFormat(other.width, other.height, CV_16UC1, 0);
            cv::Mat* image = device.lockFrameForWrite();
            ++frame;
            if (std::uniform_int_distribution<int>(0, 50)(random) == 0) {
                device.cancelWriting();
                continue;
            }
            for (std::size_t p = 0; p < image->total(); ++p)
                image->ptr<uint16_t>()[p] = patternPixel(frame, p);
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
}
