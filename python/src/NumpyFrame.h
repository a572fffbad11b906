#pragma once

#include <opencv2/core/mat.hpp>
#include <pybind11/numpy.h>

namespace XEVPython {

/// A numpy array over @p image's buffer, kept alive by @p owner (the array's
/// base object).
pybind11::array arrayOver(const cv::Mat& image, pybind11::handle owner);
/// A numpy array that takes over @p image's buffer (no copy): uint16 or
/// uint8, shape rows x columns, or rows x columns x 3 for colour frames.
pybind11::array adoptFrame(cv::Mat&& image);
/// A read-only numpy array over @p image's buffer, valid while it is.
pybind11::array viewFrame(const cv::Mat& image);
/// A cv::Mat over a numpy array's buffer (C-contiguous uint8 or uint16,
/// two dimensions, or three with 3 channels); no copy.
cv::Mat matOf(pybind11::array& array);

} // namespace XEVPython
