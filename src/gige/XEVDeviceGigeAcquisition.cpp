// The acquisition side of the GigE device: construction and destruction of
// its channels and io threads, the control of captures and the delivery of
// the frames the stream channel assembles.

#include "XEVDeviceGige.h"

#include "Gige/ByteOrder.h"
#include "Gige/GvcpChannel.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "device/CaptureLifecycle.h"
#include "device/Diagnostics.h"
#include "gige/GvspChannel.h"
#include "gige/GvspFrameSink.h"
#include "pipeline/ThreadPriority.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <cmath>

namespace XEVLibrary {

namespace asio = boost::asio;

namespace {

/// One receive is in flight at a time (a readiness wait that drains the
/// socket in batches): more io threads would only hand the polling to each
/// other at every burst, which costs more than the packets themselves.
constexpr int IoThreadCount = 1;
constexpr int IoThreadPriority = 90;

} // namespace

/// The device's FIFO as the stream channel's sink.
class XEVDeviceGige::FrameSink : public GvspFrameSink {
public:
    explicit FrameSink(XEVDeviceGige& device) : m_device(device) {}

    void PrepareFrameFormat(int width, int height, int type) override {
        boost::lock_guard<boost::recursive_mutex> guard(m_device.m_configLock);
        m_device.ensureFrameFormat(width, height, type, 0u);
    }
    cv::Mat* ReserveFrame() override { return m_device.lockFrameForWrite(); }
    void CancelFrame() override { m_device.cancelWriting(); }
    void OnNewImage(const XEVFrameInfo& info) override { m_device.OnNewImage(info); }
    void OnStreamError(std::exception_ptr error) override {
        m_device.m_capture->requestFailure(error);
    }

private:
    XEVDeviceGige& m_device;
};

XEVDeviceGige::XEVDeviceGige(const XEVDeviceDescriptorGige* descriptor,
                             const XEVModelConfiguration& configuration, unsigned short port,
                             long fifoSize)
    : XEVDevice(configuration, fifoSize), m_descriptor(descriptor),
      m_firmware(descriptor->firmwareVersionAsString()) {
    try {
        m_capture = std::make_unique<CaptureLifecycle>(
            *this, m_lastError, "XEVDeviceGige",
            CaptureLifecycle::Hooks{[this] { m_gvsp->StartCapture(); },
                                    [this] { m_gvsp->StopCapture(false); }});
        m_sink = std::make_unique<FrameSink>(*this);
        m_io = std::make_unique<asio::io_context>();
        m_ioWork = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
            m_io->get_executor());

        const std::string localIp = ByteOrder::Ipv4ToString(descriptor->LocalIp());
        const std::string cameraIp = ByteOrder::Ipv4ToString(descriptor->CurrentIp());
        m_gvcp = std::make_unique<GvcpChannel>(localIp, cameraIp,
                                               [this] { signalDeviceDisconnected(); });
        if (!m_gvcp->IsOpen())
            XEVException::throwCriticalError(
                "For XEVDevice(%s), the camera at %s cannot be controlled from this computer.",
                modelId().c_str(), cameraIp.c_str());
        startIoThreads();
        m_gvsp =
            std::make_unique<GvspChannel>(*m_io, *m_gvcp, localIp, port, cameraIp, m_firmware,
                                          configuration.Width(), configuration.Height(), *m_sink);
        m_connected.store(true);
        readAllRegisters();
    } catch (const std::exception& error) {
        detail::inform(error.what());
        stopIoThreads();
        m_gvsp.reset();
        m_gvcp.reset();
        throw;
    }
}

XEVDeviceGige::~XEVDeviceGige() {
    m_alive.store(false);
    try {
        m_capture->end(false);
    } catch (const std::exception& error) {
        detail::inform(std::string("XEVDeviceGige::dtor Exception ") + error.what());
    }
    m_capture->shutdown();
    try {
        if (m_gvsp && m_connected.load())
            m_gvsp->Close();
    } catch (const std::exception& error) {
        detail::inform(std::string("XEVDeviceGige::dtor Exception ") + error.what());
    }
    // The stream's handlers run on the io threads: join them before the
    // stream channel goes, then close the control channel (releasing the
    // camera).
    stopIoThreads();
    m_gvsp.reset();
    m_gvcp.reset();
}

void XEVDeviceGige::startIoThreads() {
    for (int i = 0; i < IoThreadCount; ++i) {
        m_ioThreads.push_back(std::make_unique<boost::thread>([this] { runIo(); }));
        requestRealTimePriority(*m_ioThreads.back(), SCHED_FIFO, IoThreadPriority);
    }
}

void XEVDeviceGige::stopIoThreads() {
    m_ioWork.reset();
    if (m_io)
        m_io->stop();
    for (auto& thread : m_ioThreads)
        thread->join();
    m_ioThreads.clear();
}

void XEVDeviceGige::runIo() {
    const OwnThreadMark ownThread(*this, OwnThreadMark::Role::CameraThread);
    try {
        m_io->run();
    } catch (const std::exception& error) {
        detail::inform(std::string("XEVDeviceGige::Run Exception: ") + error.what());
    } catch (...) {
        detail::inform("XEVDeviceGige::Run() Exception: Unknown");
    }
}

XEVGigeStreamStatistics XEVDeviceGige::streamStatistics() const {
    return m_gvsp ? m_gvsp->Statistics() : XEVGigeStreamStatistics{};
}

unsigned XEVDeviceGige::packetSize() const {
    return m_gvsp ? m_gvsp->PacketSize() : 0;
}

// --- Captures ------------------------------------------------------------------------

bool XEVDeviceGige::IsCapturing() const {
    return m_capture->isCapturing();
}

void XEVDeviceGige::Start() {
    throwIfDisconnected();
    m_capture->start(-1, false, "start()");
}

void XEVDeviceGige::CaptureNFrames(long n, bool waitFinalObservers) {
    throwIfDisconnected();
    if (n < 1)
        XEVException::throwError(
            "For XEVDevice(%s), you can't ask for capture n(%d) frames, cause n<1.",
            modelId().c_str(), int(n));
    m_capture->start(n, waitFinalObservers, "captureNFrames()");
}

void XEVDeviceGige::CaptureForDuration(unsigned long milliseconds, bool waitFinalObservers) {
    throwIfDisconnected();
    double frames = 0;
    {
        boost::lock_guard<boost::recursive_mutex> guard(m_configLock);
        frames = std::ceil(double(milliseconds) / 1000.0 * m_applied.fps);
    }
    // Started without the configuration lock, which the stages of an ending
    // capture may need before they can be joined.
    CaptureNFrames(frames > 2147483647.0 ? 2147483647L : long(frames), waitFinalObservers);
}

void XEVDeviceGige::Stop(bool resetCounters) {
    throwIfDisconnected();
    m_capture->refuseOnOwnThread("stop()");
    m_capture->end(resetCounters);
}

bool XEVDeviceGige::WaitEndCapture(int milliseconds) {
    throwIfDisconnected();
    m_capture->refuseOnOwnThread("waitEndCapture()");
    return m_capture->waitEnd(milliseconds);
}

void XEVDeviceGige::Synchronize() {}

void XEVDeviceGige::OnNewImage(const XEVFrameInfo& info) {
    // Runs on an io thread: it commits or cancels, and never waits for the
    // stages below; the end of an N-frame capture is completed elsewhere.
    if (!m_alive.load()) {
        cancelWriting();
        return;
    }
    XEVFrameInfo record = info;
    record.offsetX = m_frameOffsetX.load(std::memory_order_relaxed);
    record.offsetY = m_frameOffsetY.load(std::memory_order_relaxed);
    const CaptureLifecycle::Admission admission =
        m_capture->admit([](int64_t) { return int64_t(1); },
                         [this, &record](int64_t) { unlockFrameForWrite(record); });
    if (admission == CaptureLifecycle::Admission::Refused)
        cancelWriting();
    else if (admission == CaptureLifecycle::Admission::Last)
        m_capture->requestCompletion();
}

void XEVDeviceGige::signalDeviceDisconnected() {
    if (XEVObserver::isReadingFrom(*this))
        XEVException::throwError("For XEVDevice(%s), the loss of the camera cannot be signalled "
                                 "from a frame callback of the device.",
                                 modelId().c_str());
    m_connected.store(false);
    detail::inform("signalDeviceDisconnected");
    try {
        m_capture->end(true);
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceGige: ending the capture of a lost camera failed: %s",
                            error.what());
    }
    XEVDevice::signalDeviceDisconnected();
}

} // namespace XEVLibrary
