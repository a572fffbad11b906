#include "XEVFlipV.h"

#include "toolbox/FlipFrame.h"
#include "toolbox/FrameOutput.h"

namespace XEVLibrary {
namespace XEVToolBox {

XEVFlipV::XEVFlipV(unsigned int fifoSize) : XEVFilter(fifoSize) {}

void XEVFlipV::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::flipHandles(frame))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVFlipV::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::flipFrame(frame, out, 1);
}

} // namespace XEVToolBox
} // namespace XEVLibrary
