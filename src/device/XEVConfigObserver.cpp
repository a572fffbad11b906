#include "XEVConfigObserver.h"

#include "XEVDevice.h"

namespace XEVLibrary {

XEVConfigObserver::XEVConfigObserver() = default;

XEVConfigObserver::~XEVConfigObserver() {
    disconnect();
}

void XEVConfigObserver::connectTo(XEVDevice& device) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_device != nullptr)
        m_device->disconnectConfigObserver(*this);
    m_device = &device;
    device.connectConfigObserver(*this);
}

void XEVConfigObserver::disconnect() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_device == nullptr)
        return;
    m_device->disconnectConfigObserver(*this);
    m_device = nullptr;
}

XEVDevice* XEVConfigObserver::device() const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_device;
}

void XEVConfigObserver::onFpsChanged(double, bool) {}

void XEVConfigObserver::onMinFpsChanged(double, bool) {}

void XEVConfigObserver::onMaxFpsChanged(double, bool) {}

} // namespace XEVLibrary
