#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Two-point correction with two map sets, "NUCDarkOdd"/"GainMapOdd" and
 * "NUCDarkEven"/"GainMapEven", read once at construction. Each frame is
 * corrected with the "Odd" set when the least significant bit of its first
 * pixel (row 0, column 0) is 1 and with the "Even" set otherwise.
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
class XEVNUCDoubleTwoPoints : public XEVFilter {
public:
    /// Reads the map file @p path for the window of @p width x @p height at
    /// (@p offsetX, @p offsetY) on the sensor; the filter's FIFO holds
    /// @p fifoSize frames.
    XEVNUCDoubleTwoPoints(std::string path, int width, int height, int offsetX, int offsetY,
                          unsigned int fifoSize);

    /// Corrects one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The correction of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame this
    /// filter does not handle.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    ///@{
    /// The dark and gain maps of odd and even frames, as last read.
    const cv::Mat& darkMapOdd() const { return m_darkOdd; }
    const cv::Mat& darkMapEven() const { return m_darkEven; }
    const cv::Mat& gainMapOdd() const { return m_gainOdd; }
    const cv::Mat& gainMapEven() const { return m_gainEven; }
    ///@}

private:
    std::string m_path;
    int m_width;
    int m_height;
    int m_offsetX;
    int m_offsetY;
    cv::Mat m_darkOdd;
    cv::Mat m_darkEven;
    cv::Mat m_gainOdd;
    cv::Mat m_gainEven;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
