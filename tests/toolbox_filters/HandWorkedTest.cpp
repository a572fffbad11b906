// Small frames worked out by hand in the comments, the settings each stage
// refuses, and what a reference cannot show (label layouts, centred windows,
// the state a stage starts from). StageReferenceTest.cpp runs larger frames.
#include "FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAGCROICustom.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVDemosaicing.h"
#include "XEVGamma.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"
#include "toolbox/PixelKernels.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

TEST(NucTwoPoints, RoundsHalfToEvenAndClamps) {
    TempDir dir;
    writeMaps(dir.file("nuc2.yml"),
              {{"NUCDark", cv::Mat_<uint16_t>({2, 5}, {0, 0, 0, 0, 0, 0, 0, 100, 100, 5000})},
               {"GainMap", cv::Mat_<float>({2, 5}, {1, 1, 1, 1, 1, 1, 1, 0.25f, 0.25f, 1})}});
    XEVNUC2Points nuc(dir.file("nuc2.yml"), 3, 1, 2, 1, 4);
    cv::Mat out;
    // 2 * 0.25 + 1000 = 1000.5 and 6 * 0.25 + 1000 = 1001.5 go to even;
    // -3000 + 1000 clamps to 0.
    ASSERT_TRUE(nuc.process(cv::Mat_<uint16_t>({1, 3}, {102, 106, 2000}), out, {}));
    EXPECT_EQ(differences(out, cv::Mat_<uint16_t>({1, 3}, {1000, 1002, 0})), 0) << out;
    // Gains no map should hold stay defined: NaN, +inf, -inf, beyond the
    // integer range, and both ends of the input.
    const float inf = std::numeric_limits<float>::infinity();
    const uint16_t in[] = {2, 2, 2, 2, 65535, 0}, darks[] = {1, 1, 1, 1, 0, 65535};
    const float gains[] = {std::nanf(""), inf, -inf, 1e30f, 1e9f, 1e9f};
    uint16_t corrected[6];
    detail::nucTwoPoints(in, darks, gains, corrected, 6);
    EXPECT_EQ(std::vector<uint16_t>(corrected, corrected + 6),
              (std::vector<uint16_t>{0, 16383, 0, 16383, 16383, 0}));
}

TEST(NucFilters, MapsReadAtStartFramesOfAnotherSizeAndEmptyFrames) {
    TempDir dir;
    writeMaps(dir.file("dark.yml"), {{"NUCDark", cv::Mat(3, 4, CV_16UC1, cv::Scalar(9))}});
    XEVNUC1Point one(dir.file("dark.yml"), 4, 3, 0, 0, 4);
    XEVNUC2Points nuc(dir.file("missing.yml"), 4, 3, 0, 0, 4);
    cv::Mat out, none;
    EXPECT_FALSE(one.process(cv::Mat(3, 4, CV_16UC1, cv::Scalar(9)), none, {})) << "before onStart";
    one.onStart();
    ASSERT_TRUE(one.process(cv::Mat(3, 4, CV_16UC1, cv::Scalar(9)), out, {}));
    EXPECT_EQ(cv::countNonZero(out != 1000), 0) << out;
    // A frame larger than the maps would be read past them.
    EXPECT_FALSE(nuc.process(cv::Mat(4, 4, CV_16UC1, cv::Scalar(9)), none, {}));
    EXPECT_FALSE(nuc.process(cv::Mat(3, 5, CV_16UC1, cv::Scalar(9)), none, {}));
    EXPECT_TRUE(none.empty());
    ASSERT_TRUE(nuc.process(cv::Mat(0, 4, CV_16UC1), out, {}));
    EXPECT_TRUE(out.empty() && out.type() == CV_16UC1);
}

TEST(AutomaticGainControl, SpanOfAtLeast300AndCountsBeyondSixteenBits) {
    XEVAutomaticGainControl agc(14, 4);
    cv::Mat out, frame(20, 20, CV_16UC1, cv::Scalar(1200));
    frame.rowRange(0, 10).setTo(1000);                  // 200 pixels at 1000, 200 at 1200
    ASSERT_TRUE(agc.process(frame, out, origin(1, 1))); // all pixels counted
    EXPECT_EQ(std::make_pair(agc.low(), agc.high()), std::make_pair(1000, 1300));
    EXPECT_EQ(out.at<uint8_t>(19, 19), 170); // 200 / 300 * 255
    // 65536 pixels in one bin: a 16-bit counter would hold 0.
    ASSERT_TRUE(agc.process(cv::Mat(256, 256, CV_16UC1, cv::Scalar(7000)), out, origin(1, 1)));
    EXPECT_EQ(std::make_pair(agc.low(), agc.high()), std::make_pair(7000, 7300));
}

TEST(AGCROI, CentredWindowsBoundsOnANewSizeAndAWindowOutsideTheFrame) {
    const struct {
        int mode, cols, rows;
        cv::Rect window;
    } cases[] = {{0, 641, 513, {161, 129, 321, 257}},
                 {1, 641, 512, {241, 192, 161, 128}},
                 {0, 1, 1, {1, 1, 1, 1}}};
    cv::Mat out;
    for (const auto& c : cases) {
        XEVAGCROI agc(c.mode, 4);
        ASSERT_TRUE(agc.process(cv::Mat(c.rows, c.cols, CV_16UC1, cv::Scalar(3)), out, {}));
        EXPECT_EQ(agc.window(), c.window) << c.mode << " " << c.cols << "x" << c.rows;
    }
    // Bounds of a frame of another size start again from 0..16383: 5000 gives
    // 77.8, not the 0 of 5000..5300.
    XEVAGCROI agc(0, 4);
    ASSERT_TRUE(agc.process(cv::Mat(32, 48, CV_16UC1, cv::Scalar(5000)), out, {}));
    ASSERT_TRUE(agc.process(cv::Mat(34, 48, CV_16UC1, cv::Scalar(5000)), out, {}));
    EXPECT_EQ(out.at<uint8_t>(0, 0), 78);
    // Counting nothing: the first bin and the last the top tail starts from.
    XEVAGCROICustom outside(100, 100, 10, 10, 4);
    ASSERT_TRUE(outside.process(cv::Mat(20, 20, CV_16UC1, cv::Scalar(900)), out, {}));
    EXPECT_EQ(std::make_pair(outside.low(), outside.high()), std::make_pair(0, 16382));
}

TEST(Gamma, ThresholdsAtBothEnds) {
    // Threshold 255: the plain curve (i / 255)^0.5 * 255 (1: 15.97, 100: 159.7).
    const XEVGamma plain(0.5, 255, 4), zero(2.0, 0, 4);
    EXPECT_EQ(std::vector<int>({plain.table()[1], plain.table()[100], plain.table()[255]}),
              std::vector<int>({16, 160, 255}));
    // Threshold 0: level 0 has no defined value and gives 0.
    EXPECT_EQ(std::make_pair(int(zero.table()[0]), int(zero.table()[255])), std::make_pair(0, 255));
}

TEST(BPR, ReplacesBadPixelsInsideTheFrameOnly) {
    TempDir dir;
    // Window 6 x 4 at (10, 20) on the sensor; rows x, y, x1, y1, x2, y2: frame
    // (2, 1) from its left and right, a pixel left of the window, one with a
    // neighbour below the frame, and frame (4, 2) from above and below.
    const cv::Mat map =
        cv::Mat_<uint16_t>({4, 6}, {12, 21, 11, 21, 13, 21, 9,  21, 10, 21, 11, 21,
                                    12, 23, 12, 22, 12, 24, 14, 22, 14, 21, 14, 23});
    writeMaps(dir.file("bp.yml"), {{"BPmap", map}});
    XEVBPR bpr(dir.file("bp.yml"), 6, 4, 10, 20, 4);
    cv::Mat out,
        frame = eachPixel<uint16_t>({6, 4}, [](int r, int c) { return 100 + 18 * r + 3 * c; });
    frame.at<uint16_t>(1, 3) = 128;
    ASSERT_TRUE(bpr.process(frame, out, {}));
    cv::Mat expected = frame.clone();
    expected.at<uint16_t>(1, 2) = 124; // (121 + 128) / 2 = 124.5, truncated
    expected.at<uint16_t>(2, 4) = 148; // (1, 4) = 130 and (3, 4) = 166
    EXPECT_EQ(differences(out, expected), 0) << out;
    // A smaller frame: the rows whose pixels fall outside it are skipped.
    const cv::Mat small = frame(cv::Rect(0, 0, 3, 2)).clone();
    ASSERT_TRUE(bpr.process(small, out, {}));
    EXPECT_EQ(differences(out, small), 0);
}

TEST(Demosaicing, LabelLayoutPerBayerCode) {
    for (int code = XEVDemosaicing::BayerBG; code <= XEVDemosaicing::BayerGR; ++code) {
        XEVDemosaicing demosaicing(10, 8, 1.0f, XEVDemosaicing::Epattern(code), 14, 4);
        const cv::Mat& labels = demosaicing.labelMap();
        ASSERT_EQ(labels.size(), cv::Size(10, 8));
        for (int r = 0; r < 8; ++r) // every row, the last one included
            for (int c = 0; c < 10; ++c)
                ASSERT_EQ(labels.at<uint8_t>(r, c), BayerLabels[code - 46][r % 2 * 2 + c % 2])
                    << code << " " << r << "," << c;
    }
}

TEST(Demosaicing, OnStartRestoresTheInitialStateAndOtherSizesAreDropped) {
    XEVDemosaicing demosaicing(21, 14, 1.0f, 4);
    cv::Mat out, none;
    ASSERT_TRUE(demosaicing.process(randomWords(14, 21, 3000, 9000, 1), out, {}));
    EXPECT_NE(demosaicing.high(1), 16383);
    demosaicing.onStart();
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(demosaicing.low(c) == 0 && demosaicing.high(c) == 16383 &&
                    demosaicing.mean(c) == 8191.0)
            << c;
    EXPECT_FALSE(demosaicing.process(cv::Mat(14, 20, CV_16UC1, cv::Scalar(0)), none, {}));
    EXPECT_FALSE(demosaicing.process(cv::Mat(13, 21, CV_16UC1, cv::Scalar(0)), none, {}));
    EXPECT_TRUE(none.empty());
}

TEST(StageSettings, RefusedWithExactMessages) {
    TempDir dir;
    const std::string small = dir.file("small.yml"), garbage = dir.file("garbage.yml"),
                      five = dir.file("five.yml");
    writeMaps(small, {{"NUCDark", cv::Mat(6, 8, CV_16UC1, cv::Scalar(0))},
                      {"GainMap", cv::Mat(6, 8, CV_32FC3, cv::Scalar::all(1))}});
    writeMaps(five, {{"BPmap", cv::Mat(3, 5, CV_16UC1, cv::Scalar(1))}});
    std::ofstream(garbage) << "%YAML:1.0\nNUCDark: [ unterminated\n";
    const auto on = [](const char* stage, const std::string& file) {
        return "Error : For " + std::string(stage) + "(" + file + "), ";
    };
    const std::string agc = "Error : For XEVAutomaticGainControl, bit depth(";
    const std::string roi = "Error : For XEVAGCROI, mode(", dem = "Error : For XEVDemosaicing, ";
    const std::string unread = "the map file cannot be read: ";
    const auto bayer = [](int code, unsigned bits) {
        XEVDemosaicing(8, 8, 1.0f, XEVDemosaicing::Epattern(code), bits, 4);
    };
    const struct {
        std::function<void()> make;
        std::string message; // the start of the message when it ends in ": "
    } cases[] = {
        {[] { XEVAutomaticGainControl(7, 4); }, agc + "7) must be between 8 and 16."},
        {[] { XEVAutomaticGainControl(17, 4); }, agc + "17) must be between 8 and 16."},
        {[] { XEVAGCROI(2, 4); }, roi + "2) must be 0 or 1."},
        {[] { XEVAGCROI(-1, 4); }, roi + "-1) must be 0 or 1."},
        {[] { XEVManualAGC(4, 1500, 1500); },
         "Error : For XEVManualAGC, low(1500) and high(1500) must differ."},
        {[] { XEVDemosaicing(5, 8, 1.0f, 4); }, dem + "frame size(5x8) must be at least 6x6."},
        {[] { XEVDemosaicing(8, 5, 1.0f, 4); }, dem + "frame size(8x5) must be at least 6x6."},
        {[&] { bayer(45, 14); }, dem + "Bayer pattern(45) must be 46, 47, 48 or 49."},
        {[&] { bayer(50, 14); }, dem + "Bayer pattern(50) must be 46, 47, 48 or 49."},
        {[&] { bayer(46, 17); }, dem + "bit depth(17) must be between 1 and 16."},
        {[&] { bayer(46, 0); }, dem + "bit depth(0) must be between 1 and 16."},
        {[&] { XEVNUC1Point(small, 4, 3, 5, 0, 4).onStart(); }, // not at construction
         on("XEVNUC1Point", small) + "map NUCDark of 8x6 does not hold the window 4x3 at (5,0)."},
        {[&] { XEVNUC1Point(small, 4, 3, 0, 4, 4).onStart(); },
         on("XEVNUC1Point", small) + "map NUCDark of 8x6 does not hold the window 4x3 at (0,4)."},
        {[&] { XEVNUC2Points(small, 4, 3, 2, 1, 4); },
         on("XEVNUC2Points", small) + "map GainMap of 8x6 does not hold the window 4x3 at (2,1)."},
        {[&] { XEVNUCDoubleOnePoint(small, 4, 3, 2, 1, 4); },
         on("XEVNUCDoubleOnePoint", small) +
             "map NUCDarkOdd of 0x0 does not hold the window 4x3 at (2,1)."},
        {[&] { XEVNUCDoubleTwoPoints(small, 4, -1, 2, 1, 4); },
         on("XEVNUCDoubleTwoPoints", small) + "window 4x-1 at (2,1) is not a rectangle."},
        {[&] { XEVNUC2Points(garbage, 4, 3, 0, 0, 4); }, on("XEVNUC2Points", garbage) + unread},
        {[&] { XEVBPR(five, 4, 4, 0, 0, 4); },
         on("XEVBPR", five) + "BPmap must have 6 columns, not 5."},
        {[&] { XEVBPR(garbage, 4, 4, 0, 0, 4); }, on("XEVBPR", garbage) + unread},
    };
    for (const auto& c : cases) {
        const std::string message = XEVTest::messageOf(c.make);
        const bool prefix = c.message.compare(c.message.size() - 2, 2, ": ") == 0;
        EXPECT_EQ(prefix ? message.substr(0, c.message.size()) : message, c.message);
    }
    EXPECT_NO_THROW(XEVAutomaticGainControl(8, 4); XEVAutomaticGainControl(16, 4); XEVAGCROI(1, 4);
                    XEVDemosaicing(6, 6, 1.0f, XEVDemosaicing::BayerGR, 1, 4));
}
