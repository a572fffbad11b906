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
    if (!detail::nucHandles(frame, m_darkOdd.size()))
        return false;
    out.create(frame.rows, frame.cols, CV_16UC1);
    if (frame.empty())
        return true;
    const bool odd = (frame.at<uint16_t>(0, 0) & 1u) != 0;
    const cv::Mat& dark = odd ? m_darkOdd : m_darkEven;
    // Maps are continuous; a continuous frame and output make one span.
    const int spans = (frame.isContinuous() && out.isContinuous()) ? 1 : frame.rows;
    const std::size_t count = frame.total() / std::size_t(spans);
    for (int r = 0; r < spans; ++r)
        detail::nucOnePoint(frame.ptr<uint16_t>(r), dark.ptr<uint16_t>(r), out.ptr<uint16_t>(r),
                            count);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
