#include "XEVFrameProducer.h"

#include "XEVException.h"
#include "XEVFilter.h"
#include "XEVObserver.h"
#include "device/Diagnostics.h"
#include "pipeline/FrameFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace XEVLibrary {

namespace {

constexpr std::size_t BufferAlignment = 64;
/// The largest type code of the image library (512 channels of any depth).
constexpr int LargestType = 0xFFF;

/// Stops every observer of @p observers, then joins every one, also when some
/// of them fail; returns the first failure.
std::exception_ptr stopAndJoin(const std::vector<XEVObserver*>& observers, bool resetCounters) {
    std::exception_ptr first;
    for (XEVObserver* observer : observers) {
        try {
            observer->stopReading(resetCounters);
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    for (XEVObserver* observer : observers) {
        try {
            if (observer->hasReadingThread())
                observer->waitEndReading();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    return first;
}

} // namespace

void XEVFrameProducer::AlignedFree::operator()(uint8_t* p) const noexcept {
    std::free(p);
}

XEVFrameProducer::XEVFrameProducer(unsigned int fifoSize) : m_fifoSize(fifoSize) {
    if (fifoSize < 3)
        XEVException::throwError(
            "For XEVFrameProducer, Fifo Size(%d) must be strictly higher than 2.",
            static_cast<int>(fifoSize));
    m_slotReaders.assign(fifoSize, 0);
    m_records.assign(fifoSize, XEVFrameInfo());
    m_slotFrame.assign(fifoSize, -1);
}

XEVFrameProducer::~XEVFrameProducer() {
    try {
        // A running producer is stopped first: disconnecting from it would be
        // refused, and its reading threads must not outlive the FIFO.
        stopProduction(false);
        std::vector<XEVObserver*> observers;
        {
            boost::lock_guard<boost::mutex> guard(m_lock);
            observers = m_observers;
        }
        for (XEVObserver* observer : observers)
            observer->disconnect();
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVFrameProducer destroyed with an error: %s", error.what());
    }
}

void XEVFrameProducer::resetNumbering() {
    m_writeCounter = 0;
    m_oldestFrame = 0;
    std::fill(m_slotFrame.begin(), m_slotFrame.end(), -1);
    ++m_numberingEpoch;
}

bool XEVFrameProducer::ensureFrameFormat(int width, int height, int type, unsigned int flags) {
    const int64_t rows = int64_t(height) + ((flags & FLAG_INFO_LINE) ? 1 : 0);
    int64_t bytes = 0;
    const bool fits = type <= LargestType && detail::frameBytes(width, rows, type, bytes) &&
                      bytes <= std::numeric_limits<int>::max();
    return ensureFrameFormat(width, height, type, fits ? static_cast<int>(bytes) : -1, flags);
}

bool XEVFrameProducer::ensureFrameFormat(int width, int height, int type, int byteSize,
                                         unsigned int flags) {
    boost::unique_lock<boost::mutex> lock(m_lock);
    if (width == m_width && height == m_height && type == m_type && flags == m_flags)
        return true;

    // A buffer that cannot hold the image view (and the info line row) would
    // let writers and readers run past its end.
    const int64_t rows = int64_t(height) + ((flags & FLAG_INFO_LINE) ? 1 : 0);
    int64_t needed = 0;
    if (type > LargestType || byteSize < 0 || !detail::frameBytes(width, rows, type, needed))
        XEVException::throwError(
            "For XEVFrameProducer, invalid frame format %dx%d type(%d) size(%d).", width, height,
            type, byteSize);
    if (needed > byteSize)
        XEVException::throwError(
            "For XEVFrameProducer, buffer size(%d) cannot hold a frame of %dx%d type(%d).",
            byteSize, width, height, type);

    // The new slots are built aside: when memory runs out, the FIFO keeps its
    // former format whole.
    const std::size_t allocation =
        std::max<std::size_t>(BufferAlignment, (std::size_t(byteSize) + BufferAlignment - 1) /
                                                   BufferAlignment * BufferAlignment);
    const std::size_t step = std::size_t(width) * detail::elementSize(type);
    std::vector<Buffer> buffers;
    std::vector<cv::Mat> images;
    buffers.reserve(m_fifoSize);
    images.reserve(m_fifoSize);
    for (unsigned int slot = 0; slot < m_fifoSize; ++slot) {
        auto* memory = static_cast<uint8_t*>(std::aligned_alloc(BufferAlignment, allocation));
        if (memory == nullptr)
            XEVException::throwError("For XEVFrameProducer, no memory for %u slot buffers of %zu "
                                     "bytes (%dx%d type(%d)).",
                                     m_fifoSize, allocation, width, height, type);
        buffers.emplace_back(memory);
        images.emplace_back(height, width, type, memory, step);
    }

    while (m_busyReaders != 0)
        m_readersIdle.wait(lock);
    resetNumbering();
    m_slotWritten = -1;
    m_images.swap(images);
    m_buffers.swap(buffers);
    m_bufferSize = std::size_t(byteSize);
    m_width = width;
    m_height = height;
    m_type = type;
    m_flags = flags;
    return false;
}

cv::Mat* XEVFrameProducer::lockFrameForWrite() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_images.empty())
        XEVException::throwError(
            "For XEVFrameProducer, a frame format must be set before a frame is written.");
    int64_t n = m_writeCounter;
    while (m_slotReaders[n % m_fifoSize] != 0)
        ++n;
    const std::size_t slot = n % m_fifoSize;
    m_slotWritten = static_cast<int64_t>(slot);
    m_slotFrame[slot] = -1;
    if ((n + 1) - m_oldestFrame > int64_t(m_fifoSize))
        m_oldestFrame = n + 1 - m_fifoSize;
    m_writeCounter = n;
    return &m_images[slot];
}

void XEVFrameProducer::unlockFrameForWrite(const XEVFrameInfo& info) {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (m_slotWritten >= 0) {
            m_records[m_slotWritten] = info;
            m_slotFrame[m_slotWritten] = m_writeCounter;
            ++m_writeCounter;
            m_slotWritten = -1;
        }
    }
    m_frameReady.notify_all();
}

void XEVFrameProducer::cancelWriting() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_slotWritten = -1;
}

void XEVFrameProducer::connectCaptureObserver(XEVObserver& observer) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_observers.size() + 2 > m_fifoSize)
        XEVException::throwError(
            "For XEVFrameProducer, Fifo Size(%d) < Number of Observers(%d) + 2, "
            "increase Fifo Size or decrease Number of Observers.",
            static_cast<int>(m_fifoSize), static_cast<int>(m_observers.size()));
    if (m_running)
        XEVException::throwError("For XEVFrameProducer, impossible to connect another XEVObserver "
                                 "while XEVFrameProducer is running.");
    if (std::find(m_observers.begin(), m_observers.end(), &observer) == m_observers.end())
        m_observers.push_back(&observer);
}

void XEVFrameProducer::disconnectCaptureObserver(XEVObserver& observer) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_running)
        XEVException::throwError(
            "For XEVFrameProducer, impossible to disconnect a XEVObserver while "
            "XEVFrameProducer is running.");
    auto it = std::find(m_observers.begin(), m_observers.end(), &observer);
    if (it != m_observers.end())
        m_observers.erase(it);
}

void XEVFrameProducer::startProduction() {
    boost::unique_lock<boost::mutex> lock(m_lock);
    if (m_running)
        return;
    resetNumbering();
    m_endOfStream = false;
    std::fill(m_records.begin(), m_records.end(), XEVFrameInfo());
    std::fill(m_slotReaders.begin(), m_slotReaders.end(), 0);

    // The new reading threads block on this lock until running is set.
    std::vector<XEVObserver*> started;
    for (XEVObserver* observer : m_observers) {
        try {
            observer->startReading();
        } catch (...) {
            // Leave no half-started graph behind. The lock is released first:
            // the threads to stop wait for it. A filter whose own observers
            // failed to start has its own thread running, which stops too.
            lock.unlock();
            if (observer->hasReadingThread())
                started.push_back(observer);
            stopAndJoin(started, false);
            throw;
        }
        started.push_back(observer);
    }
    m_running = true;
}

void XEVFrameProducer::stopProduction(bool resetCounters) {
    if (XEVObserver::isReadingFrom(*this))
        XEVException::throwCriticalError("For XEVFrameProducer, production cannot be stopped from "
                                         "one of its own reading threads.");
    std::vector<XEVObserver*> observers;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (!m_running)
            return;
        if (resetCounters)
            resetNumbering();
        m_running = false;
        observers = m_observers;
    }
    if (std::exception_ptr error = stopAndJoin(observers, resetCounters))
        std::rethrow_exception(error);
}

void XEVFrameProducer::signalEndOfStream() {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_endOfStream = true;
    }
    m_frameReady.notify_all();
}

unsigned int XEVFrameProducer::observerCount() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return static_cast<unsigned int>(m_observers.size());
}

void XEVFrameProducer::FindFinalObservers(std::vector<XEVObserver*>& out) {
    std::vector<XEVObserver*> observers;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        observers = m_observers;
    }
    for (XEVObserver* observer : observers) {
        if (observer->IsFinal())
            out.push_back(observer);
        else
            observer->FindFinalObservers(out);
    }
}

void XEVFrameProducer::operator<<(XEVObserver& observer) {
    observer.connectTo(*this);
}

XEVFilter& XEVFrameProducer::operator<<(XEVFilter& filter) {
    filter.connectTo(*this);
    return filter;
}

int64_t XEVFrameProducer::writeCounter() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_writeCounter;
}

int64_t XEVFrameProducer::oldestFrameNumber() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_oldestFrame;
}

bool XEVFrameProducer::isRunning() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_running;
}

std::size_t XEVFrameProducer::slotBufferSize() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_bufferSize;
}

int XEVFrameProducer::frameWidth() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_width;
}

int XEVFrameProducer::frameHeight() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_height;
}

int XEVFrameProducer::frameType() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_type;
}

unsigned int XEVFrameProducer::frameFlags() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_flags;
}

} // namespace XEVLibrary
