#pragma once

#include "XEVFilter.h"

#include <memory>
#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Blends a grey-level picture into every 8-bit grey frame.
 *
 * The picture is read once, at construction, in grey-level mode; a file that
 * cannot be read leaves an empty picture and frames pass through unchanged.
 * The picture's top-left corner is placed at (x, y) in frame coordinates
 * (negative values allowed); only the part that lies inside the frame is
 * drawn. Each covered pixel becomes trunc(picture * alpha + frame *
 * (1 - alpha)), limited to 0..255; nothing is drawn unless alpha > 0.
 * The frame record is passed on unchanged. Frames that are not 8-bit
 * single-channel produce no output.
 */
class XEVImageOverlay : public XEVFilter {
public:
    /// Reads the picture @p imagePath, placed at (@p x, @p y) and blended with
    /// weight @p alpha; the filter's FIFO holds @p fifoSize frames.
    XEVImageOverlay(const std::string& imagePath, int x, int y, double alpha,
                    unsigned int fifoSize);
    ~XEVImageOverlay() override;

    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// True when the picture file could be read.
    bool hasPicture() const;

private:
    struct Overlay;
    std::unique_ptr<Overlay> m_overlay;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
