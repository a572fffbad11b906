#include "XEVFrameProducer.h"

#include "XEVException.h"
#include "XEVFilter.h"
#include "XEVObserver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace XEVLibrary {

namespace {

constexpr std::size_t BufferAlignment = 64;

/// OpenCV's element size rule: channels times the bytes of the depth.
int elementSize(int type) {
    static const int depthBytes[8] = {1, 1, 2, 2, 4, 4, 8, 8};
    const int channels = ((type >> 3) & 511) + 1;
    return channels * depthBytes[type & 7];
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
        std::fprintf(stderr, "XEVFrameProducer destroyed with an error: %s\n", error.what());
    }
}

void XEVFrameProducer::resetNumbering() {
    m_writeCounter = 0;
    m_oldestFrame = 0;
    std::fill(m_slotFrame.begin(), m_slotFrame.end(), -1);
    ++m_numberingEpoch;
}

bool XEVFrameProducer::ensureFrameFormat(int width, int height, int type, unsigned int flags) {
    const int64_t element = (type >= 0) ? elementSize(type) : 0;
    int64_t pixels = int64_t(width) * int64_t(height);
    if (flags & FLAG_INFO_LINE)
        pixels += width;
    const int64_t bytes = pixels * element;
    const int byteSize =
        (bytes < 0 || bytes > std::numeric_limits<int>::max()) ? -1 : static_cast<int>(bytes);
    return ensureFrameFormat(width, height, type, byteSize, flags);
}

bool XEVFrameProducer::ensureFrameFormat(int width, int height, int type, int byteSize,
                                         unsigned int flags) {
    boost::unique_lock<boost::mutex> lock(m_lock);
    if (width == m_width && height == m_height && type == m_type && flags == m_flags)
        return true;

    // A buffer that cannot hold the image view (and the info line row) would
    // let writers and readers run past its end.
    if (width < 0 || height < 0 || type < 0 || type > 0xFFF || byteSize < 0)
        XEVException::throwError(
            "For XEVFrameProducer, invalid frame format %dx%d type(%d) size(%d).", width, height,
            type, byteSize);
    const int64_t rows = int64_t(height) + ((flags & FLAG_INFO_LINE) ? 1 : 0);
    const int64_t needed = rows * width * elementSize(type);
    if (needed > byteSize)
        XEVException::throwError(
            "For XEVFrameProducer, buffer size(%d) cannot hold a frame of %dx%d type(%d).",
            byteSize, width, height, type);

    while (m_busyReaders != 0)
        m_readersIdle.wait(lock);

    resetNumbering();
    m_slotWritten = -1;
    m_images.clear();
    m_buffers.clear();

    const std::size_t allocation =
        std::max<std::size_t>(BufferAlignment, (std::size_t(byteSize) + BufferAlignment - 1) /
                                                   BufferAlignment * BufferAlignment);
    const std::size_t step = std::size_t(width) * elementSize(type);
    m_buffers.reserve(m_fifoSize);
    m_images.reserve(m_fifoSize);
    for (unsigned int slot = 0; slot < m_fifoSize; ++slot) {
        auto* memory = static_cast<uint8_t*>(std::aligned_alloc(BufferAlignment, allocation));
        if (memory == nullptr)
            throw std::bad_alloc();
        m_buffers.emplace_back(memory);
        m_images.emplace_back(height, width, type, memory, step);
    }
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
    try {
        for (XEVObserver* observer : m_observers) {
            observer->startReading();
            started.push_back(observer);
        }
    } catch (...) {
        // Leave no half-started graph behind: stop what did start.
        lock.unlock();
        for (XEVObserver* observer : started)
            observer->stopReading(false);
        for (XEVObserver* observer : started)
            observer->waitEndReading();
        throw;
    }
    m_running = true;
}

void XEVFrameProducer::stopProduction(bool resetCounters) {
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
    for (XEVObserver* observer : observers)
        observer->stopReading(resetCounters);
    for (XEVObserver* observer : observers)
        observer->waitEndReading();
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
