#include "XEVNUC2Points.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/NucMaps.h"
#include "toolbox/PixelKernels.h"

#include <utility>

namespace XEVLibrary {
namespace XEVToolBox {

XEVNUC2Points::XEVNUC2Points(std::string path, int width, int height, int offsetX, int offsetY,
                             unsigned int fifoSize)
    : XEVFilter(fifoSize), m_path(std::move(path)), m_width(width), m_height(height),
      m_offsetX(offsetX), m_offsetY(offsetY) {
    detail::loadNucMaps("XEVNUC2Points", m_path, cv::Rect(m_offsetX, m_offsetY, m_width, m_height),
                        {{"NUCDark", CV_16UC1, &m_dark}, {"GainMap", CV_32FC1, &m_gain}});
}

void XEVNUC2Points::onStart() {}

void XEVNUC2Points::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::nucHandles(frame, m_dark.size()))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVNUC2Points::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::correctNucFrame(frame, m_dark.size(), out, [&](int span, std::size_t count) {
        detail::nucTwoPoints(frame.ptr<uint16_t>(span), m_dark.ptr<uint16_t>(span),
                             m_gain.ptr<float>(span), out.ptr<uint16_t>(span), count);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
