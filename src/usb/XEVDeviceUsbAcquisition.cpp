// The acquisition side of the USB device: the capture thread, the control of
// captures, the completion of N-frame captures and the software trigger.

#include "XEVDeviceUsb.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "XEVParam.h"
#include "device/DeviceImpl.h"
#include "device/Diagnostics.h"
#include "pipeline/ThreadPriority.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace XEVLibrary {

namespace {

constexpr int CaptureThreadPriority = 90;
/// Longest wait for a capture that another thread is starting or ending: the
/// stages below finish the frames they hold, then their threads are joined.
constexpr int TransitionDeadlineSeconds = 10;
/// The camera's frame counter has 24 bits.
constexpr uint32_t CounterRange = 0x1000000;

/// The info line words the capture loop reads (0 to 14), from 16-bit pixels or
/// from their 8-bit encoding; false when the row is too short to hold them.
bool infoLineWords(const uint8_t* line, std::size_t rowBytes, bool eightBit, uint16_t* words,
                   int count) {
    if (eightBit) {
        if (rowBytes < std::size_t(count + 32))
            return false;
        for (int k = 0; k < count; ++k)
            words[k] = static_cast<uint16_t>(line[k] * 16 + line[k + 32]);
    } else {
        if (rowBytes < std::size_t(count) * 2)
            return false;
        for (int k = 0; k < count; ++k)
            words[k] = static_cast<uint16_t>(line[2 * k] | (line[2 * k + 1] << 8));
    }
    return true;
}

/**
 * Frames the camera sent from the frame of counter @p previous to the frame of
 * counter @p counter: 0 for a repeat (the same frame again). Across the wrap a
 * camera goes from 0xFFFFFF to 0 or, skipping 0, to 1; @p wrapsToZero is
 * learnt from the first 0 seen after a wrap, until then the camera is taken
 * to skip 0.
 */
uint32_t framesBetween(uint32_t previous, uint32_t counter, bool& wrapsToZero) {
    if (counter >= previous)
        return counter - previous;
    if (counter == 0)
        wrapsToZero = true;
    return counter + CounterRange - previous - (wrapsToZero ? 0 : 1);
}

/// Degrees Celsius of a 12-bit reading of a camera without cooler: below zero
/// above 0x7FF, with the magnitude of the reading's complement.
double uncooledCelsius(uint32_t raw) {
    if (raw <= 0x7FF)
        return raw * 0.0625;
    const uint32_t magnitude = (0u - (raw & 0x7FF)) & 0x7FF;
    return magnitude == 0 ? 0.0 : -(magnitude * 0.0625);
}

} // namespace

void XEVDeviceUsb::startThreads() {
    m_captureThread.reset(new boost::thread(&XEVDeviceUsb::_threadProc, this));
    requestRealTimePriority(*m_captureThread, SCHED_FIFO, CaptureThreadPriority);
    if (m_descriptor->hasSoftTrigger())
        m_softTriggerThread.reset(new boost::thread([this] { StartSoftTrigger(); }));
}

void XEVDeviceUsb::stopThreads() {
    {
        boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
        m_alive = false;
    }
    abandonObserverWait();
    if (m_softTriggerThread) {
        {
            boost::lock_guard<boost::mutex> guard(m_softTriggerLock);
            m_transferStarted = true;
        }
        m_softTriggerCondition.notify_all();
        m_softTriggerThread->join();
        m_softTriggerThread.reset();
    }
    m_startCondition.notify_all();
    if (m_captureThread) {
        m_captureThread->join();
        m_captureThread.reset();
    }
}

void* XEVDeviceUsb::_threadProc(void* device) {
    static_cast<XEVDeviceUsb*>(device)->capturing();
    return nullptr;
}

void XEVDeviceUsb::capturing() {
    const OwnThreadMark ownThread(*this, OwnThreadMark::Role::CameraThread);
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        m_exposureRegistersWritten = false;
    }
    const uint32_t flags = m_descriptor->flags();
    const bool hasInfoLine = (flags & XEVCatalog::FLAG_INFO_LINE) != 0;
    uint32_t previousCounter = 0;
    bool counterWrapsToZero = false;
    bool streamPrimed = false;
    // The format of the FIFO, changed only once the FIFO took it.
    int columns = 0, lines = 0, type = CV_16UC1;
    int64_t frameBytes = 0;  // bytes asked from the camera
    int64_t neededBytes = 0; // image and info line

    for (;;) {
        try {
            // The last frame of an N-frame capture is in.
            bool limitReached = false;
            {
                boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
                limitReached = m_state == CaptureState::Running && m_frameLimit > 0 &&
                               m_frameCount >= m_frameLimit;
            }
            if (limitReached) {
                WaitEndProcessing(true);
                m_transfert->stop(m_handle.get());
                m_transfert->start(m_handle.get());
                streamPrimed = false;
            }

            // Idle until a capture runs.
            {
                boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
                if (!m_alive)
                    return;
                if (!m_connected.load() || m_state != CaptureState::Running) {
                    m_startCondition.wait(lock);
                    streamPrimed = false;
                    continue;
                }
            }
            if (!streamPrimed) {
                // Restart the stream so that the first read gets a whole frame.
                m_transfert->start(m_handle.get());
                m_transfert->stop(m_handle.get());
                if (m_softTriggerSelected.load()) {
                    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                    const std::vector<uint16_t> words{
                        static_cast<uint16_t>(m_appliedRegistry[0] | 0x18)};
                    m_transfert->setMultipleRegVals(*m_descriptor, m_handle.get(), words);
                } else {
                    m_transfert->synchronize(m_handle.get(), true);
                }
                streamPrimed = true;
            }

            // Follow the configuration: the window and pixel depth are read
            // under the parameter lock, the FIFO is reformatted without it,
            // since reformatting waits for the frame callbacks, which may read
            // parameters.
            int newColumns = 0, newLines = 0, newType = CV_16UC1;
            int64_t newFrameBytes = 0, newNeededBytes = 0;
            {
                boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                if (m_configurationWritten || frameBytes == 0) {
                    newColumns = int(registryValue("Number of Column", m_appliedRegistry));
                    newLines = int(registryValue("Number of Line", m_appliedRegistry));
                    const bool eightBit = registryText("Pixel Depth", m_appliedRegistry) == "8bits";
                    newType = eightBit ? CV_8UC1 : CV_16UC1;
                    const int64_t pixelBytes = eightBit ? 1 : 2;
                    newNeededBytes = int64_t(newLines + 1) * newColumns * pixelBytes;
                    int64_t size = newNeededBytes;
                    if ((m_family == Family::Heron || m_family == Family::Ibis) &&
                        m_descriptor->fxType() == FX2)
                        size += int64_t(newColumns) * pixelBytes;
                    newFrameBytes = (size + 1023) / 1024 * 1024;
                    m_configurationWritten = false;
                }
            }
            if (newFrameBytes != 0) {
                bool unchanged = true;
                try {
                    unchanged =
                        ensureFrameFormat(newColumns, newLines, newType, int(newFrameBytes), flags);
                } catch (...) {
                    // Tried again at the next start.
                    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                    m_configurationWritten = true;
                    throw;
                }
                columns = newColumns;
                lines = newLines;
                type = newType;
                frameBytes = newFrameBytes;
                neededBytes = newNeededBytes;
                if (!unchanged)
                    m_transfert->setFrameFormat(*m_descriptor, m_handle.get(), unsigned(columns),
                                                unsigned(lines), type);
            }

            // Read one frame straight into a slot.
            cv::Mat* slot = lockFrameForWrite();
            int64_t length = frameBytes;
            const bool soft = m_softTriggerSelected.load();
            const bool received = m_transfert->transfertFrame(
                *m_descriptor, m_handle.get(), slot->data, length,
                soft ? &m_softTriggerCondition : nullptr, &m_transferStarted, &m_softTriggerLock);
            boost::this_thread::sleep_for(boost::chrono::milliseconds(1));

            // Failed and empty reads.
            if (!received) {
                if (length != -1)
                    detail::diagnosticf(detail::DiagnosticKind::Information, ": xfer failed %d", 0);
                cancelWriting();
                continue;
            }
            // A short read would leave part of the image from an older frame.
            if (length < neededBytes) {
                detail::diagnosticf(detail::DiagnosticKind::Information, ": short frame %lld",
                                    static_cast<long long>(length));
                cancelWriting();
                continue;
            }

            // The info line after the last image row.
            const bool eightBit = type == CV_8UC1;
            const uint8_t* infoLine = slot->data + std::size_t(lines) * slot->step;
            uint16_t words[15] = {};
            const bool readable =
                infoLineWords(infoLine, slot->step, eightBit, words, 15) && InfoLineValid(words);
            if (!readable) {
                bool exposureWritten = false;
                {
                    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                    exposureWritten = m_exposureRegistersWritten;
                    m_exposureRegistersWritten = false;
                }
                detail::diagnosticf(detail::DiagnosticKind::Information, ": Invalid infoLine %d",
                                    exposureWritten ? 1 : 0);
                cancelWriting();
                if (!exposureWritten)
                    m_transfert->synchronize(m_handle.get(), true);
                continue;
            }

            // Commit while the capture still runs.
            boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
            const bool wanted = m_state == CaptureState::Running &&
                                !(m_frameLimit > 0 && m_frameCount >= m_frameLimit);
            if (!wanted) {
                cancelWriting();
                continue;
            }
            XEVFrameInfo record;
            if (!hasInfoLine) {
                ++m_frameCount;
            } else {
                const uint32_t counter = (uint32_t(words[13]) * 4096 + words[14]) & 0xFFFFFF;
                const uint32_t raw = words[12];
                const uint32_t sent =
                    m_frameCount == 0 ? 1
                                      : framesBetween(previousCounter, counter, counterWrapsToZero);
                if (sent == 0) {
                    detail::diagnosticf(detail::DiagnosticKind::Information,
                                        ": Repeated frame counter %u", unsigned(counter));
                    cancelWriting();
                    continue;
                }
                m_frameCount += sent;
                previousCounter = counter;

                double celsius;
                if (m_family == Family::Kestrel && m_descriptor->hasTEC())
                    celsius = (double(raw & 0xFFF) - 0xD81) * -0.1462;
                else if (m_family == Family::Ibis || m_descriptor->hasTEC())
                    celsius = (double(raw) - 0x3D7) * -0.534;
                else
                    celsius = uncooledCelsius(raw);
                record.temperature = static_cast<float>(celsius);
            }
            record.frameNumber = uint64_t(m_frameCount);
            unlockFrameForWrite(record);
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            try {
                cancelWriting();
            } catch (...) {
                // the capture ends anyway
            }
            failCapture(error);
        }
    }
}

void XEVDeviceUsb::StartSoftTrigger() {
    const OwnThreadMark ownThread(*this, OwnThreadMark::Role::CameraThread);
    for (;;) {
        {
            boost::unique_lock<boost::mutex> lock(m_softTriggerLock);
            m_softTriggerCondition.wait(lock, [this] { return m_transferStarted; });
            m_transferStarted = false;
        }
        int64_t limit = 0;
        {
            boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
            if (!m_alive)
                return;
            limit = m_frameLimit;
        }
        // The thread lives as long as the device, so that selecting the soft
        // trigger again later still triggers.
        if (!m_softTriggerSelected.load() || !m_connected.load())
            continue;
        try {
            const uint16_t burst = static_cast<uint16_t>(((limit - 1) * 32) & 0xFF);
            boost::this_thread::sleep_for(boost::chrono::milliseconds(10));
            const std::vector<uint16_t> words{static_cast<uint16_t>(12 * 256 + burst),
                                              static_cast<uint16_t>(13 * 256 + 0x00)};
            m_transfert->setMultipleRegVals(*m_descriptor, m_handle.get(), words);
        } catch (...) {
            failCapture(std::current_exception());
        }
    }
}

void XEVDeviceUsb::failCapture(std::exception_ptr error) {
    // Nothing from the camera or the pipeline may end the process: the
    // capture ends, the thread waits for the next one.
    const std::string text = m_lastError.record(error);
    detail::diagnosticf(detail::DiagnosticKind::Error, "XEVDeviceUsb capture stopped on error: %s",
                        text.c_str());
    try {
        endCapture(false);
    } catch (...) {
        const std::string consequence = XEVErrorRecord::describe(std::current_exception());
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceUsb capture did not end cleanly: %s", consequence.c_str());
    }
}

void XEVDeviceUsb::refuseOnOwnThread(const char* operation) const {
    if (isOwnThread())
        XEVException::throwError("For XEVDevice(%s), %s cannot be called from one of the "
                                 "device's own threads (a frame callback or a camera "
                                 "notification).",
                                 modelId().c_str(), operation);
}

bool XEVDeviceUsb::IsCapturing() const {
    boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
    return m_state != CaptureState::Idle;
}

void XEVDeviceUsb::waitWhileTransitional(boost::unique_lock<boost::mutex>& lock) {
    const bool settled =
        m_stateChanged.wait_for(lock, boost::chrono::seconds(TransitionDeadlineSeconds), [this] {
            return m_state != CaptureState::Starting && m_state != CaptureState::Ending;
        });
    if (!settled)
        XEVException::throwError(
            "For XEVDevice(%s), the capture did not finish starting or ending within %d s.",
            modelId().c_str(), TransitionDeadlineSeconds);
}

void XEVDeviceUsb::abandonObserverWait() {
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
}

void XEVDeviceUsb::startCapture(long frameLimit, bool waitObservers, const char* operation) {
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        raiseNucSignal(0.0);
    }
    boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
    if (m_state == CaptureState::Starting || m_state == CaptureState::Ending) {
        // A capture ending on a stage's thread would wait for that very thread.
        refuseOnOwnThread(operation);
        waitWhileTransitional(lock);
    }
    if (m_state != CaptureState::Idle)
        return;
    m_state = CaptureState::Starting;
    m_lastError.clear();
    m_captureCompleted = false;
    lock.unlock();

    // Starting the stages runs without the lock: their first callbacks may
    // ask the device whether it captures.
    try {
        if (frameLimit > 0)
            ConnectToFinalObserverDoneSignal(frameLimit);
        startProduction();
    } catch (...) {
        DisconnectFromFinalObserverDoneSignal();
        lock.lock();
        m_state = CaptureState::Idle;
        lock.unlock();
        m_stateChanged.notify_all();
        throw;
    }

    lock.lock();
    m_frameCount = 0;
    if (frameLimit > 0) {
        m_waitForObservers = waitObservers;
        m_frameLimit = frameLimit;
    }
    m_state = CaptureState::Running;
    lock.unlock();
    m_stateChanged.notify_all();
    m_startCondition.notify_all();
}

void XEVDeviceUsb::endCapture(bool resetCounters) {
    boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
    for (;;) {
        switch (m_state) {
        case CaptureState::Idle:
            return;
        case CaptureState::Running:
            m_state = CaptureState::Ending;
            m_frameLimit = -1;
            m_captureCompleted = false;
            lock.unlock();
            abandonObserverWait();
            finishEnding(resetCounters);
            return;
        case CaptureState::Ending:
            // Ended by another thread, maybe waiting for the stages to
            // finish their frames: cut that wait short.
            lock.unlock();
            abandonObserverWait();
            lock.lock();
            waitWhileTransitional(lock);
            break;
        case CaptureState::Starting:
            waitWhileTransitional(lock);
            break;
        }
    }
}

void XEVDeviceUsb::finishEnding(bool resetCounters) {
    std::exception_ptr error;
    try {
        DisconnectFromFinalObserverDoneSignal();
        StopProduction(resetCounters);
    } catch (...) {
        error = std::current_exception();
    }
    {
        boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
        m_state = CaptureState::Idle;
    }
    m_stateChanged.notify_all();
    if (error)
        std::rethrow_exception(error);
}

void XEVDeviceUsb::Start() {
    throwIfDisconnected();
    if (m_softTriggerSelected.load())
        XEVException::throwError("You cannot call 'start' in soft trigger mode. Call "
                                 "'captureNFrames' instead or choose another trigger mode");
    startCapture(-1, false, "start()");
}

void XEVDeviceUsb::CaptureNFrames(long n, bool waitObservers) {
    throwIfDisconnected();
    if (n < 1)
        XEVException::throwError(
            "For XEVDevice(%s), you can't ask for capture n(%d) frames, cause n<1.",
            modelId().c_str(), int(n));
    if (m_softTriggerSelected.load() && n > 8)
        XEVException::throwError(
            "In Soft Trigger mode the number of queried frames must be between 1 and 8 inclusive.");
    startCapture(n, waitObservers, "captureNFrames()");
}

void XEVDeviceUsb::CaptureForDuration(unsigned long milliseconds, bool waitObservers) {
    throwIfDisconnected();
    double frames = 0;
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        frames = std::ceil(double(milliseconds) / 1000.0 * m_applied.fps);
    }
    // Started without the parameter lock, which the stages of an ending
    // capture may need before they can be joined.
    CaptureNFrames(frames > 2147483647.0 ? 2147483647L : long(frames), waitObservers);
}

void XEVDeviceUsb::Stop(bool resetCounters) {
    throwIfDisconnected();
    refuseOnOwnThread("stop()");
    endCapture(resetCounters);
}

bool XEVDeviceUsb::WaitEndCapture(int milliseconds) {
    throwIfDisconnected();
    refuseOnOwnThread("waitEndCapture()");
    {
        boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
        const auto idle = [this] { return m_state == CaptureState::Idle; };
        if (milliseconds == -1) {
            m_stateChanged.wait(lock, idle);
            return m_captureCompleted;
        }
        if (m_stateChanged.wait_for(lock, boost::chrono::milliseconds(milliseconds), idle))
            return m_captureCompleted;
    }
    // Time is up: the capture ends here.
    endCapture(false);
    boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
    return m_captureCompleted;
}

void XEVDeviceUsb::Synchronize() {
    throwIfDisconnected();
    m_transfert->synchronize(m_handle.get(), true);
}

void XEVDeviceUsb::ConnectToFinalObserverDoneSignal(long frames) {
    std::vector<XEVObserver*> finals;
    FindFinalObservers(finals);
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
        observer->Impl()->connect([this] { OnFinalObserverDone(); });
    }
}

void XEVDeviceUsb::DisconnectFromFinalObserverDoneSignal() {
    std::vector<XEVObserver*> finals;
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        finals.swap(m_finalObservers);
    }
    for (XEVObserver* observer : finals)
        observer->DisconnectFromObserverDoneSignal();
}

void XEVDeviceUsb::OnFinalObserverDone() {
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        ++m_doneCount;
    }
    m_doneCondition.notify_all();
}

void XEVDeviceUsb::WaitEndProcessing(bool completed) {
    bool waitObservers = false;
    {
        boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
        if (m_state != CaptureState::Running)
            return; // ended meanwhile by another thread
        m_state = CaptureState::Ending;
        m_captureCompleted = completed;
        m_frameLimit = -1;
        waitObservers = m_waitForObservers;
    }
    std::exception_ptr error;
    try {
        signalEndOfStream();
        if (waitObservers && completed) {
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
                boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
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

void XEVDeviceUsb::signalDeviceDisconnected() {
    if (XEVObserver::isReadingFrom(*this))
        XEVException::throwError("For XEVDevice(%s), the loss of the camera cannot be signalled "
                                 "from a frame callback of the device.",
                                 modelId().c_str());
    m_connected.store(false);
    detail::diagnostic(detail::DiagnosticKind::Information, "signalDeviceDisconnected");
    try {
        endCapture(false);
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceUsb: ending the capture of a lost camera failed: %s",
                            error.what());
    }
    XEVDevice::signalDeviceDisconnected();
}

} // namespace XEVLibrary
