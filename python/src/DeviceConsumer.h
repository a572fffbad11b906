#pragma once

#include <pybind11/pybind11.h>

namespace XEVLibrary {
class XEVDevice;
}

namespace XEVPython {

/**
 * A Python-side consumer of a device's frames (a frame iterator or a callback
 * observer), listed while it is open so that the device's waits can raise
 * what its callback raised, and so that the manager's teardown can close it
 * before the device is destroyed.
 *
 * Consumers are created, closed and destroyed with the interpreter lock held.
 */
class DeviceConsumer {
public:
    virtual ~DeviceConsumer();
    DeviceConsumer(const DeviceConsumer&) = delete;
    DeviceConsumer& operator=(const DeviceConsumer&) = delete;

    /// Stops the device when this consumer is capturing and disconnects,
    /// raising nothing; unlists the consumer first.
    virtual void shutDown() = 0;
    /// Raises the error the consumer kept, once; nothing by default.
    virtual void raisePending() {}

    /// raisePending() on every open consumer of @p device.
    static void raisePendingOf(const XEVLibrary::XEVDevice& device);
    /// Shuts every open consumer down, of every device.
    static void closeAll();

protected:
    explicit DeviceConsumer(XEVLibrary::XEVDevice& device);
    /// Takes the consumer off the list; closing starts with it.
    void unlist();
    /// The consumer's Python object, kept alive while closeAll() closes it.
    virtual pybind11::object self() = 0;

    XEVLibrary::XEVDevice* m_device;
};

} // namespace XEVPython
