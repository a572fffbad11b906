// Lets the float selections of the correction be if-converted into vector
// min/max; no value changes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

#include "toolbox/NucTable.h"

#include "toolbox/PixelKernels.h"

#include <algorithm>
#include <cstring>

// Compiled for AVX-512, AVX2 and the base instruction set and picked at load
// time, as the other pixel loops of the toolbox.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define XEV_NUC_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define XEV_NUC_KERNEL
#endif

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

void Nuc::allocate() {
    set1.dark.assign(pixels(), 0);
    set1.gain.assign(pixels(), 0.0f);
    set2.dark.assign(isDouble ? pixels() : 0, 0);
    set2.gain.assign(isDouble ? pixels() : 0, 0.0f);
}

namespace {

void interpolateSet(const NucSet& low, const NucSet& high, double wl, double wh, NucSet& out) {
    const std::size_t n = low.dark.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double dark = std::clamp(wl * low.dark[i] + wh * high.dark[i], 0.0, 16383.0);
        out.dark[i] = uint16_t(dark);
        const double gain = std::clamp(wl * low.gain[i] + wh * high.gain[i], 0.0, 16383.0);
        out.gain[i] = float(gain);
    }
}

constexpr std::size_t Block = 32;
/// The largest product that still gives an output below the 14-bit ceiling.
constexpr float ProductLimit = float(RawMaximum - NucPedestal);

inline uint16_t correctPixel(uint16_t in, uint16_t dark, float gain) {
    int32_t d = int32_t(in) - int32_t(dark);
    d = d > 0 ? d : 0;
    const float f = float(d) * gain;
    // For f >= 0, double(f) + 1000.0 is exact wherever its fraction matters
    // (f below 2^-15 cannot reach 1001), so trunc(f + 1000) = trunc(f) + 1000
    // and single precision suffices. Clamping first keeps the conversion
    // defined (a NaN takes the limit) and gives the same integer.
    float g = f < ProductLimit ? f : ProductLimit;
    g = g > 0.0f ? g : 0.0f;
    return uint16_t(int32_t(g) + NucPedestal);
}

} // namespace

Nuc interpolateNuc(const Nuc& low, const Nuc& high, double x) {
    // Tables of different shapes are refused when the catalogue is built;
    // should two meet anyway, nothing is read past the smaller one.
    if (low.rows != high.rows || low.cols != high.cols || low.isDouble != high.isDouble)
        return high;
    Nuc out;
    out.rows = low.rows;
    out.cols = low.cols;
    out.exposure = x;
    out.parsed = low.parsed && high.parsed;
    out.isDouble = low.isDouble;
    out.allocate();
    const float d = float(high.exposure - low.exposure);
    double wl = 0.0, wh = 1.0;
    if (d != 0.0f) {
        wl = (high.exposure - x) / d;
        wh = (x - low.exposure) / d;
    }
    interpolateSet(low.set1, high.set1, wl, wh, out.set1);
    if (out.isDouble)
        interpolateSet(low.set2, high.set2, wl, wh, out.set2);
    return out;
}

NucOverlap nucOverlap(int64_t x, int64_t y, int width, int height, int rows, int cols) {
    NucOverlap o;
    const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + width, cols);
    const int64_t bottom = std::min<int64_t>(y + height, rows);
    if (right <= left || bottom <= top)
        return o; // corrects nothing
    o.tableX = int(left);
    o.tableY = int(top);
    o.frameX = int(left - x);
    o.frameY = int(top - y);
    o.width = int(right - left);
    o.height = int(bottom - top);
    return o;
}

void applyNuc(const Nuc& table, const NucOverlap& o, const cv::Mat& frame, cv::Mat& out) {
    const std::size_t rowBytes = std::size_t(frame.cols) * sizeof(uint16_t);
    if (o.width == 0) {
        for (int r = 0; r < frame.rows; ++r)
            std::memcpy(out.ptr<uint16_t>(r), frame.ptr<uint16_t>(r), rowBytes);
        return;
    }
    const NucSet& set = table.setFor((frame.at<uint16_t>(0, 0) & 1u) != 0);
    const std::size_t tableCols = table.cols;
    if (o.width == frame.cols && o.height == frame.rows && tableCols == std::size_t(o.width) &&
        frame.isContinuous() && out.isContinuous()) {
        // Frame and table rows line up: one span over the whole frame.
        const std::size_t at = std::size_t(o.tableY) * tableCols;
        nucInterpolatedSpan(frame.ptr<uint16_t>(), set.dark.data() + at, set.gain.data() + at,
                            out.ptr<uint16_t>(), frame.total());
        return;
    }
    const std::size_t leftBytes = std::size_t(o.frameX) * sizeof(uint16_t);
    const std::size_t rightStart = std::size_t(o.frameX) + std::size_t(o.width);
    const std::size_t rightBytes = rowBytes - rightStart * sizeof(uint16_t);
    for (int r = 0; r < frame.rows; ++r) {
        const uint16_t* in = frame.ptr<uint16_t>(r);
        uint16_t* to = out.ptr<uint16_t>(r);
        if (r < o.frameY || r >= o.frameY + o.height) {
            std::memcpy(to, in, rowBytes);
            continue;
        }
        const std::size_t at = std::size_t(o.tableY + r - o.frameY) * tableCols + o.tableX;
        std::memcpy(to, in, leftBytes);
        nucInterpolatedSpan(in + o.frameX, set.dark.data() + at, set.gain.data() + at,
                            to + o.frameX, std::size_t(o.width));
        std::memcpy(to + rightStart, in + rightStart, rightBytes);
    }
}

XEV_NUC_KERNEL
void nucInterpolatedSpan(const uint16_t* __restrict in, const uint16_t* __restrict dark,
                         const float* __restrict gain, uint16_t* __restrict out,
                         std::size_t count) {
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t j = 0; j < Block; ++j)
            out[i + j] = correctPixel(in[i + j], dark[i + j], gain[i + j]);
    for (; i < count; ++i)
        out[i] = correctPixel(in[i], dark[i], gain[i]);
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
