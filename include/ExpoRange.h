#pragma once

#include <cstdint>

namespace XEVLibrary {

/**
 * One range of an exposure table: coarse codes firstCode ... lastCode, each
 * adding step to min, plus fine counts 0 ... 255 adding fineStep each. The
 * value of a pair (code, fine) is (code - firstCode) x step + min +
 * fine x fineStep. Values are microseconds.
 */
struct ExpoRange {
    double min;      ///< value of firstCode with fine count 0
    double max;      ///< largest value the range can express
    double step;     ///< value per coarse code (0: a single code)
    double fineStep; ///< value per fine count (0: no fine steps)
    ///@{
    /// The first and last coarse codes of the range.
    int32_t firstCode;
    int32_t lastCode;
    ///@}

    /// The value of (code, fine) in this range.
    double valueOf(int code, int fine) const {
        return (code - firstCode) * step + min + fine * fineStep;
    }
    /// True when the range has fine steps.
    bool hasFine() const { return fineStep != 0.0; }
    /// True when @p code is one of the range's coarse codes.
    bool containsCode(int code) const { return firstCode <= code && code <= lastCode; }
};

} // namespace XEVLibrary
