#include "toolbox/FlipFrame.h"

#include <opencv2/core.hpp>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

bool flipFrame(const cv::Mat& frame, cv::Mat& out, int code) {
    if (!flipHandles(frame))
        return false;
    out.create(frame.rows, frame.cols, CV_8UC1);
    cv::flip(frame, out, code);
    return true;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
