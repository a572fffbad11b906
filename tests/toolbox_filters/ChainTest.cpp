// Stages chained with << on real FIFOs and reading threads.
#include "FilterTestUtil.h"
#include "tests/toolbox_outputs/FrameCapture.h"

#include "XEVAGCROI.h"
#include "XEVDemosaicing.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"

#include <gtest/gtest.h>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;
using XEVTest::FrameCapture;
using XEVTest::ProductionGuard;
using XEVTest::writeFrame;

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
            ASSERT_EQ(out.type(), CV_8UC1);
            ASSERT_EQ(out.size(), cv::Size(8, 6));
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

TEST(FilterChain, WindowGainControlAndDemosaicingThroughRealFifos) {
    XEVFrameProducer source(4);
    XEVAGCROI agc(0, 4);
    XEVDemosaicing demosaicing(48, 32, 1.0f, 4);
    FrameCapture grey, colour;
    source << agc << grey;
    source << demosaicing << colour;
    ProductionGuard running(source);

    const cv::Mat frame(32, 48, CV_16UC1, cv::Scalar(5000)); // window of 384 pixels
    for (std::size_t n = 1; n <= 2; ++n) {
        writeFrame(source, frame, n);
        ASSERT_TRUE(grey.waitForFrames(n) && colour.waitForFrames(n));
    }
    // First frame over 0..16383 (5000 / 16383 * 255 = 77.8), the second with
    // the bounds of the first (5000..5300).
    EXPECT_EQ(grey.frame(0).at<uint8_t>(0, 0), 78);
    EXPECT_EQ(grey.frame(1).at<uint8_t>(0, 0), 0);
    EXPECT_EQ(colour.frame(0).size(), cv::Size(44, 28));
    EXPECT_EQ(colour.frame(0).type(), CV_8UC3);

    // A new frame size resets the window gain control; demosaicing drops it.
    // (A format change of the source drops what its readers have not read
    // yet, so each frame is awaited before the next change.)
    writeFrame(source, cv::Mat(34, 48, CV_16UC1, cv::Scalar(5000)), 3);
    ASSERT_TRUE(grey.waitForFrames(3));
    writeFrame(source, frame, 4);
    ASSERT_TRUE(grey.waitForFrames(4) && colour.waitForFrames(3));
    EXPECT_EQ(grey.frame(2).at<uint8_t>(0, 0), 78);
    EXPECT_EQ(grey.frame(3).at<uint8_t>(0, 0), 78) << "the size changed back";
    EXPECT_EQ(colour.info(2).frameNumber, 4u);
    EXPECT_EQ(colour.count(), 3u);
    EXPECT_EQ(agc.lastErrorMessage(), "");
    EXPECT_EQ(demosaicing.lastErrorMessage(), "");
}
