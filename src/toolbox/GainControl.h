#pragma once

#include "toolbox/StretchTable.h"
#include "toolbox/TailSelector.h"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

// Histogram bounds and linear stretches shared by the gain-control stages.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// Pixels each tail of the histogram must hold.
constexpr uint32_t TailPixels = 200;
/// Smallest stretch span in grey levels.
constexpr int MinimumSpan = 300;
/// Bins of the 14-bit histograms.
constexpr int RawLevels = 16384;
/// Entries of a table indexed by any 16-bit value.
constexpr int WordLevels = 65536;

struct Bounds {
    int low;
    int high;
};

/// First bin, counting up from 0, at which the running sum reaches @p tail;
/// 0 when the whole histogram holds fewer pixels.
int lowerBound(const uint32_t* histogram, int bins, uint32_t tail);

/// First bin, counting down from @p start, at which the running sum reaches
/// @p tail; @p start when bins 0 to start hold fewer pixels.
int upperBound(const uint32_t* histogram, int start, uint32_t tail);

/// low and top with high raised to low + 300 when the span is less.
Bounds withMinimumSpan(int low, int top);

/// Gain-control bounds: the two searches with 200-pixel tails, the top search
/// starting at @p start, and high raised to low + 300 when the span is less.
Bounds gainBounds(const uint32_t* histogram, int bins, int start);

/// Fills a 16-bit indexed table (65536 entries) with the double-precision
/// stretch between @p low and @p high (high > low): 0 up to low, 255 from high
/// on, the formula in between.
void fillStretchTable16(uint8_t* table, int low, int high);

/// The same with the single-precision stretch, (p - low) / (high - low) * 255
/// rounded half to even and saturated.
void fillFloatStretchTable16(uint8_t* table, int low, int high);

/**
 * The windowed gain control: each frame is stretched with the bounds measured
 * on the frame before, then the bounds are measured on this frame's window.
 * The bounds start at 0 and 16383 and return there when the frame size
 * changes.
 */
class WindowGainControl {
public:
    WindowGainControl();

    /// Stretches @p in (16-bit, one channel) into @p out (8-bit, created when
    /// needed) and measures @p window, clipped to the frame.
    void process(const cv::Mat& in, cv::Mat& out, const cv::Rect& window);
    /// Back to the first-frame bounds 0 and 16383.
    void reset();

    int low() const { return m_low; }
    int high() const { return m_high; }

private:
    void prepareTable();

    std::vector<uint32_t> m_histogram;
    StretchTable m_stretch;
    TailSelector m_selector;
    int m_low = 0;
    int m_high = RawLevels - 1;
    int m_tableLow = -1;
    int m_tableHigh = -1;
    cv::Size m_size{-1, -1};
};

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
