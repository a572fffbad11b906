#include "FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAGCROICustom.h"
#include "XEVAutomaticGainControl.h"
#include "XEVException.h"
#include "XEVManualAGC.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

// Straightforward versions of the formulas, for comparison.

struct RefBounds {
    int low;
    int high;
};

RefBounds referenceBounds(const std::vector<uint64_t>& histogram, int start) {
    const int bins = int(histogram.size());
    int low = 0;
    uint64_t sum = 0;
    for (int i = 0; i < bins; ++i) {
        sum += histogram[i];
        if (sum >= 200) {
            low = i;
            break;
        }
    }
    int top = start;
    sum = 0;
    for (int j = start; j >= 0; --j) {
        sum += histogram[j];
        if (sum >= 200) {
            top = j;
            break;
        }
    }
    return {low, top - low < 300 ? low + 300 : top};
}

uint8_t referenceStretch(double p, double low, double high) {
    double v = (p - low) / (high - low) * 255.0;
    v = std::rint(v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v));
    return uint8_t(v);
}

uint8_t referenceFloatStretch(int p, int low, int high) {
    const float v = (float(p) - float(low)) / float(high - low) * 255.0f;
    return cv::saturate_cast<uint8_t>(v);
}

double pixel(const cv::Mat& m, int r, int c) {
    return m.depth() == CV_16U ? m.at<uint16_t>(r, c) : m.at<uint8_t>(r, c);
}

cv::Mat referenceAutomatic(const cv::Mat& frame, unsigned bitDepth, const XEVFrameInfo& info,
                           RefBounds& bounds) {
    const int bins = frame.depth() == CV_16U ? (1 << bitDepth) : 256;
    std::vector<uint64_t> histogram(bins, 0);
    const int c0 = info.offsetX == 0 ? 1 : 0, c1 = info.offsetX == 0 ? frame.cols - 2 : frame.cols;
    const int r0 = info.offsetY == 0 ? 1 : 0, r1 = info.offsetY == 0 ? frame.rows - 2 : frame.rows;
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c)
            ++histogram[std::min(int(pixel(frame, r, c)), bins - 1)];
    bounds = referenceBounds(histogram, bins - 1);
    cv::Mat out(frame.size(), CV_8UC1);
    for (int r = 0; r < frame.rows; ++r)
        for (int c = 0; c < frame.cols; ++c)
            out.at<uint8_t>(r, c) = referenceStretch(pixel(frame, r, c), bounds.low, bounds.high);
    return out;
}

cv::Mat referenceWindowStretch(const cv::Mat& frame, int low, int high) {
    cv::Mat out(frame.size(), CV_8UC1);
    for (int r = 0; r < frame.rows; ++r)
        for (int c = 0; c < frame.cols; ++c)
            out.at<uint8_t>(r, c) = referenceFloatStretch(frame.at<uint16_t>(r, c), low, high);
    return out;
}

RefBounds referenceWindowBounds(const cv::Mat& frame, cv::Rect window) {
    window &= cv::Rect(0, 0, frame.cols, frame.rows);
    std::vector<uint64_t> histogram(16384, 0);
    for (int r = window.y; r < window.y + window.height; ++r)
        for (int c = window.x; c < window.x + window.width; ++c)
            ++histogram[std::min<int>(frame.at<uint16_t>(r, c), 16383)];
    return referenceBounds(histogram, 16382);
}

/// A frame of @p firstCount pixels of @p first followed by pixels of @p second.
cv::Mat twoLevels(int rows, int cols, int depth, int first, int firstCount, int second) {
    cv::Mat m(rows, cols, CV_MAKETYPE(depth, 1));
    for (int i = 0; i < rows * cols; ++i) {
        const int v = i < firstCount ? first : second;
        if (depth == CV_16U)
            m.at<uint16_t>(i / cols, i % cols) = uint16_t(v);
        else
            m.at<uint8_t>(i / cols, i % cols) = uint8_t(v);
    }
    return m;
}

void expectRefusal(const std::function<void()>& make, const std::string& message) {
    try {
        make();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const XEVException& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

} // namespace

TEST(AutomaticGainControl, HandComputedBoundsAndStretch) {
    struct Case {
        const char* name;
        cv::Mat frame;
        XEVFrameInfo info;
        int low, high;
        std::vector<std::pair<int, int>> checks; // pixel index -> output
    };
    const Case cases[] = {
        {"uniform, 17x17 counted: span rule",
         cv::Mat(20, 20, CV_16UC1, cv::Scalar(5000)),
         infoAt(0, 0),
         5000,
         5300,
         {{0, 0}, {399, 0}}},
        {"two levels",
         twoLevels(20, 20, CV_16U, 1000, 200, 3000),
         infoAt(1, 1),
         1000,
         3000,
         {{0, 0}, {399, 255}}},
        {"narrow span raised to 300",
         twoLevels(20, 20, CV_16U, 1000, 200, 1200),
         infoAt(1, 1),
         1000,
         1300,
         {{0, 0}, {399, 170}}},
        {"fewer than 200 pixels: whole range",
         twoLevels(10, 10, CV_16U, 8192, 50, 16383),
         infoAt(1, 1),
         0,
         16383,
         {{0, 128}, {99, 255}}},
        {"8-bit input",
         twoLevels(20, 20, CV_8U, 10, 200, 250),
         infoAt(1, 1),
         10,
         310,
         {{0, 0}, {399, 204}}},
        // 65536 pixels in one bin: a 16-bit counter would hold 0.
        {"one bin of 65536 pixels",
         cv::Mat(256, 256, CV_16UC1, cv::Scalar(7000)),
         infoAt(2, 3),
         7000,
         7300,
         {{0, 0}}},
    };
    for (const Case& c : cases) {
        XEVAutomaticGainControl agc(14, 4);
        cv::Mat out;
        ASSERT_TRUE(agc.process(c.frame, out, c.info)) << c.name;
        EXPECT_EQ(agc.low(), c.low) << c.name;
        EXPECT_EQ(agc.high(), c.high) << c.name;
        ASSERT_EQ(out.type(), CV_8UC1);
        ASSERT_EQ(out.size(), c.frame.size());
        for (const auto& check : c.checks)
            EXPECT_EQ(int(out.at<uint8_t>(check.first / out.cols, check.first % out.cols)),
                      check.second)
                << c.name << " pixel " << check.first;
    }
}

TEST(AutomaticGainControl, TwoLevelsMidpointRoundsHalfToEven) {
    XEVAutomaticGainControl agc(14, 4);
    cv::Mat frame = twoLevels(21, 20, CV_16U, 1000, 210, 3000);
    frame.at<uint16_t>(15, 0) = 2000; // (1000 / 2000) * 255 = 127.5
    cv::Mat out;
    ASSERT_TRUE(agc.process(frame, out, infoAt(1, 1)));
    EXPECT_EQ(agc.low(), 1000);
    EXPECT_EQ(agc.high(), 3000);
    EXPECT_EQ(out.at<uint8_t>(15, 0), 128);
}

TEST(AutomaticGainControl, RandomFramesMatchTheFormula) {
    struct Case {
        unsigned bitDepth;
        int depth;
        int maxValue;
        XEVFrameInfo info;
    };
    const Case cases[] = {{14, CV_16U, 16383, infoAt(0, 0)}, {14, CV_16U, 20000, infoAt(3, 0)},
                          {12, CV_16U, 5000, infoAt(0, 5)},  {16, CV_16U, 65535, infoAt(2, 2)},
                          {8, CV_16U, 400, infoAt(0, 0)},    {14, CV_8U, 255, infoAt(0, 0)}};
    uint32_t seed = 100;
    for (const Case& c : cases) {
        XEVAutomaticGainControl agc(c.bitDepth, 4);
        for (int round = 0; round < 3; ++round) {
            // A narrow random band so that the bounds fall inside the range.
            const int centre = c.maxValue / 2;
            cv::Mat frame = c.depth == CV_16U ? randomWords(37, 53, centre / 2, c.maxValue, ++seed)
                                              : randomBytes(37, 53, ++seed);
            RefBounds bounds;
            const cv::Mat expected = referenceAutomatic(frame, c.bitDepth, c.info, bounds);
            cv::Mat out;
            ASSERT_TRUE(agc.process(frame, out, c.info));
            EXPECT_EQ(agc.low(), bounds.low) << c.bitDepth << " " << c.maxValue;
            EXPECT_EQ(agc.high(), bounds.high) << c.bitDepth << " " << c.maxValue;
            EXPECT_EQ(differences(out, expected), 0) << c.bitDepth << " " << c.maxValue;
        }
    }
}

TEST(AutomaticGainControl, WindowLeavesOutTheBorderOnlyAtOriginZero) {
    // Border pixels are far off; only the counted window decides the bounds.
    cv::Mat frame(40, 40, CV_16UC1, cv::Scalar(4000));
    frame.col(0).setTo(100);
    frame.colRange(38, 40).setTo(100);
    frame.row(0).setTo(100);
    frame.rowRange(38, 40).setTo(100);
    XEVAutomaticGainControl agc(14, 4);
    cv::Mat out;
    ASSERT_TRUE(agc.process(frame, out, infoAt(0, 0)));
    EXPECT_EQ(agc.low(), 4000);
    ASSERT_TRUE(agc.process(frame, out, infoAt(5, 0))); // adds columns 0, 38, 39: 111 pixels
    EXPECT_EQ(agc.low(), 4000);
    ASSERT_TRUE(agc.process(frame, out, infoAt(5, 7))); // all 1600 - 1369 = 231 border pixels
    EXPECT_EQ(agc.low(), 100);
}

TEST(AutomaticGainControl, OtherTypesAreNotHandled) {
    XEVAutomaticGainControl agc(14, 4);
    cv::Mat out;
    EXPECT_FALSE(agc.process(cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(1)), out, XEVFrameInfo()));
    EXPECT_FALSE(agc.process(cv::Mat(4, 4, CV_32FC1, cv::Scalar(1)), out, XEVFrameInfo()));
    EXPECT_TRUE(out.empty());
}

TEST(GainControlRefusals, ExactMessages) {
    expectRefusal([] { XEVAutomaticGainControl(7, 4); },
                  "Error : For XEVAutomaticGainControl, bit depth(7) must be between 8 and 16.");
    expectRefusal([] { XEVAutomaticGainControl(17, 4); },
                  "Error : For XEVAutomaticGainControl, bit depth(17) must be between 8 and 16.");
    expectRefusal([] { XEVAGCROI(2, 4); }, "Error : For XEVAGCROI, mode(2) must be 0 or 1.");
    expectRefusal([] { XEVAGCROI(-1, 4); }, "Error : For XEVAGCROI, mode(-1) must be 0 or 1.");
    expectRefusal([] { XEVManualAGC(4, 1500, 1500); },
                  "Error : For XEVManualAGC, low(1500) and high(1500) must differ.");
    EXPECT_NO_THROW(XEVAutomaticGainControl(8, 4));
    EXPECT_NO_THROW(XEVAutomaticGainControl(16, 4));
    EXPECT_NO_THROW(XEVAGCROI(1, 4));
}

TEST(AGCROI, CentredWindows) {
    struct Case {
        int mode, cols, rows;
        cv::Rect window;
    };
    const Case cases[] = {
        {0, 640, 512, cv::Rect(160, 128, 320, 256)},
        {0, 641, 513, cv::Rect(161, 129, 321, 257)},
        {1, 640, 512, cv::Rect(240, 192, 160, 128)},
        {1, 641, 512, cv::Rect(241, 192, 161, 128)},
        {0, 1, 1, cv::Rect(1, 1, 1, 1)},
    };
    for (const Case& c : cases) {
        XEVAGCROI agc(c.mode, 4);
        cv::Mat out;
        ASSERT_TRUE(
            agc.process(cv::Mat(c.rows, c.cols, CV_16UC1, cv::Scalar(3000)), out, XEVFrameInfo()));
        EXPECT_EQ(agc.window(), c.window) << c.mode << " " << c.cols << "x" << c.rows;
    }
}

TEST(AGCROI, OneFrameDelayAndResetOnFormatChange) {
    XEVAGCROI agc(0, 4);
    cv::Mat out;
    cv::Mat frame(40, 40, CV_16UC1, cv::Scalar(5000));
    frame.at<uint16_t>(0, 0) = 5150;
    // First frame: 0..16383. 5000 / 16383 * 255 = 77.8 -> 78.
    ASSERT_TRUE(agc.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint8_t>(5, 5), 78);
    EXPECT_EQ(agc.low(), 5000); // measured on the 20x20 window, for the next frame
    EXPECT_EQ(agc.high(), 5300);
    // Second frame uses them: 150 / 300 * 255 = 127.5 -> 128.
    ASSERT_TRUE(agc.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint8_t>(5, 5), 0);
    EXPECT_EQ(out.at<uint8_t>(0, 0), 128);
    // A new frame size starts over at 0..16383.
    cv::Mat taller(42, 40, CV_16UC1, cv::Scalar(5000));
    ASSERT_TRUE(agc.process(taller, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint8_t>(5, 5), 78);
    // 16-bit only.
    EXPECT_FALSE(agc.process(cv::Mat(40, 40, CV_8UC1, cv::Scalar(1)), out, XEVFrameInfo()));
}

TEST(AGCROI, RandomFramesMatchTheFormula) {
    for (int mode = 0; mode < 2; ++mode) {
        XEVAGCROI agc(mode, 4);
        XEVAGCROICustom custom(7, 3, 30, 200, 4); // partly outside the frame
        int low = 0, high = 16383, customLow = 0, customHigh = 16383;
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            const cv::Mat frame = randomWords(61, 83, 2000, 9000 + 2000 * int(seed), seed);
            cv::Mat out;
            ASSERT_TRUE(agc.process(frame, out, XEVFrameInfo()));
            EXPECT_EQ(differences(out, referenceWindowStretch(frame, low, high)), 0);
            const RefBounds next = referenceWindowBounds(frame, agc.window());
            EXPECT_EQ(agc.low(), next.low);
            EXPECT_EQ(agc.high(), next.high);
            low = next.low;
            high = next.high;

            ASSERT_TRUE(custom.process(frame, out, XEVFrameInfo()));
            EXPECT_EQ(differences(out, referenceWindowStretch(frame, customLow, customHigh)), 0);
            const RefBounds customNext = referenceWindowBounds(frame, cv::Rect(7, 3, 30, 200));
            EXPECT_EQ(custom.low(), customNext.low);
            EXPECT_EQ(custom.high(), customNext.high);
            customLow = customNext.low;
            customHigh = customNext.high;
        }
    }
}

TEST(AGCROICustom, WindowOutsideTheFrameCountsNothing) {
    XEVAGCROICustom agc(100, 100, 10, 10, 4);
    cv::Mat out;
    ASSERT_TRUE(agc.process(cv::Mat(20, 20, CV_16UC1, cv::Scalar(900)), out, XEVFrameInfo()));
    EXPECT_EQ(agc.low(), 0);
    EXPECT_EQ(agc.high(), 16382);
}

TEST(ManualAGC, HandComputedStretch) {
    XEVManualAGC agc(4, 1000, 2000);
    cv::Mat out;
    ASSERT_TRUE(agc.process(words({{0, 1000, 1500, 2000, 2500, 65535}}), out, XEVFrameInfo()));
    const uint8_t expected[] = {0, 0, 128, 255, 255, 255};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out.at<uint8_t>(0, i), expected[i]) << i;

    XEVManualAGC bytes(4, 10, 20);
    cv::Mat frame8 = (cv::Mat_<uint8_t>(1, 4) << 9, 15, 17, 21);
    ASSERT_TRUE(bytes.process(frame8, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint8_t>(0, 1), 128); // 127.5
    EXPECT_EQ(out.at<uint8_t>(0, 2), 178); // 178.5, rounded to even
}

TEST(ManualAGC, RandomFramesMatchTheFormulaAndOtherTypesGetNoPixelWork) {
    XEVManualAGC agc(4, 1234.5, 9876.25);
    const cv::Mat frame = randomWords(33, 47, 0, 65535, 5);
    cv::Mat expected(frame.size(), CV_8UC1);
    for (int r = 0; r < frame.rows; ++r)
        for (int c = 0; c < frame.cols; ++c)
            expected.at<uint8_t>(r, c) =
                referenceStretch(frame.at<uint16_t>(r, c), 1234.5, 9876.25);
    cv::Mat out;
    ASSERT_TRUE(agc.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, expected), 0);

    cv::Mat untouched(5, 6, CV_8UC1, cv::Scalar(77));
    ASSERT_TRUE(agc.process(cv::Mat(5, 6, CV_32FC1, cv::Scalar(5000)), untouched, XEVFrameInfo()));
    EXPECT_EQ(cv::countNonZero(untouched != 77), 0);
}

TEST(StretchTables, MatchTheFormulaOnEveryValue) {
    // Every 16-bit value, including the exact ties (x.5) of round bounds.
    namespace d = XEVLibrary::XEVToolBox::detail;
    std::vector<uint8_t> table(65536);
    const std::pair<double, double> doubles[] = {
        {0, 16383},     {1000, 1300}, {1000, 2000},      {5000, 5300},
        {0, 300},       {123, 16683}, {1234.5, 9876.25}, {2000, 1000},
        {0.1, 0.2},     {-5, 70000},  {1e9, 1e9 + 1},    {3, 4},
        {16382, 16682}, {0, 510},     {7, 517},          {100.3, 65535.7}};
    for (const auto& b : doubles) {
        d::stretchRangeDouble(table.data(), 0, 65536, b.first, b.second);
        int wrong = 0;
        for (int i = 0; i < 65536; ++i)
            wrong += table[std::size_t(i)] != referenceStretch(i, b.first, b.second);
        EXPECT_EQ(wrong, 0) << b.first << " .. " << b.second;
    }
    // Integer bounds: tables filled only between the bounds.
    const std::pair<int, int> ints[] = {{0, 16383},     {1000, 1300}, {1000, 2000}, {0, 510},
                                        {16383, 16683}, {7, 517},     {200, 16382}, {0, 1},
                                        {65000, 65300}, {-10, 290}};
    for (const auto& b : ints) {
        d::fillStretchTable16(table.data(), b.first, b.second);
        int wrong = 0;
        for (int i = 0; i < 65536; ++i)
            wrong += table[std::size_t(i)] != referenceStretch(i, b.first, b.second);
        EXPECT_EQ(wrong, 0) << "double " << b.first << " .. " << b.second;
        d::fillFloatStretchTable16(table.data(), b.first, b.second);
        wrong = 0;
        for (int i = 0; i < 65536; ++i)
            wrong += table[std::size_t(i)] != referenceFloatStretch(i, b.first, b.second);
        EXPECT_EQ(wrong, 0) << "float " << b.first << " .. " << b.second;
    }
}
