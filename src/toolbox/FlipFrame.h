#pragma once

#include <opencv2/core/mat.hpp>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// Mirrors an 8-bit single-channel frame into @p out with OpenCV's flip
/// @p code (0: rows reversed, 1: columns reversed); false for any other
/// frame type, which the flips do not handle.
bool flipFrame(const cv::Mat& frame, cv::Mat& out, int code);

/// True for the frames the flips handle: two-dimensional, 8-bit, one channel.
inline bool flipHandles(const cv::Mat& frame) {
    return frame.dims == 2 && frame.type() == CV_8UC1;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
