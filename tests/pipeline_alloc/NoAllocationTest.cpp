// The per-frame path of the pipeline allocates nothing, and a format change
// that runs out of memory leaves the FIFO as it was. This program counts and
// fails allocations at malloc, where the FIFO's aligned buffers, operator new
// and the image library's allocations all end.
#include "../pipeline/RecordingObserver.h"
#include "MallocCounter.h"
#include "XEVException.h"

#include <gtest/gtest.h>

using namespace XEVLibrary;
namespace MallocCounter = XEVTest::MallocCounter;

namespace {

struct LastFrame : XEVObserver {
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        firstPixel = frame.at<uint16_t>(0, 0);
        last = info.frameNumber;
    }
    /// Writes frame @p n into @p producer (its first pixel holds n) and waits for it here.
    void writeAndWait(XEVFrameProducer& producer, uint64_t n) {
        producer.lockFrameForWrite()->at<uint16_t>(0, 0) = static_cast<uint16_t>(n);
        XEVFrameInfo info;
        info.frameNumber = n;
        producer.unlockFrameForWrite(info);
        ASSERT_TRUE(XEVTest::waitUntil([&] { return last.load() == n; }));
        ASSERT_EQ(firstPixel.load(), static_cast<uint16_t>(n));
    }
    std::atomic<uint64_t> last{0};
    std::atomic<uint16_t> firstPixel{0};
};

} // namespace

TEST(PipelineAllocation, CountingSeesTheFifosAllocations) {
    // The checks below are only worth something if aligned buffers count.
    MallocCounter::start();
    std::free(std::aligned_alloc(64, 128));
    XEVFrameProducer fifo(3);
    fifo.ensureFrameFormat(8, 8, CV_8UC1, 0);
    EXPECT_GE(MallocCounter::stop(), 4u);
}

TEST(PipelineAllocation, SteadyStateFramesAllocateNothing) {
    XEVFrameProducer device(4);
    XEVTest::PassThroughFilter first, second;
    LastFrame end;
    device << first << second << end;
    device.ensureFrameFormat(640, 512, CV_16UC1, 0);
    device.startProduction();
    // The first frames set the format of every stage.
    for (uint64_t n = 1; n <= 3; ++n)
        end.writeAndWait(device, n);
    MallocCounter::start();
    for (uint64_t n = 4; n <= 500; ++n) {
        device.ensureFrameFormat(640, 512, CV_16UC1, 0);
        end.writeAndWait(device, n);
    }
    const std::size_t allocations = MallocCounter::stop();
    device.stopProduction(false);
    EXPECT_EQ(allocations, 0u);
}

TEST(PipelineAllocation, AFormatChangeOutOfMemoryKeepsTheFormerFormat) {
    XEVFrameProducer device(4);
    LastFrame end;
    device << end;
    device.ensureFrameFormat(320, 256, CV_16UC1, 0);
    // The third of the four new slot buffers cannot be had.
    MallocCounter::failLargeAllocation(3, 640 * 512 * 2);
    EXPECT_THROW(device.ensureFrameFormat(640, 512, CV_16UC1, 0), XEVException);
    MallocCounter::failLargeAllocation(0, 0);
    EXPECT_EQ(device.frameWidth(), 320);
    EXPECT_EQ(device.slotBufferSize(), 320u * 256u * 2u);
    // Every slot still holds a frame of the former format.
    device.startProduction();
    for (uint64_t n = 1; n <= 9; ++n) {
        ASSERT_EQ(device.lockFrameForWrite()->size(), cv::Size(320, 256)) << n;
        device.cancelWriting();
        end.writeAndWait(device, n);
    }
    device.stopProduction(false);
}
