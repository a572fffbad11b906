#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

namespace detail {
class StretchTable;
class TailSelector;
} // namespace detail

/**
 * Automatic gain control over the whole frame: turns raw 16-bit frames (with
 * @p bitDepth significant bits) or 8-bit frames into 8-bit frames by a linear
 * stretch between bounds measured on the frame itself.
 *
 * The histogram has 1 << bitDepth bins for 16-bit frames and 256 for 8-bit
 * frames; values above the last bin are counted in it. The counted window
 * leaves out the first column and the last two columns when the frame's
 * offsetX is 0, and the first line and the last two lines when its offsetY is
 * 0. low is the first bin at which the running sum from the bottom reaches
 * 200 pixels, the top bound the first such bin from the top; high is the top
 * bound, or low + 300 when the span is smaller. A histogram with fewer than
 * 200 pixels in a tail keeps the first (low) or last (top) bin. Each pixel
 * becomes rint(clamp((p - low) / (high - low) * 255, 0, 255)) in double
 * precision. Output frames are 8-bit single-channel of the input's size; the
 * XEVFrameInfo is passed on unchanged. Frames of other types are dropped.
 */
class XEVAutomaticGainControl : public XEVFilter {
public:
    /// Refuses a @p bitDepth below 8 or above 16 with an XEVException.
    XEVAutomaticGainControl(unsigned int bitDepth, unsigned int fifoSize);
    ~XEVAutomaticGainControl() override;

    /// Stretches one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ); @p info gives the window origin. Returns false, leaving @p out
    /// untouched, for a frame that is neither 16-bit nor 8-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// Bit depth of the input the stretch assumes, as given at construction.
    unsigned int bitDepth() const { return m_bitDepth; }
    /// Bins used by the last frame.
    int histogramSize() const { return m_histogramSize; }
    /// Bounds measured on the last frame.
    ///@{
    int low() const { return m_low; }
    int high() const { return m_high; }
    ///@}

private:
    unsigned int m_bitDepth;
    int m_histogramSize;
    std::vector<uint32_t> m_histogram;
    std::unique_ptr<detail::StretchTable> m_stretch;
    std::unique_ptr<detail::TailSelector> m_selector;
    /// Table of 8-bit frames.
    std::array<uint8_t, 256> m_table8{};
    /// Bounds the stretch table was last prepared for.
    int m_tableLow = -1;
    int m_tableHigh = -1;
    int m_low = 0;
    int m_high;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
