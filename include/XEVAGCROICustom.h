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
 * Automatic gain control measured on a caller-given window of raw 16-bit
 * frames. It works as XEVAGCROI (one-frame delay of the bounds, 0..16383 for
 * the first frame and after a change of frame size) with a window fixed at
 * construction; the part of the window outside a frame is not counted.
 */
class XEVAGCROICustom : public XEVFilter {
public:
    /// Measures on the window of @p width x @p height at (@p x, @p y); the
    /// filter's FIFO holds @p fifoSize frames.
    XEVAGCROICustom(int x, int y, int width, int height, unsigned int fifoSize);
    ~XEVAGCROICustom() override;

    /// Stretches one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 16-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// The window given at construction.
    cv::Rect window() const { return m_window; }
    /// The bounds the next frame is stretched with.
    ///@{
    int low() const;
    int high() const;
    ///@}

private:
    cv::Rect m_window;
    std::unique_ptr<detail::WindowGainControl> m_gain;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
