#include "XEVDevice.h"

#include "XEVConfigObserver.h"
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

long XEVDevice::fps(bool applied) const {
    return static_cast<long>(std::trunc(GetFps(applied)));
}

long XEVDevice::minFps(bool applied) const {
    return static_cast<long>(std::ceil(GetMinFps(applied)));
}

long XEVDevice::maxFps(bool applied) const {
    return static_cast<long>(std::floor(GetMaxFps(applied)));
}

void XEVDevice::notifyFpsChanged(double fps, double minFps, double maxFps, bool flag) {
    for (XEVConfigObserver* observer : m_configObservers) {
        if (fps != 0.0)
            observer->onFpsChanged(fps, flag);
        if (minFps != 0.0)
            observer->onMinFpsChanged(minFps, flag);
        if (maxFps != 0.0)
            observer->onMaxFpsChanged(maxFps, flag);
    }
}

void XEVDevice::notifyParamChanged(const std::string& name, const std::string& value,
                                   bool applied) {
    for (XEVConfigObserver* observer : m_configObservers)
        observer->onParamChanged(name, value, applied);
}

void XEVDevice::connectConfigObserver(XEVConfigObserver& observer) {
    boost::lock_guard<boost::mutex> guard(m_configObserverLock);
    if (std::find(m_configObservers.begin(), m_configObservers.end(), &observer) ==
        m_configObservers.end())
        m_configObservers.push_back(&observer);
}

void XEVDevice::disconnectConfigObserver(XEVConfigObserver& observer) {
    boost::lock_guard<boost::mutex> guard(m_configObserverLock);
    auto it = std::find(m_configObservers.begin(), m_configObservers.end(), &observer);
    if (it != m_configObservers.end())
        m_configObservers.erase(it);
}

void XEVDevice::signalDeviceDisconnected() {
    boost::lock_guard<boost::mutex> guard(m_configObserverLock);
    for (XEVConfigObserver* observer : m_configObservers)
        observer->onDeviceDisconnected();
}

} // namespace XEVLibrary
