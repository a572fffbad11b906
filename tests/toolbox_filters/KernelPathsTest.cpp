// The wide (AVX-512) and portable paths of the per-pixel kernels must give
// the same bytes; each case runs with the processor's own features and again
// with the portable paths forced. StageReferenceTest.cpp runs every stage on
// both paths as well.
#include "FilterTestUtil.h"

#include "XEVAGCROI.h"
#include "XEVAutomaticGainControl.h"
#include "toolbox/CpuFeatures.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"
#include "toolbox/StretchTable.h"
#include "toolbox/TailSelector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;
namespace d = XEVLibrary::XEVToolBox::detail;

namespace {

std::vector<uint16_t> everyLevelTwice() {
    // All levels in order, then shuffled, so lanes see every level at every
    // position; the odd length leaves a tail for the scalar loop.
    std::vector<uint16_t> levels(65536 * 2 + 37);
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = uint16_t(i);
    std::shuffle(levels.begin() + 65536, levels.end(), std::mt19937(3));
    return levels;
}

/// How many levels of @p in the stretch maps elsewhere than its own table.
int stretchMismatches(const d::StretchTable& stretch, const std::vector<uint16_t>& in,
                      std::size_t first) {
    std::vector<uint8_t> out(in.size(), 0);
    stretch.apply(in.data() + first, out.data() + first, in.size() - first);
    int wrong = 0;
    for (std::size_t i = first; i < in.size(); ++i)
        wrong += out[i] != stretch.table()[in[i]];
    return wrong;
}

/// How many of the 65536 entries of @p table are not @p formula of their level.
template <class Formula>
int tableMismatches(const uint8_t* table, Formula formula) {
    int wrong = 0;
    for (int i = 0; i < 65536; ++i)
        wrong += table[i] != formula(i);
    return wrong;
}

} // namespace

TEST(KernelPaths, TheDefaultFeatureSetIsThePortableOne) {
    // onEveryPath relies on it, on every processor.
    const d::CpuFeatures portable;
    EXPECT_FALSE(portable.byteLookup || portable.wideStretch || portable.laneCompress);
    d::overrideCpuFeatures(portable);
    const d::CpuFeatures inUse = d::cpuFeatures();
    d::restoreCpuFeatures();
    EXPECT_FALSE(inUse.byteLookup || inUse.wideStretch || inUse.laneCompress);
}

TEST(KernelPaths, StretchTablesHoldTheFormulaAndGiveTheirOwnBytesForEveryLevel) {
    const std::vector<uint16_t> levels = everyLevelTwice();
    // Ties of round bounds (1000..2000 has 127.5 at 1500), reversed and tiny
    // spans, bounds beyond the levels and too close for single precision.
    const std::pair<double, double> bounds[] = {
        {0, 16383},     {1000, 1300}, {1000, 2000},      {5000, 5300},
        {0, 300},       {123, 16683}, {1234.5, 9876.25}, {2000, 1000},
        {0.1, 0.2},     {-5, 70000},  {1e9, 1e9 + 1},    {3, 4},
        {16382, 16682}, {0, 510},     {7, 517},          {100.3, 65535.7},
        {2500, 11000},  {0, 1},       {65000, 65300},    {16383, 16683},
        {200, 16382},   {-10, 290}};
    // rint(clamp((p - low) / (high - low) * 255, 0, 255)) in double precision,
    // and the same in single precision for the window gain controls.
    const auto inDouble = [](double low, double high) {
        return [=](int p) {
            return uint8_t(
                std::rint(std::min(255.0, std::max(0.0, (p - low) / (high - low) * 255.0))));
        };
    };
    const auto inFloat = [](int low, int high) {
        return [=](int p) {
            return cv::saturate_cast<uint8_t>((float(p) - float(low)) / float(high - low) * 255.0f);
        };
    };
    onEveryPath([&](const char* path) {
        d::StretchTable stretch;
        for (const auto& b : bounds) {
            SCOPED_TRACE(testing::Message() << path << " " << b.first << ".." << b.second);
            d::stretchRangeDouble(stretch.table(), 0, 65536, b.first, b.second);
            EXPECT_EQ(tableMismatches(stretch.table(), inDouble(b.first, b.second)), 0);
            stretch.prepare(b.first, b.second);
            EXPECT_EQ(stretchMismatches(stretch, levels, 0), 0);
            EXPECT_EQ(stretchMismatches(stretch, levels, 5), 0) << "unaligned start";
            const int low = int(b.first), high = int(b.second);
            if (low != b.first || high != b.second || high <= low || high > 70000)
                continue;
            d::fillStretchTable16(stretch.table(), low, high);
            EXPECT_EQ(tableMismatches(stretch.table(), inDouble(low, high)), 0) << "integer";
            d::fillFloatStretchTable16(stretch.table(), low, high);
            EXPECT_EQ(tableMismatches(stretch.table(), inFloat(low, high)), 0) << "float";
            stretch.prepare(b.first, b.second);
            EXPECT_EQ(stretchMismatches(stretch, levels, 0), 0) << "float";
        }
    });
}

TEST(KernelPaths, StretchIsComputedWhereTheProcessorAllowsIt) {
    d::restoreCpuFeatures();
    d::StretchTable stretch;
    d::stretchRangeDouble(stretch.table(), 0, 65536, 2500, 11000);
    stretch.prepare(2500, 11000);
    EXPECT_EQ(stretch.computed(), d::cpuFeatures().wideStretch);
    // A span of a tenth of a level cannot be estimated in single precision.
    d::stretchRangeDouble(stretch.table(), 0, 65536, 0.1, 0.2);
    stretch.prepare(0.1, 0.2);
    EXPECT_FALSE(stretch.computed());
    // A table that is not the stretch it claims to be is caught level by
    // level and looked up instead.
    d::stretchRangeDouble(stretch.table(), 0, 65536, 2500, 11000);
    stretch.table()[7000] ^= 1;
    stretch.prepare(2500, 11000);
    EXPECT_FALSE(stretch.computed());

    d::overrideCpuFeatures(d::CpuFeatures{});
    d::stretchRangeDouble(stretch.table(), 0, 65536, 2500, 11000);
    stretch.prepare(2500, 11000);
    EXPECT_FALSE(stretch.computed());
    d::restoreCpuFeatures();
}

TEST(KernelPaths, ByteLookupMatchesTheTable) {
    std::mt19937 random(11);
    std::vector<uint8_t> table(256);
    for (auto& v : table)
        v = uint8_t(random());
    std::vector<uint8_t> in(256 * 5 + 63);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(i < 256 ? i : random());
    onEveryPath([&](const char* path) {
        for (std::size_t first : {std::size_t(0), std::size_t(1), std::size_t(63)}) {
            std::vector<uint8_t> out(in.size(), 0);
            d::lookup8(in.data() + first, table.data(), out.data() + first, in.size() - first);
            int wrong = 0;
            for (std::size_t i = first; i < in.size(); ++i)
                wrong += out[i] != table[in[i]];
            EXPECT_EQ(wrong, 0) << path << " from " << first;
        }
    });
}

TEST(KernelPaths, HistogramCountsEveryPixelOnceAndClampsToTheLastBin) {
    const std::vector<uint16_t> levels = everyLevelTwice();
    for (std::size_t first : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
        std::vector<uint32_t> histogram(16384, 0);
        d::countHistogram16(levels.data() + first, levels.size() - first, histogram.data(), 16383);
        std::vector<uint32_t> expected(16384, 0);
        for (std::size_t i = first; i < levels.size(); ++i)
            ++expected[std::min<uint32_t>(levels[i], 16383)];
        EXPECT_EQ(histogram, expected) << "from " << first;
    }
}

namespace {

/// Bounds of @p window by a full histogram, as the stages count them.
std::pair<int, int> histogramBounds(const cv::Mat& window, int lastBin, int topStart) {
    std::vector<uint32_t> histogram(std::size_t(lastBin) + 1, 0);
    for (int r = 0; r < window.rows; ++r)
        d::countHistogram16(window.ptr<uint16_t>(r), std::size_t(window.cols), histogram.data(),
                            uint32_t(lastBin));
    return {d::lowerBound(histogram.data(), lastBin + 1, 200),
            d::upperBound(histogram.data(), topStart, 200)};
}

/// Frames the selector meets: smooth scenes with noise, hot and dead pixels,
/// saturated areas, and flat or two-level frames where a sample says little.
std::vector<cv::Mat> scenes() {
    std::vector<cv::Mat> frames;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 40.0);
    cv::Mat scene(300, 400, CV_16UC1);
    for (int r = 0; r < scene.rows; ++r)
        for (int c = 0; c < scene.cols; ++c)
            scene.at<uint16_t>(r, c) =
                cv::saturate_cast<uint16_t>(3000 + 10 * c + 5 * r + noise(random));
    frames.push_back(scene.clone());
    cv::Mat spots = scene.clone();
    for (int i = 0; i < 150; ++i) // fewer than a tail of dead and of hot pixels
        spots.at<uint16_t>(int(random() % 300), int(random() % 400)) = i % 2 ? 0 : 65535;
    frames.push_back(spots);
    cv::Mat saturated = scene.clone();
    saturated(cv::Rect(0, 0, 400, 60)).setTo(16383); // a fifth of the frame at the top bin
    saturated(cv::Rect(0, 60, 400, 1)).setTo(20000);
    frames.push_back(saturated);
    frames.push_back(randomWords(256, 256, 0, 65535, 9));
    frames.push_back(cv::Mat(200, 200, CV_16UC1, cv::Scalar(4321)));
    cv::Mat twoLevels(200, 200, CV_16UC1, cv::Scalar(100));
    twoLevels(cv::Rect(0, 0, 200, 199)).setTo(9000); // 200 pixels at 100
    frames.push_back(twoLevels);
    return frames;
}

} // namespace

TEST(KernelPaths, TailSelectionGivesTheHistogramBounds) {
    d::restoreCpuFeatures();
    d::TailSelector selector;
    int selected = 0;
    for (const cv::Mat& frame : scenes())
        for (const cv::Rect window :
             {cv::Rect(0, 0, frame.cols, frame.rows),
              cv::Rect(1, 1, frame.cols - 3, frame.rows - 3),
              cv::Rect(frame.cols / 4, frame.rows / 4, frame.cols / 2, frame.rows / 2)})
            for (const auto& bins : {std::pair<int, int>{16383, 16383},
                                     {16383, 16382},
                                     {65535, 65535},
                                     {4095, 4095}}) {
                const auto expected = histogramBounds(frame(window), bins.first, bins.second);
                int first = -1, top = -1;
                if (!selector.select(frame(window), uint16_t(bins.first), uint16_t(bins.second),
                                     200, first, top))
                    continue;
                ++selected;
                EXPECT_EQ(first, expected.first) << "frame " << frame.size() << " " << window;
                EXPECT_EQ(top, expected.second) << "frame " << frame.size() << " " << window;
            }
    // The noisy scenes are selected on a machine with wide vectors; the
    // others may fall back to the histogram.
    if (d::cpuFeatures().laneCompress)
        EXPECT_GE(selected, 24);
    else
        EXPECT_EQ(selected, 0);
}

TEST(KernelPaths, GainControlStagesAgreeOnEveryPath) {
    // Whole-frame and windowed gain control give the same frames and bounds
    // whether bounds come from selection or from the histogram.
    for (const cv::Mat& frame : scenes()) {
        std::vector<cv::Mat> outputs;
        std::vector<std::pair<int, int>> bounds;
        onEveryPath([&](const char*) {
            XEVAutomaticGainControl whole(14, 4);
            XEVAGCROI window(0, 4);
            cv::Mat a, b;
            ASSERT_TRUE(whole.process(frame, a, XEVFrameInfo()));
            ASSERT_TRUE(window.process(frame, b, XEVFrameInfo()));
            ASSERT_TRUE(window.process(frame, b, XEVFrameInfo()));
            outputs.push_back(a);
            outputs.push_back(b);
            bounds.emplace_back(whole.low(), whole.high());
        });
        ASSERT_EQ(outputs.size(), 4u);
        EXPECT_EQ(differences(outputs[0], outputs[2]), 0);
        EXPECT_EQ(differences(outputs[1], outputs[3]), 0);
        EXPECT_EQ(bounds[0], bounds[1]);
    }
}

TEST(KernelPaths, SaturationRoundsEachOperationOnItsOwn) {
    // (c0 a - (c1 - c2) d) / 3 with a rounding after every operation: a build
    // for processors with FMA must not fuse the multiply and the subtraction.
    std::vector<uint8_t> c[3];
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 256; ++y)
            for (int z = 0; z < 256; z += 5)
                for (int i = 0; i < 3; ++i)
                    c[i].push_back(uint8_t(i == 0 ? x : (i == 1 ? y : z)));
    const std::size_t count = c[0].size() - 7; // whole blocks and a tail
    std::vector<uint8_t> r[3] = {std::vector<uint8_t>(count), std::vector<uint8_t>(count),
                                 std::vector<uint8_t>(count)};
    for (const float s : {0.0f, 0.37f, 1.3f, 2.0f, 4.75f}) {
        const float a = 2.0f * s + 1.0f, d = s - 1.0f;
        d::saturatePlanes(c[0].data(), c[1].data(), c[2].data(), r[0].data(), r[1].data(),
                          r[2].data(), count, a, d);
        const auto expected = [&](float own, float x, float y) {
            volatile float product = own * a; // kept apart from the subtraction
            volatile float other = (x - y) * d;
            const float v = std::rint((product - other) / 3.0f);
            return uint8_t(std::min(255.0f, std::max(0.0f, v)));
        };
        int wrong = 0;
        for (std::size_t i = 0; i < count; ++i) {
            wrong += r[0][i] != expected(c[0][i], c[1][i], c[2][i]);
            wrong += r[1][i] != expected(c[1][i], c[0][i], c[2][i]);
            wrong += r[2][i] != expected(c[2][i], c[1][i], c[0][i]);
        }
        EXPECT_EQ(wrong, 0) << "saturation " << s;
    }
}
