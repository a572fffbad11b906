#pragma once

#include "XEVErrorRecord.h"
#include "XEVFrameProducer.h"
#include "XEVModelConfiguration.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace XEVLibrary {

class XEVConfigObserver;
class XEVDeviceDescriptor;
struct DeviceImpl;

/**
 * An opened camera.
 *
 * A device is the camera's model configuration (its parameters and their
 * layout), the producer of its frames (chain filters and observers onto it
 * with operator<<), and the subject of config observers. The public
 * operations forward to the virtual operations that the USB and GigE devices
 * implement.
 *
 * The bool of every getter selects the settings last applied to the camera
 * (true) or the pending ones (false); the bool of every setter asks to send
 * the change to the camera at once.
 *
 * Devices are created and destroyed by XEVManager; the application never
 * deletes one, and stops a device before destroying anything connected to it.
 *
 * Threads. A device runs threads of its own: camera threads (a USB camera's
 * capture thread and, with a software trigger, its trigger thread) and, while
 * it captures, the reading thread of every observer and filter below it,
 * which call onNewFrame(). Every public operation may be called from any
 * thread, with these exceptions for the device's own threads (frame
 * callbacks, and config observer callbacks, which run on the thread that made
 * the change or, for the loss of the camera, on the capture thread):
 * - stop() and waitEndCapture() are refused with an XEVException: they wait
 *   for the graph to stop, that is for the calling thread itself;
 * - start() and captureNFrames() are refused while a capture is starting or
 *   ending, for the same reason, and do nothing while one runs;
 * - the device cannot be destroyed from them (XEVManager refuses).
 * Getters (parameters, frame rates, manual(), isCapturing()) and setters may
 * be called from frame callbacks: no lock of the library is held while the
 * device waits for its reading threads.
 *
 * Blocking. Setters with apply true wait for the camera to take the
 * registers (before USB bridge firmware 2.0.0, about 100 ms per register).
 * stop() waits for the stages below to finish the frame they hold and end.
 * start(), captureNFrames() and stop() wait for a capture that another thread
 * is starting or ending, at most 10 s, then give up with an XEVException.
 * waitEndCapture(-1) waits without limit.
 *
 * Scheduling. Camera threads ask for SCHED_FIFO at priority 90, reading
 * threads for SCHED_RR at priority 70; without the privilege to use
 * real-time scheduling they run with the normal policy.
 */
class XEVDevice : public XEVModelConfiguration, public XEVFrameProducer {
public:
    /// Set by the application before opening a USB camera: the device then
    /// starts no acquisition thread and writes nothing to the camera.
    static bool Fastest;

    /// Built by the USB and GigE devices from the camera's model configuration,
    /// with a FIFO of @p fifoSize frames. Applications open devices through
    /// XEVManager instead.
    XEVDevice(const XEVModelConfiguration& configuration, long fifoSize);
    ~XEVDevice() override;

    /// The descriptor this device was opened from, owned by the manager.
    const XEVDeviceDescriptor* deviceDescriptor() const { return GetDeviceDescriptor(); }
    std::string manual() const override { return GetManual(); }

    /// Frame rate truncated toward zero, its minimum rounded up and its
    /// maximum rounded down, so that the three integers are reachable.
    ///@{
    long fps(bool applied = true) const;
    long minFps(bool applied = true) const;
    long maxFps(bool applied = true) const;
    ///@}
    ///@{
    /// Frame rate, its minimum and its maximum, as the camera computes them.
    double fpsAsDouble(bool applied = true) const { return GetFps(applied); }
    double minFpsAsDouble(bool applied = true) const { return GetMinFps(applied); }
    double maxFpsAsDouble(bool applied = true) const { return GetMaxFps(applied); }
    ///@}

    /// The value of parameter @p name (XEVCatalog has the names) as a number in
    /// the parameter's unit.
    double paramValueOf(const std::string& name, bool applied = true) const {
        return GetParamValueOf(name, applied);
    }
    /// The value of parameter @p name as text, such as "2ms" or "8bits".
    std::string paramStrValueOf(const std::string& name, bool applied = true) const {
        return GetParamStrValueOf(name, applied);
    }

    /// Asks for @p fps frames per second. The camera's limits clamp it (see
    /// minFps() and maxFps()); returns the frame rate that results, the
    /// applied one with @p apply, else the pending one.
    ///@{
    double setFps(double fps, bool apply = true) {
        SetFps(fps, apply);
        return GetFps(apply);
    }
    double setFps(unsigned int fps, bool apply = true) { return setFps(double(fps), apply); }
    double setFps(int fps, bool apply = true) { return setFps(double(fps), apply); }
    ///@}
    /// Sets parameter @p name to @p value, a number in the parameter's unit.
    void setParamValueOf(const std::string& name, double value, bool apply = true) {
        SetParamValueOf(name, value, apply);
    }
    /// Integers are values too: setParamValueOf("First Column", 0).
    template <typename Integer, typename = std::enable_if_t<std::is_integral<Integer>::value>>
    void setParamValueOf(const std::string& name, Integer value, bool apply = true) {
        SetParamValueOf(name, double(value), apply);
    }
    /// Sets parameter @p name from a text such as "2ms", "500 us" or "8bits".
    void setParamValueOf(const std::string& name, const std::string& value, bool apply = true) {
        SetParamValueOf(name, value, apply);
    }
    /// A null @p value is refused: it is no text.
    void setParamValueOf(const std::string& name, const char* value, bool apply = true);
    /// Sends the pending settings; with @p force every setting, not only the
    /// changed ones. False when the camera refused a write: the settings it
    /// refused stay pending (reads with applied true show what the camera
    /// has) and are sent again by the next updateConfig().
    bool updateConfig(bool force = false) { return UpdateConfig(force); }

    /// Captures until stop(). Does nothing while a capture runs.
    void start() { Start(); }
    /// Captures @p n frames; the capture ends once every final observer has
    /// processed its frames. Does nothing while a capture runs.
    void captureNFrames(long n) { CaptureNFrames(n, true); }
    /// Captures for @p milliseconds; the capture ends once every final observer
    /// has processed its frames. Does nothing while a capture runs.
    void captureForDuration(unsigned long milliseconds) { CaptureForDuration(milliseconds, true); }
    /// Ends the capture: when it returns, every stage below has stopped and
    /// may be destroyed.
    void stop(bool resetCounters = false) { Stop(resetCounters); }
    /// Waits for the end of the capture, at most @p milliseconds (-1: no
    /// limit), then ends it. True when the capture ended by reaching its frame
    /// count.
    bool waitEndCapture(int milliseconds) { return WaitEndCapture(milliseconds); }
    /// USB cameras: stops the camera's stream and starts it again 75 ms later,
    /// so that the next frame starts afresh. GigE cameras: nothing.
    void synchronize() { Synchronize(); }
    /// True from the start of a capture until its production has fully
    /// stopped: once false, the stages below may be destroyed or restarted.
    bool isCapturing() const { return IsCapturing(); }
    /// The error that ended the last capture early (a failure on a camera
    /// thread), or null; cleared when the next capture starts.
    std::exception_ptr lastError() const { return m_lastError.error(); }
    /// The text of lastError(), or an empty string.
    std::string lastErrorMessage() const { return m_lastError.message(); }

    /// Used by the capture machinery: starts the reading threads of the stages
    /// below (XEVFrameProducer::startProduction()).
    void StartProduction() { startProduction(); }
    /// Used by the capture machinery: stops and joins the reading threads of
    /// the stages below (XEVFrameProducer::stopProduction()).
    void StopProduction(bool resetCounters) { stopProduction(resetCounters); }

    /// Tells every config observer, in connection order, of the values that
    /// changed; 0.0 marks a value that did not change and is not reported.
    void notifyFpsChanged(double fps, double minFps, double maxFps, bool flag);
    /// Tells every config observer, in connection order, that parameter
    /// @p name took @p value (@p applied: on the camera, else pending).
    void notifyParamChanged(const std::string& name, const std::string& value, bool applied);
    /// Adds @p observer, which is told of changes until
    /// disconnectConfigObserver(); it must outlive its connection.
    void connectConfigObserver(XEVConfigObserver& observer);
    /// Removes @p observer. Notifications may run on other threads meanwhile:
    /// returns once none of them can call @p observer any more, so that it may
    /// be destroyed. From a callback of this device's notifications it
    /// returns at once (the notifications under way skip @p observer).
    void disconnectConfigObserver(XEVConfigObserver& observer);
    /// The camera is gone: tells every config observer. Concrete devices mark
    /// themselves disconnected and stop capturing, then call this body.
    virtual void signalDeviceDisconnected();

    /// True when the calling thread is one of this device's own: a camera
    /// thread, the reading thread of a stage below it, or a thread running
    /// this device's config observer callbacks. Such a thread cannot wait for
    /// the device to stop or be destroyed.
    bool isOwnThread() const;

    /// The internal signals of this device.
    DeviceImpl* impl() const { return m_impl.get(); }

protected:
    ///@{
    /// The operations the USB and GigE devices implement; the public operations
    /// of similar names (deviceDescriptor(), fpsAsDouble(), start() ...) forward
    /// to them and say what they do.
    virtual const XEVDeviceDescriptor* GetDeviceDescriptor() const = 0;
    virtual double GetFps(bool applied) const = 0;
    virtual double GetMinFps(bool applied) const = 0;
    virtual double GetMaxFps(bool applied) const = 0;
    virtual double GetParamValueOf(const std::string& name, bool applied) const = 0;
    virtual std::string GetParamStrValueOf(const std::string& name, bool applied) const = 0;
    virtual std::string GetManual() const = 0;
    virtual void SetFps(double fps, bool apply) = 0;
    virtual void SetParamValueOf(const std::string& name, double value, bool apply) = 0;
    virtual void SetParamValueOf(const std::string& name, const std::string& value, bool apply) = 0;
    virtual bool UpdateConfig(bool force) = 0;
    virtual bool IsCapturing() const = 0;
    virtual void Start() = 0;
    virtual void CaptureNFrames(long n, bool waitFinalObservers) = 0;
    virtual void CaptureForDuration(unsigned long milliseconds, bool waitFinalObservers) = 0;
    virtual void Stop(bool resetCounters) = 0;
    virtual bool WaitEndCapture(int milliseconds) = 0;
    virtual void Synchronize() = 0;
    ///@}

    /// The error that ended the last capture, kept by the concrete device.
    XEVErrorRecord m_lastError;

    // Completes captures on a thread of its own, marked as a camera thread.
    friend class CaptureLifecycle;

    /// Marks the calling thread as one of @p device's own (isOwnThread())
    /// for the lifetime of the mark: camera threads hold one while they run.
    class OwnThreadMark {
    public:
        /// Which kind of own thread the mark declares.
        enum class Role { CameraThread, ConfigNotification };
        /// Marks the calling thread as @p device's, in @p role, until destroyed.
        OwnThreadMark(const XEVDevice& device, Role role);
        ~OwnThreadMark();
        OwnThreadMark(const OwnThreadMark&) = delete;
        OwnThreadMark& operator=(const OwnThreadMark&) = delete;

        /// Config notifications of @p device running on the calling thread.
        static unsigned notificationsOf(const XEVDevice& device);
        /// True when the calling thread carries a mark of @p device.
        static bool isMarked(const XEVDevice& device);

    private:
        /// The innermost mark of the calling thread; marks nest as calls do.
        static thread_local const OwnThreadMark* s_innermost;

        const XEVDevice* m_device;
        Role m_role;
        const OwnThreadMark* m_previous;
    };

private:
    /// Calls @p notify on every config observer still connected, with a
    /// copy of the list taken under the lock.
    template <typename Notify>
    void forEachConfigObserver(const Notify& notify);

    std::unique_ptr<DeviceImpl> m_impl;
    std::vector<XEVConfigObserver*> m_configObservers;
    mutable boost::mutex m_configObserverLock;
    /// Notifications under way, on any thread; disconnecting waits for them.
    unsigned m_activeNotifications = 0;
    boost::condition_variable m_notificationsEnded;
};

} // namespace XEVLibrary
