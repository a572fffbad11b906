#include "Stage.h"

#include "NumpyFrame.h"
#include "XEVException.h"

namespace py = pybind11;

namespace XEVPython {

py::array Stage::apply(py::array image, const XEVLibrary::XEVFrameInfo& info) {
    cv::Mat input = matOf(image);
    cv::Mat output;
    bool done;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_inChain)
            XEVLibrary::XEVException::throwError(
                "This stage is in a capture chain; it takes arrays again once the capture is "
                "closed");
        done = process(input, output, info);
    }
    if (!done)
        XEVLibrary::XEVException::throwError(
            "This stage does not take %d-channel images of OpenCV depth %d", input.channels(),
            input.depth());
    return adoptFrame(std::move(output));
}

void Stage::enterChain() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_inChain)
        XEVLibrary::XEVException::throwError("A stage can be in one capture chain at a time");
    m_inChain = true;
}

void Stage::leaveChain() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_inChain = false;
}

bool Stage::inChain() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_inChain;
}

} // namespace XEVPython
