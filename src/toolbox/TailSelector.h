#pragma once

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/**
 * Finds a window's histogram bounds without counting a histogram. The bounds
 * of the gain-control stages are order statistics: the level at which the
 * count from the bottom first reaches the tail size is the tail-th smallest
 * pixel, and the level at which the count down from the start bin reaches it
 * is the tail-th largest pixel at or below that bin. A sparse sample of the
 * window gives two limits that each tail lies beyond with a safe margin; one
 * vector pass collects the pixels past them, and a selection among those few
 * gives the exact levels. When the sample misjudges the window (too few or
 * too many pixels collected), or the processor cannot compress vector
 * lanes, select()
 * declines and the caller counts its histogram as before.
 */
class TailSelector {
public:
    TailSelector();

    /// Bounds of @p window (16-bit, one channel), each value taken as
    /// min(value, lastBin): @p first is the tail-th smallest value, @p top
    /// the tail-th largest value not above @p topStart. Returns false, leaving
    /// both untouched, when the histogram must be counted instead.
    bool select(const cv::Mat& window, uint16_t lastBin, uint16_t topStart, uint32_t tail,
                int& first, int& top);

private:
    bool chooseLimits(const cv::Mat& window, uint16_t lastBin, uint16_t topStart, uint32_t tail,
                      uint16_t& lowLimit, uint16_t& highLimit);

    std::vector<uint16_t> m_sample;
    std::vector<uint16_t> m_low;
    std::vector<uint16_t> m_high;
};

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
