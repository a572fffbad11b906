// The per-frame path of the pipeline allocates nothing, and a format change
// that runs out of memory leaves the FIFO as it was. This program counts and
// fails allocations at malloc, where the FIFO's aligned buffers, operator new
// and the image library's allocations all end.

#include "MallocCounter.h"
#include "TestSupport.h"
#include "XEVException.h"
#include "XEVFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

using namespace XEVLibrary;

namespace {

class CopyStage : public XEVFilter {
public:
    CopyStage() : XEVFilter(4) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
        cv::Mat* out = lockFrameForWrite();
        frame.copyTo(*out);
        unlockFrameForWrite(info);
    }
};

class LastFrame : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        firstPixel.store(frame.at<uint16_t>(0, 0));
        last.store(info.frameNumber);
    }
    std::atomic<uint64_t> last{0};
    std::atomic<uint16_t> firstPixel{0};
};

void writeAndWait(XEVFrameProducer& producer, LastFrame& end, uint64_t n) {
    cv::Mat* image = producer.lockFrameForWrite();
    image->at<uint16_t>(0, 0) = static_cast<uint16_t>(n);
    XEVFrameInfo info;
    info.frameNumber = n;
    producer.unlockFrameForWrite(info);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return end.last.load() == n; }));
    ASSERT_EQ(end.firstPixel.load(), static_cast<uint16_t>(n));
}

} // namespace

TEST(PipelineAllocation, CountingSeesTheFifosAllocations) {
    // The checks below are only worth something if aligned buffers count.
    XEVTest::MallocCounter::start();
    std::free(std::aligned_alloc(64, 128));
    XEVFrameProducer fifo(3);
    fifo.ensureFrameFormat(8, 8, CV_8UC1, 0);
    EXPECT_GE(XEVTest::MallocCounter::stop(), 4u);
}

TEST(PipelineAllocation, SteadyStateFramesAllocateNothing) {
    XEVFrameProducer device(4);
    CopyStage first, second;
    LastFrame end;
    device << first << second << end;
    device.ensureFrameFormat(640, 512, CV_16UC1, 0);
    device.startProduction();
    // The first frames set the format of every stage.
    for (uint64_t n = 1; n <= 3; ++n)
        writeAndWait(device, end, n);

    XEVTest::MallocCounter::start();
    for (uint64_t n = 4; n <= 500; ++n) {
        device.ensureFrameFormat(640, 512, CV_16UC1, 0);
        writeAndWait(device, end, n);
    }
    const std::size_t allocations = XEVTest::MallocCounter::stop();
    device.stopProduction(false);
    EXPECT_EQ(allocations, 0u);
}

TEST(PipelineAllocation, AFormatChangeOutOfMemoryKeepsTheFormerFormat) {
    XEVFrameProducer device(4);
    LastFrame end;
    device << end;
    device.ensureFrameFormat(320, 256, CV_16UC1, 0);
    // The third of the four new slot buffers cannot be had.
    XEVTest::MallocCounter::failLargeAllocation(3, 640 * 512 * 2);
    EXPECT_THROW(device.ensureFrameFormat(640, 512, CV_16UC1, 0), XEVException);
    XEVTest::MallocCounter::failLargeAllocation(0, 0);
    EXPECT_EQ(device.frameWidth(), 320);
    EXPECT_EQ(device.slotBufferSize(), 320u * 256u * 2u);
    // Every slot still holds a frame of the former format.
    device.startProduction();
    for (uint64_t n = 1; n <= 9; ++n) {
        cv::Mat* image = device.lockFrameForWrite();
        ASSERT_EQ(image->size(), cv::Size(320, 256)) << n;
        device.cancelWriting();
        writeAndWait(device, end, n);
    }
    device.stopProduction(false);
}
