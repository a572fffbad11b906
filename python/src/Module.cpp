// The Python module `xevlibrary`: the manager, devices, frames as numpy
// arrays, the emulators and the toolbox stages. Every call that may wait
// (enumeration, opening, captures, setters that write the camera) releases
// the interpreter lock; the library's threads take it only to call Python.

#include "Bindings.h"
#include "ManagerObjects.h"

#include "XEVException.h"
#include "XEVManager.h"

#include <pybind11/numpy.h>

#include <cstdint>

namespace py = pybind11;
using namespace XEVLibrary;
using namespace XEVPython;

PYBIND11_MODULE(xevlibrary, m) {
    m.doc() = "Short-wave infrared cameras over USB and GigE Vision, and their emulators.";
    m.attr("__version__") = XEVManager::getSDKVersion();

    py::register_exception<XEVException>(m, "XEVException", PyExc_RuntimeError);
    // numpy's C interface is looked up once, here: looked up first by a
    // frame callback's thread, it would import numpy there while the main
    // thread waits for the same lookup holding the interpreter lock.
    py::array_t<uint16_t> numpyReady(0);

    bindDevice(m);
    bindManager(m);
    bindEmulators(m);
    bindToolbox(m);
    bindBench(m);

    // Captures end before the interpreter does: a frame callback must not
    // run into a finalising interpreter.
    py::module_::import("atexit").attr("register")(py::cpp_function([] {
        ManagerObjects::teardown("destroyInstance()", ManagerObjects::Scope::Everything,
                                 &XEVManager::destroyInstance);
    }));
}
