#pragma once

#include <opencv2/core/mat.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

/// True for the frames the annotation filters draw on: 8-bit grey, not empty.
bool isAnnotatable(const cv::Mat& frame);

/// Draws @p text the way every text filter does: white italic duplex Hershey
/// font, thickness 2, @p origin the bottom left of the text, clipped.
void drawAnnotationText(cv::Mat& image, const char* text, int x, int y, double fontScale);

} // namespace XEVToolBox
} // namespace XEVLibrary
