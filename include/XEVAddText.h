#pragma once

#include "XEVFilter.h"

#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Writes a fixed text onto every 8-bit grey frame.
 *
 * Each frame is copied into the filter's FIFO with the text drawn in white,
 * italic duplex Hershey font, thickness 2, (x, y) being the bottom left of the
 * text; what falls outside the frame is clipped. The frame record is passed on
 * unchanged. Frames that are not 8-bit single-channel produce no output.
 */
class XEVAddText : public XEVFilter {
public:
    /// Draws @p text with its bottom left at (@p x, @p y), at OpenCV font scale
    /// @p fontScale; the filter's FIFO holds @p fifoSize frames.
    XEVAddText(const std::string& text, int x, int y, double fontScale, unsigned int fifoSize);

    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

private:
    std::string m_text;
    int m_x;
    int m_y;
    double m_fontScale;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
