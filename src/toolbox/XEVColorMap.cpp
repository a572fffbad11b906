#include "XEVColorMap.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/PixelKernels.h"

#include <opencv2/imgproc.hpp>

#include <cstring>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

bool handles(const cv::Mat& frame) {
    return frame.dims == 2 && frame.type() == CV_8UC1;
}

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
    if (!handles(frame))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC3, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVColorMap::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!handles(frame))
        return false;
    out.create(frame.rows, frame.cols, CV_8UC3);
    m_blurred.create(frame.rows, frame.cols, CV_8UC1);
    cv::GaussianBlur(frame, m_blurred, cv::Size(3, 3), 1.0, 0.0, cv::BORDER_REFLECT_101);
    const uint8_t* colours = m_colours.data();
    if (frame.isContinuous() && out.isContinuous()) {
        detail::sharpenColourMap(frame.ptr<uint8_t>(0), m_blurred.ptr<uint8_t>(0), colours,
                                 out.ptr<uint8_t>(0), frame.total());
        return true;
    }
    for (int r = 0; r < frame.rows; ++r)
        detail::sharpenColourMap(frame.ptr<uint8_t>(r), m_blurred.ptr<uint8_t>(r), colours,
                                 out.ptr<uint8_t>(r), std::size_t(frame.cols));
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
