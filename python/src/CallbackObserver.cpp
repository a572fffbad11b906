#include "CallbackObserver.h"

#include "NumpyFrame.h"
#include "XEVDevice.h"
#include "XEVException.h"

namespace py = pybind11;

namespace XEVPython {

CallbackObserver::CallbackObserver(XEVLibrary::XEVDevice& device, py::function callback, bool copy,
                                   const py::sequence& stages)
    : DeviceConsumer(device), m_callback(std::move(callback)), m_copy(copy), m_chain(stages) {
    try {
        py::gil_scoped_release release;
        m_chain.connect(device, *this);
    } catch (...) {
        m_closed = true;
        unlist();
        py::gil_scoped_release release;
        m_chain.disconnect(*this);
        throw;
    }
}

CallbackObserver::~CallbackObserver() {
    try {
        shutDown();
    } catch (...) {
        // Destruction cannot raise; the device stays stopped either way.
    }
}

void CallbackObserver::onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) {
    py::gil_scoped_acquire gil;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_error)
            return;
    }
    try {
        py::array image = m_copy ? adoptFrame(frame.clone()) : viewFrame(frame);
        m_callback(image, info);
    } catch (py::error_already_set& error) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_error = std::make_unique<py::error_already_set>(std::move(error));
        }
        // Ends this reading thread; the Python exception waits for the caller.
        XEVLibrary::XEVException::throwError("A Python frame callback raised an exception");
    }
}

void CallbackObserver::shutDown() {
    unlist();
    if (m_closed)
        return;
    m_closed = true;
    py::gil_scoped_release release;
    if (source() != nullptr && m_device->isCapturing())
        m_device->stop();
    m_chain.disconnect(*this);
}

void CallbackObserver::raisePending() {
    std::unique_ptr<py::error_already_set> error;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        error = std::move(m_error);
    }
    if (error) {
        error->restore();
        throw py::error_already_set();
    }
}

py::object CallbackObserver::self() {
    return py::cast(this, py::return_value_policy::reference);
}

} // namespace XEVPython
