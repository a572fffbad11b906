#include "XEVNUC1Point.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/NucMaps.h"
#include "toolbox/PixelKernels.h"

#include <utility>

namespace XEVLibrary {
namespace XEVToolBox {

XEVNUC1Point::XEVNUC1Point(std::string path, int width, int height, int offsetX, int offsetY,
                           unsigned int fifoSize)
    : XEVFilter(fifoSize), m_path(std::move(path)), m_width(width), m_height(height),
      m_offsetX(offsetX), m_offsetY(offsetY) {}

void XEVNUC1Point::onStart() {
    detail::loadNucMaps("XEVNUC1Point", m_path, cv::Rect(m_offsetX, m_offsetY, m_width, m_height),
                        {{"NUCDark", CV_16UC1, &m_dark}});
}

void XEVNUC1Point::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::nucHandles(frame, m_dark.size()))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVNUC1Point::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::correctNucFrame(frame, m_dark.size(), out, [&](int span, std::size_t count) {
        detail::nucOnePoint(frame.ptr<uint16_t>(span), m_dark.ptr<uint16_t>(span),
                            out.ptr<uint16_t>(span), count);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
