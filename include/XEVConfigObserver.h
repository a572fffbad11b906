#pragma once

#include <boost/thread/mutex.hpp>

#include <string>

namespace XEVLibrary {

class XEVDevice;

/**
 * Receives the configuration changes of one device: parameter values,
 * frame rate and its limits, and the loss of the camera.
 *
 * Notifications arrive on whichever thread changed the value: the
 * application's thread for parameter writes, the camera's capture thread for
 * the loss of a USB camera. Unlike a frame observer, a config observer may
 * move from one device to another; destroying either side disconnects them.
 * Observers may connect and disconnect while notifications run on other
 * threads: disconnect() returns once no notification can call this observer
 * any more. When notifications may run on other threads, a derived observer
 * calls disconnect() in its own destructor: the base destructor disconnects
 * too, but only after the derived part is gone.
 *
 * What a callback may call: the device's getters and setters, isCapturing(),
 * start() and captureNFrames(); the manager's getInstance(), deviceCount(),
 * getDeviceDescriptor(), the open operations and castVoidToDevicePointer();
 * connectTo() and disconnect() of any config observer, this one included.
 * A callback runs on one of the device's own threads (XEVDevice::isOwnThread):
 * stop() and waitEndCapture() of that device, and the manager's enumerate(),
 * flushDevs(), flushEnumeration() and destroyInstance(), which would destroy
 * it, are refused there with an XEVException. Setters of the same device
 * that change settings notify again, on the same thread. In
 * onDeviceDisconnected the camera is gone: its camera operations raise
 * "XEVDevice(<model>) is disconnected."; destroy the device (flushDevs(),
 * enumerate()) later, from a thread of the application.
 */
class XEVConfigObserver {
public:
    XEVConfigObserver();
    virtual ~XEVConfigObserver();

    XEVConfigObserver(const XEVConfigObserver&) = delete;
    XEVConfigObserver& operator=(const XEVConfigObserver&) = delete;

    /// Connects to @p device, leaving the device it was connected to.
    void connectTo(XEVDevice& device);
    /// Leaves the device, if any.
    void disconnect();
    /// The device this observer listens to, or null.
    XEVDevice* device() const;

    /// A parameter changed: @p applied is true for a value just sent to the
    /// camera, false for a pending one.
    virtual void onParamChanged(const std::string& name, const std::string& value,
                                bool applied) = 0;
    ///@{
    /// The frame rate, its minimum or its maximum changed; @p flag is true for
    /// values just sent to the camera, false for pending ones. The default does
    /// nothing.
    virtual void onFpsChanged(double fps, bool flag);
    virtual void onMinFpsChanged(double minFps, bool flag);
    virtual void onMaxFpsChanged(double maxFps, bool flag);
    ///@}
    /// The camera is gone. Called on the thread that found it gone (a USB
    /// camera's capture thread), with no lock of the library held.
    virtual void onDeviceDisconnected() = 0;

private:
    friend class XEVDevice;

    XEVDevice* m_device = nullptr;
    mutable boost::mutex m_lock;
};

} // namespace XEVLibrary
