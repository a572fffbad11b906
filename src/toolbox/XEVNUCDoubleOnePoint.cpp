#include "XEVNUCDoubleOnePoint.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/NucMaps.h"
#include "toolbox/PixelKernels.h"

#include <utility>

namespace XEVLibrary {
namespace XEVToolBox {

XEVNUCDoubleOnePoint::XEVNUCDoubleOnePoint(std::string path, int width, int height, int offsetX,
                                           int offsetY, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_path(std::move(path)), m_width(width), m_height(height),
      m_offsetX(offsetX), m_offsetY(offsetY) {
    detail::loadNucMaps(
        "XEVNUCDoubleOnePoint", m_path, cv::Rect(m_offsetX, m_offsetY, m_width, m_height),
        {{"NUCDarkOdd", CV_16UC1, &m_darkOdd}, {"NUCDarkEven", CV_16UC1, &m_darkEven}});
}

void XEVNUCDoubleOnePoint::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::nucHandles(frame, m_darkOdd.size()))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVNUCDoubleOnePoint::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::correctNucFrame(frame, m_darkOdd.size(), out, [&](int span, std::size_t count) {
        const cv::Mat& dark = detail::firstPixelOdd(frame) ? m_darkOdd : m_darkEven;
        detail::nucOnePoint(frame.ptr<uint16_t>(span), dark.ptr<uint16_t>(span),
                            out.ptr<uint16_t>(span), count);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
