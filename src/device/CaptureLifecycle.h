#pragma once

#include "XEVErrorRecord.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace XEVLibrary {

class XEVDevice;
class XEVObserver;

/**
 * The captures of a device: idle, starting, running, ending, idle again.
 *
 * Exactly one thread drives each transition (the one that started or ended
 * the capture), and no lock is held while it starts or joins the stages'
 * reading threads, so frame callbacks may call the device's getters and
 * setters meanwhile. A capture counts as running until its production has
 * fully stopped.
 *
 * A capture of N frames ends once every final observer reports done: after
 * the capture's frames, or after draining what it could still read (an
 * observer that lost frames is done when it read the last one it could get).
 * The thread that delivers the last frame never waits for that: the capture
 * is completed by completeCapture(), which the device calls on a thread that
 * may block, or has run on the lifecycle's own completion thread
 * (requestCompletion()).
 *
 * The hooks start and stop the camera's stream: streamStart() runs once the
 * capture runs (frames are then accepted), streamStop() first thing when it
 * ends. Errors of streamStop() do not keep the capture from ending; they are
 * reported.
 */
class CaptureLifecycle {
public:
    enum class State { Idle, Starting, Running, Ending };
    /// What admit() made of a frame.
    enum class Admission {
        Refused, ///< no capture runs, or it has all its frames: cancel the slot
        Taken,   ///< committed
        Last     ///< committed, and the capture now has all its frames
    };
    struct Hooks {
        std::function<void()> streamStart;
        std::function<void()> streamStop;
    };

    /// @p owner names the device in diagnostics ("XEVDeviceGige"); errors
    /// that end captures are kept in @p lastError.
    CaptureLifecycle(XEVDevice& device, XEVErrorRecord& lastError, const char* owner, Hooks hooks);
    ~CaptureLifecycle();
    CaptureLifecycle(const CaptureLifecycle&) = delete;
    CaptureLifecycle& operator=(const CaptureLifecycle&) = delete;

    /// Starts a capture of @p frameLimit frames (-1: until ended); does
    /// nothing while one runs. Refused on the device's own threads while a
    /// capture starts or ends (that would wait for the calling thread).
    void start(long frameLimit, bool waitObservers, const char* operation);
    /// Ends the capture that runs, or waits for the thread that ends it.
    void end(bool resetCounters);
    /// Waits for the capture to end, at most @p milliseconds (-1: no limit),
    /// then ends it; true when it ended by reaching its frame count.
    bool waitEnd(int milliseconds);
    bool isCapturing() const;
    State state() const;

    /// Decides on the frame about to be committed, under the lifecycle's
    /// lock: when a capture runs and still wants frames, @p framesOf tells
    /// how many frames it counts for, given the capture's count so far (0: it
    /// repeats the last one, refused), and @p commit commits it, given the new
    /// count. The writer cancels the slot itself on Refused.
    Admission admit(const std::function<int64_t(int64_t)>& framesOf,
                    const std::function<void(int64_t)>& commit);
    /// Waits until a capture runs (true) or the lifecycle shuts down (false);
    /// @p waited tells whether it had to wait.
    bool waitForRunning(bool& waited);
    /// The frame count of the capture that runs, -1 for none.
    int64_t frameLimit() const;
    /// False once shut down.
    bool alive() const;
    /// Ends a capture that has all its frames: waits for the final
    /// observers (when asked to), then stops production. Blocks.
    void completeCapture();
    /// Runs completeCapture() on the lifecycle's completion thread.
    void requestCompletion();
    /// Keeps @p error as the device's last error and ends the capture.
    void fail(std::exception_ptr error);
    /// fail(), run on the lifecycle's completion thread: for threads that
    /// must not wait for the capture to end.
    void requestFailure(std::exception_ptr error);
    /// No capture starts any more; waits are cut short, the completion thread
    /// ends. Called first thing by the device's destructor.
    void shutdown();

    /// Refuses @p operation on one of the device's own threads.
    void refuseOnOwnThread(const char* operation) const;

private:
    void waitWhileTransitional(boost::unique_lock<boost::mutex>& lock);
    void finishEnding(bool resetCounters);
    void stopStream();
    void abandonObserverWait();
    void connectToFinalObservers(long frames);
    void disconnectFromFinalObservers();
    void onFinalObserverDone();
    void completionLoop();
    /// Starts the completion thread if needed and wakes it; under m_lock.
    void wakeCompletionThread();

    XEVDevice& m_device;
    XEVErrorRecord& m_lastError;
    const char* m_owner;
    Hooks m_hooks;

    mutable boost::mutex m_lock;
    /// Notified at every change of the state.
    boost::condition_variable m_stateChanged;
    State m_state = State::Idle;
    bool m_alive = true;
    int64_t m_frameCount = 0;
    int64_t m_frameLimit = -1;
    bool m_waitForObservers = true;
    bool m_captureCompleted = false;

    boost::mutex m_doneLock;
    boost::condition_variable m_doneCondition;
    uint64_t m_finalObserverCount = 0;
    uint64_t m_doneCount = 0;
    bool m_abandonWait = false;
    std::vector<XEVObserver*> m_finalObservers;

    boost::condition_variable m_completionWanted;
    bool m_completionRequested = false;
    std::exception_ptr m_failure;
    std::unique_ptr<boost::thread> m_completionThread;
};

} // namespace XEVLibrary
