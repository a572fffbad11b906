#include "ManagerObjects.h"

#include "DeviceConsumer.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVException.h"

#include <pybind11/pybind11.h>

#include <set>

namespace py = pybind11;
using namespace XEVLibrary;

namespace XEVPython {
namespace {

// Only read and changed with the interpreter lock held.
const XEVManager* s_manager = nullptr;
std::set<const XEVDevice*> s_devices;
std::set<const XEVDeviceDescriptor*> s_descriptors;

[[noreturn]] void refuseGone(const char* what) {
    XEVException::throwError("This %s is gone: Manager.destroy(), enumerate() or flush_devices() "
                             "destroyed it. Open the camera again.",
                             what);
}

} // namespace

XEVManager* ManagerObjects::handOut(XEVManager* manager) {
    s_manager = manager;
    return manager;
}

XEVDevice* ManagerObjects::handOut(XEVDevice* device) {
    if (device != nullptr)
        s_devices.insert(device);
    return device;
}

XEVDeviceDescriptor* ManagerObjects::handOut(XEVDeviceDescriptor* descriptor) {
    if (descriptor != nullptr)
        s_descriptors.insert(descriptor);
    return descriptor;
}

void ManagerObjects::require(const XEVManager& manager) {
    if (&manager != s_manager)
        refuseGone("manager");
}

void ManagerObjects::require(const XEVDevice& device) {
    if (s_devices.count(&device) == 0)
        refuseGone("device");
}

void ManagerObjects::require(const XEVDeviceDescriptor& descriptor) {
    if (s_descriptors.count(&descriptor) == 0)
        refuseGone("device descriptor");
}

void ManagerObjects::teardown(const char* name, Scope scope, void (*operation)()) {
    for (const XEVDevice* device : s_devices)
        if (device->isOwnThread())
            XEVException::throwError(
                "XEVManager::%s cannot destroy XEVDevice(%s) from one of its own threads.", name,
                device->XEVModelConfiguration::modelId().c_str());
    DeviceConsumer::closeAll();
    s_devices.clear();
    if (scope != Scope::Devices)
        s_descriptors.clear();
    if (scope == Scope::Everything)
        s_manager = nullptr;
    py::gil_scoped_release release;
    operation();
}

} // namespace XEVPython
