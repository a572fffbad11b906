#include "XEVGamma.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/PixelKernels.h"

#include <cmath>

namespace XEVLibrary {
namespace XEVToolBox {

XEVGamma::XEVGamma(double gamma, int threshold, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_gamma(gamma), m_threshold(threshold) {
    // The curve depends only on the constructor's values, so the table is
    // built once rather than per frame.
    const double t = threshold;
    for (int i = 0; i < 256; ++i) {
        double v;
        if (threshold < i)
            v = std::rint(255.0 - std::pow((255.0 - i) / (255.0 - t), gamma) * 255.0 *
                                      ((255.0 - t) / 255.0));
        else
            v = std::rint(std::pow(i / t, gamma) * t);
        m_table[std::size_t(i)] = uint8_t(detail::clampValue(v, 0.0, 255.0));
    }
}

void XEVGamma::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_8UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVGamma::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!detail::isImageOf(frame, CV_8UC1))
        return false;
    out.create(frame.rows, frame.cols, CV_8UC1);
    detail::lookupFrame8(frame, m_table.data(), out);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
