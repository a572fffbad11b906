#pragma once

// What the camera-side controls share: the refusal of devices that are not
// GigE ones, and the model and firmware rules of the features.

#include <string>

namespace XEVLibrary {

class XEVDevice;
class XEVDeviceGige;

namespace Gige {
namespace detail {

/// @p device as a GigE device; raises "Camera-side controls need a GigE
/// device." for another device or null.
XEVDeviceGige* requireGige(XEVDevice* device);
XEVDeviceGige* requireGige(XEVDeviceGige* device);
/// Raises "The <control> control is not connected to a camera.".
[[noreturn]] void notConnected(const char* control);

bool isModel(const XEVDeviceGige& device, const std::string& model);
/// The device version the camera reported when found ("02.01").
std::string firmwareOf(const XEVDeviceGige& device);
/// The firmware is below @p version (compared as texts, "01.02" < "01.03").
bool firmwareBelow(const XEVDeviceGige& device, const char* version);
/// The busy register of the NUC tables and the configuration.
std::string nucBusyFeature(const XEVDeviceGige& device);
/// "On" or "Off", for the switches that are enumerations.
inline const char* onOff(bool on) {
    return on ? "On" : "Off";
}

} // namespace detail
} // namespace Gige
} // namespace XEVLibrary
