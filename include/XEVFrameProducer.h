#pragma once

#include "XEVFrameInfo.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace XEVLibrary {

class XEVObserver;
class XEVFilter;

/**
 * The source end of the frame pipeline: a fixed ring of image slots (the
 * FIFO) written by exactly one writer and read by every connected observer.
 *
 * The writer never waits for readers. A slot that an observer is still
 * reading is skipped, and the frame number that would have gone there is
 * never used. An observer that falls behind jumps to the oldest frame still in
 * the ring. Every observer receives frames in increasing order, each at most
 * once, and only a slot that really holds the frame number it asked for.
 *
 * Writer protocol, for every frame: ensureFrameFormat() (cheap when the format
 * is unchanged), lockFrameForWrite(), fill the returned image outside any
 * lock, then unlockFrameForWrite() or cancelWriting().
 *
 * A producer does not own its observers. The observer list may change only
 * while the producer is stopped. Producers are never copied.
 */
class XEVFrameProducer {
public:
    /// Format flag: each buffer holds one extra row (the camera's info line)
    /// after the image rows, outside the image view.
    static constexpr unsigned int FLAG_INFO_LINE = 1;

    /// Builds an empty, stopped producer of @p fifoSize slots (at least 3).
    explicit XEVFrameProducer(unsigned int fifoSize);
    /// Stops production if it still runs (joining every reading thread below),
    /// disconnects every observer and frees the buffers.
    ~XEVFrameProducer();

    XEVFrameProducer(const XEVFrameProducer&) = delete;
    XEVFrameProducer& operator=(const XEVFrameProducer&) = delete;

    /// Makes the slot images match the format; the buffer size is the image
    /// size, plus one row with FLAG_INFO_LINE. True when nothing changed.
    bool ensureFrameFormat(int width, int height, int type, unsigned int flags);
    /// As above with an explicit buffer size, which must hold the image (and
    /// the info line row when flagged). Waits for the readers to leave their
    /// slots before it frees the buffers. Only width, height, type and flags
    /// are compared; byteSize is used when the buffers are reallocated.
    bool ensureFrameFormat(int width, int height, int type, int byteSize, unsigned int flags);

    /// Reserves a free slot for the writer and returns its image.
    cv::Mat* lockFrameForWrite();
    /// Commits the reserved slot with @p info and wakes the readers.
    void unlockFrameForWrite(const XEVFrameInfo& info);
    /// Abandons the reserved slot; its number is reused by the next frame.
    void cancelWriting();

    /// Adds an observer (called by XEVObserver::connectTo).
    void connectCaptureObserver(XEVObserver& observer);
    /// Removes an observer (called by XEVObserver::disconnect).
    void disconnectCaptureObserver(XEVObserver& observer);

    /// Resets the FIFO and starts the reading thread of every observer. When
    /// one cannot start, the ones started are stopped and joined, and its
    /// error is raised.
    void startProduction();
    /// Stops every observer and joins its reading thread (depth first). Every
    /// observer is stopped and joined even when one fails; the first failure is
    /// then raised. Refused from a reading thread of this producer's graph,
    /// which would have to join itself.
    void stopProduction(bool resetCounters);

    /**
     * Tells the observers that no frame will follow the ones already
     * committed until the next start. An observer with a pending done target
     * that finds nothing left to read counts as done, and a filter passes the
     * end of stream on to its own observers once it has drained its input.
     * This ends a capture of N frames even when a slow observer lost frames.
     */
    void signalEndOfStream();

    /// Number of connected observers.
    unsigned int observerCount() const;
    /// Appends the ends of every chain below this producer, depth first.
    void FindFinalObservers(std::vector<XEVObserver*>& out);

    /// Connects @p observer to this producer.
    void operator<<(XEVObserver& observer);
    /// Connects @p filter to this producer and returns it, so that chains
    /// continue from it: device << nuc << agc << display.
    XEVFilter& operator<<(XEVFilter& filter);

    /// Diagnostics and tests: the FIFO state, read under the producer lock.
    ///@{
    unsigned int fifoSize() const { return m_fifoSize; }
    int64_t writeCounter() const;
    int64_t oldestFrameNumber() const;
    bool isRunning() const;
    ///@}
    /// Bytes allocated per slot for the current format (0 before the first).
    std::size_t slotBufferSize() const;
    /// The current format: width, height, OpenCV type and flags.
    ///@{
    int frameWidth() const;
    int frameHeight() const;
    int frameType() const;
    unsigned int frameFlags() const;
    ///@}

private:
    friend class XEVObserver;
    friend class XEVFilter;

    struct AlignedFree {
        void operator()(uint8_t* p) const noexcept;
    };
    using Buffer = std::unique_ptr<uint8_t[], AlignedFree>;

    /// Restarts the producer's numbering. Caller holds the lock.
    void resetNumbering();

    int m_width = -1;
    int m_height = -1;
    int m_type = -1;
    unsigned int m_flags = 0;
    const unsigned int m_fifoSize;
    int64_t m_writeCounter = 0;
    int64_t m_oldestFrame = 0;
    std::vector<cv::Mat> m_images;
    std::vector<Buffer> m_buffers;
    std::size_t m_bufferSize = 0;
    std::vector<XEVFrameInfo> m_records;
    std::vector<uint16_t> m_slotReaders;
    /// Producer frame number committed in each slot, -1 for none: a reader
    /// only takes a slot that holds the number it is looking for.
    std::vector<int64_t> m_slotFrame;
    bool m_running = false;
    bool m_endOfStream = false;
    /// Changes whenever the numbering restarts, so that readers start over.
    uint64_t m_numberingEpoch = 0;
    mutable boost::mutex m_lock;
    boost::condition_variable m_frameReady;
    boost::condition_variable m_readersIdle;
    uint16_t m_busyReaders = 0;
    int64_t m_slotWritten = -1;
    std::vector<XEVObserver*> m_observers;
    /// For a filter, its observer part: the way up from this producer to the
    /// one its frames come from. Null for any other producer.
    XEVObserver* m_observerSide = nullptr;
};

} // namespace XEVLibrary
