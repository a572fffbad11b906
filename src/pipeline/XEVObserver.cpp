#include "XEVObserver.h"

#include "XEVException.h"
#include "XEVFrameProducer.h"
#include "device/Diagnostics.h"
#include "pipeline/ThreadPriority.h"

#include <cstdio>
#include <cstdlib>

namespace XEVLibrary {

namespace {

constexpr int ReadingThreadPriority = 70;

/// The observer whose reading thread this is; null on every other thread.
thread_local const XEVObserver* t_readingObserver = nullptr;

} // namespace

XEVObserver::XEVObserver() = default;

XEVObserver::~XEVObserver() {
    if (m_readingThread) {
        // The thread still uses this object: freeing it would be silent
        // memory corruption, so stop here, loudly.
        std::fputs("CriticalError : Impossible to destroy a XEVObserver while is reading.\n",
                   stderr);
        std::fflush(stderr);
        std::abort();
    }
    m_doneSignal.reset();
    boost::lock_guard<boost::mutex> guard(m_observerLock);
    if (m_source != nullptr) {
        try {
            m_source->disconnectCaptureObserver(*this);
        } catch (const std::exception& error) {
            detail::diagnosticf(detail::DiagnosticKind::Error,
                                "XEVObserver destroyed while connected: %s", error.what());
        }
        m_source = nullptr;
    }
}

bool XEVObserver::IsFinal() const {
    return true;
}

void XEVObserver::FindFinalObservers(std::vector<XEVObserver*>&) {}

void XEVObserver::onStart() {}

void XEVObserver::onStop() {}

void XEVObserver::onEndOfStream() {}

void XEVObserver::connectTo(XEVFrameProducer& producer) {
    boost::lock_guard<boost::mutex> guard(m_observerLock);
    if (m_source != nullptr)
        return;
    producer.connectCaptureObserver(*this);
    m_source = &producer;
}

void XEVObserver::disconnect() {
    boost::lock_guard<boost::mutex> guard(m_observerLock);
    if (m_source == nullptr)
        return;
    m_source->disconnectCaptureObserver(*this);
    m_source = nullptr;
}

XEVFrameProducer* XEVObserver::source() const {
    boost::lock_guard<boost::mutex> guard(m_observerLock);
    return m_source;
}

void XEVObserver::startReading() {
    if (m_readingThread)
        XEVException::throwCriticalError(
            "XEVObserver attempted to start reading while reading thread was already running.");
    m_lastError.clear();
    m_reading.store(true);
    m_readingThread.reset(new boost::thread(&XEVObserver::_threadProc, this));
    requestRealTimePriority(*m_readingThread, SCHED_RR, ReadingThreadPriority);
}

void XEVObserver::stopReading(bool) {
    if (!m_readingThread)
        XEVException::throwCriticalError(
            "XEVObserver attempted to stop reading without reading thread already running.");
    XEVFrameProducer* source = m_source;
    if (source == nullptr) {
        m_reading.store(false);
        return;
    }
    // Under the producer lock, so that the request cannot slip between the
    // thread's test of the flag and its wait.
    boost::lock_guard<boost::mutex> guard(source->m_lock);
    m_reading.store(false);
    source->m_frameReady.notify_all();
}

void XEVObserver::waitEndReading() {
    if (!m_readingThread)
        XEVException::throwCriticalError(
            "XEVObserver attempted to wait end of reading without reading thread already running.");
    if (m_readingThread->joinable())
        m_readingThread->join();
    m_readingThread.reset();
}

bool XEVObserver::hasReadingThread() const {
    return static_cast<bool>(m_readingThread);
}

bool XEVObserver::isReadingFrom(const XEVFrameProducer& producer) {
    // Up the chain of sources: the graph cannot change while its threads run.
    for (const XEVObserver* observer = t_readingObserver; observer != nullptr;) {
        const XEVFrameProducer* source = observer->source();
        if (source == nullptr)
            return false;
        if (source == &producer)
            return true;
        observer = source->m_observerSide;
    }
    return false;
}

XEVObserver::DoneSignal* XEVObserver::Impl() {
    if (!m_doneSignal)
        m_doneSignal.reset(new DoneSignal());
    return m_doneSignal.get();
}

void XEVObserver::DisconnectFromObserverDoneSignal() {
    m_doneTarget.store(0);
    if (m_doneSignal)
        m_doneSignal->disconnect_all_slots();
}

std::exception_ptr XEVObserver::lastError() const {
    return m_lastError.error();
}

std::string XEVObserver::lastErrorMessage() const {
    return m_lastError.message();
}

void* XEVObserver::_threadProc(void* observer) {
    static_cast<XEVObserver*>(observer)->processing();
    return nullptr;
}

void XEVObserver::recordError(std::exception_ptr error) {
    const std::string text = m_lastError.record(error);
    detail::diagnosticf(detail::DiagnosticKind::Error,
                        "XEVObserver reading thread stopped on error: %s", text.c_str());
}

void XEVObserver::emitDoneIfPending() {
    if (m_doneTarget.exchange(0) != 0 && m_doneSignal)
        (*m_doneSignal)();
}

void XEVObserver::countProcessedFrame(uint32_t& doneCount) {
    const uint32_t target = m_doneTarget.load();
    if (target == 0 || !IsFinal())
        return;
    if (++doneCount == target)
        emitDoneIfPending();
}

void XEVObserver::processing() {
    t_readingObserver = this;
    XEVFrameProducer* source = m_source;
    bool started = false;
    bool failed = false;
    try {
        if (source == nullptr)
            XEVException::throwCriticalError("XEVObserver attempted to start reading without "
                                             "connection XEVFrameProducer source.");
        onStart();
        started = true;
        readFrames(*source);
    } catch (...) {
        failed = true;
        recordError(std::current_exception());
    }
    if (started) {
        try {
            onStop();
        } catch (...) {
            failed = true;
            recordError(std::current_exception());
        }
    }
    if (failed) {
        // A stage that died must not keep a capture waiting for it.
        try {
            if (IsFinal())
                emitDoneIfPending();
            onEndOfStream();
        } catch (...) {
            recordError(std::current_exception());
        }
    }
}

void XEVObserver::readFrames(XEVFrameProducer& source) {
    boost::unique_lock<boost::mutex> lock(source.m_lock);
    int64_t next = 0;
    uint32_t doneCount = 0;
    uint64_t epoch = source.m_numberingEpoch;
    bool endOfStreamHandled = false;
    const int64_t fifoSize = source.m_fifoSize;

    while (m_reading.load()) {
        if (epoch != source.m_numberingEpoch) {
            epoch = source.m_numberingEpoch;
            next = 0;
        }
        const int64_t oldest = source.m_oldestFrame;
        const int64_t written = source.m_writeCounter;
        if (oldest < written && next != written) {
            if (oldest > next) {
                next = oldest; // fell behind: frames in between are lost
                continue;
            }
            if (next > written) {
                next = 0; // the producer's numbering restarted
                continue;
            }
            const std::size_t slot = static_cast<std::size_t>(next % fifoSize);
            if (source.m_slotFrame[slot] != next) {
                ++next; // a number the writer skipped over a busy slot
                continue;
            }
            ++source.m_busyReaders;
            ++source.m_slotReaders[slot];
            lock.unlock();

            std::exception_ptr error;
            try {
                onNewFrame(source.m_images[slot], source.m_records[slot]);
                countProcessedFrame(doneCount);
            } catch (...) {
                error = std::current_exception();
            }

            lock.lock();
            ++next;
            --source.m_slotReaders[slot];
            if (--source.m_busyReaders == 0)
                source.m_readersIdle.notify_all();
            if (error)
                std::rethrow_exception(error);
        } else if (source.m_endOfStream && !endOfStreamHandled) {
            // Nothing left to read and nothing more will come: done.
            endOfStreamHandled = true;
            lock.unlock();
            if (IsFinal())
                emitDoneIfPending();
            onEndOfStream();
            lock.lock();
        } else {
            source.m_frameReady.wait(lock);
        }
    }
}

} // namespace XEVLibrary
