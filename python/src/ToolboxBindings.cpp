// The toolbox stages: applied to numpy arrays, or run on a capture's frames
// by frames(stages=...) and observe(stages=...).

#include "Bindings.h"
#include "ManagerObjects.h"
#include "Stage.h"

#include "XEVAutomaticGainControl.h"
#include "XEVBPR.h"
#include "XEVColorMap.h"
#include "XEVDevice.h"
#include "XEVException.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVGamma.h"
#include "XEVInterpolatedNuc.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVNUC2Points.h"
#include "XEVNUCDoubleOnePoint.h"
#include "XEVNUCDoubleTwoPoints.h"

#include <pybind11/stl.h>

#include <memory>
#include <string>

namespace py = pybind11;
using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace XEVPython {
namespace {

/// The output FIFO of a stage in a chain.
constexpr unsigned StageFifoSize = 8;

template <typename Filter>
using StageClass = py::class_<FilterStage<Filter>, Stage, std::unique_ptr<FilterStage<Filter>>>;

/// A stage built from a map file covering the sensor, of which it keeps the
/// window of width x height at (offset_x, offset_y).
template <typename Filter>
void bindMapStage(py::module_& toolbox, const char* name, const char* doc) {
    StageClass<Filter>(toolbox, name, doc)
        .def(py::init([](const std::string& path, int width, int height, int offsetX, int offsetY) {
                 auto stage = std::make_unique<FilterStage<Filter>>(path, width, height, offsetX,
                                                                    offsetY, StageFifoSize);
                 // Maps that a filter reads when its reading starts are read
                 // now too, so that arrays are corrected and errors come here.
                 stage->get().onStart();
                 return stage;
             }),
             py::arg("path"), py::arg("width"), py::arg("height"), py::arg("offset_x") = 0,
             py::arg("offset_y") = 0);
}

void bindPixelStages(py::module_& toolbox) {
    StageClass<XEVFlipH>(toolbox, "FlipH",
                         "Mirrors 8-bit images about the horizontal axis (rows reversed).")
        .def(py::init([] { return std::make_unique<FilterStage<XEVFlipH>>(StageFifoSize); }));
    StageClass<XEVFlipV>(toolbox, "FlipV",
                         "Mirrors 8-bit images about the vertical axis (columns reversed).")
        .def(py::init([] { return std::make_unique<FilterStage<XEVFlipV>>(StageFifoSize); }));
    StageClass<XEVGamma>(toolbox, "Gamma",
                         "A two-segment gamma curve around a threshold (0..255), 8-bit images.")
        .def(py::init([](double gamma, int threshold) {
                 return std::make_unique<FilterStage<XEVGamma>>(gamma, threshold, StageFifoSize);
             }),
             py::arg("gamma"), py::arg("threshold") = 0);
    StageClass<XEVAutomaticGainControl>(
        toolbox, "AutomaticGainControl",
        "Stretches raw 16-bit images of bit_depth significant bits (or 8-bit ones) to 8 bits "
        "between bounds measured on each image.")
        .def(py::init([](unsigned bitDepth) {
                 return std::make_unique<FilterStage<XEVAutomaticGainControl>>(bitDepth,
                                                                               StageFifoSize);
             }),
             py::arg("bit_depth") = 14);
    StageClass<XEVManualAGC>(toolbox, "ManualGainControl",
                             "Stretches 16-bit or 8-bit images to 8 bits between fixed bounds.")
        .def(py::init([](double low, double high) {
                 return std::make_unique<FilterStage<XEVManualAGC>>(StageFifoSize, low, high);
             }),
             py::arg("low"), py::arg("high"));
    StageClass<XEVColorMap>(toolbox, "ColorMap",
                            "Colours 8-bit images (rows x columns x 3, BGR): mode 1 rainbow, 2 "
                            "jet, 3 HSV, 4 hot ... 11 ocean; any other mode grey.")
        .def(py::init([](int mode) {
                 return std::make_unique<FilterStage<XEVColorMap>>(StageFifoSize, mode);
             }),
             py::arg("mode") = 0);
}

void bindCorrectionStages(py::module_& toolbox) {
    bindMapStage<XEVNUC1Point>(toolbox, "NUC1Point",
                               "One-point correction: in - dark + 1000, \"NUCDark\" of the map "
                               "file.");
    bindMapStage<XEVNUC2Points>(toolbox, "NUC2Points",
                                "Two-point correction: (in - dark) x gain + 1000, \"NUCDark\" "
                                "and \"GainMap\" of the map file.");
    bindMapStage<XEVNUCDoubleOnePoint>(toolbox, "NUCDoubleOnePoint",
                                       "One-point correction with odd and even dark maps.");
    bindMapStage<XEVNUCDoubleTwoPoints>(toolbox, "NUCDoubleTwoPoints",
                                        "Two-point correction with odd and even map sets.");
    bindMapStage<XEVBPR>(toolbox, "BPR",
                         "Bad-pixel replacement from the \"BPmap\" of the map file.");

    StageClass<XEVInterpolatedNuc>(
        toolbox, "InterpolatedNuc",
        "Correction whose tables follow the exposure time: the tables below "
        "<base_path>/NUC/, chosen by the device's NUC announcements or by update().")
        .def(py::init([](XEVDevice* device, const std::string& basePath) {
                 if (device == nullptr)
                     XEVException::throwError("InterpolatedNuc needs the device it follows");
                 ManagerObjects::require(*device);
                 py::gil_scoped_release release;
                 return std::make_unique<FilterStage<XEVInterpolatedNuc>>(*device, basePath.c_str(),
                                                                          StageFifoSize);
             }),
             py::arg("device"), py::arg("base_path"))
        .def(py::init(
            [] { return std::make_unique<FilterStage<XEVInterpolatedNuc>>(StageFifoSize); }))
        .def(
            "update",
            [](FilterStage<XEVInterpolatedNuc>& stage, std::string nucPath, double exposure) {
                return stage.get().Update(nucPath, exposure, 0.0);
            },
            py::arg("nuc_path"), py::arg("exposure"),
            "Chooses the table of nuc_path (below the NUC root) at exposure; False when the "
            "tree has no such directory.")
        .def_property_readonly(
            "table_count",
            [](FilterStage<XEVInterpolatedNuc>& stage) { return stage.get().tableCount(); })
        .def_property_readonly(
            "current_exposure",
            [](FilterStage<XEVInterpolatedNuc>& stage) { return stage.get().currentExposure(); })
        .def_property_readonly("nuc_root", [](FilterStage<XEVInterpolatedNuc>& stage) {
            return stage.get().nucRoot();
        });
}

/// A function applying a new stage of @p Filter to one array.
template <typename Filter, typename... Args>
py::array applyOnce(py::array image, Args... args) {
    FilterStage<Filter> stage(args...);
    return stage.apply(std::move(image), XEVFrameInfo());
}

void bindFunctions(py::module_& toolbox) {
    toolbox.def(
        "flip_h", [](py::array image) { return applyOnce<XEVFlipH>(image, StageFifoSize); },
        py::arg("image"),
        "An 8-bit image mirrored about the horizontal axis (rows reversed), in a new array.");
    toolbox.def(
        "flip_v", [](py::array image) { return applyOnce<XEVFlipV>(image, StageFifoSize); },
        py::arg("image"),
        "An 8-bit image mirrored about the vertical axis (columns reversed), in a new array.");
    toolbox.def(
        "gamma",
        [](py::array image, double gamma, int threshold) {
            return applyOnce<XEVGamma>(image, gamma, threshold, StageFifoSize);
        },
        py::arg("image"), py::arg("gamma"), py::arg("threshold") = 0,
        "An 8-bit image through the gamma curve, in a new array.");
    toolbox.def(
        "automatic_gain_control",
        [](py::array image, unsigned bitDepth) {
            return applyOnce<XEVAutomaticGainControl>(image, bitDepth, StageFifoSize);
        },
        py::arg("image"), py::arg("bit_depth") = 14,
        "A 16-bit image stretched to 8 bits, in a new array.");
    toolbox.def(
        "color_map",
        [](py::array image, int mode) {
            return applyOnce<XEVColorMap>(image, StageFifoSize, mode);
        },
        py::arg("image"), py::arg("mode") = 0,
        "An 8-bit image coloured (rows x columns x 3, BGR), in a new array.");
}

} // namespace

void bindToolbox(py::module_& m) {
    py::module_ toolbox = m.def_submodule("toolbox", "Toolbox stages on numpy arrays.");
    py::class_<Stage, std::unique_ptr<Stage>>(
        toolbox, "Stage",
        "A toolbox stage: call it on a numpy array for a new array, or pass it in the stages "
        "of Device.frames() and Device.observe() to run it on a capture's frames.")
        .def("__call__", &Stage::apply, py::arg("image"), py::arg("info") = XEVFrameInfo(),
             "The stage's work on one array (uint8 or uint16, rows x columns (x 3)), in a new "
             "array; info gives the window's origin to stages that use it.")
        .def_property_readonly("in_chain", &Stage::inChain,
                               "True while a capture runs its frames through the stage.");
    bindPixelStages(toolbox);
    bindCorrectionStages(toolbox);
    bindFunctions(toolbox);
}

} // namespace XEVPython
