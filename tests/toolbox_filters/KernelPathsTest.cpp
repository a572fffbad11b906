// The wide (AVX-512) and portable paths of the per-pixel kernels must give
// the same bytes; each case runs with the processor's own features and again
// with the portable paths forced. StageReferenceTest.cpp runs every stage on
// both paths as well (demosaicing there also pins the saturation rounding).
#include "FilterTestUtil.h"

#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"
#include "toolbox/StretchTable.h"
#include "toolbox/TailSelector.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;
namespace d = XEVLibrary::XEVToolBox::detail;

TEST(KernelPaths, TheDefaultFeatureSetIsThePortableOne) {
    const d::CpuFeatures portable; // onEveryPath relies on it, on every processor
    EXPECT_FALSE(portable.byteLookup || portable.wideStretch || portable.laneCompress);
    d::overrideCpuFeatures(portable);
    const d::CpuFeatures inUse = d::cpuFeatures();
    d::restoreCpuFeatures();
    EXPECT_FALSE(inUse.byteLookup || inUse.wideStretch || inUse.laneCompress);
}

TEST(KernelPaths, StretchTablesHoldTheFormulaAndGiveTheirOwnBytesForEveryLevel) {
    // All levels in order, then shuffled, so lanes see every level at every
    // position; the odd length leaves a tail for the scalar loop.
    std::vector<uint16_t> levels(65536 * 2 + 37);
    std::iota(levels.begin(), levels.end(), uint16_t(0));
    std::shuffle(levels.begin() + 65536, levels.end(), std::mt19937(3));
    d::StretchTable stretch;
    const auto applied = [&](std::size_t first) { // levels mapped elsewhere than the table
        std::vector<uint8_t> out(levels.size(), 0);
        stretch.apply(levels.data() + first, out.data() + first, levels.size() - first);
        int wrong = 0;
        for (std::size_t i = first; i < levels.size(); ++i)
            wrong += out[i] != stretch.table()[levels[i]];
        return wrong;
    };
    const auto unlike = [&](auto formula) { // table entries other than the formula
        int wrong = 0;
        for (int i = 0; i < 65536; ++i)
            wrong += stretch.table()[i] != formula(i);
        return wrong;
    };
    // Ties of round bounds (1000..2000 has 127.5 at 1500), reversed and tiny
    // spans, bounds beyond the levels and too close for single precision.
    const std::pair<double, double> bounds[] = {{0, 16383},     {1000, 1300},      {1000, 2000},
                                                {0, 1},         {2500, 11000},     {0.1, 0.2},
                                                {-5, 70000},    {1234.5, 9876.25}, {2000, 1000},
                                                {1e9, 1e9 + 1}, {16383, 16683},    {65000, 65300}};
    onEveryPath([&](const char* path) {
        for (const auto& [low, high] : bounds) {
            SCOPED_TRACE(testing::Message() << path << " " << low << ".." << high);
            d::stretchRangeDouble(stretch.table(), 0, 65536, low, high);
            EXPECT_EQ(unlike([&](int p) { return stretchOf(p, low, high); }), 0);
            stretch.prepare(low, high);
            // Else the wide path might never be compared.
            EXPECT_TRUE(low != 2500 || stretch.computed() == d::cpuFeatures().wideStretch);
            EXPECT_EQ(applied(0), 0);
            EXPECT_EQ(applied(5), 0) << "unaligned start";
            const int l = int(low), h = int(high);
            if (l != low || h != high || h <= l || h > 70000)
                continue;
            d::fillStretchTable16(stretch.table(), l, h);
            EXPECT_EQ(unlike([&](int p) { return stretchOf(p, l, h); }), 0) << "integer";
            d::fillFloatStretchTable16(stretch.table(), l, h);
            EXPECT_EQ(unlike([&](int p) { return floatStretchOf(p, l, h); }), 0) << "float";
            stretch.prepare(low, high);
            EXPECT_EQ(applied(0), 0) << "float";
        }
    });
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
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 40.0);
    const cv::Mat scene = eachPixel<uint16_t>(
        cv::Size(400, 300), [&](int r, int c) { return 3000 + 10 * c + 5 * r + noise(random); });
    cv::Mat spots = scene.clone(), saturated = scene.clone(),
            twoLevels(200, 200, CV_16UC1, cv::Scalar(100));
    for (int i = 0; i < 150; ++i) // fewer than a tail of dead and of hot pixels
        spots.at<uint16_t>(int(random() % 300), int(random() % 400)) = i % 2 ? 0 : 65535;
    saturated(cv::Rect(0, 0, 400, 60)).setTo(16383); // a fifth of the frame at the top bin
    saturated(cv::Rect(0, 60, 400, 1)).setTo(20000);
    twoLevels(cv::Rect(0, 0, 200, 199)).setTo(9000); // 200 pixels at 100
    const cv::Mat flat(200, 200, CV_16UC1, cv::Scalar(4321));
    return {scene, spots, saturated, randomWords(256, 256, 0, 65535, 9), flat, twoLevels};
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
            for (const auto& [lastBin, topStart] : {std::pair<int, int>{16383, 16383},
                                                    {16383, 16382},
                                                    {65535, 65535},
                                                    {4095, 4095}}) {
                const auto expected = histogramBounds(frame(window), lastBin, topStart);
                int first = -1, top = -1;
                if (!selector.select(frame(window), uint16_t(lastBin), uint16_t(topStart), 200,
                                     first, top))
                    continue;
                ++selected;
                EXPECT_EQ(std::make_pair(first, top), expected)
                    << "frame " << frame.size() << " " << window;
            }
    // The noisy scenes are selected on a machine with wide vectors; the
    // others may fall back to the histogram.
    if (d::cpuFeatures().laneCompress)
        EXPECT_GE(selected, 24);
    else
        EXPECT_EQ(selected, 0);
}

TEST(KernelPaths, SaturationWritesNothingPastItsPlanes) {
    // The stage saturates into planes of its own, so the guard sits after
    // planes given to the kernel: 96 pixels (three whole 32-pixel blocks),
    // then bytes that a pixel computed past the end would overwrite with 255.
    constexpr std::size_t count = 96, guard = 16;
    const uint8_t inputs[3] = {100, 60, 80};
    // a = 6, d = 1.5: (100 * 6 - (60 - 80) * 1.5) / 3 = 210, (360 - 30) / 3 = 110,
    // (480 + 60) / 3 = 180; past the end (250 * 6 - 0) / 3 = 500, 255.
    const uint8_t expected[3] = {210, 110, 180};
    std::vector<uint8_t> planes[3], results[3];
    for (int p = 0; p < 3; ++p) {
        planes[p].assign(count + guard, 250);
        std::fill_n(planes[p].begin(), count, inputs[p]);
    }
    onEveryPath([&](const char* path) {
        for (auto& r : results)
            r.assign(count + guard, 0xA5);
        d::saturatePlanes(planes[0].data(), planes[1].data(), planes[2].data(), results[0].data(),
                          results[1].data(), results[2].data(), count, 6.0f, 1.5f);
        for (int p = 0; p < 3; ++p) {
            const auto end = results[p].begin() + std::ptrdiff_t(count);
            EXPECT_EQ(std::count(results[p].begin(), end, expected[p]), std::ptrdiff_t(count))
                << path << ", plane " << p;
            EXPECT_EQ(std::count(end, results[p].end(), 0xA5), std::ptrdiff_t(guard))
                << path << ", guard after plane " << p;
        }
    });
}
