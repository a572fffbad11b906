#include "FrameIterator.h"

#include "CallbackObserver.h"
#include "NumpyFrame.h"
#include "XEVDevice.h"

namespace py = pybind11;

namespace XEVPython {

FrameIterator::FrameIterator(XEVLibrary::XEVDevice& device, long frames, std::size_t queueSize)
    : m_device(&device), m_queue(std::make_unique<FrameQueue>(queueSize)), m_remaining(frames) {
    py::gil_scoped_release release;
    device << *m_queue;
    try {
        if (frames > 0)
            device.captureNFrames(frames);
        else
            device.start();
    } catch (...) {
        m_queue->close();
        m_queue->disconnect();
        m_closed = true;
        throw;
    }
}

FrameIterator::~FrameIterator() {
    try {
        close();
    } catch (...) {
        // Destruction cannot raise; the capture is stopped either way.
    }
}

py::tuple FrameIterator::next() {
    if (m_closed)
        throw py::stop_iteration();
    // The buffer the ring gets in exchange for the frame taken, allocated
    // here on the Python thread rather than on the reading thread.
    cv::Mat frame;
    if (m_rows > 0)
        frame.create(m_rows, m_cols, m_type);
    XEVLibrary::XEVFrameInfo info;
    for (;;) {
        FrameQueue::Wait wait;
        {
            py::gil_scoped_release release;
            wait = m_queue->next(frame, info, std::chrono::milliseconds(100));
        }
        if (wait == FrameQueue::Wait::Frame)
            break;
        if (wait == FrameQueue::Wait::Ended) {
            close();
            throw py::stop_iteration();
        }
        if (PyErr_CheckSignals() != 0) { // Ctrl-C while waiting
            py::error_already_set interrupted;
            close();
            throw interrupted;
        }
    }
    m_rows = frame.rows;
    m_cols = frame.cols;
    m_type = frame.type();
    if (m_remaining > 0 && --m_remaining == 0)
        close();
    return py::make_tuple(adoptFrame(std::move(frame)), info);
}

void FrameIterator::close() {
    if (m_closed)
        return;
    m_closed = true;
    m_queue->close();
    {
        py::gil_scoped_release release;
        if (m_device->isCapturing())
            m_device->stop();
        m_queue->disconnect();
    }
    CallbackObserver::raisePendingOf(*m_device);
}

} // namespace XEVPython
