// The per-frame path of the pipeline allocates nothing: this program replaces
// the global allocation operators with counting ones and hands frames through
// a producer, a filter and an observer.

#include "TestSupport.h"
#include "XEVFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};

void* countedAllocation(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return countedAllocation(size);
}
void* operator new[](std::size_t size) {
    return countedAllocation(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

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
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        last.store(info.frameNumber);
    }
    std::atomic<uint64_t> last{0};
};

void writeAndWait(XEVFrameProducer& producer, LastFrame& end, uint64_t n) {
    cv::Mat* image = producer.lockFrameForWrite();
    image->data[0] = static_cast<uint8_t>(n);
    XEVFrameInfo info;
    info.frameNumber = n;
    producer.unlockFrameForWrite(info);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return end.last.load() == n; }));
}

} // namespace

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

    g_counting.store(true);
    for (uint64_t n = 4; n <= 500; ++n) {
        device.ensureFrameFormat(640, 512, CV_16UC1, 0);
        writeAndWait(device, end, n);
    }
    g_counting.store(false);
    device.stopProduction(false);
    EXPECT_EQ(g_allocations.load(), 0u);
}
