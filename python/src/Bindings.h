#pragma once

#include <pybind11/pybind11.h>

#include <memory>

// The parts of the module `xevlibrary`, each adding its classes to it.
namespace XEVPython {

/// The holder of objects the manager owns: Python never deletes them.
template <typename T>
using Borrowed = std::unique_ptr<T, pybind11::nodelete>;

/// FrameInfo, Device, its frame iterator and callback observer.
void bindDevice(pybind11::module_& module);
/// DeviceDescriptor and Manager.
void bindManager(pybind11::module_& module);
/// The emulated USB bus and cameras, and the emulated GigE cameras.
void bindEmulators(pybind11::module_& module);
/// The submodule `toolbox`: stages on numpy arrays and in capture chains.
void bindToolbox(pybind11::module_& module);
/// The submodule `bench`: measures of the binding's own cost.
void bindBench(pybind11::module_& module);

} // namespace XEVPython
