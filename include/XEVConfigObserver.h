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
 * application's thread for parameter writes, the device's own threads for
 * what the camera reports. Unlike a frame observer, a config observer may move
 * from one device to another; destroying either side disconnects them.
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
    virtual void onFpsChanged(double fps, bool flag);
    virtual void onMinFpsChanged(double minFps, bool flag);
    virtual void onMaxFpsChanged(double maxFps, bool flag);
    /// The camera is gone. Called with the device's config observer lock
    /// held: do not connect or disconnect config observers of that device here.
    virtual void onDeviceDisconnected() = 0;

private:
    friend class XEVDevice;

    XEVDevice* m_device = nullptr;
    mutable boost::mutex m_lock;
};

} // namespace XEVLibrary
