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
    if (!detail::nucHandles(frame, m_dark.size()))
        return false;
    out.create(frame.rows, frame.cols, CV_16UC1);
    if (frame.empty())
        return true;
    // Maps are continuous; a continuous frame and output make one span.
    const int spans = (frame.isContinuous() && out.isContinuous()) ? 1 : frame.rows;
    const std::size_t count = frame.total() / std::size_t(spans);
    for (int r = 0; r < spans; ++r)
        detail::nucTwoPoints(frame.ptr<uint16_t>(r), m_dark.ptr<uint16_t>(r), m_gain.ptr<float>(r),
                             out.ptr<uint16_t>(r), count);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
