// Small frames whose expected output is worked out by hand in the comments,
// the settings each stage refuses, and what a reference cannot show (label
// layouts, centred windows, the state a stage starts from).
// StageReferenceTest.cpp runs every stage on larger frames.
#include "FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAGCROICustom.h"
#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVColorMap.h"
#include "XEVDemosaicing.h"
#include "XEVGamma.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"
#include "toolbox/PixelKernels.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp> // the Bayer conversion codes

#include <fstream>
#include <functional>
#include <limits>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

TEST(NucOnePoint, PedestalAndClampingWithTheMapReadAtStart) {
    TempDir dir;
    writeMaps(
        dir.file("nuc.yml"),
        {{"NUCDark", eachPixel<uint16_t>({8, 6}, [](int r, int c) { return 2000 + 10 * r + c; })}});
    XEVNUC1Point nuc(dir.file("nuc.yml"), 4, 3, 2, 1, 4);
    cv::Mat out;
    const cv::Mat frame =
        words({{2012, 1013, 1013, 17400}, {0, 2023, 65535, 2025}, {2032, 2033, 2034, 2035}});
    EXPECT_FALSE(nuc.process(frame, out, {})) << "maps are loaded by onStart only";
    nuc.onStart();
    EXPECT_EQ(nuc.darkMap().at<uint16_t>(0, 0), 2012); // sensor (2, 1)
    ASSERT_TRUE(nuc.process(frame, out, {}));
    // dark: 2012 2013 2014 2015 / 2022 2023 2024 2025 / 2032 2033 2034 2035;
    // 1013 - 2013 + 1000 is exactly 0, 1013 - 2014 + 1000 one below.
    const cv::Mat expected =
        words({{1000, 0, 0, 16383}, {0, 1000, 16383, 1000}, {1000, 1000, 1000, 1000}});
    EXPECT_EQ(differences(out, expected), 0) << out;
}

TEST(NucTwoPoints, RoundsHalfToEvenAndClamps) {
    TempDir dir;
    cv::Mat dark = cv::Mat::zeros(6, 8, CV_16UC1), gain = cv::Mat::ones(6, 8, CV_32FC1);
    // Window pixel (row, col) is sensor (row + 1, col + 2).
    const struct {
        int row, col, dark;
        float gain;
    } pixels[] = {{0, 0, 1000, 1.5f},  // 3000: 2000 * 1.5 + 1000 = 4000
                  {0, 1, 100, 0.25f},  // 102: 1000.5 to even, 1000
                  {0, 2, 100, 0.25f},  // 106: 1001.5 to even, 1002
                  {1, 0, 101, 0.5f},   // 100: 999.5 to even, 1000
                  {1, 1, 103, 0.5f},   // 100: 998.5 to even, 998
                  {1, 2, 5000, 1.0f}}; // 2000: -3000 + 1000 clamps to 0
    for (const auto& p : pixels) {
        dark.at<uint16_t>(p.row + 1, p.col + 2) = uint16_t(p.dark);
        gain.at<float>(p.row + 1, p.col + 2) = p.gain;
    }
    writeMaps(dir.file("nuc2.yml"), {{"NUCDark", dark}, {"GainMap", gain}});
    XEVNUC2Points nuc(dir.file("nuc2.yml"), 3, 2, 2, 1, 4);
    cv::Mat out;
    ASSERT_TRUE(nuc.process(words({{3000, 102, 106}, {100, 100, 2000}}), out, {}));
    EXPECT_EQ(differences(out, words({{4000, 1000, 1002}, {1000, 998, 0}})), 0) << out;

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

TEST(NucDoubleVariants, PickTheMapsByTheFirstPixel) {
    TempDir dir;
    const auto flat = [](int type, double v) { return cv::Mat(6, 8, type, cv::Scalar(v)); };
    writeMaps(dir.file("double.yml"), {{"NUCDarkOdd", flat(CV_16UC1, 100)},
                                       {"NUCDarkEven", flat(CV_16UC1, 300)},
                                       {"GainMapOdd", flat(CV_32FC1, 2.0)},
                                       {"GainMapEven", flat(CV_32FC1, 0.5)}});
    XEVNUCDoubleOnePoint one(dir.file("double.yml"), 4, 3, 2, 1, 4);
    XEVNUCDoubleTwoPoints two(dir.file("double.yml"), 4, 3, 2, 1, 4);
    // First pixel odd, the others even: the odd maps everywhere.
    cv::Mat frame(3, 4, CV_16UC1, cv::Scalar(700)), a, b;
    frame.at<uint16_t>(0, 0) = 701;
    ASSERT_TRUE(one.process(frame, a, {}) && two.process(frame, b, {}));
    EXPECT_EQ(a.at<uint16_t>(0, 0), 1601); // 701 - 100 + 1000
    EXPECT_EQ(a.at<uint16_t>(2, 3), 1600);
    EXPECT_EQ(b.at<uint16_t>(0, 0), 2202); // (701 - 100) * 2 + 1000
    EXPECT_EQ(b.at<uint16_t>(1, 1), 2200);
    // First pixel even, another odd: the even maps; 1200.5 to even.
    frame.at<uint16_t>(0, 0) = 700;
    frame.at<uint16_t>(1, 1) = 701;
    ASSERT_TRUE(two.process(frame, b, {}));
    EXPECT_EQ(b.at<uint16_t>(1, 1), 1200); // (701 - 300) * 0.5 + 1000
}

TEST(NucFilters, NoMapFileFramesOfAnotherSizeAndEmptyFrames) {
    TempDir dir;
    XEVNUC2Points nuc(dir.file("missing.yml"), 4, 3, 0, 0, 4);
    cv::Mat out, none;
    // Without a map file the gain is 0: every pixel is the pedestal.
    ASSERT_TRUE(nuc.process(randomWords(3, 4, 0, 65535, 3), out, {}));
    EXPECT_EQ(cv::countNonZero(out != 1000), 0) << out;
    // A frame larger than the maps would be read past them.
    EXPECT_FALSE(nuc.process(cv::Mat(4, 4, CV_16UC1, cv::Scalar(9)), none, {}));
    EXPECT_FALSE(nuc.process(cv::Mat(3, 5, CV_16UC1, cv::Scalar(9)), none, {}));
    EXPECT_TRUE(none.empty());
    ASSERT_TRUE(nuc.process(cv::Mat(0, 4, CV_16UC1), out, {}));
    EXPECT_EQ(out.total(), 0u);
    EXPECT_EQ(out.type(), CV_16UC1);
}

TEST(AutomaticGainControl, BoundsAndStretch) {
    // A frame of n pixels at a followed by pixels at b.
    const auto levels = [](int rows, int cols, int type, int a, int n, int b) {
        cv::Mat m(rows, cols, type, cv::Scalar(b));
        m.reshape(1, 1).colRange(0, n).setTo(a);
        return m;
    };
    cv::Mat midpoint = levels(21, 20, CV_16UC1, 1000, 210, 3000);
    midpoint.at<uint16_t>(15, 0) = 2000; // (2000 - 1000) / 2000 * 255 = 127.5, to even
    const struct {
        const char* name;
        cv::Mat frame;
        int low, high;
        std::vector<std::pair<int, int>> checks; // pixel index -> output
    } cases[] = {
        // 200 / 300 * 255 = 170; 8192 / 16383 * 255 = 127.5 + 0.0078 -> 128; 240 / 300 * 255 = 204
        {"uniform, span rule", cv::Mat(20, 20, CV_16UC1, cv::Scalar(5000)), 5000, 5300, {{0, 0}}},
        {"two levels", levels(20, 20, CV_16UC1, 1000, 200, 3000), 1000, 3000, {{0, 0}, {399, 255}}},
        {"span raised to 300", levels(20, 20, CV_16UC1, 1000, 200, 1200), 1000, 1300, {{399, 170}}},
        {"under 200 pixels", levels(10, 10, CV_16UC1, 8192, 50, 16383), 0, 16383, {{0, 128}}},
        {"8-bit", levels(20, 20, CV_8UC1, 10, 200, 250), 10, 310, {{399, 204}}},
        // 65536 pixels in one bin: a 16-bit counter would hold 0.
        {"65536 in a bin", cv::Mat(256, 256, CV_16UC1, cv::Scalar(7000)), 7000, 7300, {}},
        {"midpoint", midpoint, 1000, 3000, {{300, 128}}},
    };
    for (const auto& c : cases) {
        XEVAutomaticGainControl agc(14, 4);
        cv::Mat out;
        ASSERT_TRUE(agc.process(c.frame, out, origin(1, 1))) << c.name; // all pixels counted
        EXPECT_EQ(agc.low(), c.low) << c.name;
        EXPECT_EQ(agc.high(), c.high) << c.name;
        ASSERT_EQ(out.type(), CV_8UC1);
        for (const auto& check : c.checks)
            EXPECT_EQ(int(out.at<uint8_t>(check.first)), check.second) << c.name;
    }
}

TEST(AGCROI, CentredWindowsAndAWindowOutsideTheFrame) {
    const struct {
        int mode, cols, rows;
        cv::Rect window;
    } cases[] = {
        {0, 640, 512, {160, 128, 320, 256}},
        {0, 641, 513, {161, 129, 321, 257}},
        {1, 640, 512, {240, 192, 160, 128}},
        {1, 641, 512, {241, 192, 161, 128}},
        {0, 1, 1, {1, 1, 1, 1}},
    };
    cv::Mat out;
    for (const auto& c : cases) {
        XEVAGCROI agc(c.mode, 4);
        ASSERT_TRUE(agc.process(cv::Mat(c.rows, c.cols, CV_16UC1, cv::Scalar(3)), out, {}));
        EXPECT_EQ(agc.window(), c.window) << c.mode << " " << c.cols << "x" << c.rows;
    }
    // Counting nothing: the first bin and the last the top tail starts from.
    XEVAGCROICustom outside(100, 100, 10, 10, 4);
    ASSERT_TRUE(outside.process(cv::Mat(20, 20, CV_16UC1, cv::Scalar(900)), out, {}));
    EXPECT_EQ(outside.low(), 0);
    EXPECT_EQ(outside.high(), 16382);
}

TEST(ManualAGC, Stretch) {
    XEVManualAGC agc(4, 1000, 2000);
    cv::Mat out;
    ASSERT_TRUE(agc.process(words({{0, 1000, 1500, 2000, 2500, 65535}}), out, {}));
    EXPECT_EQ(differences(out, cv::Mat_<uint8_t>({1, 6}, {0, 0, 128, 255, 255, 255})), 0) << out;
    XEVManualAGC bytes(4, 10, 20);
    ASSERT_TRUE(bytes.process(cv::Mat_<uint8_t>({1, 2}, {15, 17}), out, {}));
    EXPECT_EQ(differences(out, cv::Mat_<uint8_t>({1, 2}, {128, 178})), 0) << "127.5, 178.5";
}

TEST(ByteStages, GammaTablesAndJet) {
    const struct {
        double gamma;
        int threshold;
        std::vector<std::pair<int, int>> entries;
    } cases[] = {
        // Around 128: (i / 128)^2 * 128 below, 255 - ((255 - i) / 127)^2 * 127 above.
        {2.0, 128, {{1, 0}, {64, 32}, {127, 126}, {128, 128}, {129, 130}, {192, 224}, {254, 255}}},
        // Threshold 255: the plain curve (i / 255)^0.5 * 255.
        {0.5, 255, {{0, 0}, {1, 16}, {64, 128}, {100, 160}, {200, 226}, {255, 255}}},
        // Threshold 0: level 0 has no defined value and gives 0.
        {2.0, 0, {{0, 0}, {255, 255}}},
        {1.0, 77, {{0, 0}, {76, 76}, {77, 77}, {78, 78}, {255, 255}}},
    };
    for (const auto& c : cases) {
        XEVGamma gamma(c.gamma, c.threshold, 4);
        for (const auto& entry : c.entries)
            EXPECT_EQ(int(gamma.table()[std::size_t(entry.first)]), entry.second)
                << c.gamma << "/" << c.threshold << " at " << entry.first;
    }
    // Jet: level 0 of a uniform frame is dark blue.
    cv::Mat out;
    ASSERT_TRUE(XEVColorMap(4, 2).process(cv::Mat(4, 4, CV_8UC1, cv::Scalar(0)), out, {}));
    EXPECT_EQ(out.at<cv::Vec3b>(1, 1), cv::Vec3b(128, 0, 0));
}

TEST(BPR, ReplacesBadPixelsInsideTheWindowOnly) {
    TempDir dir;
    // Window 6 x 4 at (10, 20) on the sensor; rows x, y, x1, y1, x2, y2: frame
    // (2, 1), then left, right and below the window, a neighbour left of and
    // one below the frame, and frame (4, 2).
    const cv::Mat map =
        cv::Mat_<uint16_t>({7, 6}, {12, 21, 11, 21, 13, 21, 9,  21, 10, 21, 11, 21, 16, 21,
                                    14, 21, 15, 21, 12, 24, 12, 23, 13, 23, 10, 20, 9,  20,
                                    11, 20, 15, 23, 14, 23, 15, 24, 14, 22, 14, 21, 14, 23});
    writeMaps(dir.file("bp.yml"), {{"BPmap", map}});
    XEVBPR bpr(dir.file("bp.yml"), 6, 4, 10, 20, 4);
    EXPECT_EQ(bpr.map().rows, 7);
    cv::Mat out,
        frame = eachPixel<uint16_t>({6, 4}, [](int r, int c) { return 100 + 18 * r + 3 * c; });
    ASSERT_TRUE(bpr.process(frame, out, {}));
    cv::Mat expected = frame.clone();
    expected.at<uint16_t>(1, 2) = 124; // (1,1) = 121 and (1,3) = 127
    expected.at<uint16_t>(2, 4) = 148; // (1,4) = 130 and (3,4) = 166
    EXPECT_EQ(differences(out, expected), 0) << out;
    frame.at<uint16_t>(1, 3) = 128;
    ASSERT_TRUE(bpr.process(frame, out, {}));
    EXPECT_EQ(out.at<uint16_t>(1, 2), 124); // 124.5 truncated
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
    EXPECT_EQ(int(XEVDemosaicing::BayerBG), cv::COLOR_BayerBG2BGR);
    EXPECT_EQ(int(XEVDemosaicing::BayerGR), cv::COLOR_BayerGR2BGR);
}

TEST(Demosaicing, FourPixelsSmallerFromTheInitialStateWhichOnStartRestores) {
    XEVDemosaicing demosaicing(21, 14, 1.0f, 4);
    EXPECT_EQ(demosaicing.levels(), 16384);
    const auto expectInitial = [&] {
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(demosaicing.low(c) == 0 && demosaicing.high(c) == 16383 &&
                        demosaicing.mean(c) == 8191.0)
                << c;
    };
    expectInitial();
    cv::Mat out, none;
    ASSERT_TRUE(demosaicing.process(randomWords(14, 21, 3000, 9000, 1), out, {}));
    EXPECT_NE(demosaicing.high(1), 16383);
    demosaicing.onStart();
    expectInitial();
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
    const std::string nuc1 = "Error : For XEVNUC1Point(" + small + "), map NUCDark of 8x6";
    const std::string agc = "Error : For XEVAutomaticGainControl, bit depth(";
    const std::string roi = "Error : For XEVAGCROI, mode(", dem = "Error : For XEVDemosaicing, ";
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
         nuc1 + " does not hold the window 4x3 at (5,0)."},
        {[&] { XEVNUC1Point(small, 4, 3, 0, 4, 4).onStart(); },
         nuc1 + " does not hold the window 4x3 at (0,4)."},
        {[&] { XEVNUC2Points(small, 4, 3, 2, 1, 4); },
         "Error : For XEVNUC2Points(" + small +
             "), map GainMap of 8x6 does not hold the window 4x3 at (2,1)."},
        {[&] { XEVNUCDoubleOnePoint(small, 4, 3, 2, 1, 4); },
         "Error : For XEVNUCDoubleOnePoint(" + small +
             "), map NUCDarkOdd of 0x0 does not hold the window 4x3 at (2,1)."},
        {[&] { XEVNUCDoubleTwoPoints(small, 4, -1, 2, 1, 4); },
         "Error : For XEVNUCDoubleTwoPoints(" + small +
             "), window 4x-1 at (2,1) is not a rectangle."},
        {[&] { XEVNUC2Points(garbage, 4, 3, 0, 0, 4); },
         "Error : For XEVNUC2Points(" + garbage + "), the map file cannot be read: "},
        {[&] { XEVBPR(five, 4, 4, 0, 0, 4); },
         "Error : For XEVBPR(" + five + "), BPmap must have 6 columns, not 5."},
        {[&] { XEVBPR(garbage, 4, 4, 0, 0, 4); },
         "Error : For XEVBPR(" + garbage + "), the map file cannot be read: "},
    };
    for (const auto& c : cases) {
        const std::string message = XEVTest::messageOf(c.make);
        const bool prefix = c.message.compare(c.message.size() - 2, 2, ": ") == 0;
        EXPECT_EQ(prefix ? message.substr(0, c.message.size()) : message, c.message);
    }
    EXPECT_NO_THROW(XEVAutomaticGainControl(8, 4));
    EXPECT_NO_THROW(XEVAutomaticGainControl(16, 4));
    EXPECT_NO_THROW(XEVAGCROI(1, 4));
    EXPECT_NO_THROW(XEVDemosaicing(6, 6, 1.0f, XEVDemosaicing::BayerGR, 1, 4));
}
