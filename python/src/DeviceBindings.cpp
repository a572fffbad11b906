// Device, FrameInfo, and the two ways frames reach Python: the frame
// iterator and the callback observer.

#include "Bindings.h"
#include "CallbackObserver.h"
#include "FrameIterator.h"
#include "ManagerObjects.h"

#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVDeviceGige.h"
#include "XEVFrameInfo.h"
#include "XEVParam.h"

#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;
using namespace XEVLibrary;

namespace XEVPython {
namespace {

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
    ManagerObjects::require(device);
    bool completed;
    {
        py::gil_scoped_release release;
        completed = device.waitEndCapture(milliseconds);
    }
    DeviceConsumer::raisePendingOf(device);
    return completed;
}

template <typename Work, typename Result, typename... Args>
auto unlockedCall(Work work, Result (Work::*)(XEVDevice&, Args...) const) {
    return [work](XEVDevice& device, Args... args) -> Result {
        ManagerObjects::require(device);
        py::gil_scoped_release release;
        return work(device, std::forward<Args>(args)...);
    };
}

/// A binding that checks the device still lives, then runs @p work (a
/// lambda taking the device and the Python arguments) without the
/// interpreter lock.
template <typename Work>
auto unlocked(Work work) {
    return unlockedCall(work, &Work::operator());
}

void bindFrameInfo(py::module_& m) {
    py::class_<XEVFrameInfo>(m, "FrameInfo", "The record that travels with a frame.")
        .def(py::init<>())
        .def_readwrite("frame_number", &XEVFrameInfo::frameNumber)
        .def_readwrite("temperature", &XEVFrameInfo::temperature)
        .def_readwrite("width", &XEVFrameInfo::width)
        .def_readwrite("height", &XEVFrameInfo::height)
        .def_readwrite("offset_x", &XEVFrameInfo::offsetX)
        .def_readwrite("offset_y", &XEVFrameInfo::offsetY)
        .def("__repr__", [](const XEVFrameInfo& info) {
            return "FrameInfo(frame_number=" + std::to_string(info.frameNumber) +
                   ", temperature=" + std::to_string(info.temperature) + ")";
        });
}

void bindConsumers(py::module_& m) {
    py::class_<CallbackObserver, std::unique_ptr<CallbackObserver>>(
        m, "Observer", "A callable connected to a device; close() disconnects it.")
        .def("close",
             [](CallbackObserver& o) {
                 o.shutDown();
                 o.raisePending();
             })
        .def(
            "__enter__", [](CallbackObserver& o) -> CallbackObserver& { return o; },
            py::return_value_policy::reference)
        .def("__exit__", [](CallbackObserver& o, py::object, py::object, py::object) {
            o.shutDown();
            o.raisePending();
        });

    py::class_<FrameIterator, std::unique_ptr<FrameIterator>>(
        m, "FrameIterator", "Frames of a capture, as (numpy array, FrameInfo).")
        .def(
            "__iter__", [](FrameIterator& it) -> FrameIterator& { return it; },
            py::return_value_policy::reference)
        .def("__next__", &FrameIterator::next)
        .def_property_readonly("buffer_allocations", &FrameIterator::bufferAllocations,
                               "Frame buffers allocated so far: a few, however long it runs, "
                               "while Python drops the frames it is done with.")
        .def("close", &FrameIterator::close)
        .def(
            "__enter__", [](FrameIterator& it) -> FrameIterator& { return it; },
            py::return_value_policy::reference)
        .def("__exit__", [](FrameIterator& it, py::object, py::object, py::object) { it.close(); });
}

} // namespace

void bindDevice(py::module_& m) {
    bindFrameInfo(m);
    bindConsumers(m);

    py::class_<XEVDevice, Borrowed<XEVDevice>>(m, "Device",
                                               "An opened camera, owned by the manager.")
        .def_property_readonly("model_id",
                               [](const XEVDevice& d) {
                                   ManagerObjects::require(d);
                                   return d.XEVModelConfiguration::modelId();
                               })
        .def_property_readonly(
            "descriptor",
            [](const XEVDevice& d) {
                ManagerObjects::require(d);
                return ManagerObjects::handOut(
                    const_cast<XEVDeviceDescriptor*>(d.deviceDescriptor()));
            },
            py::return_value_policy::reference)
        .def_property_readonly("width",
                               [](const XEVDevice& d) {
                                   ManagerObjects::require(d);
                                   return d.Width();
                               })
        .def_property_readonly("height",
                               [](const XEVDevice& d) {
                                   ManagerObjects::require(d);
                                   return d.Height();
                               })
        .def("manual", unlocked([](XEVDevice& d) { return d.manual(); }))
        .def("param_names", unlocked([](XEVDevice& d) { return paramNames(d); }))
        .def("get", unlocked([](XEVDevice& d, const std::string& name, bool applied) {
                 return d.paramStrValueOf(name, applied);
             }),
             py::arg("name"), py::arg("applied") = true, "The value of a parameter as text.")
        .def("get_number", unlocked([](XEVDevice& d, const std::string& name, bool applied) {
                 return d.paramValueOf(name, applied);
             }),
             py::arg("name"), py::arg("applied") = true, "The value of a parameter as a number.")
        .def("set",
             unlocked([](XEVDevice& d, const std::string& name, const std::string& value,
                         bool apply) { d.setParamValueOf(name, value, apply); }),
             py::arg("name"), py::arg("value"), py::arg("apply") = true,
             "Sets a parameter from text (\"2ms\") or a number.")
        .def("set", unlocked([](XEVDevice& d, const std::string& name, double value, bool apply) {
                 d.setParamValueOf(name, value, apply);
             }),
             py::arg("name"), py::arg("value"), py::arg("apply") = true)
        .def("update_config",
             unlocked([](XEVDevice& d, bool force) { return d.updateConfig(force); }),
             py::arg("force") = false)
        .def_property("fps", unlocked([](XEVDevice& d) { return d.fpsAsDouble(true); }),
                      unlocked([](XEVDevice& d, double fps) { d.setFps(fps, true); }))
        .def_property_readonly("min_fps", unlocked([](XEVDevice& d) { return d.minFpsAsDouble(); }))
        .def_property_readonly("max_fps", unlocked([](XEVDevice& d) { return d.maxFpsAsDouble(); }))
        .def("start", unlocked([](XEVDevice& d) { d.start(); }))
        .def(
            "stop",
            [](XEVDevice& d, bool resetCounters) {
                ManagerObjects::require(d);
                {
                    py::gil_scoped_release release;
                    d.stop(resetCounters);
                }
                DeviceConsumer::raisePendingOf(d);
            },
            py::arg("reset_counters") = false)
        .def("capture_n_frames", unlocked([](XEVDevice& d, long n) { d.captureNFrames(n); }),
             py::arg("n"))
        .def("capture_for_duration",
             unlocked([](XEVDevice& d, unsigned long ms) { d.captureForDuration(ms); }),
             py::arg("milliseconds"))
        .def("wait_end_capture", &waitEnd, py::arg("milliseconds") = -1,
             "Waits for the end of the capture (-1: no limit); True when it reached its count.")
        .def_property_readonly("is_capturing",
                               unlocked([](XEVDevice& d) { return d.isCapturing(); }))
        .def_property_readonly("last_error",
                               unlocked([](XEVDevice& d) { return d.lastErrorMessage(); }))
        .def(
            "frames",
            [](XEVDevice& d, long n, std::size_t queueSize, const py::sequence& stages) {
                ManagerObjects::require(d);
                return std::make_unique<FrameIterator>(d, n, queueSize, stages);
            },
            py::arg("n") = 0, py::arg("queue_size") = 4, py::arg("stages") = py::list(),
            "Captures n frames (0: until stopped) and yields (frame, info) pairs, the frames "
            "run through the toolbox stages given, in order.")
        .def(
            "observe",
            [](XEVDevice& d, py::function callback, bool copy, const py::sequence& stages) {
                ManagerObjects::require(d);
                return std::make_unique<CallbackObserver>(d, std::move(callback), copy, stages);
            },
            py::arg("callback"), py::arg("copy") = true, py::arg("stages") = py::list(),
            "Calls callback(frame, info) for every frame of the next captures, after the "
            "toolbox stages given, in order.");
}

} // namespace XEVPython
