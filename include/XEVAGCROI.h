#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include <memory>

namespace XEVLibrary {
namespace XEVToolBox {

namespace detail {
class WindowGainControl;
}

/**
 * Automatic gain control measured on a centred window of raw 16-bit frames:
 * mode 0 uses the central half of the frame, mode 1 the central quarter.
 *
 * Each frame is stretched with the bounds measured on the frame before:
 * (p - low) / (high - low) * 255 in single precision, rounded half to even and
 * saturated to a byte. The first frame, and the first after the frame size
 * changed, is stretched over 0..16383. The bounds are then measured on the
 * window's 16384-bin histogram (values above 16383 count in the last bin):
 * low from the bottom, the top bound from bin 16382 down, each where the
 * running sum reaches 200 pixels (or the first/last bin when it never does),
 * high = low + 300 when the span is smaller. Output frames are 8-bit
 * single-channel of the input's size with the input's XEVFrameInfo; frames
 * that are not 16-bit single-channel are dropped.
 */
class XEVAGCROI : public XEVFilter {
public:
    /// Refuses a @p mode other than 0 or 1 with an XEVException.
    XEVAGCROI(int mode, unsigned int fifoSize);
    ~XEVAGCROI() override;

    /// Stretches one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 16-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// The window mode given at construction: 0 central half, 1 central quarter.
    int mode() const { return m_mode; }
    /// The window of the last frame.
    cv::Rect window() const { return m_window; }
    /// The bounds the next frame is stretched with.
    ///@{
    int low() const;
    int high() const;
    ///@}

private:
    int m_mode;
    cv::Rect m_window;
    std::unique_ptr<detail::WindowGainControl> m_gain;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
