#pragma once

#include "FrameQueue.h"

#include <pybind11/pybind11.h>

#include <memory>

namespace XEVLibrary {
class XEVDevice;
}

namespace XEVPython {

/**
 * The Python iterator of `device.frames(n)`: connects a FrameQueue to the
 * device, starts the capture, and yields (frame, info) pairs, each frame a
 * numpy array that owns the one copy made of it. Ends after n frames (n 0:
 * until the capture ends); closing it, breaking out of the loop or
 * destroying it stops the capture.
 */
class FrameIterator {
public:
    FrameIterator(XEVLibrary::XEVDevice& device, long frames, std::size_t queueSize);
    /// Interpreter lock held.
    ~FrameIterator();
    FrameIterator(const FrameIterator&) = delete;
    FrameIterator& operator=(const FrameIterator&) = delete;

    /// The next (frame, info); raises StopIteration at the end.
    pybind11::tuple next();
    /// Stops the capture and disconnects; interpreter lock held.
    void close();

private:
    XEVLibrary::XEVDevice* m_device;
    std::unique_ptr<FrameQueue> m_queue;
    long m_remaining;
    bool m_closed = false;
    int m_rows = 0, m_cols = 0, m_type = 0;
};

} // namespace XEVPython
