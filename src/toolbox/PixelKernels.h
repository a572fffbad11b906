#pragma once

#include <cstddef>
#include <cstdint>

// Per-pixel loops shared by the toolbox stages. Every loop runs over one
// continuous span; callers split non-continuous images into rows. The loops
// are written so that the compiler vectorises them, and each one gives exactly
// the result of the scalar formula next to it.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// Grey level added to corrected raw frames.
constexpr int NucPedestal = 1000;
/// Largest 14-bit value.
constexpr int RawMaximum = 16383;

/// out = clamp(in - dark + 1000, 0, 16383), in 32-bit integers.
void nucOnePoint(const uint16_t* in, const uint16_t* dark, uint16_t* out, std::size_t count);

/// out = clamp(rint(double(float(in - dark) * gain) + 1000.0), 0, 16383).
/// Results beyond the integer range saturate; a NaN gain gives 0.
void nucTwoPoints(const uint16_t* in, const uint16_t* dark, const float* gain, uint16_t* out,
                  std::size_t count);

/// out = table[in] for 16-bit input; the table has 65536 entries.
void lookup16(const uint16_t* in, const uint8_t* table, uint8_t* out, std::size_t count);

/// Arithmetic form of a monotonic 16-bit to 8-bit stretch table: level p
/// gives floor(p * scale + below) saturated to a byte, except where that
/// differs from floor(p * scale + above), that is where p lies too close to a
/// rounding tie, which is looked up in the table.
struct StretchEstimate {
    float scale;
    float below;
    float above;
};

/// out = the estimate of every level in @p in (see StretchEstimate). Needs
/// cpuFeatures().wideStretch; gives table[in] only for estimates that were
/// checked against the table.
void stretchEstimate16(const uint16_t* in, const uint8_t* table, const StretchEstimate& estimate,
                       uint8_t* out, std::size_t count);

/// Where a span's tail pixels go: every value v of the span, taken as
/// c = min(v, lastBin), is appended to @p low when c <= lowLimit and to
/// @p high when highLimit <= c <= topStart; each list holds at most
/// @p capacity values and its count is kept in @p lowCount / @p highCount.
struct TailLists {
    uint16_t lastBin;
    uint16_t lowLimit;
    uint16_t highLimit;
    uint16_t topStart;
    uint16_t* low;
    uint16_t* high;
    std::size_t capacity;
    std::size_t lowCount;
    std::size_t highCount;
};

/// Appends the tail pixels of one span (see TailLists). Returns false, with
/// the lists unusable, when one of them would exceed its capacity. Needs
/// cpuFeatures().laneCompress.
bool gatherTails16(const uint16_t* in, std::size_t count, TailLists& lists);

/// out = table[in] for 8-bit input; the table has 256 entries.
void lookup8(const uint8_t* in, const uint8_t* table, uint8_t* out, std::size_t count);

/// histogram[min(in, lastBin)] += 1 for every pixel of the span.
void countHistogram16(const uint16_t* in, std::size_t count, uint32_t* histogram, uint32_t lastBin);

/// histogram[in] += 1 for every pixel of the span (256 bins).
void countHistogram8(const uint8_t* in, std::size_t count, uint32_t* histogram);

/// One channel's demosaicing table: for every level i below @p levels,
/// t = (i - mean) / span + shift; entry = rint(t * k) when t <= 1, else
/// rint(k); clamped to 0..255 (NaN gives 0).
void demosaicTable(uint8_t* table, int levels, double mean, double span, double shift, double k);

/// Green balance of one raw row, for columns first <= c < end (at least two
/// columns and two rows away from the frame's edges, rows @p stride apart):
/// clamp(row[c] + ((sum of the four diagonal neighbours) / 4 - (sum of the
/// nine sites two apart in rows and columns) / 9) / 2, 0, maxLevel) in integer
/// arithmetic, into out[c]. @p vertical and @p diagonal are scratch rows of
/// at least end + 2 values.
void greenBalanceRow(const uint16_t* row, std::ptrdiff_t stride, uint16_t* out, std::size_t first,
                     std::size_t end, int maxLevel, uint32_t* vertical, uint32_t* diagonal);

/// Saturation of three colour planes in single precision:
/// r0 = (c0 a - (c1 - c2) d) / 3, r1 = (c1 a - (c0 - c2) d) / 3,
/// r2 = (c2 a - (c1 - c0) d) / 3, each rounded half to even and clamped to
/// 0..255.
void saturatePlanes(const uint8_t* c0, const uint8_t* c1, const uint8_t* c2, uint8_t* r0,
                    uint8_t* r1, uint8_t* r2, std::size_t count, float a, float d);

/// table[p] = rint(clamp((p - low) / (high - low) * 255, 0, 255)) in double
/// precision, for first <= p < end.
void stretchRangeDouble(uint8_t* table, int first, int end, double low, double high);

/// table[p] = (p - low) / (high - low) * 255 in single precision, converted to
/// a byte with rounding half to even and saturation, for first <= p < end.
void stretchRangeFloat(uint8_t* table, int first, int end, int low, int high);

/// One row of the 3x3 Gaussian blur of sigma 1 as the image library computes
/// it for bytes, in fixed point: weights 70, 116, 70 (of 256) in each
/// direction, the sum (16 fraction bits) rounded half up. @p up and @p down
/// are the rows above and below (mirrored at the frame's edges, the row
/// itself for a one-row frame); columns mirror without repeating the edge.
/// @p vertical is scratch of @p cols values.
void gaussianRow3x3(const uint8_t* up, const uint8_t* row, const uint8_t* down, std::size_t cols,
                    uint16_t* vertical, uint8_t* blurred);

/// out = colours[clamp(2 in - blurred, 0, 255)], three bytes per pixel.
void sharpenColourMap(const uint8_t* in, const uint8_t* blurred, const uint8_t* colours,
                      uint8_t* out, std::size_t count);

/// Rounds half to even, as rint() does under the default rounding mode, for
/// 0 <= x <= 2^52; exact for every double in that range.
inline double roundEven(double x) {
    constexpr double shift = 4503599627370496.0; // 2^52
    return (x + shift) - shift;
}

/// The same for single precision, 0 <= x <= 2^23.
inline float roundEven(float x) {
    constexpr float shift = 8388608.0f; // 2^23
    return (x + shift) - shift;
}

/// Clamps to [low, high]; NaN gives low. Written so that it maps onto
/// vector min/max instructions.
inline double clampValue(double x, double low, double high) {
    x = x > low ? x : low;
    return x < high ? x : high;
}

inline float clampValue(float x, float low, float high) {
    x = x > low ? x : low;
    return x < high ? x : high;
}

/// rint(clamp((p - low) / (high - low) * 255, 0, 255)) in double precision.
inline uint8_t stretchDoubleValue(int p, double low, double high) {
    const double v = (double(p) - low) / (high - low) * 255.0;
    return uint8_t(int32_t(roundEven(clampValue(v, 0.0, 255.0))));
}

/// (p - low) / (high - low) * 255 in single precision, rounded half to even
/// and saturated to a byte.
inline uint8_t stretchFloatValue(int p, int low, int high) {
    const float v = (float(p) - float(low)) / float(high - low) * 255.0f;
    return uint8_t(int32_t(roundEven(clampValue(v, 0.0f, 255.0f))));
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
