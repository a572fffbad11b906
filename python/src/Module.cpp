// The Python module `xevlibrary`: the manager, devices, frames as numpy
// arrays, the emulators and a few toolbox stages. Every call that may wait
// (enumeration, opening, captures, setters that write the camera) releases
// the interpreter lock; the library's threads take it only to call Python.

#include "CallbackObserver.h"
#include "CopyCounter.h"
#include "FrameIterator.h"
#include "NumpyFrame.h"

#include "XEVAutomaticGainControl.h"
#include "XEVColorMap.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVFrameInfo.h"
#include "XEVGamma.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVManager.h"
#include "XEVParam.h"
#include "XEVUsbCameraEmulator.h"

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;
using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using XEVPython::CallbackObserver;
using XEVPython::FrameIterator;

namespace {

using py::nodelete;
template <typename T>
using Borrowed = std::unique_ptr<T, nodelete>;
using Release = py::call_guard<py::gil_scoped_release>;

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

std::vector<std::string> paramNames(const XEVDevice& device) {
    if (auto* gige = dynamic_cast<const XEVDeviceGige*>(&device))
        return gige->ParamNames();
    std::vector<std::string> names;
    for (const XEVParam* param : device)
        names.push_back(param->name());
    return names;
}

/// Waits for the end of the capture, then raises what a callback raised.
bool waitEnd(XEVDevice& device, int milliseconds) {
    bool completed;
    {
        py::gil_scoped_release release;
        completed = device.waitEndCapture(milliseconds);
    }
    CallbackObserver::raisePendingOf(device);
    return completed;
}

/// Runs @p filter's work on one image, into a new array.
template <typename Filter>
py::array runStage(Filter& filter, py::array image) {
    cv::Mat input = XEVPython::matOf(image);
    cv::Mat output;
    bool done;
    {
        py::gil_scoped_release release;
        done = filter.process(input, output, XEVFrameInfo());
    }
    if (!done)
        XEVException::throwError("This stage does not take %d-channel images of OpenCV depth %d",
                                 input.channels(), input.depth());
    return XEVPython::adoptFrame(std::move(output));
}

} // namespace

PYBIND11_MODULE(xevlibrary, m) {
    m.doc() = "Short-wave infrared cameras over USB and GigE Vision, and their emulators.";
    m.attr("__version__") = XEVManager::getSDKVersion();

    py::register_exception<XEVException>(m, "XEVException", PyExc_RuntimeError);

    py::class_<XEVFrameInfo>(m, "FrameInfo", "The record that travels with a frame.")
        .def_readonly("frame_number", &XEVFrameInfo::frameNumber)
        .def_readonly("temperature", &XEVFrameInfo::temperature)
        .def_readonly("width", &XEVFrameInfo::width)
        .def_readonly("height", &XEVFrameInfo::height)
        .def_readonly("offset_x", &XEVFrameInfo::offsetX)
        .def_readonly("offset_y", &XEVFrameInfo::offsetY)
        .def("__repr__", [](const XEVFrameInfo& info) {
            return "FrameInfo(frame_number=" + std::to_string(info.frameNumber) +
                   ", temperature=" + std::to_string(info.temperature) + ")";
        });

    py::class_<XEVDeviceDescriptor, Borrowed<XEVDeviceDescriptor>>(
        m, "DeviceDescriptor", "A camera found by the enumeration, owned by the manager.")
        .def_property_readonly("model_id", &XEVDeviceDescriptor::modelId)
        .def_property_readonly("serial_number", &XEVDeviceDescriptor::serialNumberAsString)
        .def_property_readonly("firmware_version", &XEVDeviceDescriptor::firmwareVersionAsString)
        .def_property_readonly(
            "connector",
            [](const XEVDeviceDescriptor& d) { return connectorTypeToString(d.connectorType()); })
        .def_property_readonly(
            "number",
            [](const XEVDeviceDescriptor& d) { return static_cast<unsigned>(d.connectorNumber()); })
        .def("__str__", &XEVDeviceDescriptor::toString)
        .def("__repr__", &XEVDeviceDescriptor::toString);

    py::class_<CallbackObserver, std::unique_ptr<CallbackObserver>>(
        m, "Observer", "A callable connected to a device; close() disconnects it.")
        .def("close",
             [](CallbackObserver& o) {
                 o.close();
                 o.raisePending();
             })
        .def(
            "__enter__", [](CallbackObserver& o) -> CallbackObserver& { return o; },
            py::return_value_policy::reference)
        .def("__exit__", [](CallbackObserver& o, py::object, py::object, py::object) {
            o.close();
            o.raisePending();
        });

    py::class_<FrameIterator, std::unique_ptr<FrameIterator>>(
        m, "FrameIterator", "Frames of a capture, as (numpy array, FrameInfo).")
        .def(
            "__iter__", [](FrameIterator& it) -> FrameIterator& { return it; },
            py::return_value_policy::reference)
        .def("__next__", &FrameIterator::next)
        .def("close", &FrameIterator::close)
        .def(
            "__enter__", [](FrameIterator& it) -> FrameIterator& { return it; },
            py::return_value_policy::reference)
        .def("__exit__", [](FrameIterator& it, py::object, py::object, py::object) { it.close(); });

    py::class_<XEVDevice, Borrowed<XEVDevice>>(m, "Device",
                                               "An opened camera, owned by the manager.")
        .def_property_readonly(
            "model_id", [](const XEVDevice& d) { return d.XEVModelConfiguration::modelId(); })
        .def_property_readonly("descriptor", &XEVDevice::deviceDescriptor,
                               py::return_value_policy::reference)
        .def_property_readonly("width", [](const XEVDevice& d) { return d.Width(); })
        .def_property_readonly("height", [](const XEVDevice& d) { return d.Height(); })
        .def("manual", &XEVDevice::manual, Release())
        .def("param_names", &paramNames)
        .def("get", &XEVDevice::paramStrValueOf, py::arg("name"), py::arg("applied") = true,
             Release(), "The value of a parameter as text.")
        .def("get_number", &XEVDevice::paramValueOf, py::arg("name"), py::arg("applied") = true,
             Release(), "The value of a parameter as a number.")
        .def(
            "set",
            [](XEVDevice& d, const std::string& name, const std::string& value, bool apply) {
                py::gil_scoped_release release;
                d.setParamValueOf(name, value, apply);
            },
            py::arg("name"), py::arg("value"), py::arg("apply") = true,
            "Sets a parameter from text (\"2ms\") or a number.")
        .def(
            "set",
            [](XEVDevice& d, const std::string& name, double value, bool apply) {
                py::gil_scoped_release release;
                d.setParamValueOf(name, value, apply);
            },
            py::arg("name"), py::arg("value"), py::arg("apply") = true)
        .def("update_config", &XEVDevice::updateConfig, py::arg("force") = false, Release())
        .def_property(
            "fps", [](const XEVDevice& d) { return d.fpsAsDouble(true); },
            [](XEVDevice& d, double fps) {
                py::gil_scoped_release release;
                d.setFps(fps, true);
            })
        .def_property_readonly("min_fps", [](const XEVDevice& d) { return d.minFpsAsDouble(); })
        .def_property_readonly("max_fps", [](const XEVDevice& d) { return d.maxFpsAsDouble(); })
        .def("start", &XEVDevice::start, Release())
        .def(
            "stop",
            [](XEVDevice& d, bool resetCounters) {
                {
                    py::gil_scoped_release release;
                    d.stop(resetCounters);
                }
                CallbackObserver::raisePendingOf(d);
            },
            py::arg("reset_counters") = false)
        .def("capture_n_frames", &XEVDevice::captureNFrames, py::arg("n"), Release())
        .def("capture_for_duration", &XEVDevice::captureForDuration, py::arg("milliseconds"),
             Release())
        .def("wait_end_capture", &waitEnd, py::arg("milliseconds") = -1,
             "Waits for the end of the capture (-1: no limit); True when it reached its count.")
        .def_property_readonly("is_capturing", &XEVDevice::isCapturing)
        .def_property_readonly("last_error", &XEVDevice::lastErrorMessage)
        .def(
            "frames",
            [](XEVDevice& d, long n, std::size_t queueSize) {
                return std::make_unique<FrameIterator>(d, n, queueSize);
            },
            py::arg("n") = 0, py::arg("queue_size") = 4,
            "Captures n frames (0: until stopped) and yields (frame, info) pairs.")
        .def(
            "observe",
            [](XEVDevice& d, py::function callback, bool copy) {
                auto observer = std::make_unique<CallbackObserver>(d, std::move(callback), copy);
                py::gil_scoped_release release;
                d << *observer;
                return observer;
            },
            py::arg("callback"), py::arg("copy") = true,
            "Calls callback(frame, info) for every frame of the next captures.");

    py::class_<XEVManager, Borrowed<XEVManager>>(m, "Manager", "The process-wide camera manager.")
        .def_static("instance", &XEVManager::getInstance, py::return_value_policy::reference,
                    Release(), "Creates the manager (enumerating at once) and returns it.")
        .def_static("destroy", &XEVManager::destroyInstance, Release())
        .def_static("sdk_version", &XEVManager::getSDKVersion)
        .def_property_static(
            "use_usb", [](py::object) { return XEVManager::useUsb; },
            [](py::object, bool v) { XEVManager::useUsb = v; })
        .def_property_static(
            "use_gige", [](py::object) { return XEVManager::useGige; },
            [](py::object, bool v) { XEVManager::useGige = v; })
        .def_property_static(
            "gige_broadcast", [](py::object) { return XEVManager::gigeBroadcast; },
            [](py::object, bool v) { XEVManager::gigeBroadcast = v; })
        .def_property_static(
            "gige_addresses", [](py::object) { return XEVManager::gigeCameraAddresses; },
            [](py::object, std::vector<std::string> v) { XEVManager::gigeCameraAddresses = v; })
        .def_property_static(
            "gige_discovery_seconds",
            [](py::object) { return XEVManager::gigeDiscoveryTimeInSeconds; },
            [](py::object, int v) { XEVManager::gigeDiscoveryTimeInSeconds = v; })
        .def("enumerate", &XEVManager::enumerate, Release())
        .def_property_readonly("device_count", &XEVManager::deviceCount)
        .def(
            "descriptors",
            [](XEVManager& manager) {
                std::vector<XEVDeviceDescriptor*> list;
                for (unsigned n = 0; n < manager.deviceCount(); ++n)
                    list.push_back(manager.getDeviceDescriptor(n));
                return list;
            },
            py::return_value_policy::reference)
        .def("open", &XEVManager::openDevice, py::arg("number") = 0, py::arg("port") = 0,
             py::arg("fifo_size") = 8, py::return_value_policy::reference, Release())
        .def(
            "open_by_serial",
            [](XEVManager& m, const std::string& s, unsigned short port, long fifo) {
                return m.openDeviceBySerialNumber(s.c_str(), port, fifo);
            },
            py::arg("serial"), py::arg("port") = 0, py::arg("fifo_size") = 8,
            py::return_value_policy::reference, Release())
        .def(
            "open_by_mac",
            [](XEVManager& m, const std::string& s, unsigned short port, long fifo) {
                return m.openDeviceByMacAddress(s.c_str(), port, fifo);
            },
            py::arg("mac"), py::arg("port") = 0, py::arg("fifo_size") = 8,
            py::return_value_policy::reference, Release())
        .def(
            "open_by_ip",
            [](XEVManager& m, const std::string& s, unsigned short port, long fifo) {
                return m.openDeviceByIP(s.c_str(), port, fifo);
            },
            py::arg("ip"), py::arg("port") = 0, py::arg("fifo_size") = 8,
            py::return_value_policy::reference, Release())
        .def("flush_devices", &XEVManager::flushDevs, Release());

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
        .def_property_readonly_static("models", [](py::object) {
            std::vector<std::string> names;
            for (const auto& entry : usbModels())
                names.push_back(entry.first);
            return names;
        });

    py::class_<XEVGigeEmulatedCamera>(m, "GigeEmulatedCamera",
                                      "An emulated GigE Vision camera serving on an address.")
        .def(py::init([](const std::string& model, const std::string& address) {
                 return std::make_unique<XEVGigeEmulatedCamera>(
                     XEVGigeCameraConfig::forModel(modelNamed(gigeModels(), model), address));
             }),
             py::arg("model"), py::arg("address"))
        .def_property_readonly("address", &XEVGigeEmulatedCamera::address)
        .def_property_readonly("mac_address", &XEVGigeEmulatedCamera::macAddress)
        .def_property_readonly_static("models", [](py::object) {
            std::vector<std::string> names;
            for (const auto& entry : gigeModels())
                names.push_back(entry.first);
            return names;
        });

    py::module_ toolbox = m.def_submodule("toolbox", "Toolbox stages on numpy arrays.");
    toolbox.def(
        "flip_h",
        [](py::array image) {
            XEVToolBox::XEVFlipH stage(3);
            return runStage(stage, image);
        },
        py::arg("image"),
        "An 8-bit image mirrored about the horizontal axis (rows reversed), in a new array.");
    toolbox.def(
        "flip_v",
        [](py::array image) {
            XEVToolBox::XEVFlipV stage(3);
            return runStage(stage, image);
        },
        py::arg("image"),
        "An 8-bit image mirrored about the vertical axis (columns reversed), in a new array.");
    toolbox.def(
        "gamma",
        [](py::array image, double gamma, int threshold) {
            XEVToolBox::XEVGamma stage(gamma, threshold, 3);
            return runStage(stage, image);
        },
        py::arg("image"), py::arg("gamma"), py::arg("threshold") = 0,
        "An 8-bit image through the gamma curve, in a new array.");
    toolbox.def(
        "automatic_gain_control",
        [](py::array image, unsigned bitDepth) {
            XEVToolBox::XEVAutomaticGainControl stage(bitDepth, 3);
            return runStage(stage, image);
        },
        py::arg("image"), py::arg("bit_depth") = 14,
        "A 16-bit image stretched to 8 bits, in a new array.");
    toolbox.def(
        "color_map",
        [](py::array image, int mode) {
            XEVToolBox::XEVColorMap stage(3, mode);
            return runStage(stage, image);
        },
        py::arg("image"), py::arg("mode") = 0,
        "An 8-bit image coloured (rows x columns x 3, BGR), in a new array.");

    py::module_ bench = m.def_submodule("bench", "Measures of the binding's own cost.");
    bench.def(
        "capture_in_cpp",
        [](XEVDevice& device, long n) {
            XEVPython::CopyCounter counter;
            py::gil_scoped_release release;
            device << counter;
            const auto start = std::chrono::steady_clock::now();
            device.captureNFrames(n);
            device.waitEndCapture(-1);
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            counter.disconnect();
            return std::make_pair(counter.frames(), elapsed.count());
        },
        py::arg("device"), py::arg("n"),
        "Captures n frames into a C++ observer that copies each once: (frames, seconds).");
}
