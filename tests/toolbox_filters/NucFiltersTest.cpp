#include "FilterTestUtil.h"

#include "XEVException.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"
#include "toolbox/PixelKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

// Sensor 8 x 6, window 4 x 3 at (2, 1).
constexpr int SensorCols = 8, SensorRows = 6;
constexpr int WinX = 2, WinY = 1, WinW = 4, WinH = 3;

cv::Mat sensorWords(uint16_t base) {
    cv::Mat m(SensorRows, SensorCols, CV_16UC1);
    for (int r = 0; r < SensorRows; ++r)
        for (int c = 0; c < SensorCols; ++c)
            m.at<uint16_t>(r, c) = uint16_t(base + 10 * r + c);
    return m;
}

void writeMaps(const std::string& path,
               std::initializer_list<std::pair<const char*, cv::Mat>> maps) {
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    for (const auto& map : maps)
        file << map.first << map.second;
}

uint16_t referenceOnePoint(int in, int dark) {
    int v = in - dark + 1000;
    return uint16_t(v < 0 ? 0 : (v > 16383 ? 16383 : v));
}

uint16_t referenceTwoPoints(int in, int dark, float gain) {
    const float f = float(in - dark) * gain;
    const int v = int(std::rint(double(f) + 1000.0));
    return uint16_t(v < 0 ? 0 : (v > 16383 ? 16383 : v));
}

} // namespace

TEST(NucOnePoint, HandComputedFramesWithPedestalAndClamping) {
    TempDir dir;
    const std::string path = dir.file("nuc.yml");
    writeMaps(path, {{"NUCDark", sensorWords(2000)}});
    XEVNUC1Point nuc(path, WinW, WinH, WinX, WinY, 4);

    cv::Mat out;
    const cv::Mat frame =
        words({{2012, 1013, 1013, 17400}, {0, 2023, 65535, 2025}, {2032, 2033, 2034, 2035}});
    EXPECT_FALSE(nuc.process(frame, out, XEVFrameInfo())) << "maps are loaded by onStart only";
    nuc.onStart();
    ASSERT_EQ(nuc.darkMap().size(), cv::Size(WinW, WinH));
    EXPECT_EQ(nuc.darkMap().at<uint16_t>(0, 0), 2012); // sensor (2, 1)
    ASSERT_TRUE(nuc.process(frame, out, XEVFrameInfo()));
    // dark (window):  2012 2013 2014 2015 / 2022 2023 2024 2025 / 2032 2033 2034 2035
    const cv::Mat expected =
        words({{1000, 0, 0, 16383}, {0, 1000, 16383, 1000}, {1000, 1000, 1000, 1000}});
    EXPECT_EQ(differences(out, expected), 0) << out;
    // 1013 is 1000 below 2013 (exactly 0); 1013 vs 2014 is one more below.
    EXPECT_EQ(out.at<uint16_t>(0, 1), 0);
}

TEST(NucOnePoint, WithoutReadableFileAddsThePedestal) {
    TempDir dir;
    XEVNUC1Point nuc(dir.file("missing.yml"), 3, 2, 5, 7, 4);
    nuc.onStart();
    cv::Mat out;
    ASSERT_TRUE(nuc.process(words({{0, 15383, 15384}, {16383, 7, 65535}}), out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, words({{1000, 16383, 16383}, {16383, 1007, 16383}})), 0) << out;
}

TEST(NucTwoPoints, HandComputedRoundingAndClamping) {
    TempDir dir;
    const std::string path = dir.file("nuc2.yml");
    cv::Mat dark = cv::Mat::zeros(SensorRows, SensorCols, CV_16UC1);
    cv::Mat gain = cv::Mat::ones(SensorRows, SensorCols, CV_32FC1);
    // Window pixels (row, col) -> sensor (row + 1, col + 2).
    dark.at<uint16_t>(1, 2) = 1000;
    gain.at<float>(1, 2) = 1.5f; // 2000*1.5 -> 4000
    dark.at<uint16_t>(1, 3) = 100;
    gain.at<float>(1, 3) = 0.25f; // 2*.25 = .5 -> 1000 (even)
    dark.at<uint16_t>(1, 4) = 100;
    gain.at<float>(1, 4) = 0.25f; // 6*.25 = 1.5 -> 1002
    dark.at<uint16_t>(2, 2) = 101;
    gain.at<float>(2, 2) = 0.5f; // -1*.5 -> 999.5 -> 1000
    dark.at<uint16_t>(2, 3) = 103;
    gain.at<float>(2, 3) = 0.5f;    // -3*.5 -> 998.5 -> 998
    dark.at<uint16_t>(2, 4) = 5000; // -3000 -> 0
    writeMaps(path, {{"NUCDark", dark}, {"GainMap", gain}});
    XEVNUC2Points nuc(path, 3, 2, 2, 1, 4);
    ASSERT_EQ(nuc.gainMap().type(), CV_32FC1);
    cv::Mat out;
    ASSERT_TRUE(nuc.process(words({{3000, 102, 106}, {100, 100, 2000}}), out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, words({{4000, 1000, 1002}, {1000, 998, 0}})), 0) << out;
    ASSERT_TRUE(nuc.process(words({{20000, 102, 106}, {100, 100, 2000}}), out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(0, 0), 16383);
}

TEST(NucTwoPoints, WithoutReadableFileIsTheFlatPedestal) {
    TempDir dir;
    XEVNUC2Points nuc(dir.file("missing.yml"), 4, 2, 1, 1, 4);
    cv::Mat out;
    ASSERT_TRUE(nuc.process(randomWords(2, 4, 0, 65535, 3), out, XEVFrameInfo()));
    EXPECT_EQ(cv::countNonZero(out != 1000), 0) << out;
}

TEST(NucTwoPoints, KernelEdgeValuesStayDefined) {
    const float inf = std::numeric_limits<float>::infinity();
    const uint16_t in[] = {2, 2, 2, 2, 65535, 0};
    const uint16_t dark[] = {1, 1, 1, 1, 0, 65535};
    const float gain[] = {std::nanf(""), inf, -inf, 1e30f, 1e9f, 1e9f};
    uint16_t out[6];
    detail::nucTwoPoints(in, dark, gain, out, 6);
    EXPECT_EQ(out[0], 0);     // NaN
    EXPECT_EQ(out[1], 16383); // +inf
    EXPECT_EQ(out[2], 0);     // -inf
    EXPECT_EQ(out[3], 16383); // beyond the integer range
    EXPECT_EQ(out[4], 16383);
    EXPECT_EQ(out[5], 0);
}

TEST(NucDoubleVariants, PickMapsByTheFirstPixel) {
    TempDir dir;
    const std::string path = dir.file("double.yml");
    const cv::Mat darkOdd(SensorRows, SensorCols, CV_16UC1, cv::Scalar(100));
    const cv::Mat darkEven(SensorRows, SensorCols, CV_16UC1, cv::Scalar(300));
    const cv::Mat gainOdd(SensorRows, SensorCols, CV_32FC1, cv::Scalar(2.0));
    const cv::Mat gainEven(SensorRows, SensorCols, CV_32FC1, cv::Scalar(0.5));
    writeMaps(path, {{"NUCDarkOdd", darkOdd},
                     {"NUCDarkEven", darkEven},
                     {"GainMapOdd", gainOdd},
                     {"GainMapEven", gainEven}});
    XEVNUCDoubleOnePoint one(path, WinW, WinH, WinX, WinY, 4);
    XEVNUCDoubleTwoPoints two(path, WinW, WinH, WinX, WinY, 4);

    // First pixel odd, all others even: the odd maps apply everywhere.
    cv::Mat frame(WinH, WinW, CV_16UC1, cv::Scalar(700));
    frame.at<uint16_t>(0, 0) = 701;
    cv::Mat out;
    ASSERT_TRUE(one.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(0, 0), 1601);
    EXPECT_EQ(out.at<uint16_t>(2, 3), 1600);
    ASSERT_TRUE(two.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(0, 0), 2202); // (701 - 100) * 2 + 1000
    EXPECT_EQ(out.at<uint16_t>(1, 1), 2200);

    // First pixel even, another odd: the even maps.
    frame.at<uint16_t>(0, 0) = 700;
    frame.at<uint16_t>(1, 1) = 701;
    ASSERT_TRUE(one.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(0, 0), 1400);
    EXPECT_EQ(out.at<uint16_t>(1, 1), 1401);
    ASSERT_TRUE(two.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(0, 0), 1200); // (700 - 300) * 0.5 + 1000
    EXPECT_EQ(out.at<uint16_t>(1, 1), 1200); // 200.5 rounds to even
}

TEST(NucFilters, RandomFramesMatchTheFormula) {
    TempDir dir;
    const int cols = 77, rows = 31; // odd sizes exercise the vector tails
    const cv::Mat dark = randomWords(rows + 5, cols + 3, 0, 16383, 11);
    cv::Mat gain(rows + 5, cols + 3, CV_32FC1);
    cv::randu(gain, 0.25, 2.5);
    const std::string path = dir.file("random.yml");
    writeMaps(path, {{"NUCDark", dark},
                     {"GainMap", gain},
                     {"NUCDarkOdd", dark},
                     {"NUCDarkEven", dark},
                     {"GainMapOdd", gain},
                     {"GainMapEven", gain}});
    XEVNUC1Point one(path, cols, rows, 3, 5, 4);
    one.onStart();
    XEVNUC2Points two(path, cols, rows, 3, 5, 4);
    XEVNUCDoubleTwoPoints doubleTwo(path, cols, rows, 3, 5, 4);

    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const cv::Mat frame = randomWords(rows, cols, 0, 18000, seed);
        cv::Mat expectedOne(rows, cols, CV_16UC1), expectedTwo(rows, cols, CV_16UC1);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const int in = frame.at<uint16_t>(r, c);
                const int d = dark.at<uint16_t>(r + 5, c + 3);
                expectedOne.at<uint16_t>(r, c) = referenceOnePoint(in, d);
                expectedTwo.at<uint16_t>(r, c) =
                    referenceTwoPoints(in, d, gain.at<float>(r + 5, c + 3));
            }
        cv::Mat out;
        ASSERT_TRUE(one.process(frame, out, XEVFrameInfo()));
        EXPECT_EQ(differences(out, expectedOne), 0);
        ASSERT_TRUE(two.process(frame, out, XEVFrameInfo()));
        EXPECT_EQ(differences(out, expectedTwo), 0);
        ASSERT_TRUE(doubleTwo.process(frame, out, XEVFrameInfo()));
        EXPECT_EQ(differences(out, expectedTwo), 0);

        // A frame that is a view into a larger image is corrected row by row.
        cv::Mat big(rows + 2, cols + 9, CV_16UC1, cv::Scalar(0));
        frame.copyTo(big(cv::Rect(4, 1, cols, rows)));
        cv::Mat view = big(cv::Rect(4, 1, cols, rows));
        cv::Mat viewOut;
        ASSERT_TRUE(two.process(view, viewOut, XEVFrameInfo()));
        EXPECT_EQ(differences(viewOut, expectedTwo), 0);
    }
}

TEST(NucFilters, FramesTheyDoNotHandle) {
    TempDir dir;
    XEVNUC2Points nuc(dir.file("missing.yml"), 4, 3, 0, 0, 4);
    cv::Mat out;
    EXPECT_FALSE(nuc.process(cv::Mat(3, 4, CV_8UC1, cv::Scalar(9)), out, XEVFrameInfo()));
    EXPECT_FALSE(nuc.process(cv::Mat(3, 4, CV_16UC3, cv::Scalar(9)), out, XEVFrameInfo()));
    // A frame larger than the maps would be read past them.
    EXPECT_FALSE(nuc.process(cv::Mat(4, 4, CV_16UC1, cv::Scalar(9)), out, XEVFrameInfo()));
    EXPECT_TRUE(out.empty());
    // No pixels: an empty output of that size.
    ASSERT_TRUE(nuc.process(cv::Mat(0, 4, CV_16UC1), out, XEVFrameInfo()));
    EXPECT_EQ(out.total(), 0u);
    EXPECT_EQ(out.type(), CV_16UC1);
}

TEST(NucFilters, MapsThatDoNotHoldTheWindowAreRefused) {
    TempDir dir;
    const std::string path = dir.file("small.yml");
    writeMaps(path, {{"NUCDark", sensorWords(0)}});
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string message;
    };
    const Case cases[] = {
        {"missing gain node", [&] { XEVNUC2Points(path, 4, 3, 2, 1, 4); },
         "Error : For XEVNUC2Points(" + path +
             "), map GainMap of 0x0 does not hold the window 4x3 at (2,1)."},
        {"window past the map", [&] { XEVNUCDoubleOnePoint(path, 4, 3, 5, 0, 4); },
         "Error : For XEVNUCDoubleOnePoint(" + path +
             "), map NUCDarkOdd of 0x0 does not hold the window 4x3 at (5,0)."},
        {"window past the map on start",
         [&] {
             XEVNUC1Point nuc(path, 4, 3, 5, 0, 4);
             nuc.onStart();
         },
         "Error : For XEVNUC1Point(" + path +
             "), map NUCDark of 8x6 does not hold the window 4x3 at (5,0)."},
    };
    for (const Case& c : cases) {
        try {
            c.make();
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const XEVException& error) {
            EXPECT_EQ(std::string(error.what()), c.message) << c.name;
        }
    }
}
