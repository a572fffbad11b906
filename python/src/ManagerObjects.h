#pragma once

namespace XEVLibrary {
class XEVDevice;
class XEVDeviceDescriptor;
class XEVManager;
} // namespace XEVLibrary

namespace XEVPython {

/**
 * The manager-owned objects handed to Python (the manager, descriptors and
 * devices), and whether they still live.
 *
 * Python objects hold plain pointers to them, while the manager destroys
 * descriptors and devices at every enumeration and itself on destroy. Every
 * binding that reaches such an object first asks require(); the bindings of
 * the operations that destroy them go through teardown(), which closes the
 * frame iterators and callback observers still connected before the manager
 * runs the operation.
 *
 * Called with the interpreter lock held.
 */
class ManagerObjects {
public:
    /// Records an object the manager gives to Python; returns it.
    static XEVLibrary::XEVManager* handOut(XEVLibrary::XEVManager* manager);
    static XEVLibrary::XEVDevice* handOut(XEVLibrary::XEVDevice* device);
    static XEVLibrary::XEVDeviceDescriptor* handOut(XEVLibrary::XEVDeviceDescriptor* descriptor);

    /// Raises an XEVException when the object was destroyed since it was
    /// handed out.
    static void require(const XEVLibrary::XEVManager& manager);
    static void require(const XEVLibrary::XEVDevice& device);
    static void require(const XEVLibrary::XEVDeviceDescriptor& descriptor);

    /// What an operation of the manager destroys.
    enum class Scope { Devices, DevicesAndDescriptors, Everything };
    /// Runs @p operation (named @p name in errors), which destroys the objects
    /// of @p scope, without the interpreter lock. Refused on a thread of a
    /// device, as the manager refuses it; closes the device consumers first.
    static void teardown(const char* name, Scope scope, void (*operation)());
};

} // namespace XEVPython
