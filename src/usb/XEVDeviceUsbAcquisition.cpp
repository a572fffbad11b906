// The acquisition side of the USB device: the capture thread, the control of
// captures, the completion of N-frame captures and the software trigger.

#include "XEVDeviceUsb.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "XEVParam.h"
#include "device/CaptureLifecycle.h"
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
    m_capture->shutdown();
    if (m_softTriggerThread) {
        {
            boost::lock_guard<boost::mutex> guard(m_softTriggerLock);
            m_transferStarted = true;
        }
        m_softTriggerCondition.notify_all();
        m_softTriggerThread->join();
        m_softTriggerThread.reset();
    }
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
    // The window's origin on the sensor, told to the stages with each frame.
    uint32_t firstColumn = 0, firstLine = 0;
    int64_t frameBytes = 0;  // bytes asked from the camera
    int64_t neededBytes = 0; // image and info line

    for (;;) {
        try {
            // Idle until a capture runs.
            bool waited = false;
            if (!m_capture->waitForRunning(waited))
                return;
            if (waited)
                streamPrimed = false;
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
            uint32_t newFirstColumn = 0, newFirstLine = 0;
            int64_t newFrameBytes = 0, newNeededBytes = 0;
            {
                boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                if (m_configurationWritten || frameBytes == 0) {
                    newColumns = int(registryValue("Number of Column", m_appliedRegistry));
                    newLines = int(registryValue("Number of Line", m_appliedRegistry));
                    if (hasParam("First Column"))
                        newFirstColumn = uint32_t(registryValue("First Column", m_appliedRegistry));
                    if (hasParam("First Line"))
                        newFirstLine = uint32_t(registryValue("First Line", m_appliedRegistry));
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
                firstColumn = newFirstColumn;
                firstLine = newFirstLine;
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
            XEVFrameInfo record;
            record.offsetX = firstColumn;
            record.offsetY = firstLine;
            uint32_t counter = 0;
            const auto framesOf = [&](int64_t framesSoFar) -> int64_t {
                if (!hasInfoLine)
                    return 1;
                counter = (uint32_t(words[13]) * 4096 + words[14]) & 0xFFFFFF;
                const uint32_t sent =
                    framesSoFar == 0 ? 1
                                     : framesBetween(previousCounter, counter, counterWrapsToZero);
                if (sent == 0)
                    detail::diagnosticf(detail::DiagnosticKind::Information,
                                        ": Repeated frame counter %u", unsigned(counter));
                return sent;
            };
            const auto commit = [&](int64_t frameCount) {
                if (hasInfoLine) {
                    previousCounter = counter;
                    const uint32_t raw = words[12];
                    double celsius;
                    if (m_family == Family::Kestrel && m_descriptor->hasTEC())
                        celsius = (double(raw & 0xFFF) - 0xD81) * -0.1462;
                    else if (m_family == Family::Ibis || m_descriptor->hasTEC())
                        celsius = (double(raw) - 0x3D7) * -0.534;
                    else
                        celsius = uncooledCelsius(raw);
                    record.temperature = static_cast<float>(celsius);
                }
                record.frameNumber = uint64_t(frameCount);
                unlockFrameForWrite(record);
            };
            const CaptureLifecycle::Admission admission = m_capture->admit(framesOf, commit);
            if (admission == CaptureLifecycle::Admission::Refused) {
                cancelWriting();
                continue;
            }
            if (admission == CaptureLifecycle::Admission::Last) {
                // The last frame of an N-frame capture is in.
                m_capture->completeCapture();
                m_transfert->stop(m_handle.get());
                m_transfert->start(m_handle.get());
                streamPrimed = false;
            }
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
        if (!m_capture->alive())
            return;
        const int64_t limit = m_capture->frameLimit();
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
    m_capture->fail(error);
}

bool XEVDeviceUsb::IsCapturing() const {
    return m_capture->isCapturing();
}

void XEVDeviceUsb::startCapture(long frameLimit, bool waitObservers, const char* operation) {
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        raiseNucSignal(0.0);
    }
    m_capture->start(frameLimit, waitObservers, operation);
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
    m_capture->refuseOnOwnThread("stop()");
    m_capture->end(resetCounters);
}

bool XEVDeviceUsb::WaitEndCapture(int milliseconds) {
    throwIfDisconnected();
    m_capture->refuseOnOwnThread("waitEndCapture()");
    return m_capture->waitEnd(milliseconds);
}

void XEVDeviceUsb::Synchronize() {
    throwIfDisconnected();
    m_transfert->synchronize(m_handle.get(), true);
}

void XEVDeviceUsb::signalDeviceDisconnected() {
    if (XEVObserver::isReadingFrom(*this))
        XEVException::throwError("For XEVDevice(%s), the loss of the camera cannot be signalled "
                                 "from a frame callback of the device.",
                                 modelId().c_str());
    m_connected.store(false);
    detail::diagnostic(detail::DiagnosticKind::Information, "signalDeviceDisconnected");
    try {
        m_capture->end(false);
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceUsb: ending the capture of a lost camera failed: %s",
                            error.what());
    }
    XEVDevice::signalDeviceDisconnected();
}

} // namespace XEVLibrary
