// Lets floating-point selections be if-converted into vector min/max. No
// value changes; the code only stops assuming that someone traps on FP
// exceptions. Set before the include so that the header's inline helpers are
// compiled the same way and inlined.
#pragma GCC optimize("no-trapping-math")

#include "toolbox/PixelKernels.h"

// Each loop is also compiled for AVX2 and picked at load time; the arithmetic
// is the same in both, only the vector width differs. Loops run over blocks of
// a fixed length so that the vectoriser sees whole vectors without needing an
// epilogue, followed by a scalar tail.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define XEV_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define XEV_KERNEL
#endif

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

constexpr std::size_t Block = 32;

inline uint16_t onePoint(uint16_t in, uint16_t dark) {
    int32_t v = int32_t(in) - int32_t(dark) + NucPedestal;
    v = v > 0 ? v : 0;
    v = v < RawMaximum ? v : RawMaximum;
    return uint16_t(v);
}

inline uint16_t twoPoints(uint16_t in, uint16_t dark, float gain) {
    const float f = float(int32_t(in) - int32_t(dark)) * gain;
    // rint(f + 1000.0) == rint(f) + 1000 because 1000 is even, so the sum
    // needs no double precision. Clamping before rounding gives the same
    // integer as rounding first, as both limits are integers, and keeps the
    // conversion defined for any product (NaN included).
    const float g = clampValue(f, float(-NucPedestal), float(RawMaximum - NucPedestal));
    constexpr float shift = 12582912.0f; // 1.5 * 2^23: rounds |g| < 2^22 half to even
    const float r = (g + shift) - shift;
    return uint16_t(int32_t(r) + NucPedestal);
}

} // namespace

XEV_KERNEL
void nucOnePoint(const uint16_t* __restrict in, const uint16_t* __restrict dark,
                 uint16_t* __restrict out, std::size_t count) {
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t j = 0; j < Block; ++j)
            out[i + j] = onePoint(in[i + j], dark[i + j]);
    for (; i < count; ++i)
        out[i] = onePoint(in[i], dark[i]);
}

XEV_KERNEL
void nucTwoPoints(const uint16_t* __restrict in, const uint16_t* __restrict dark,
                  const float* __restrict gain, uint16_t* __restrict out, std::size_t count) {
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t j = 0; j < Block; ++j)
            out[i + j] = twoPoints(in[i + j], dark[i + j], gain[i + j]);
    for (; i < count; ++i)
        out[i] = twoPoints(in[i], dark[i], gain[i]);
}

void lookup16(const uint16_t* __restrict in, const uint8_t* __restrict table,
              uint8_t* __restrict out, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint8_t a = table[in[i]];
        const uint8_t b = table[in[i + 1]];
        const uint8_t c = table[in[i + 2]];
        const uint8_t d = table[in[i + 3]];
        out[i] = a;
        out[i + 1] = b;
        out[i + 2] = c;
        out[i + 3] = d;
    }
    for (; i < count; ++i)
        out[i] = table[in[i]];
}

void lookup8(const uint8_t* __restrict in, const uint8_t* __restrict table, uint8_t* __restrict out,
             std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint8_t a = table[in[i]];
        const uint8_t b = table[in[i + 1]];
        const uint8_t c = table[in[i + 2]];
        const uint8_t d = table[in[i + 3]];
        out[i] = a;
        out[i + 1] = b;
        out[i + 2] = c;
        out[i + 3] = d;
    }
    for (; i < count; ++i)
        out[i] = table[in[i]];
}

void countHistogram16(const uint16_t* __restrict in, std::size_t count,
                      uint32_t* __restrict histogram, uint32_t lastBin) {
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = in[i];
        ++histogram[v < lastBin ? v : lastBin];
    }
}

void countHistogram8(const uint8_t* __restrict in, std::size_t count,
                     uint32_t* __restrict histogram) {
    for (std::size_t i = 0; i < count; ++i)
        ++histogram[in[i]];
}

namespace {

inline uint8_t tableEntry(int i, double mean, double span, double shift, double k, double limit) {
    const double t = (double(i) - mean) / span + shift;
    // t <= 1 ? rint(t * k) : rint(k), clamped to 0..255.
    const double v = t <= 1.0 ? clampValue(t * k, 0.0, 255.0) : limit;
    return uint8_t(int32_t(roundEven(v)));
}

inline void saturateOne(const uint8_t* in, uint8_t* out, float a, float d) {
    const float c0 = in[0];
    const float c1 = in[1];
    const float c2 = in[2];
    const float r0 = (c0 * a - (c1 - c2) * d) / 3.0f;
    const float r1 = (c1 * a - (c0 - c2) * d) / 3.0f;
    const float r2 = (c2 * a - (c1 - c0) * d) / 3.0f;
    out[0] = uint8_t(int32_t(roundEven(clampValue(r0, 0.0f, 255.0f))));
    out[1] = uint8_t(int32_t(roundEven(clampValue(r1, 0.0f, 255.0f))));
    out[2] = uint8_t(int32_t(roundEven(clampValue(r2, 0.0f, 255.0f))));
}

} // namespace

XEV_KERNEL
void demosaicTable(uint8_t* __restrict table, int levels, double mean, double span, double shift,
                   double k) {
    const double limit = clampValue(k, 0.0, 255.0);
    int i = 0;
    for (; i + int(Block) <= levels; i += int(Block))
        for (int j = 0; j < int(Block); ++j)
            table[i + j] = tableEntry(i + j, mean, span, shift, k, limit);
    for (; i < levels; ++i)
        table[i] = tableEntry(i, mean, span, shift, k, limit);
}

XEV_KERNEL
void saturateColours(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels,
                     float a, float d) {
    std::size_t p = 0;
    for (; p + Block <= pixels; p += Block)
        for (std::size_t j = 0; j < Block; ++j)
            saturateOne(in + 3 * (p + j), out + 3 * (p + j), a, d);
    for (; p < pixels; ++p)
        saturateOne(in + 3 * p, out + 3 * p, a, d);
}

namespace {

inline uint8_t stretchDouble(int p, double low, double high) {
    const double v = (double(p) - low) / (high - low) * 255.0;
    return uint8_t(int32_t(roundEven(clampValue(v, 0.0, 255.0))));
}

inline uint8_t stretchFloat(int p, float low, float span) {
    const float v = (float(p) - low) / span * 255.0f;
    return uint8_t(int32_t(roundEven(clampValue(v, 0.0f, 255.0f))));
}

} // namespace

XEV_KERNEL
void stretchRangeDouble(uint8_t* __restrict table, int first, int end, double low, double high) {
    int p = first;
    for (; p + int(Block) <= end; p += int(Block))
        for (int j = 0; j < int(Block); ++j)
            table[p + j] = stretchDouble(p + j, low, high);
    for (; p < end; ++p)
        table[p] = stretchDouble(p, low, high);
}

XEV_KERNEL
void stretchRangeFloat(uint8_t* __restrict table, int first, int end, int low, int high) {
    const float lowF = float(low);
    const float span = float(high - low);
    int p = first;
    for (; p + int(Block) <= end; p += int(Block))
        for (int j = 0; j < int(Block); ++j)
            table[p + j] = stretchFloat(p + j, lowF, span);
    for (; p < end; ++p)
        table[p] = stretchFloat(p, lowF, span);
}

void sharpenColourMap(const uint8_t* __restrict in, const uint8_t* __restrict blurred,
                      const uint8_t* __restrict colours, uint8_t* __restrict out,
                      std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        int32_t v = 2 * int32_t(in[i]) - int32_t(blurred[i]);
        v = v > 0 ? v : 0;
        v = v < 255 ? v : 255;
        const uint8_t* colour = colours + 3 * v;
        out[3 * i] = colour[0];
        out[3 * i + 1] = colour[1];
        out[3 * i + 2] = colour[2];
    }
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
