#include "CallbackObserver.h"

#include "NumpyFrame.h"
#include "XEVDevice.h"
#include "XEVException.h"

#include <algorithm>
#include <map>
#include <vector>

namespace py = pybind11;

namespace XEVPython {
namespace {

/// The open callback observers of each device, so that the device's wait
/// and stop raise what their callbacks raised.
std::mutex s_registryLock;
std::map<const XEVLibrary::XEVDevice*, std::vector<CallbackObserver*>>& registry() {
    static std::map<const XEVLibrary::XEVDevice*, std::vector<CallbackObserver*>> observers;
    return observers;
}

} // namespace

CallbackObserver::CallbackObserver(XEVLibrary::XEVDevice& device, py::function callback, bool copy)
    : m_device(&device), m_callback(std::move(callback)), m_copy(copy) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    registry()[m_device].push_back(this);
}

CallbackObserver::~CallbackObserver() {
    try {
        close();
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

void CallbackObserver::close() {
    {
        std::lock_guard<std::mutex> guard(s_registryLock);
        auto found = registry().find(m_device);
        if (found != registry().end()) {
            auto& list = found->second;
            list.erase(std::remove(list.begin(), list.end(), this), list.end());
            if (list.empty())
                registry().erase(found);
        }
    }
    if (m_closed)
        return;
    m_closed = true;
    py::gil_scoped_release release;
    if (source() != nullptr && m_device->isCapturing())
        m_device->stop();
    disconnect();
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

void CallbackObserver::raisePendingOf(const XEVLibrary::XEVDevice& device) {
    std::vector<CallbackObserver*> observers;
    {
        std::lock_guard<std::mutex> guard(s_registryLock);
        auto found = registry().find(&device);
        if (found != registry().end())
            observers = found->second;
    }
    for (CallbackObserver* observer : observers)
        observer->raisePending();
}

} // namespace XEVPython
