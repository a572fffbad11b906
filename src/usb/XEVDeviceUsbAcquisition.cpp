// The acquisition side of the USB device: the capture thread, the control of
// captures, the completion of N-frame captures and the software trigger.

#include "XEVDeviceUsb.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "XEVParam.h"
#include "device/DeviceImpl.h"
#include "pipeline/ThreadPriority.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace XEVLibrary {

namespace {

constexpr int CaptureThreadPriority = 90;
/// Longest time Stop waits for the capture loop to notice: one bulk read with
/// its time-out and recovery.
constexpr auto LoopTurnDeadline = boost::chrono::seconds(7);

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
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
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
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        m_exposureRegistersWritten = false;
    }
    const uint32_t flags = m_descriptor->flags();
    const bool hasInfoLine = (flags & XEVCatalog::FLAG_INFO_LINE) != 0;
    uint32_t previousCounter = 0;
    bool streamPrimed = false;
    int columns = 0, lines = 0, type = CV_16UC1;
    int64_t frameBytes = 0;  // bytes asked from the camera
    int64_t neededBytes = 0; // image and info line

    for (;;) {
        try {
            // 2. One more turn.
            {
                boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
                ++m_loopTurns;
            }
            m_loopCondition.notify_all();

            // 3. The last frame of an N-frame capture is in.
            bool limitReached = false;
            {
                boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
                limitReached = m_capturing && m_frameLimit > 0 && m_frameCount >= m_frameLimit;
            }
            if (limitReached) {
                signalEndOfStream();
                WaitEndProcessing(true);
                m_transfert->stop(m_handle.get());
                m_transfert->start(m_handle.get());
                streamPrimed = false;
            }

            // 4. Idle until a capture starts.
            {
                boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
                if (!m_alive)
                    return;
                if (!m_connected.load() || !m_capturing) {
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

            // 5. Follow the configuration.
            {
                boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
                if (m_configurationWritten || frameBytes == 0) {
                    columns = int(registryValue("Number of Column", m_appliedRegistry));
                    lines = int(registryValue("Number of Line", m_appliedRegistry));
                    const bool eightBit = registryText("Pixel Depth", m_appliedRegistry) == "8bits";
                    type = eightBit ? CV_8UC1 : CV_16UC1;
                    const int64_t pixelBytes = eightBit ? 1 : 2;
                    neededBytes = int64_t(lines + 1) * columns * pixelBytes;
                    int64_t size = neededBytes;
                    if ((m_family == Family::Heron || m_family == Family::Ibis) &&
                        m_descriptor->fxType() == FX2)
                        size += int64_t(columns) * pixelBytes;
                    frameBytes = (size + 1023) / 1024 * 1024;
                    if (!ensureFrameFormat(columns, lines, type, int(frameBytes), flags))
                        m_transfert->setFrameFormat(*m_descriptor, m_handle.get(),
                                                    unsigned(columns), unsigned(lines), type);
                    m_configurationWritten = false;
                }
            }

            // 6. Read one frame straight into a slot.
            cv::Mat* slot = lockFrameForWrite();
            int64_t length = frameBytes;
            const bool soft = m_softTriggerSelected.load();
            const bool received = m_transfert->transfertFrame(
                *m_descriptor, m_handle.get(), slot->data, length,
                soft ? &m_softTriggerCondition : nullptr, &m_transferStarted, &m_softTriggerLock);
            boost::this_thread::sleep_for(boost::chrono::milliseconds(1));

            // 7. and 8. Failed and empty reads.
            if (!received) {
                if (length != -1)
                    std::printf(": xfer failed %d\n", 0);
                cancelWriting();
                continue;
            }
            // A short read would leave part of the image from an older frame.
            if (length < neededBytes) {
                std::printf(": short frame %lld\n", static_cast<long long>(length));
                cancelWriting();
                continue;
            }

            // 9. The info line after the last image row.
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
                std::printf(": Invalid infoLine %d\n", exposureWritten ? 1 : 0);
                cancelWriting();
                if (!exposureWritten)
                    m_transfert->synchronize(m_handle.get(), true);
                continue;
            }

            // 10. Commit while the capture still runs.
            boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
            const bool wanted = m_capturing && !(m_frameLimit > 0 && m_frameCount >= m_frameLimit);
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
                if (m_frameCount == 0)
                    m_frameCount += 1;
                else if (counter > previousCounter)
                    m_frameCount += counter - previousCounter;
                else
                    m_frameCount += uint32_t(counter - previousCounter + 0xFFFFFFu);
                previousCounter = counter;

                double celsius;
                if (m_family == Family::Kestrel && m_descriptor->hasTEC())
                    celsius = (double(raw & 0xFFF) - 0xD81) * -0.1462;
                else if (m_family == Family::Ibis || m_descriptor->hasTEC())
                    celsius = (double(raw) - 0x3D7) * -0.534;
                else // a 12-bit two's complement reading
                    celsius = double(int(raw & 0xFFF) - ((raw & 0x800) ? 0x1000 : 0)) * 0.0625;
                record.temperature = static_cast<float>(celsius);
            }
            record.frameNumber = uint64_t(m_frameCount);
            unlockFrameForWrite(record);
        } catch (const std::exception& error) {
            // Nothing from the camera or the pipeline may end the process:
            // the capture stops, the thread waits for the next one.
            std::fprintf(stderr, "XEVDeviceUsb capture stopped: %s\n", error.what());
            cancelWriting();
            boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
            m_capturing = false;
            m_frameLimit = -1;
            m_loopCondition.notify_all();
        }
    }
}

void XEVDeviceUsb::StartSoftTrigger() {
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
        const uint16_t burst = static_cast<uint16_t>(((limit - 1) * 32) & 0xFF);
        boost::this_thread::sleep_for(boost::chrono::milliseconds(10));
        const std::vector<uint16_t> words{static_cast<uint16_t>(12 * 256 + burst),
                                          static_cast<uint16_t>(13 * 256 + 0x00)};
        m_transfert->setMultipleRegVals(*m_descriptor, m_handle.get(), words);
    }
}

bool XEVDeviceUsb::IsCapturing() const {
    boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
    return m_capturing;
}

void XEVDeviceUsb::startCapture(long frameLimit, bool waitObservers) {
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        raiseNucSignal(0.0);
    }
    boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
    if (m_capturing)
        return;
    if (frameLimit > 0) {
        m_waitForObservers = waitObservers;
        ConnectToFinalObserverDoneSignal(frameLimit);
    }
    startProduction();
    m_frameCount = 0;
    m_captureCompleted = false;
    if (frameLimit > 0)
        m_frameLimit = frameLimit;
    m_capturing = true;
    m_startCondition.notify_all();
}

void XEVDeviceUsb::Start() {
    throwIfDisconnected();
    if (m_softTriggerSelected.load())
        XEVException::throwError("You cannot call 'start' in soft trigger mode. Call "
                                 "'captureNFrames' instead or choose another trigger mode");
    startCapture(-1, false);
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
    startCapture(n, waitObservers);
}

void XEVDeviceUsb::CaptureForDuration(unsigned long milliseconds, bool waitObservers) {
    throwIfDisconnected();
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    const double frames = std::ceil(double(milliseconds) / 1000.0 * m_applied.fps);
    CaptureNFrames(frames > 2147483647.0 ? 2147483647L : long(frames), waitObservers);
}

void XEVDeviceUsb::Stop(bool resetCounters) {
    throwIfDisconnected();
    boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
    if (!m_capturing)
        return;
    m_frameLimit = -1;
    m_capturing = false;
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
    if (m_captureThread)
        m_loopCondition.wait_for(lock, LoopTurnDeadline);
    DisconnectFromFinalObserverDoneSignal();
    StopProduction(resetCounters);
}

bool XEVDeviceUsb::WaitEndCapture(int milliseconds) {
    throwIfDisconnected();
    boost::unique_lock<boost::mutex> lock(m_acquisitionLock);
    if (milliseconds == -1) {
        while (m_capturing)
            m_loopCondition.wait(lock);
    } else {
        const auto deadline =
            boost::chrono::steady_clock::now() + boost::chrono::milliseconds(milliseconds);
        while (m_capturing) {
            if (m_loopCondition.wait_until(lock, deadline) == boost::cv_status::timeout) {
                if (m_capturing)
                    m_captureCompleted = false;
                break;
            }
        }
    }
    if (m_captureCompleted && !m_capturing)
        return true;
    m_frameLimit = -1;
    DisconnectFromFinalObserverDoneSignal();
    m_capturing = false;
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
    StopProduction(false);
    m_loopCondition.notify_all();
    return false;
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
        m_captureCompleted = completed;
        m_frameLimit = -1;
        waitObservers = m_waitForObservers;
    }
    if (waitObservers && completed) {
        // Every final observer reports done: after the capture's frames, or
        // after draining what it could still read (end of stream).
        boost::unique_lock<boost::mutex> lock(m_doneLock);
        m_doneCondition.wait(
            lock, [this] { return m_doneCount >= m_finalObserverCount || m_abandonWait; });
    }
    DisconnectFromFinalObserverDoneSignal();
    {
        boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
        m_capturing = false;
    }
    StopProduction(false);
    m_loopCondition.notify_all();
}

void XEVDeviceUsb::signalDeviceDisconnected() {
    m_connected.store(false);
    {
        boost::lock_guard<boost::mutex> guard(m_acquisitionLock);
        m_frameLimit = -1;
        m_capturing = false;
    }
    {
        boost::lock_guard<boost::mutex> guard(m_doneLock);
        m_abandonWait = true;
    }
    m_doneCondition.notify_all();
    std::printf("signalDeviceDisconnected\n");
    DisconnectFromFinalObserverDoneSignal();
    StopProduction(false);
    m_loopCondition.notify_all();
    XEVDevice::signalDeviceDisconnected();
}

} // namespace XEVLibrary
