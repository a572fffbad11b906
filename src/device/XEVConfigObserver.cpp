#include "XEVConfigObserver.h"

#include "XEVDevice.h"

namespace XEVLibrary {

XEVConfigObserver::XEVConfigObserver() = default;

XEVConfigObserver::~XEVConfigObserver() {
    disconnect();
}

void XEVConfigObserver::connectTo(XEVDevice& device) {
    XEVDevice* previous = nullptr;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        previous = m_device;
        m_device = &device;
    }
    // Without the own lock: leaving waits for notifications under way, whose
    // callbacks may ask this observer for its device.
    if (previous != nullptr && previous != &device)
        previous->disconnectConfigObserver(*this);
    device.connectConfigObserver(*this);
}

void XEVConfigObserver::disconnect() {
    XEVDevice* device = nullptr;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        device = m_device;
        m_device = nullptr;
    }
    if (device != nullptr)
        device->disconnectConfigObserver(*this);
}

XEVDevice* XEVConfigObserver::device() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_device;
}

void XEVConfigObserver::onFpsChanged(double, bool) {}

void XEVConfigObserver::onMinFpsChanged(double, bool) {}

void XEVConfigObserver::onMaxFpsChanged(double, bool) {}

} // namespace XEVLibrary
