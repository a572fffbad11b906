// Stages chained with << on real FIFOs and reading threads.
#include "FilterTestUtil.h"
#include "tests/toolbox_outputs/FrameCapture.h"

#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"

#include <gtest/gtest.h>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;
using namespace XEVTest; // FrameCapture, ProductionGuard, writeFrame

TEST(FilterChain, NucThenManualGainThroughRealFifos) {
    TempDir dir;
    writeMaps(dir.file("dark.yml"), {{"NUCDark", cv::Mat(6, 8, CV_16UC1, cv::Scalar(500))}});
    XEVFrameProducer source(4);
    XEVNUC1Point nuc(dir.file("dark.yml"), 8, 6, 0, 0, 4);
    XEVManualAGC agc(4, 1000, 2000);
    FrameCapture capture;
    source << nuc << agc << capture;
    {
        ProductionGuard running(source); // onStart loads the dark map
        // in - 500 + 1000, then (v - 1000) / 1000 * 255.
        const int inputs[] = {500, 1000, 1500}, outputs[] = {0, 128, 255};
        for (std::size_t i = 0; i < 3; ++i) {
            writeFrame(source, cv::Mat(6, 8, CV_16UC1, cv::Scalar(inputs[i])), 10 + i, 20.5f + i);
            ASSERT_TRUE(capture.waitForFrames(i + 1)) << i;
            const cv::Mat out = capture.frame(i);
            ASSERT_TRUE(out.type() == CV_8UC1 && out.size() == cv::Size(8, 6));
            EXPECT_EQ(cv::countNonZero(out != outputs[i]), 0) << i;
            EXPECT_EQ(capture.info(i).frameNumber, 10 + i);
            EXPECT_EQ(capture.info(i).temperature, 20.5f + i);
        }
        // An 8-bit frame produces nothing at the NUC; the next raw frame follows.
        writeFrame(source, cv::Mat(6, 8, CV_8UC1, cv::Scalar(7)), 20);
        writeFrame(source, cv::Mat(6, 8, CV_16UC1, cv::Scalar(1000)), 21);
        ASSERT_TRUE(capture.waitForFrames(4));
        EXPECT_EQ(capture.info(3).frameNumber, 21u);
    }
    EXPECT_EQ(capture.count(), 4u);
    EXPECT_EQ(nuc.lastErrorMessage(), "");
    EXPECT_EQ(agc.lastErrorMessage(), "");
}
