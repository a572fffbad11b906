#pragma once

#include "BufferPool.h"
#include "DeviceConsumer.h"
#include "FrameQueue.h"
#include "StageChain.h"

#include <pybind11/pybind11.h>

#include <memory>

namespace XEVLibrary {
class XEVDevice;
}

namespace XEVPython {

/**
 * The Python iterator of `device.frames(n)`: connects a FrameQueue to the
 * device through the stages of its chain, starts the capture, and yields
 * (frame, info) pairs, each frame a numpy array over the one copy made of it.
 * The arrays' buffers come back to a pool when Python frees them, and go to
 * the queue's ring in exchange for the next frames. Ends after n frames (n 0:
 * until the capture ends); closing it, breaking out of the loop or destroying
 * it stops the capture.
 */
class FrameIterator : public DeviceConsumer {
public:
    /// Connects and starts at once; interpreter lock held.
    FrameIterator(XEVLibrary::XEVDevice& device, long frames, std::size_t queueSize,
                  const pybind11::sequence& stages);
    /// Interpreter lock held.
    ~FrameIterator() override;

    /// The next (frame, info); raises StopIteration at the end.
    pybind11::tuple next();
    /// Stops the capture and disconnects; interpreter lock held.
    void shutDown() override;
    /// shutDown(), then raises what a callback observer of the device raised.
    void close();
    /// Frame buffers allocated so far for the exchange with the ring.
    std::size_t bufferAllocations() const { return m_buffers->allocations(); }

protected:
    pybind11::object self() override;

private:
    std::unique_ptr<FrameQueue> m_queue;
    std::shared_ptr<BufferPool> m_buffers;
    StageChain m_chain;
    long m_remaining;
    bool m_closed = false;
    int m_rows = 0, m_cols = 0, m_type = 0;
};

} // namespace XEVPython
