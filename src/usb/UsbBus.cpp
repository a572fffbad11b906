#include "usb/UsbSeam.h"

#include <algorithm>

namespace XEVLibrary {

UsbBus& UsbBus::instance() {
    // Never destroyed: capture threads may still list devices during exit.
    static UsbBus* bus = new UsbBus();
    return *bus;
}

UsbDeviceList UsbBus::listDevices() {
    UsbDeviceList devices = libUsbBackend()->listDevices();
    std::vector<std::shared_ptr<UsbBackend>> backends;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        backends = m_backends;
    }
    // Listed outside the lock: a backend may take its own locks.
    for (const auto& backend : backends) {
        UsbDeviceList more = backend->listDevices();
        devices.insert(devices.end(), more.begin(), more.end());
    }
    return devices;
}

void UsbBus::registerBackend(const std::shared_ptr<UsbBackend>& backend) {
    if (!backend)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (std::find(m_backends.begin(), m_backends.end(), backend) == m_backends.end())
        m_backends.push_back(backend);
}

void UsbBus::unregisterBackend(const UsbBackend* backend) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_backends.erase(std::remove_if(m_backends.begin(), m_backends.end(),
                                    [backend](const std::shared_ptr<UsbBackend>& registered) {
                                        return registered.get() == backend;
                                    }),
                     m_backends.end());
}

} // namespace XEVLibrary
