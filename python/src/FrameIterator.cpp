#include "FrameIterator.h"

#include "NumpyFrame.h"
#include "XEVDevice.h"

namespace py = pybind11;

namespace XEVPython {

FrameIterator::FrameIterator(XEVLibrary::XEVDevice& device, long frames, std::size_t queueSize,
                             const py::sequence& stages)
    : DeviceConsumer(device), m_queue(std::make_unique<FrameQueue>(queueSize)),
      m_buffers(BufferPool::create(queueSize + 2)), m_chain(stages), m_remaining(frames) {
    try {
        py::gil_scoped_release release;
        m_chain.connect(device, *m_queue);
        if (frames > 0)
            device.captureNFrames(frames);
        else
            device.start();
    } catch (...) {
        m_closed = true;
        unlist();
        m_queue->close();
        py::gil_scoped_release release;
        m_chain.disconnect(*m_queue);
        throw;
    }
}

FrameIterator::~FrameIterator() {
    try {
        shutDown(); // a callback's error stays with its observer
    } catch (...) {
        // Destruction cannot raise; the capture is stopped either way.
    }
}

py::tuple FrameIterator::next() {
    if (m_closed)
        throw py::stop_iteration();
    // The buffer the ring gets in exchange for the frame taken: one that
    // Python gave back, or one allocated here rather than on the reading
    // thread.
    cv::Mat frame;
    if (m_rows > 0)
        frame = m_buffers->take(m_rows, m_cols, m_type);
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
    return py::make_tuple(m_buffers->lend(std::move(frame)), info);
}

void FrameIterator::close() {
    shutDown();
    DeviceConsumer::raisePendingOf(*m_device);
}

void FrameIterator::shutDown() {
    unlist();
    if (m_closed)
        return;
    m_closed = true;
    m_queue->close();
    {
        py::gil_scoped_release release;
        if (m_device->isCapturing())
            m_device->stop();
        m_chain.disconnect(*m_queue);
    }
}

py::object FrameIterator::self() {
    return py::cast(this, py::return_value_policy::reference);
}

} // namespace XEVPython
