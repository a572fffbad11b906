#include "XEVFlipH.h"

#include "toolbox/FrameOutput.h"

#include <opencv2/core.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

bool handles(const cv::Mat& frame) {
    return frame.dims == 2 && frame.type() == CV_8UC1;
}

} // namespace

XEVFlipH::XEVFlipH(unsigned int fifoSize) : XEVFilter(fifoSize) {}

void XEVFlipH::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!handles(frame))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVFlipH::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!handles(frame))
        return false;
    out.create(frame.rows, frame.cols, CV_8UC1);
    cv::flip(frame, out, 0);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
