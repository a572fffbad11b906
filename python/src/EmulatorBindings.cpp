// The emulated cameras, so that scripts and their tests run without hardware.

#include "Bindings.h"

#include "XEVException.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVUsbCameraEmulator.h"

#include <pybind11/stl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace XEVPython {
namespace {

/// The library's names of the USB models, as Python strings.
const std::map<std::string, UsbModel>& usbModels() {
    static const std::map<std::string, UsbModel> models = {
        {"Auklet", UsbModel::Auklet},   {"Bittern", UsbModel::Bittern},
        {"Fulmar", UsbModel::Fulmar},   {"Heron", UsbModel::Heron},
        {"Ibis", UsbModel::Ibis},       {"Jacana", UsbModel::Jacana},
        {"Lapwing", UsbModel::Lapwing}, {"Dunlin", UsbModel::Dunlin},
        {"Curlew", UsbModel::Curlew},   {"Gannet", UsbModel::Gannet},
        {"Kestrel", UsbModel::Kestrel}, {"Merlin", UsbModel::Merlin},
        {"Egret", UsbModel::Egret}};
    return models;
}

const std::map<std::string, GigeModel>& gigeModels() {
    static const std::map<std::string, GigeModel> models = {
        {"CurlewGigE", GigeModel::CurlewGigE},       {"CurlewcGigE", GigeModel::CurlewcGigE},
        {"FulmarGigE", GigeModel::FulmarGigE},       {"HeronGigE", GigeModel::HeronGigE},
        {"HeronGigESpot", GigeModel::HeronGigESpot}, {"KestrelGigE", GigeModel::KestrelGigE}};
    return models;
}

template <typename Model>
Model modelNamed(const std::map<std::string, Model>& models, const std::string& name) {
    auto found = models.find(name);
    if (found == models.end())
        XEVException::throwError("Unknown emulated model \"%s\"", name.c_str());
    return found->second;
}

template <typename Model>
std::vector<std::string> namesOf(const std::map<std::string, Model>& models) {
    std::vector<std::string> names;
    for (const auto& entry : models)
        names.push_back(entry.first);
    return names;
}

} // namespace

void bindEmulators(py::module_& m) {
    py::class_<XEVUsbEmulatedCamera, std::shared_ptr<XEVUsbEmulatedCamera>>(
        m, "UsbEmulatedCamera", "An emulated USB camera plugged on an emulated bus.")
        .def_property_readonly(
            "serial_number", [](const XEVUsbEmulatedCamera& c) { return c.config().serialNumber; })
        .def("set_flat_field", &XEVUsbEmulatedCamera::setFlatField, py::arg("level"))
        .def("clear_flat_field", &XEVUsbEmulatedCamera::clearFlatField)
        .def("set_fastest",
             [](XEVUsbEmulatedCamera& c, bool fastest) {
                 c.setPacing(fastest ? XEVUsbPacing::Fastest : XEVUsbPacing::Registers);
             })
        .def_property_readonly("delivered_frames", &XEVUsbEmulatedCamera::deliveredFrames)
        .def_property_readonly("is_streaming", &XEVUsbEmulatedCamera::isStreaming);

    py::class_<XEVUsbEmulatedBus>(m, "UsbEmulatedBus",
                                  "Emulated USB cameras, listed by the next enumeration.")
        .def(py::init<>())
        .def(
            "plug",
            [](XEVUsbEmulatedBus& bus, const std::string& model, bool usb3) {
                return bus.plug(XEVUsbCameraConfig::forModel(modelNamed(usbModels(), model),
                                                             usb3 ? UsbLink::USB3 : UsbLink::USB2));
            },
            py::arg("model"), py::arg("usb3") = true)
        .def("unplug", &XEVUsbEmulatedBus::unplug)
        .def("unplug_all", &XEVUsbEmulatedBus::unplugAll)
        .def_property_readonly_static("models", [](py::object) { return namesOf(usbModels()); });

    py::class_<XEVGigeEmulatedCamera>(m, "GigeEmulatedCamera",
                                      "An emulated GigE Vision camera serving on an address.")
        .def(py::init([](const std::string& model, const std::string& address) {
                 return std::make_unique<XEVGigeEmulatedCamera>(
                     XEVGigeCameraConfig::forModel(modelNamed(gigeModels(), model), address));
             }),
             py::arg("model"), py::arg("address"))
        .def_property_readonly("address", &XEVGigeEmulatedCamera::address)
        .def_property_readonly("mac_address", &XEVGigeEmulatedCamera::macAddress)
        .def_property_readonly_static("models", [](py::object) { return namesOf(gigeModels()); });
}

} // namespace XEVPython
