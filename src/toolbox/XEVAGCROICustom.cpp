#include "XEVAGCROICustom.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/GainControl.h"

namespace XEVLibrary {
namespace XEVToolBox {

XEVAGCROICustom::XEVAGCROICustom(int x, int y, int width, int height, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_window(x, y, width, height),
      m_gain(std::make_unique<detail::WindowGainControl>()) {}

XEVAGCROICustom::~XEVAGCROICustom() = default;

int XEVAGCROICustom::low() const {
    return m_gain->low();
}
int XEVAGCROICustom::high() const {
    return m_gain->high();
}

void XEVAGCROICustom::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVAGCROICustom::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return false;
    m_gain->process(frame, out, m_window);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
