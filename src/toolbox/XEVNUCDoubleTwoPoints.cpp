#include "XEVNUCDoubleTwoPoints.h"

#include "toolbox/FrameOutput.h"
#include "toolbox/NucMaps.h"
#include "toolbox/PixelKernels.h"

#include <utility>

namespace XEVLibrary {
namespace XEVToolBox {

XEVNUCDoubleTwoPoints::XEVNUCDoubleTwoPoints(std::string path, int width, int height, int offsetX,
                                             int offsetY, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_path(std::move(path)), m_width(width), m_height(height),
      m_offsetX(offsetX), m_offsetY(offsetY) {
    detail::loadNucMaps("XEVNUCDoubleTwoPoints", m_path,
                        cv::Rect(m_offsetX, m_offsetY, m_width, m_height),
                        {{"NUCDarkOdd", CV_16UC1, &m_darkOdd},
                         {"NUCDarkEven", CV_16UC1, &m_darkEven},
                         {"GainMapOdd", CV_32FC1, &m_gainOdd},
                         {"GainMapEven", CV_32FC1, &m_gainEven}});
}

void XEVNUCDoubleTwoPoints::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::nucHandles(frame, m_darkOdd.size()))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_16UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVNUCDoubleTwoPoints::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::correctNucFrame(frame, m_darkOdd.size(), out, [&](int span, std::size_t count) {
        const bool odd = detail::firstPixelOdd(frame);
        const cv::Mat& dark = odd ? m_darkOdd : m_darkEven;
        const cv::Mat& gain = odd ? m_gainOdd : m_gainEven;
        detail::nucTwoPoints(frame.ptr<uint16_t>(span), dark.ptr<uint16_t>(span),
                             gain.ptr<float>(span), out.ptr<uint16_t>(span), count);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
