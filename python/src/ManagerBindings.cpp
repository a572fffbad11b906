// The manager and the descriptors it lists.

#include "Bindings.h"
#include "ManagerObjects.h"

#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVManager.h"

#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace XEVLibrary;

namespace XEVPython {
namespace {

using Scope = ManagerObjects::Scope;

/// A static setting of the manager as a Python class property.
template <typename T>
void bindSetting(py::class_<XEVManager, Borrowed<XEVManager>>& manager, const char* name,
                 T& setting) {
    manager.def_property_static(
        name, [&setting](py::object) { return setting; },
        [&setting](py::object, T value) { setting = value; });
}

/// A binding of one of the manager's ways to open a camera by a text.
template <typename Open>
auto openBy(Open open) {
    return [open](XEVManager& manager, const std::string& key, unsigned short port, long fifo) {
        ManagerObjects::require(manager);
        XEVDevice* device;
        {
            py::gil_scoped_release release;
            device = open(manager, key.c_str(), port, fifo);
        }
        return ManagerObjects::handOut(device);
    };
}

void bindDescriptor(py::module_& m) {
    auto text = [](std::string (XEVDeviceDescriptor::*get)() const) {
        return [get](const XEVDeviceDescriptor& d) {
            ManagerObjects::require(d);
            return (d.*get)();
        };
    };
    py::class_<XEVDeviceDescriptor, Borrowed<XEVDeviceDescriptor>>(
        m, "DeviceDescriptor", "A camera found by the enumeration, owned by the manager.")
        .def_property_readonly("model_id", text(&XEVDeviceDescriptor::modelId))
        .def_property_readonly("serial_number", text(&XEVDeviceDescriptor::serialNumberAsString))
        .def_property_readonly("firmware_version",
                               text(&XEVDeviceDescriptor::firmwareVersionAsString))
        .def_property_readonly("connector",
                               [](const XEVDeviceDescriptor& d) {
                                   ManagerObjects::require(d);
                                   return connectorTypeToString(d.connectorType());
                               })
        .def_property_readonly("number",
                               [](const XEVDeviceDescriptor& d) {
                                   ManagerObjects::require(d);
                                   return static_cast<unsigned>(d.connectorNumber());
                               })
        .def("__str__", text(&XEVDeviceDescriptor::toString))
        .def("__repr__", text(&XEVDeviceDescriptor::toString));
}

} // namespace

void bindManager(py::module_& m) {
    bindDescriptor(m);

    py::class_<XEVManager, Borrowed<XEVManager>> manager(m, "Manager",
                                                         "The process-wide camera manager.");
    manager
        .def_static(
            "instance",
            [] {
                XEVManager* instance;
                {
                    py::gil_scoped_release release;
                    instance = XEVManager::getInstance();
                }
                return ManagerObjects::handOut(instance);
            },
            py::return_value_policy::reference,
            "Creates the manager (enumerating at once) and returns it.")
        .def_static(
            "destroy",
            [] {
                ManagerObjects::teardown("destroyInstance()", Scope::Everything,
                                         &XEVManager::destroyInstance);
            },
            "Closes every device and destroys the manager; their Python objects are then "
            "refused.")
        .def_static("sdk_version", &XEVManager::getSDKVersion);
    bindSetting(manager, "use_usb", XEVManager::useUsb);
    bindSetting(manager, "use_gige", XEVManager::useGige);
    bindSetting(manager, "gige_broadcast", XEVManager::gigeBroadcast);
    bindSetting(manager, "gige_addresses", XEVManager::gigeCameraAddresses);
    bindSetting(manager, "gige_discovery_seconds", XEVManager::gigeDiscoveryTimeInSeconds);
    manager
        .def(
            "enumerate",
            [](XEVManager& self) {
                ManagerObjects::require(self);
                ManagerObjects::teardown("enumerate()", Scope::DevicesAndDescriptors,
                                         [] { XEVManager::getInstance()->enumerate(); });
            },
            "Lists the cameras again; devices and descriptors of before are destroyed.")
        .def_property_readonly("device_count",
                               [](XEVManager& self) {
                                   ManagerObjects::require(self);
                                   return self.deviceCount();
                               })
        .def(
            "descriptors",
            [](XEVManager& self) {
                ManagerObjects::require(self);
                std::vector<XEVDeviceDescriptor*> list;
                for (unsigned n = 0; n < self.deviceCount(); ++n)
                    list.push_back(ManagerObjects::handOut(self.getDeviceDescriptor(n)));
                return list;
            },
            py::return_value_policy::reference)
        .def(
            "open",
            [](XEVManager& self, unsigned number, unsigned short port, long fifo) {
                ManagerObjects::require(self);
                XEVDevice* device;
                {
                    py::gil_scoped_release release;
                    device = self.openDevice(number, port, fifo);
                }
                return ManagerObjects::handOut(device);
            },
            py::arg("number") = 0, py::arg("port") = 0, py::arg("fifo_size") = 8,
            py::return_value_policy::reference)
        .def("open_by_serial",
             openBy([](XEVManager& self, const char* key, unsigned short port, long fifo) {
                 return self.openDeviceBySerialNumber(key, port, fifo);
             }),
             py::arg("serial"), py::arg("port") = 0, py::arg("fifo_size") = 8,
             py::return_value_policy::reference)
        .def("open_by_mac",
             openBy([](XEVManager& self, const char* key, unsigned short port, long fifo) {
                 return self.openDeviceByMacAddress(key, port, fifo);
             }),
             py::arg("mac"), py::arg("port") = 0, py::arg("fifo_size") = 8,
             py::return_value_policy::reference)
        .def("open_by_ip",
             openBy([](XEVManager& self, const char* key, unsigned short port, long fifo) {
                 return self.openDeviceByIP(key, port, fifo);
             }),
             py::arg("ip"), py::arg("port") = 0, py::arg("fifo_size") = 8,
             py::return_value_policy::reference)
        .def(
            "flush_devices",
            [](XEVManager& self) {
                ManagerObjects::require(self);
                ManagerObjects::teardown("flushDevs()", Scope::Devices,
                                         [] { XEVManager::getInstance()->flushDevs(); });
            },
            "Closes every device; their Python objects are then refused.");
}

} // namespace XEVPython
