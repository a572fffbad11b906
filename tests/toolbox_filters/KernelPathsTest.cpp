// The wide (AVX-512) and portable paths of the per-pixel kernels must give
// the same bytes; each case runs with the processor's own features and again
// with the portable paths forced.
#include "FilterTestUtil.h"

#include "XEVManualAGC.h"
#include "toolbox/CpuFeatures.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"
#include "toolbox/StretchTable.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;
namespace d = XEVLibrary::XEVToolBox::detail;

namespace {

/// Runs @p body with the processor's features, then with the portable paths.
template <class Body>
void onEveryPath(Body body) {
    d::restoreCpuFeatures();
    body("own features");
    d::overrideCpuFeatures(d::CpuFeatures{});
    body("portable");
    d::restoreCpuFeatures();
}

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

} // namespace

TEST(KernelPaths, StretchTablesGiveTheirOwnBytesForEveryLevel) {
    const std::vector<uint16_t> levels = everyLevelTwice();
    // Ties of round bounds (1000..2000 has 127.5 at 1500), reversed and tiny
    // spans, and bounds too close for single precision.
    const std::pair<double, double> bounds[] = {
        {2500, 11000}, {1000, 2000}, {0, 16383},        {1000, 1300}, {16382, 16682},
        {0, 510},      {7, 517},     {1234.5, 9876.25}, {2000, 1000}, {0.1, 0.2},
        {-5, 70000},   {3, 4},       {100.3, 65535.7},  {0, 1},       {65000, 65300}};
    onEveryPath([&](const char* path) {
        d::StretchTable stretch;
        for (const auto& b : bounds) {
            d::stretchRangeDouble(stretch.table(), 0, 65536, b.first, b.second);
            stretch.prepare(b.first, b.second);
            EXPECT_EQ(stretchMismatches(stretch, levels, 0), 0)
                << path << " double " << b.first << ".." << b.second;
            EXPECT_EQ(stretchMismatches(stretch, levels, 5), 0) << "unaligned start";
        }
        for (const auto& b : bounds) {
            if (b.first != int(b.first) || b.second != int(b.second) || b.second <= b.first)
                continue;
            d::fillFloatStretchTable16(stretch.table(), int(b.first), int(b.second));
            stretch.prepare(b.first, b.second);
            EXPECT_EQ(stretchMismatches(stretch, levels, 0), 0)
                << path << " float " << b.first << ".." << b.second;
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

TEST(KernelPaths, ManualGainControlOnAWindowOfAFrame) {
    // Rows of a window are not continuous: each is stretched on its own.
    const cv::Mat frame = randomWords(40, 200, 0, 65535, 21);
    const cv::Mat window = frame(cv::Rect(3, 2, 131, 30));
    onEveryPath([&](const char* path) {
        XEVManualAGC agc(4, 1000.0, 2000.0);
        cv::Mat out;
        ASSERT_TRUE(agc.process(window, out, XEVFrameInfo()));
        cv::Mat whole;
        ASSERT_TRUE(agc.process(frame, whole, XEVFrameInfo()));
        EXPECT_EQ(differences(out, whole(cv::Rect(3, 2, 131, 30))), 0) << path;
    });
}
