// Once a stage knows the frame format, its per-frame work allocates nothing:
// this program replaces malloc and its relatives (which the image library
// and operator new both end in) with counting ones, then runs every
// pixel-processing stage over the same frames again and again.

#include "MallocCounter.h"
#include "tests/toolbox_filters/FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAGCROICustom.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVColorMap.h"
#include "XEVDemosaicing.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVGamma.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

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

/// Calls the stage's process() on @p in into @p out.
template <class Stage>
std::function<void()> processing(Stage& stage, const cv::Mat& in, cv::Mat& out) {
    return [&stage, &in, &out] { stage.process(in, out, XEVFrameInfo()); };
}

} // namespace

TEST(ToolboxAllocation, RawStagesAllocateNothingPerFrame) {
    const cv::Mat raw = randomWords(240, 320, 500, 15000, 3);
    const std::string missing = "/nonexistent/xev-maps.yml"; // zero maps
    cv::Mat out;
    XEVNUC1Point nuc1(missing, 320, 240, 0, 0, 4);
    nuc1.onStart();
    EXPECT_EQ(steadyAllocations(processing(nuc1, raw, out)), 0u) << "XEVNUC1Point";
    XEVNUC2Points nuc2(missing, 320, 240, 0, 0, 4);
    EXPECT_EQ(steadyAllocations(processing(nuc2, raw, out)), 0u) << "XEVNUC2Points";
    XEVNUCDoubleOnePoint double1(missing, 320, 240, 0, 0, 4);
    EXPECT_EQ(steadyAllocations(processing(double1, raw, out)), 0u) << "XEVNUCDoubleOnePoint";
    XEVNUCDoubleTwoPoints double2(missing, 320, 240, 0, 0, 4);
    EXPECT_EQ(steadyAllocations(processing(double2, raw, out)), 0u) << "XEVNUCDoubleTwoPoints";
    XEVBPR bpr(missing, 320, 240, 0, 0, 4);
    EXPECT_EQ(steadyAllocations(processing(bpr, raw, out)), 0u) << "XEVBPR";
    XEVAutomaticGainControl agc(14, 4);
    EXPECT_EQ(steadyAllocations(processing(agc, raw, out)), 0u) << "XEVAutomaticGainControl";
    XEVAGCROI roi(1, 4);
    EXPECT_EQ(steadyAllocations(processing(roi, raw, out)), 0u) << "XEVAGCROI";
    XEVAGCROICustom custom(10, 10, 200, 150, 4);
    EXPECT_EQ(steadyAllocations(processing(custom, raw, out)), 0u) << "XEVAGCROICustom";
    XEVManualAGC manual(4, 1000.0, 9000.0);
    EXPECT_EQ(steadyAllocations(processing(manual, raw, out)), 0u) << "XEVManualAGC";
    XEVDemosaicing demosaicing(320, 240, 1.3f, 4);
    demosaicing.onStart();
    EXPECT_EQ(steadyAllocations(processing(demosaicing, raw, out)), 0u) << "XEVDemosaicing";
}

TEST(ToolboxAllocation, ByteStagesAllocateNothingPerFrame) {
    const cv::Mat bytes = randomBytes(240, 320, 4);
    cv::Mat out;
    XEVFlipH flipH(4);
    EXPECT_EQ(steadyAllocations(processing(flipH, bytes, out)), 0u) << "XEVFlipH";
    XEVFlipV flipV(4);
    EXPECT_EQ(steadyAllocations(processing(flipV, bytes, out)), 0u) << "XEVFlipV";
    XEVGamma gamma(0.7, 100, 4);
    EXPECT_EQ(steadyAllocations(processing(gamma, bytes, out)), 0u) << "XEVGamma";
    XEVColorMap colours(4, 2);
    EXPECT_EQ(steadyAllocations(processing(colours, bytes, out)), 0u) << "XEVColorMap";
}

TEST(ToolboxAllocation, CountingSeesTheImageLibrarysAllocations) {
    // The check above is only worth something if a matrix allocation counts.
    EXPECT_GE(steadyAllocations([] { cv::Mat m(64, 64, CV_8UC1); }, 5), 5u);
}
