#pragma once

#include "XEVErrorRecord.h"
#include "XEVFrameInfo.h"

#include <boost/signals2/signal.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <opencv2/core/mat.hpp>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace XEVLibrary {

class XEVFrameProducer;

/**
 * The consumer end of the frame pipeline.
 *
 * An observer is connected to one producer and, while that producer runs,
 * owns one reading thread that takes frames out of the producer's FIFO and
 * hands each one to onNewFrame(). The image and record are valid only during
 * the call; an observer that falls behind loses frames instead of slowing the
 * writer.
 *
 * Errors on the reading thread: an exception thrown by onStart(),
 * onNewFrame(), onStop(), or the missing-source error never leaves the
 * thread. The thread writes one line naming the error to standard error,
 * stops reading (calling onStop() when onStart() had succeeded), and counts as
 * done for a pending done target so that a capture waiting on it still ends.
 * The error is kept and returned by lastError() until the next start.
 * stopProduction() of the producer joins such a thread as usual.
 *
 * Done signal and target: a device capturing N frames sets the done target of
 * every final observer and connects to its done signal (Impl()). A final
 * observer emits the signal once, on its reading thread, when it has
 * processed as many frames as the target, or when its source signalled the
 * end of the stream and nothing is left to read (it lost frames by falling
 * behind), whichever comes first.
 *
 * Destroying an observer whose reading thread was started and not yet joined
 * is a fatal usage error: the message "Impossible to destroy a XEVObserver
 * while is reading." is written to standard error and the process aborts
 * before anything is freed.
 */
class XEVObserver {
public:
    /// The signal emitted once the done target is reached.
    using DoneSignal = boost::signals2::signal<void()>;

    XEVObserver();
    virtual ~XEVObserver();

    XEVObserver(const XEVObserver&) = delete;
    XEVObserver& operator=(const XEVObserver&) = delete;

    /// True for a plain observer: it ends its chain.
    virtual bool IsFinal() const;
    /// Appends the final observers below this one; nothing for a plain one.
    virtual void FindFinalObservers(std::vector<XEVObserver*>& out);
    /// Called on the reading thread before the first frame.
    virtual void onStart();
    /// Called on the reading thread once per frame read.
    virtual void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) = 0;
    /// Called on the reading thread after it stopped reading.
    virtual void onStop();
    /// Starts the reading thread (driven by the producer).
    virtual void startReading();
    /// Asks the reading thread to stop; does not wait.
    virtual void stopReading(bool resetCounters);

    /// Connects to @p producer unless already connected to some producer.
    void connectTo(XEVFrameProducer& producer);
    /// Disconnects from the source, if any.
    void disconnect();
    /// The producer this observer reads from, or null.
    XEVFrameProducer* source() const;

    /// Joins the reading thread and forgets it.
    void waitEndReading();
    /// True from startReading() until waitEndReading() joined the thread.
    bool hasReadingThread() const;

    /// True when the calling thread is the reading thread of an observer in
    /// the graph below @p producer, that is of an observer of @p producer or
    /// of a filter connected, directly or through other filters, to it. Such
    /// a thread cannot wait for that graph to stop: it would wait for itself.
    static bool isReadingFrom(const XEVFrameProducer& producer);

    /// The done signal, created on first call.
    DoneSignal* Impl();
    /// Clears the done target and disconnects every slot of the done signal.
    void DisconnectFromObserverDoneSignal();
    /// Number of frames after which the done signal is emitted; 0: none.
    void setDoneTarget(uint32_t frames) { m_doneTarget.store(frames); }
    /// The done target; 0: none.
    uint32_t doneTarget() const { return m_doneTarget.load(); }

    /// The error that ended the last reading thread, or null.
    std::exception_ptr lastError() const;
    /// The text of lastError(), or an empty string.
    std::string lastErrorMessage() const;

protected:
    /// Body of the reading thread.
    void processing();
    /// Thread entry: runs processing() on the observer passed.
    static void* _threadProc(void* observer);

    /// Called on the reading thread when the source signalled the end of the
    /// stream and everything readable was read. A filter passes the end of
    /// the stream on to its own observers.
    virtual void onEndOfStream();

private:
    void readFrames(XEVFrameProducer& source);
    void countProcessedFrame(uint32_t& doneCount);
    void emitDoneIfPending();
    void recordError(std::exception_ptr error);

    std::unique_ptr<DoneSignal> m_doneSignal;
    XEVFrameProducer* m_source = nullptr;
    std::atomic<uint32_t> m_doneTarget{0};
    std::unique_ptr<boost::thread> m_readingThread;
    mutable boost::mutex m_observerLock;
    std::atomic<bool> m_reading{false};

    XEVErrorRecord m_lastError;
};

} // namespace XEVLibrary
