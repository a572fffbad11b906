// Measures of the binding's own cost, against the same work in C++.

#include "Bindings.h"
#include "CopyCounter.h"
#include "ManagerObjects.h"

#include "XEVDevice.h"

#include <pybind11/stl.h>

#include <chrono>
#include <ctime>
#include <tuple>

namespace py = pybind11;
using namespace XEVLibrary;

namespace XEVPython {

void bindBench(py::module_& m) {
    py::module_ bench = m.def_submodule("bench", "Measures of the binding's own cost.");
    bench.def(
        "capture_in_cpp",
        [](XEVDevice& device, long n) {
            ManagerObjects::require(device);
            CopyCounter counter;
            py::gil_scoped_release release;
            device << counter;
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t cpuStart = std::clock();
            device.captureNFrames(n);
            device.waitEndCapture(-1);
            const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            counter.disconnect();
            return std::make_tuple(counter.frames(), elapsed.count(), cpu);
        },
        py::arg("device"), py::arg("n"),
        "Captures n frames into a C++ observer that copies each once: (frames, seconds, "
        "processor seconds of the whole process).");
}

} // namespace XEVPython
