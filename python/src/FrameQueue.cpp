#include "FrameQueue.h"

#include <algorithm>

namespace XEVPython {

FrameQueue::FrameQueue(std::size_t capacity) : m_ring(std::max<std::size_t>(capacity, 1)) {}

FrameQueue::~FrameQueue() {
    disconnect();
}

void FrameQueue::startReading() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = false;
    }
    XEVLibrary::XEVObserver::startReading();
}

void FrameQueue::onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) {
    std::size_t tail;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_closed || m_stopping || m_count < m_ring.size(); });
        if (m_count == m_ring.size() || m_closed)
            return; // dropped: the capture is ending or nobody takes frames
        tail = (m_head + m_count) % m_ring.size();
    }
    // Only this thread writes the tail slot until it is published, so the
    // copy runs without the lock.
    Slot& slot = m_ring[tail];
    frame.copyTo(slot.image);
    slot.info = info;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_count;
    }
    m_changed.notify_all();
}

void FrameQueue::stopReading(bool resetCounters) {
    XEVLibrary::XEVObserver::stopReading(resetCounters);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
}

void FrameQueue::onStop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
    }
    m_changed.notify_all();
}

FrameQueue::Wait FrameQueue::next(cv::Mat& frame, XEVLibrary::XEVFrameInfo& info,
                                  std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_changed.wait_for(lock, timeout, [&] { return m_count > 0 || m_ended; }))
            return Wait::TimedOut;
        if (m_count == 0)
            return Wait::Ended;
        Slot& slot = m_ring[m_head];
        std::swap(frame, slot.image);
        info = slot.info;
        m_head = (m_head + 1) % m_ring.size();
        --m_count;
    }
    m_changed.notify_all();
    return Wait::Frame;
}

void FrameQueue::close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
    }
    m_changed.notify_all();
}

} // namespace XEVPython
