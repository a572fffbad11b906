#pragma once

#include "XEVFrameProducer.h"
#include "XEVModelConfiguration.h"

#include <boost/thread/mutex.hpp>

#include <memory>
#include <string>
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
 */
class XEVDevice : public XEVModelConfiguration, public XEVFrameProducer {
public:
    /// Set by the application before opening a USB camera: the device then
    /// starts no acquisition thread and writes nothing to the camera.
    static bool Fastest;

    XEVDevice(const XEVModelConfiguration& configuration, long fifoSize);
    ~XEVDevice() override;

    const XEVDeviceDescriptor* deviceDescriptor() const { return GetDeviceDescriptor(); }
    std::string manual() const override { return GetManual(); }

    /// Frame rate truncated toward zero, its minimum rounded up and its
    /// maximum rounded down, so that the three integers are reachable.
    long fps(bool applied = true) const;
    long minFps(bool applied = true) const;
    long maxFps(bool applied = true) const;
    double fpsAsDouble(bool applied = true) const { return GetFps(applied); }
    double minFpsAsDouble(bool applied = true) const { return GetMinFps(applied); }
    double maxFpsAsDouble(bool applied = true) const { return GetMaxFps(applied); }

    double paramValueOf(const std::string& name, bool applied = true) const {
        return GetParamValueOf(name, applied);
    }
    std::string paramStrValueOf(const std::string& name, bool applied = true) const {
        return GetParamStrValueOf(name, applied);
    }

    void setFps(double fps, bool apply = true) { SetFps(fps, apply); }
    void setFps(unsigned int fps, bool apply = true) { SetFps(double(fps), apply); }
    void setFps(int fps, bool apply = true) { SetFps(double(fps), apply); }
    void setParamValueOf(const std::string& name, double value, bool apply = true) {
        SetParamValueOf(name, value, apply);
    }
    void setParamValueOf(const std::string& name, const std::string& value, bool apply = true) {
        SetParamValueOf(name, value, apply);
    }
    void setParamValueOf(const std::string& name, const char* value, bool apply = true) {
        SetParamValueOf(name, std::string(value), apply);
    }
    /// Sends the pending settings; with @p force every setting, not only the
    /// changed ones. False when a write failed.
    bool updateConfig(bool force = false) { return UpdateConfig(force); }

    /// Captures until stop().
    void start() { Start(); }
    /// Captures @p n frames; the capture ends once every final observer has
    /// processed its frames.
    void captureNFrames(long n) { CaptureNFrames(n, true); }
    void captureForDuration(unsigned long milliseconds) { CaptureForDuration(milliseconds, true); }
    void stop(bool resetCounters = false) { Stop(resetCounters); }
    /// Waits for the end of the capture, at most @p milliseconds (-1: no
    /// limit). True when the capture ended by reaching its frame count.
    bool waitEndCapture(int milliseconds) { return WaitEndCapture(milliseconds); }
    void synchronize() { Synchronize(); }
    bool isCapturing() const { return IsCapturing(); }

    void StartProduction() { startProduction(); }
    void StopProduction(bool resetCounters) { stopProduction(resetCounters); }

    /// Tells every config observer, in connection order, of the values that
    /// changed; 0.0 marks a value that did not change and is not reported.
    void notifyFpsChanged(double fps, double minFps, double maxFps, bool flag);
    void notifyParamChanged(const std::string& name, const std::string& value, bool applied);
    void connectConfigObserver(XEVConfigObserver& observer);
    void disconnectConfigObserver(XEVConfigObserver& observer);
    /// The camera is gone: tells every config observer. Concrete devices mark
    /// themselves disconnected and stop capturing, then call this body.
    virtual void signalDeviceDisconnected();

    /// The internal signals of this device.
    DeviceImpl* impl() const { return m_impl.get(); }

protected:
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

private:
    std::unique_ptr<DeviceImpl> m_impl;
    std::vector<XEVConfigObserver*> m_configObservers;
    mutable boost::mutex m_configObserverLock;
};

} // namespace XEVLibrary
