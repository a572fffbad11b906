#pragma once

#include "XEVGigeInternalFilter.h"

#include <string>
#include <vector>

// The free functions of the camera-side controls: commands, the user-defined
// name, the persistent IP settings, parameter lists; and, through
// XEVGigeInternalFilter.h, the attaching of a control to a device.

namespace XEVLibrary {

class XEVDevice;

namespace Gige {

/// Sends @p command with @p value to a GigE camera; another device is
/// refused with an XEVException.
void sendCommand(XEVDevice& device, const std::string& command, unsigned value);
/// "GevUserDefinedName".
std::string GetUserDefinedName(XEVDevice& device);
/// Writes "GevUserDefinedName" at once; more than 15 characters are refused.
void SetUserDefinedName(XEVDevice& device, const std::string& name);
/// On KestrelGigE, or on a camera with firmware 02.00 or later: writes the
/// persistent address, mask and gateway and switches the camera to them
/// (the device's SetPersistentIp, which takes about 6 s). Other cameras:
/// nothing. A device that is not a GigE one is refused with an XEVException.
void SetPersistentIp(XEVDevice& device, const std::string& ip, const std::string& mask,
                     const std::string& gateway);
/// Under the same condition, "LLA_DHCP" to "GevNetworkConfiguration".
void DisablePersistentIp(XEVDevice& device);
/// The GigE device's parameter names, categories and the names of one
/// category; empty for any other device (or none).
std::vector<std::string> paramNames(XEVDevice* device);
std::vector<std::string> groupNames(XEVDevice* device);
std::vector<std::string> paramNames(XEVDevice* device, const std::string& group);

} // namespace Gige
} // namespace XEVLibrary
