#include "XEVFlipH.h"

#include "toolbox/FlipFrame.h"
#include "toolbox/FrameOutput.h"

namespace XEVLibrary {
namespace XEVToolBox {

XEVFlipH::XEVFlipH(unsigned int fifoSize) : XEVFilter(fifoSize) {}

void XEVFlipH::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::flipHandles(frame))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVFlipH::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    return detail::flipFrame(frame, out, 0);
}

} // namespace XEVToolBox
} // namespace XEVLibrary
