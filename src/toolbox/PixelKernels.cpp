// Lets floating-point selections be if-converted into vector min/max. No
// value changes; the code only stops assuming that someone traps on FP
// exceptions. Set before the include so that the header's inline helpers are
// compiled the same way and inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

#include "toolbox/PixelKernels.h"

#include "toolbox/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
// GCC 12's AVX-512 headers start some results from a deliberately undefined
// register and then warn about it.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

// Each loop is also compiled for AVX-512 and AVX2 and picked at load time; the
// arithmetic is the same in all, only the vector width differs. Loops run over
// blocks of a fixed length so that the vectoriser sees whole vectors without
// needing an epilogue, followed by a scalar tail.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define XEV_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
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

namespace {

/// out = table[in], four look-ups in flight per turn.
template <class Index>
void lookupScalar(const Index* __restrict in, const uint8_t* __restrict table,
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

} // namespace

void lookup16(const uint16_t* in, const uint8_t* table, uint8_t* out, std::size_t count) {
    lookupScalar(in, table, out, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

#define XEV_WIDE __attribute__((target("avx512f,avx512bw,avx512dq"), always_inline)) inline

/// Sixteen levels through the estimate: the rounded-down values with the low
/// offset, and a mask of the lanes whose value with the high offset would
/// round down to the next integer.
XEV_WIDE __m512i estimateSixteen(const uint16_t* in, __m512 scale, __m512 below, __m512 width,
                                 __mmask16& near) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m512 p = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(words));
    const __m512 y = _mm512_fmadd_ps(p, scale, below);
    constexpr int down = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
    // y - floor(y), exact
    const __m512 fraction = _mm512_reduce_ps(y, down);
    near = _mm512_cmp_ps_mask(fraction, width, _CMP_GE_OQ);
    return _mm512_cvt_roundps_epi32(y, down);
}

} // namespace

__attribute__((target("avx512f,avx512bw,avx512dq"))) void
stretchEstimate16(const uint16_t* __restrict in, const uint8_t* __restrict table,
                  const StretchEstimate& estimate, uint8_t* __restrict out, std::size_t count) {
    const __m512 scale = _mm512_set1_ps(estimate.scale);
    const __m512 below = _mm512_set1_ps(estimate.below);
    // A lane is near a tie when its fraction reaches 1 - (above - below).
    const __m512 width = _mm512_set1_ps(1.0f - (estimate.above - estimate.below));
    // The two packs saturate to 0..255 but interleave 128-bit lanes; the
    // permute puts the 64 bytes back in order.
    const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    std::size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        __mmask16 n0, n1, n2, n3;
        const __m512i k0 = estimateSixteen(in + i, scale, below, width, n0);
        const __m512i k1 = estimateSixteen(in + i + 16, scale, below, width, n1);
        const __m512i k2 = estimateSixteen(in + i + 32, scale, below, width, n2);
        const __m512i k3 = estimateSixteen(in + i + 48, scale, below, width, n3);
        const __m512i bytes =
            _mm512_packus_epi16(_mm512_packs_epi32(k0, k1), _mm512_packs_epi32(k2, k3));
        _mm512_storeu_si512(out + i, _mm512_permutexvar_epi32(order, bytes));
        uint64_t near = uint64_t(n0) | uint64_t(n1) << 16 | uint64_t(n2) << 32 | uint64_t(n3) << 48;
        while (near != 0) {
            const std::size_t lane = std::size_t(__builtin_ctzll(near));
            near &= near - 1;
            out[i + lane] = table[in[i + lane]];
        }
    }
    lookupScalar(in + i, table, out + i, count - i);
}
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) bool
gatherTails16(const uint16_t* __restrict in, std::size_t count, TailLists& lists) {
    const __m512i last = _mm512_set1_epi16(int16_t(lists.lastBin));
    const __m512i lowLimit = _mm512_set1_epi16(int16_t(lists.lowLimit));
    const __m512i highLimit = _mm512_set1_epi16(int16_t(lists.highLimit));
    const __m512i topStart = _mm512_set1_epi16(int16_t(lists.topStart));
    uint16_t* __restrict lowList = lists.low;
    uint16_t* __restrict highList = lists.high;
    const std::size_t capacity = lists.capacity;
    std::size_t lowCount = lists.lowCount, highCount = lists.highCount;
    // Blocks holding tail pixels store them, packed, at the end of each list;
    // most blocks hold none and store nothing.
    std::size_t i = 0;
    for (; i < count; i += 32) {
        const __mmask32 inside =
            count - i >= 32 ? ~__mmask32(0) : (__mmask32(1) << (count - i)) - 1;
        const __m512i x = _mm512_min_epu16(_mm512_maskz_loadu_epi16(inside, in + i), last);
        const __mmask32 low = _mm512_mask_cmple_epu16_mask(inside, x, lowLimit);
        const __mmask32 high = _mm512_mask_cmpge_epu16_mask(
            _mm512_mask_cmple_epu16_mask(inside, x, topStart), x, highLimit);
        if ((low | high) == 0)
            continue;
        if (lowCount + 32 > capacity || highCount + 32 > capacity)
            return false;
        _mm512_storeu_si512(lowList + lowCount, _mm512_maskz_compress_epi16(low, x));
        _mm512_storeu_si512(highList + highCount, _mm512_maskz_compress_epi16(high, x));
        lowCount += std::size_t(__builtin_popcount(low));
        highCount += std::size_t(__builtin_popcount(high));
    }
    lists.lowCount = lowCount;
    lists.highCount = highCount;
    return true;
}
#else
bool gatherTails16(const uint16_t*, std::size_t, TailLists&) {
    return false;
}

void stretchEstimate16(const uint16_t* in, const uint8_t* table, const StretchEstimate&,
                       uint8_t* out, std::size_t count) {
    lookup16(in, table, out, count);
}
#endif

namespace {

#if defined(__x86_64__) && defined(__GNUC__)
/// The 256-entry table sits in four registers; two-register byte permutes
/// look up the lower and upper halves and the top bit of each index picks.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
lookup8Permute(const uint8_t* __restrict in, const uint8_t* __restrict table,
               uint8_t* __restrict out, std::size_t count) {
    const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
    std::size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i lower = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i upper = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lower, upper));
    }
    lookupScalar(in + i, table, out + i, count - i);
}
#endif

} // namespace

void lookup8(const uint8_t* __restrict in, const uint8_t* __restrict table, uint8_t* __restrict out,
             std::size_t count) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (cpuFeatures().byteLookup) {
        lookup8Permute(in, table, out, count);
        return;
    }
#endif
    lookupScalar(in, table, out, count);
}

void countHistogram16(const uint16_t* __restrict in, std::size_t count,
                      uint32_t* __restrict histogram, uint32_t lastBin) {
    // Four levels per load: fewer loads leave the load ports to the counters.
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint64_t four;
        std::memcpy(&four, in + i, sizeof(four));
        const uint32_t a = uint32_t(four & 0xFFFF), b = uint32_t((four >> 16) & 0xFFFF);
        const uint32_t c = uint32_t((four >> 32) & 0xFFFF), d = uint32_t(four >> 48);
        ++histogram[a < lastBin ? a : lastBin];
        ++histogram[b < lastBin ? b : lastBin];
        ++histogram[c < lastBin ? c : lastBin];
        ++histogram[d < lastBin ? d : lastBin];
    }
    for (; i < count; ++i) {
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

namespace {

inline int32_t greenBalance(const uint16_t* row, const uint32_t* vertical, const uint32_t* diagonal,
                            std::size_t c, int32_t maxLevel) {
    const int32_t corners = int32_t((diagonal[c - 1] + diagonal[c + 1]) >> 2);
    const uint32_t nine = vertical[c - 2] + vertical[c] + vertical[c + 2];
    int32_t v = int32_t(row[c]) + (corners - int32_t(nine / 9u)) / 2;
    v = v > 0 ? v : 0;
    return v < maxLevel ? v : maxLevel;
}

inline void saturatePixel(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t& r0, uint8_t& r1, uint8_t& r2,
                          float a, float d) {
    const float f0 = c0, f1 = c1, f2 = c2;
    r0 = uint8_t(int32_t(roundEven(clampValue((f0 * a - (f1 - f2) * d) / 3.0f, 0.0f, 255.0f))));
    r1 = uint8_t(int32_t(roundEven(clampValue((f1 * a - (f0 - f2) * d) / 3.0f, 0.0f, 255.0f))));
    r2 = uint8_t(int32_t(roundEven(clampValue((f2 * a - (f1 - f0) * d) / 3.0f, 0.0f, 255.0f))));
}

} // namespace

XEV_KERNEL
void greenBalanceRow(const uint16_t* __restrict row, std::ptrdiff_t stride,
                     uint16_t* __restrict out, std::size_t first, std::size_t end, int maxLevel,
                     uint32_t* __restrict vertical, uint32_t* __restrict diagonal) {
    const uint16_t* __restrict up2 = row - 2 * stride;
    const uint16_t* __restrict up = row - stride;
    const uint16_t* __restrict down = row + stride;
    const uint16_t* __restrict down2 = row + 2 * stride;
    // Column sums shared by neighbouring sites: the three same-colour rows and
    // the two diagonal rows.
    std::size_t c = first - 2;
    for (; c + Block <= end + 2; c += Block)
        for (std::size_t j = 0; j < Block; ++j) {
            vertical[c + j] = uint32_t(up2[c + j]) + row[c + j] + down2[c + j];
            diagonal[c + j] = uint32_t(up[c + j]) + down[c + j];
        }
    for (; c < end + 2; ++c) {
        vertical[c] = uint32_t(up2[c]) + row[c] + down2[c];
        diagonal[c] = uint32_t(up[c]) + down[c];
    }
    c = first;
    for (; c + Block <= end; c += Block)
        for (std::size_t j = 0; j < Block; ++j)
            out[c + j] = uint16_t(greenBalance(row, vertical, diagonal, c + j, maxLevel));
    for (; c < end; ++c)
        out[c] = uint16_t(greenBalance(row, vertical, diagonal, c, maxLevel));
}

namespace {

/// The same as saturatePixel for |results| < 2^22: rounded by adding and
/// removing 1.5 * 2^23 (exact half-to-even rounding there), clamped as
/// integers, which maps onto plain vector min/max.
inline uint8_t saturateChannel(float c, float x, float y, float a, float d) {
    constexpr float shift = 12582912.0f; // 1.5 * 2^23
    const float v = (c * a - (x - y) * d) / 3.0f;
    int32_t k = int32_t((v + shift) - shift);
    k = k > 0 ? k : 0;
    return uint8_t(k < 255 ? k : 255);
}

} // namespace

XEV_KERNEL
void saturatePlanes(const uint8_t* __restrict c0, const uint8_t* __restrict c1,
                    const uint8_t* __restrict c2, uint8_t* __restrict r0, uint8_t* __restrict r1,
                    uint8_t* __restrict r2, std::size_t count, float a, float d) {
    // |result| <= 255 (|a| + 2 |d|) / 3: small enough for the integer path
    // unless the factor is absurd (or not a number).
    const float bound = 255.0f * (__builtin_fabsf(a) + 2.0f * __builtin_fabsf(d));
    if (!(bound < 4194304.0f)) {
        for (std::size_t i = 0; i < count; ++i)
            saturatePixel(c0[i], c1[i], c2[i], r0[i], r1[i], r2[i], a, d);
        return;
    }
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t j = 0; j < Block; ++j) {
            const float f0 = c0[i + j], f1 = c1[i + j], f2 = c2[i + j];
            r0[i + j] = saturateChannel(f0, f1, f2, a, d);
            r1[i + j] = saturateChannel(f1, f0, f2, a, d);
            r2[i + j] = saturateChannel(f2, f1, f0, a, d);
        }
    for (; i < count; ++i)
        saturatePixel(c0[i], c1[i], c2[i], r0[i], r1[i], r2[i], a, d);
}

XEV_KERNEL
void stretchRangeDouble(uint8_t* __restrict table, int first, int end, double low, double high) {
    int p = first;
    for (; p + int(Block) <= end; p += int(Block))
        for (int j = 0; j < int(Block); ++j)
            table[p + j] = stretchDoubleValue(p + j, low, high);
    for (; p < end; ++p)
        table[p] = stretchDoubleValue(p, low, high);
}

XEV_KERNEL
void stretchRangeFloat(uint8_t* __restrict table, int first, int end, int low, int high) {
    int p = first;
    for (; p + int(Block) <= end; p += int(Block))
        for (int j = 0; j < int(Block); ++j)
            table[p + j] = stretchFloatValue(p + j, low, high);
    for (; p < end; ++p)
        table[p] = stretchFloatValue(p, low, high);
}

namespace {

constexpr uint32_t GaussEdge = 70;
constexpr uint32_t GaussCentre = 116;

inline uint8_t gaussianOf(uint32_t left, uint32_t centre, uint32_t right) {
    return uint8_t((GaussEdge * (left + right) + GaussCentre * centre + 32768u) >> 16);
}

} // namespace

XEV_KERNEL
void gaussianRow3x3(const uint8_t* __restrict up, const uint8_t* __restrict row,
                    const uint8_t* __restrict down, std::size_t cols, uint16_t* __restrict vertical,
                    uint8_t* __restrict blurred) {
    if (cols == 0)
        return;
    for (std::size_t c = 0; c < cols; ++c)
        vertical[c] = uint16_t(GaussEdge * (uint32_t(up[c]) + down[c]) + GaussCentre * row[c]);
    if (cols == 1) {
        blurred[0] = gaussianOf(vertical[0], vertical[0], vertical[0]);
        return;
    }
    blurred[0] = gaussianOf(vertical[1], vertical[0], vertical[1]);
    for (std::size_t c = 1; c + 1 < cols; ++c)
        blurred[c] = gaussianOf(vertical[c - 1], vertical[c], vertical[c + 1]);
    blurred[cols - 1] = gaussianOf(vertical[cols - 2], vertical[cols - 1], vertical[cols - 2]);
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
