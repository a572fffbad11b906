#include "NumpyFrame.h"

#include "XEVException.h"

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

namespace py = pybind11;

namespace XEVPython {
namespace {

py::dtype dtypeOf(const cv::Mat& image) {
    switch (image.depth()) {
    case CV_8U:
        return py::dtype::of<uint8_t>();
    case CV_16U:
        return py::dtype::of<uint16_t>();
    default:
        XEVLibrary::XEVException::throwError("Frames of OpenCV depth %d have no numpy type",
                                             image.depth());
    }
}

std::vector<py::ssize_t> shapeOf(const cv::Mat& image) {
    if (image.channels() == 1)
        return {image.rows, image.cols};
    return {image.rows, image.cols, image.channels()};
}

std::vector<py::ssize_t> stridesOf(const cv::Mat& image) {
    const auto element = static_cast<py::ssize_t>(image.elemSize1());
    const auto row = static_cast<py::ssize_t>(image.step[0]);
    if (image.channels() == 1)
        return {row, element * 1};
    return {row, static_cast<py::ssize_t>(image.elemSize()), element};
}

} // namespace

py::array arrayOver(const cv::Mat& image, py::handle owner) {
    return py::array(dtypeOf(image), shapeOf(image), stridesOf(image), image.data, owner);
}

py::array adoptFrame(cv::Mat&& image) {
    auto* owned = new cv::Mat(std::move(image));
    py::capsule owner(owned, [](void* p) { delete static_cast<cv::Mat*>(p); });
    return arrayOver(*owned, owner);
}

py::array viewFrame(const cv::Mat& image) {
    // A base object keeps numpy from copying; the caller keeps the data alive.
    py::array view(dtypeOf(image), shapeOf(image), stridesOf(image), image.data, py::none());
    py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return view;
}

cv::Mat matOf(py::array& array) {
    if (!(array.flags() & py::array::c_style))
        XEVLibrary::XEVException::throwError("The array must be C-contiguous");
    int depth;
    if (array.dtype().is(py::dtype::of<uint8_t>()))
        depth = CV_8U;
    else if (array.dtype().is(py::dtype::of<uint16_t>()))
        depth = CV_16U;
    else
        XEVLibrary::XEVException::throwError("The array must be of uint8 or uint16");
    int channels = 1;
    if (array.ndim() == 3 && array.shape(2) == 3)
        channels = 3;
    else if (array.ndim() != 2)
        XEVLibrary::XEVException::throwError("The array must be rows x columns (x 3)");
    return cv::Mat(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)),
                   CV_MAKETYPE(depth, channels), array.mutable_data());
}

} // namespace XEVPython
