#include "XEVColorMap.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/PixelKernels.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

/// The image library's colour map of a mode, or -1 for none.
int colourMapOf(int mode) {
    static const int maps[] = {cv::COLORMAP_RAINBOW, cv::COLORMAP_JET,    cv::COLORMAP_HSV,
                               cv::COLORMAP_HOT,     cv::COLORMAP_SUMMER, cv::COLORMAP_WINTER,
                               cv::COLORMAP_COOL,    cv::COLORMAP_BONE,   cv::COLORMAP_SPRING,
                               cv::COLORMAP_AUTUMN,  cv::COLORMAP_OCEAN};
    return (mode >= 1 && mode <= 11) ? maps[mode - 1] : -1;
}

} // namespace

XEVColorMap::XEVColorMap(unsigned int fifoSize, int mode) : XEVFilter(fifoSize), m_mode(mode) {
    // A colour map colours each grey level independently, so mapping the 256
    // levels once gives a table that reproduces it pixel for pixel.
    cv::Mat levels(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        levels.at<uint8_t>(0, i) = uint8_t(i);
    cv::Mat colours;
    const int map = colourMapOf(mode);
    if (map >= 0)
        cv::applyColorMap(levels, colours, map);
    else
        cv::cvtColor(levels, colours, cv::COLOR_GRAY2BGR);
    std::memcpy(m_colours.data(), colours.ptr<uint8_t>(0), m_colours.size());
}

void XEVColorMap::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_8UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC3, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVColorMap::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!detail::isImageOf(frame, CV_8UC1))
        return false;
    out.create(frame.rows, frame.cols, CV_8UC3);
    // One blurred row at a time, sharpened and coloured while in the cache;
    // the row buffers are reused while the width stays.
    m_blurred.create(1, frame.cols, CV_8UC1);
    m_vertical.create(1, frame.cols, CV_16UC1);
    const uint8_t* colours = m_colours.data();
    const int last = frame.rows - 1;
    for (int r = 0; r < frame.rows; ++r) {
        const int above = r > 0 ? r - 1 : std::min(1, last);
        const int below = r < last ? r + 1 : std::max(last - 1, 0);
        detail::gaussianRow3x3(frame.ptr<uint8_t>(above), frame.ptr<uint8_t>(r),
                               frame.ptr<uint8_t>(below), std::size_t(frame.cols),
                               m_vertical.ptr<uint16_t>(0), m_blurred.ptr<uint8_t>(0));
        detail::sharpenColourMap(frame.ptr<uint8_t>(r), m_blurred.ptr<uint8_t>(0), colours,
                                 out.ptr<uint8_t>(r), std::size_t(frame.cols));
    }
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
