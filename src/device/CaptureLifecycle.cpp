#include "device/CaptureLifecycle.h"

#include "XEVDevice.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "device/Diagnostics.h"

namespace XEVLibrary {

namespace {

/// Longest wait for a capture that another thread is starting or ending: the
/// stages below finish the frames they hold, then their threads are joined.
constexpr int TransitionDeadlineSeconds = 10;

} // namespace

CaptureLifecycle::CaptureLifecycle(XEVDevice& device, XEVErrorRecord& lastError, const char* owner,
                                   Hooks hooks)
    : m_device(device), m_lastError(lastError), m_owner(owner), m_hooks(std::move(hooks)) {}

CaptureLifecycle::~CaptureLifecycle() {
    shutdown();
}

void CaptureLifecycle::shutdown() {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_alive = false;
    }
    m_stateChanged.notify_all();
    m_completionWanted.notify_all();
    abandonObserverWait();
    if (m_completionThread) {
        m_completionThread->join();
        m_completionThread.reset();
    }
}

void CaptureLifecycle::refuseOnOwnThread(const char* operation) const {
    if (m_device.isOwnThread())
        XEVException::throwError("For XEVDevice(%s), %s cannot be called from one of the "
                                 "device's own threads (a frame callback or a camera "
                                 "notification).",
                                 m_device.modelId().c_str(), operation);
}

bool CaptureLifecycle::isCapturing() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_state != State::Idle;
}

CaptureLifecycle::State CaptureLifecycle::state() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_state;
}

void CaptureLifecycle::waitWhileTransitional(boost::unique_lock<boost::mutex>& lock) {
    const bool settled =
        m_stateChanged.wait_for(lock, boost::chrono::seconds(TransitionDeadlineSeconds), [this] {
            return m_state != State::Starting && m_state != State::Ending;
        });
    if (!settled)
        XEVException::throwError(
            "For XEVDevice(%s), the capture did not finish starting or ending within %d s.",
            m_device.modelId().c_str(), TransitionDeadlineSeconds);
}

void CaptureLifecycle::abandonObserverWait() {
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
}

void CaptureLifecycle::start(long frameLimit, bool waitObservers, const char* operation) {
    boost::unique_lock<boost::mutex> lock(m_lock);
    if (m_state == State::Starting || m_state == State::Ending) {
        // A capture ending on a stage's thread would wait for that very thread.
        refuseOnOwnThread(operation);
        waitWhileTransitional(lock);
    }
    if (m_state != State::Idle || !m_alive)
        return;
    m_state = State::Starting;
    m_lastError.clear();
    m_captureCompleted = false;
    m_frameCount = 0;
    m_frameLimit = -1;
    lock.unlock();

    // Starting the stages runs without the lock: their first callbacks may
    // ask the device whether it captures.
    try {
        if (frameLimit > 0)
            connectToFinalObservers(frameLimit);
        m_device.StartProduction();
    } catch (...) {
        disconnectFromFinalObservers();
        lock.lock();
        m_state = State::Idle;
        lock.unlock();
        m_stateChanged.notify_all();
        throw;
    }

    lock.lock();
    if (frameLimit > 0) {
        m_waitForObservers = waitObservers;
        m_frameLimit = frameLimit;
    }
    m_state = State::Running;
    lock.unlock();
    m_stateChanged.notify_all();

    if (m_hooks.streamStart) {
        try {
            m_hooks.streamStart();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            m_lastError.record(error);
            end(false);
            std::rethrow_exception(error);
        }
    }
}

void CaptureLifecycle::end(bool resetCounters) {
    boost::unique_lock<boost::mutex> lock(m_lock);
    for (;;) {
        switch (m_state) {
        case State::Idle:
            return;
        case State::Running:
            m_state = State::Ending;
            m_frameLimit = -1;
            m_captureCompleted = false;
            lock.unlock();
            abandonObserverWait();
            stopStream();
            finishEnding(resetCounters);
            return;
        case State::Ending:
            // Ended by another thread, maybe waiting for the stages to
            // finish their frames: cut that wait short.
            lock.unlock();
            abandonObserverWait();
            lock.lock();
            waitWhileTransitional(lock);
            break;
        case State::Starting:
            waitWhileTransitional(lock);
            break;
        }
    }
}

void CaptureLifecycle::stopStream() {
    if (!m_hooks.streamStop)
        return;
    try {
        m_hooks.streamStop();
    } catch (...) {
        const std::string text = XEVErrorRecord::describe(std::current_exception());
        detail::diagnosticf(detail::DiagnosticKind::Error, "%s: stopping the stream failed: %s",
                            m_owner, text.c_str());
    }
}

void CaptureLifecycle::finishEnding(bool resetCounters) {
    std::exception_ptr error;
    try {
        disconnectFromFinalObservers();
        m_device.StopProduction(resetCounters);
    } catch (...) {
        error = std::current_exception();
    }
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_state = State::Idle;
    }
    m_stateChanged.notify_all();
    if (error)
        std::rethrow_exception(error);
}

bool CaptureLifecycle::waitEnd(int milliseconds) {
    {
        boost::unique_lock<boost::mutex> lock(m_lock);
        const auto idle = [this] { return m_state == State::Idle; };
        if (milliseconds < 0) {
            m_stateChanged.wait(lock, idle);
            return m_captureCompleted;
        }
        if (m_stateChanged.wait_for(lock, boost::chrono::milliseconds(milliseconds), idle))
            return m_captureCompleted;
    }
    // Time is up: the capture ends here.
    end(false);
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_captureCompleted;
}

CaptureLifecycle::Admission CaptureLifecycle::admit(const std::function<int64_t(int64_t)>& framesOf,
                                                    const std::function<void(int64_t)>& commit) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_state != State::Running || (m_frameLimit > 0 && m_frameCount >= m_frameLimit))
        return Admission::Refused;
    const int64_t frames = framesOf(m_frameCount);
    if (frames <= 0)
        return Admission::Refused;
    m_frameCount += frames;
    commit(m_frameCount);
    return m_frameLimit > 0 && m_frameCount >= m_frameLimit ? Admission::Last : Admission::Taken;
}

bool CaptureLifecycle::waitForRunning(bool& waited) {
    boost::unique_lock<boost::mutex> lock(m_lock);
    waited = false;
    while (m_alive && m_state != State::Running) {
        waited = true;
        m_stateChanged.wait(lock);
    }
    return m_alive;
}

int64_t CaptureLifecycle::frameLimit() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_frameLimit;
}

bool CaptureLifecycle::alive() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_alive;
}

void CaptureLifecycle::completeCapture() {
    bool waitObservers = false;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (m_state != State::Running)
            return; // ended meanwhile by another thread
        m_state = State::Ending;
        m_captureCompleted = true;
        m_frameLimit = -1;
        waitObservers = m_waitForObservers;
    }
    std::exception_ptr error;
    stopStream();
    try {
        m_device.signalEndOfStream();
        if (waitObservers) {
            // Every final observer reports done: after the capture's frames,
            // or after draining what it could still read (end of stream). A
            // stop() meanwhile cuts the wait short: the capture is incomplete.
            bool allDone = false;
            {
                boost::unique_lock<boost::mutex> lock(m_doneLock);
                m_doneCondition.wait(
                    lock, [this] { return m_doneCount >= m_finalObserverCount || m_abandonWait; });
                allDone = m_doneCount >= m_finalObserverCount;
            }
            if (!allDone) {
                boost::lock_guard<boost::mutex> guard(m_lock);
                m_captureCompleted = false;
            }
        }
    } catch (...) {
        error = std::current_exception();
    }
    finishEnding(false);
    if (error)
        std::rethrow_exception(error);
}

void CaptureLifecycle::requestCompletion() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_completionRequested = true;
    wakeCompletionThread();
}

void CaptureLifecycle::requestFailure(std::exception_ptr error) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (!m_failure)
        m_failure = error;
    wakeCompletionThread();
}

void CaptureLifecycle::wakeCompletionThread() {
    if (!m_alive)
        return;
    if (!m_completionThread)
        m_completionThread.reset(new boost::thread([this] { completionLoop(); }));
    m_completionWanted.notify_all();
}

void CaptureLifecycle::completionLoop() {
    const XEVDevice::OwnThreadMark ownThread(m_device,
                                             XEVDevice::OwnThreadMark::Role::CameraThread);
    for (;;) {
        bool complete = false;
        std::exception_ptr failure;
        {
            boost::unique_lock<boost::mutex> lock(m_lock);
            m_completionWanted.wait(
                lock, [this] { return m_completionRequested || m_failure || !m_alive; });
            if (!m_alive)
                return;
            complete = m_completionRequested;
            m_completionRequested = false;
            failure = m_failure;
            m_failure = nullptr;
        }
        if (failure) {
            fail(failure);
            continue;
        }
        if (!complete)
            continue;
        try {
            completeCapture();
        } catch (...) {
            fail(std::current_exception());
        }
    }
}

void CaptureLifecycle::fail(std::exception_ptr error) {
    // Nothing from the camera or the pipeline may end the process: the
    // capture ends, the device waits for the next one.
    const std::string text = m_lastError.record(error);
    detail::diagnosticf(detail::DiagnosticKind::Error, "%s capture stopped on error: %s", m_owner,
                        text.c_str());
    try {
        end(false);
    } catch (...) {
        const std::string consequence = XEVErrorRecord::describe(std::current_exception());
        detail::diagnosticf(detail::DiagnosticKind::Error, "%s capture did not end cleanly: %s",
                            m_owner, consequence.c_str());
    }
}

void CaptureLifecycle::connectToFinalObservers(long frames) {
    std::vector<XEVObserver*> finals;
    m_device.FindFinalObservers(finals);
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_doneCount = 0;
        m_finalObserverCount = finals.size();
        m_abandonWait = false;
        m_finalObservers = finals;
    }
    const uint32_t target = frames > long(UINT32_MAX) ? UINT32_MAX : uint32_t(frames);
    for (XEVObserver* observer : finals) {
        observer->setDoneTarget(target);
        observer->Impl()->connect([this] { onFinalObserverDone(); });
    }
}

void CaptureLifecycle::disconnectFromFinalObservers() {
    std::vector<XEVObserver*> finals;
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        finals.swap(m_finalObservers);
    }
    for (XEVObserver* observer : finals)
        observer->DisconnectFromObserverDoneSignal();
}

void CaptureLifecycle::onFinalObserverDone() {
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        ++m_doneCount;
    }
    m_doneCondition.notify_all();
}

} // namespace XEVLibrary
