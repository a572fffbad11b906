#pragma once

#include "toolbox/FrameOutput.h"

#include <opencv2/core/mat.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

/// True for the frames the annotation filters draw on: 8-bit grey, not empty.
bool isAnnotatable(const cv::Mat& frame);

/// Draws @p text the way every text filter does: white italic duplex Hershey
/// font, thickness 2, @p origin the bottom left of the text, clipped.
void drawAnnotationText(cv::Mat& image, const char* text, int x, int y, double fontScale);

/// The frame step of every annotation filter: a frame it can draw on is
/// copied into a slot of @p fifo, @p draw(slot) annotates the copy and the
/// slot is delivered with @p info; other frames deliver nothing.
template <class Draw>
void deliverAnnotated(XEVFrameProducer& fifo, const cv::Mat& frame, const XEVFrameInfo& info,
                      Draw&& draw) {
    if (!isAnnotatable(frame))
        return;
    detail::deliverFrame(fifo, frame.cols, frame.rows, CV_8UC1, info, [&](cv::Mat& out) {
        frame.copyTo(out);
        draw(out);
        return true;
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
