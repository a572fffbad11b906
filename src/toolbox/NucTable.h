#pragma once

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

// The correction tables of the exposure-following NUC stage, shared by the
// stage, its text parser and its binary cache.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// Largest number of rows or columns of a table: bigger than any sensor, so
/// that a larger value can only come from a damaged file.
constexpr unsigned MaxNucSide = 16384;

/// One set of maps: a dark value and a gain per pixel, row after row.
struct NucSet {
    std::vector<uint16_t> dark;
    std::vector<float> gain;
};

/**
 * A NUC table measured at one exposure time: rows x cols pixels, one map set
 * or, with the double flag, two (set 1 for frames whose first pixel is odd,
 * set 2 for even ones). Gains are finite and never negative; the stage relies
 * on it.
 */
struct Nuc {
    uint16_t rows = 0;
    uint16_t cols = 0;
    /// The exposure time the table was measured at (from its file name).
    double exposure = 0.0;
    /// Set by the text parser once the whole table was read.
    bool parsed = false;
    /// Two map sets (odd and even frames).
    bool isDouble = false;
    NucSet set1;
    NucSet set2;

    std::size_t pixels() const { return std::size_t(rows) * cols; }
    /// The set a frame uses: set 2 for an even first pixel of a double table.
    const NucSet& setFor(bool firstPixelOdd) const {
        return isDouble && !firstPixelOdd ? set2 : set1;
    }
    /// Sizes every map of the table for rows x cols (zero-filled).
    void allocate();
};

/**
 * The table at exposure @p x between @p low and @p high (same size and kind):
 * with d = high.exposure - low.exposure in single precision, each value is
 * ((high.exposure - x) low + (x - low.exposure) high) / d, dark values
 * clamped to 0..16383 and truncated, gains clamped to 0..16383. Two
 * exposures that single precision cannot tell apart (d = 0) give @p high, as
 * do tables of different shapes.
 */
Nuc interpolateNuc(const Nuc& low, const Nuc& high, double x);

/// Where a table meets a frame: the frame's pixels at (frameX, frameY), of
/// width x height, are the table's at (tableX, tableY). Empty: width 0.
struct NucOverlap {
    int frameX = 0;
    int frameY = 0;
    int tableX = 0;
    int tableY = 0;
    int width = 0;
    int height = 0;
};

/// The overlap of a frame window of @p width x @p height at (@p x, @p y) on
/// the sensor with a table of @p rows x @p cols from the sensor's origin.
NucOverlap nucOverlap(int64_t x, int64_t y, int width, int height, int rows, int cols);

/**
 * Corrects the 16-bit frame @p frame (not empty) into @p out (16-bit, of the
 * frame's size) with @p table over @p overlap (see nucOverlap); every other
 * pixel is copied from the frame. One pass, no allocation.
 */
void applyNuc(const Nuc& table, const NucOverlap& overlap, const cv::Mat& frame, cv::Mat& out);

/// The correction of one span of pixels:
/// out = min(trunc(double(float(max(in - dark, 0)) * gain) + 1000.0), 16383).
void nucInterpolatedSpan(const uint16_t* in, const uint16_t* dark, const float* gain, uint16_t* out,
                         std::size_t count);

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
