#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Two-point non-uniformity correction: out = rint((in - dark) * gain + 1000),
 * the product in single precision. Reads the nodes "NUCDark" (16-bit) and
 * "GainMap" (32-bit float) once, at construction.
 *
 * Output frames are 16-bit single-channel frames of the input's size holding
 * 14-bit values offset by the pedestal 1000 and clamped to 0..16383; the
 * input's XEVFrameInfo is passed on unchanged. Only 16-bit single-channel
 * frames of the window's size are corrected (an empty frame gives an empty
 * output); any other frame is dropped without output.
 *
 * Map file: an OpenCV persistence file covering the whole sensor; the filter
 * keeps the rectangle of width x height at (offsetX, offsetY). A file that does
 * not open leaves all-zero maps. A map node that is missing or does not hold
 * the window raises an XEVException (from the constructor).
 */
class XEVNUC2Points : public XEVFilter {
public:
    /// Reads the map file @p path for the window of @p width x @p height at
    /// (@p offsetX, @p offsetY) on the sensor; the filter's FIFO holds
    /// @p fifoSize frames.
    XEVNUC2Points(std::string path, int width, int height, int offsetX, int offsetY,
                  unsigned int fifoSize);
    /// Nothing to do: the maps are loaded at construction.
    void onStart() override;

    /// Corrects one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The correction of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame this
    /// filter does not handle.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    ///@{
    /// The dark and gain maps of the window, as last read.
    const cv::Mat& darkMap() const { return m_dark; }
    const cv::Mat& gainMap() const { return m_gain; }
    ///@}

private:
    std::string m_path;
    int m_width;
    int m_height;
    int m_offsetX;
    int m_offsetY;
    cv::Mat m_dark;
    cv::Mat m_gain;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
