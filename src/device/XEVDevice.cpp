#include "XEVDevice.h"

#include "XEVConfigObserver.h"
#include "XEVException.h"
#include "XEVObserver.h"
#include "device/DeviceImpl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace XEVLibrary {

bool XEVDevice::Fastest = false;

namespace {

unsigned int fifoSizeOf(long fifoSize) {
    // Out-of-range sizes become a size the producer refuses with its message.
    if (fifoSize < 0 || fifoSize > long(std::numeric_limits<unsigned int>::max()))
        return 0;
    return static_cast<unsigned int>(fifoSize);
}

} // namespace

XEVDevice::XEVDevice(const XEVModelConfiguration& configuration, long fifoSize)
    : XEVModelConfiguration(configuration), XEVFrameProducer(fifoSizeOf(fifoSize)),
      m_impl(new DeviceImpl()) {}

XEVDevice::~XEVDevice() {
    std::vector<XEVConfigObserver*> observers;
    {
        boost::lock_guard<boost::mutex> guard(m_configObserverLock);
        observers = m_configObservers;
    }
    for (XEVConfigObserver* observer : observers)
        observer->disconnect();
}

void XEVDevice::setParamValueOf(const std::string& name, const char* value, bool apply) {
    if (value == nullptr)
        XEVException::throwError("For XEVDevice(%s), param(%s) cannot take a null text.",
                                 modelId().c_str(), name.c_str());
    SetParamValueOf(name, std::string(value), apply);
}

long XEVDevice::fps(bool applied) const {
    return static_cast<long>(std::trunc(GetFps(applied)));
}

long XEVDevice::minFps(bool applied) const {
    return static_cast<long>(std::ceil(GetMinFps(applied)));
}

long XEVDevice::maxFps(bool applied) const {
    return static_cast<long>(std::floor(GetMaxFps(applied)));
}

thread_local const XEVDevice::OwnThreadMark* XEVDevice::OwnThreadMark::s_innermost = nullptr;

XEVDevice::OwnThreadMark::OwnThreadMark(const XEVDevice& device, Role role)
    : m_device(&device), m_role(role), m_previous(s_innermost) {
    s_innermost = this;
}

XEVDevice::OwnThreadMark::~OwnThreadMark() {
    s_innermost = m_previous;
}

unsigned XEVDevice::OwnThreadMark::notificationsOf(const XEVDevice& device) {
    unsigned count = 0;
    for (const OwnThreadMark* mark = s_innermost; mark != nullptr; mark = mark->m_previous)
        if (mark->m_device == &device && mark->m_role == Role::ConfigNotification)
            ++count;
    return count;
}

bool XEVDevice::OwnThreadMark::isMarked(const XEVDevice& device) {
    for (const OwnThreadMark* mark = s_innermost; mark != nullptr; mark = mark->m_previous)
        if (mark->m_device == &device)
            return true;
    return false;
}

bool XEVDevice::isOwnThread() const {
    // Neither test touches this object: it may be called on a device that
    // another thread is destroying.
    return OwnThreadMark::isMarked(*this) || XEVObserver::isReadingFrom(*this);
}

template <typename Notify>
void XEVDevice::forEachConfigObserver(const Notify& notify) {
    std::vector<XEVConfigObserver*> observers;
    {
        boost::lock_guard<boost::mutex> guard(m_configObserverLock);
        observers = m_configObservers;
        ++m_activeNotifications;
    }
    struct Ending {
        XEVDevice& device;
        ~Ending() {
            {
                boost::lock_guard<boost::mutex> guard(device.m_configObserverLock);
                --device.m_activeNotifications;
            }
            device.m_notificationsEnded.notify_all();
        }
    } ending{*this};
    const OwnThreadMark mark(*this, OwnThreadMark::Role::ConfigNotification);
    for (XEVConfigObserver* observer : observers) {
        {
            // One that left meanwhile is not called: it may be gone.
            boost::lock_guard<boost::mutex> guard(m_configObserverLock);
            if (std::find(m_configObservers.begin(), m_configObservers.end(), observer) ==
                m_configObservers.end())
                continue;
        }
        notify(*observer);
    }
}

void XEVDevice::notifyFpsChanged(double fps, double minFps, double maxFps, bool flag) {
    forEachConfigObserver([&](XEVConfigObserver& observer) {
        if (fps != 0.0)
            observer.onFpsChanged(fps, flag);
        if (minFps != 0.0)
            observer.onMinFpsChanged(minFps, flag);
        if (maxFps != 0.0)
            observer.onMaxFpsChanged(maxFps, flag);
    });
}

void XEVDevice::notifyParamChanged(const std::string& name, const std::string& value,
                                   bool applied) {
    forEachConfigObserver(
        [&](XEVConfigObserver& observer) { observer.onParamChanged(name, value, applied); });
}

void XEVDevice::connectConfigObserver(XEVConfigObserver& observer) {
    boost::lock_guard<boost::mutex> guard(m_configObserverLock);
    if (std::find(m_configObservers.begin(), m_configObservers.end(), &observer) ==
        m_configObservers.end())
        m_configObservers.push_back(&observer);
}

void XEVDevice::disconnectConfigObserver(XEVConfigObserver& observer) {
    boost::unique_lock<boost::mutex> lock(m_configObserverLock);
    auto it = std::find(m_configObservers.begin(), m_configObservers.end(), &observer);
    if (it != m_configObservers.end())
        m_configObservers.erase(it);
    // A notification on another thread may have listed the observer before it
    // left: wait for it. Not from a notification of this device, which would
    // wait for itself (or for another thread waiting for it).
    if (OwnThreadMark::notificationsOf(*this) == 0)
        m_notificationsEnded.wait(lock, [this] { return m_activeNotifications == 0; });
}

void XEVDevice::signalDeviceDisconnected() {
    forEachConfigObserver([](XEVConfigObserver& observer) { observer.onDeviceDisconnected(); });
}

} // namespace XEVLibrary
