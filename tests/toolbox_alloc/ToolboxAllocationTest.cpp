// Once a stage knows the frame format, its per-frame work allocates nothing:
// this program counts malloc and its relatives (where the image library and
// operator new both end).

#include "MallocCounter.h"
#include "tests/toolbox_filters/FilterTestUtil.h"

#include "XEVLibrary.h"

#include <gtest/gtest.h>

#include <functional>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

/// Allocations made by @p frames further calls of @p work after a first one.
std::size_t steadyAllocations(const std::function<void()>& work, int frames = 20) {
    work();
    XEVTest::MallocCounter::start();
    for (int i = 0; i < frames; ++i)
        work();
    return XEVTest::MallocCounter::stop();
}

/// Allocations of @p stage handling @p in again and again after its start
/// (where the one-point correction and the demosaicing set up).
template <class Stage>
std::size_t stageAllocations(Stage&& stage, const cv::Mat& in) {
    cv::Mat out;
    stage.onStart();
    return steadyAllocations([&] { stage.process(in, out, XEVFrameInfo()); });
}

} // namespace

TEST(ToolboxAllocation, PixelStagesAllocateNothingPerFrame) {
    const cv::Mat raw = randomWords(240, 320, 500, 15000, 3), bytes = randomBytes(240, 320, 4);
    const std::string none = "/nonexistent/xev-maps.yml"; // zero maps
    EXPECT_EQ(stageAllocations(XEVNUC1Point(none, 320, 240, 0, 0, 4), raw), 0u) << "NUC1Point";
    EXPECT_EQ(stageAllocations(XEVNUC2Points(none, 320, 240, 0, 0, 4), raw), 0u) << "NUC2Points";
    EXPECT_EQ(stageAllocations(XEVNUCDoubleOnePoint(none, 320, 240, 0, 0, 4), raw), 0u);
    EXPECT_EQ(stageAllocations(XEVNUCDoubleTwoPoints(none, 320, 240, 0, 0, 4), raw), 0u);
    EXPECT_EQ(stageAllocations(XEVBPR(none, 320, 240, 0, 0, 4), raw), 0u) << "BPR";
    EXPECT_EQ(stageAllocations(XEVAutomaticGainControl(14, 4), raw), 0u) << "Automatic";
    EXPECT_EQ(stageAllocations(XEVAGCROI(1, 4), raw), 0u) << "AGCROI";
    EXPECT_EQ(stageAllocations(XEVAGCROICustom(10, 10, 200, 150, 4), raw), 0u) << "Custom";
    EXPECT_EQ(stageAllocations(XEVManualAGC(4, 1000.0, 9000.0), raw), 0u) << "Manual";
    EXPECT_EQ(stageAllocations(XEVDemosaicing(320, 240, 1.3f, 4), raw), 0u) << "Demosaicing";
    EXPECT_EQ(stageAllocations(XEVFlipH(4), bytes), 0u) << "FlipH";
    EXPECT_EQ(stageAllocations(XEVFlipV(4), bytes), 0u) << "FlipV";
    EXPECT_EQ(stageAllocations(XEVGamma(0.7, 100, 4), bytes), 0u) << "Gamma";
    EXPECT_EQ(stageAllocations(XEVColorMap(4, 2), bytes), 0u) << "ColorMap";
}

TEST(ToolboxAllocation, CountingSeesTheImageLibrarysAllocations) {
    // The check above is only worth something if a matrix allocation counts.
    EXPECT_GE(steadyAllocations([] { cv::Mat m(64, 64, CV_8UC1); }, 5), 5u);
}
