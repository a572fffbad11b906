#pragma once

#include "XEVObserver.h"

#include <opencv2/core/mat.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace XEVPython {

/**
 * The final observer behind `device.frames(n)`: a bounded ring of frames
 * copied out of the FIFO (whose slot is valid only during onNewFrame) for
 * the Python thread to take one by one.
 *
 * The reading thread copies each frame once into a buffer of the ring and
 * waits while the ring is full, so that a slow Python loop makes the
 * library's FIFO drop frames, as for any slow observer. The consumer swaps
 * a fresh buffer into the slot it takes, so the reading thread allocates
 * only while the first frames fill the ring. close() releases a waiting
 * reading thread for good; a request to stop reading (the device's stop(),
 * from any thread) releases it for the rest of the capture, so that a full
 * ring never keeps a capture from ending.
 */
class FrameQueue : public XEVLibrary::XEVObserver {
public:
    enum class Wait { Frame, Ended, TimedOut };

    explicit FrameQueue(std::size_t capacity);
    ~FrameQueue() override;

    void startReading() override;
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override;
    void onStop() override;
    void stopReading(bool resetCounters) override;

    /// Takes the oldest frame into @p frame (whose buffer goes to the ring in
    /// exchange) and @p info; waits at most @p timeout for one.
    Wait next(cv::Mat& frame, XEVLibrary::XEVFrameInfo& info, std::chrono::milliseconds timeout);
    /// Drops every frame from now on and wakes the reading thread.
    void close();

private:
    struct Slot {
        cv::Mat image;
        XEVLibrary::XEVFrameInfo info;
    };

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Slot> m_ring;
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    bool m_closed = false;
    bool m_stopping = false;
    bool m_ended = false;
};

} // namespace XEVPython
