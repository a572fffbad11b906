#pragma once

#include "DeviceConsumer.h"
#include "StageChain.h"
#include "XEVObserver.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>

namespace XEVLibrary {
class XEVDevice;
}

namespace XEVPython {

/**
 * A final observer that calls a Python callable with (frame, info) for every
 * frame, holding the interpreter lock only for the call, connected to the
 * device through the stages of its chain.
 *
 * The frame is a copy owned by Python, or with copy false a read-only view
 * of the FIFO slot that is valid only during the call. The first exception
 * the callable raises is kept, ends this observer's reading thread (a
 * capture of N frames then ends) and is raised in the Python thread by
 * raisePending(): the device's wait and stop, and close().
 */
class CallbackObserver : public XEVLibrary::XEVObserver, public DeviceConsumer {
public:
    /// Connects at once; interpreter lock held.
    CallbackObserver(XEVLibrary::XEVDevice& device, pybind11::function callback, bool copy,
                     const pybind11::sequence& stages);
    /// Called with the interpreter lock held.
    ~CallbackObserver() override;

    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override;

    /// Stops the device when it captures, then disconnects; interpreter lock
    /// held on entry.
    void shutDown() override;
    /// Raises the kept exception, once; interpreter lock held.
    void raisePending() override;

protected:
    pybind11::object self() override;

private:
    pybind11::function m_callback;
    bool m_copy;
    StageChain m_chain;
    std::mutex m_lock;
    std::unique_ptr<pybind11::error_already_set> m_error;
    bool m_closed = false;
};

} // namespace XEVPython
