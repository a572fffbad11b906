// The camera's configuration, and the free functions of the camera-side
// controls.

#include "GigeControlSupport.h"
#include "XEVCatalog.h"
#include "XEVDeviceGige.h"
#include "XEVGigeBusyWait.h"
#include "XEVGigeConfig.h"
#include "XEVGigeFunctions.h"
#include "XEVGigeInternalFilter.h"
#include "XEVParam.h"

namespace XEVLibrary {
namespace Gige {

// --- Config --------------------------------------------------------------------------

Config::Config(XEVDevice* device)
    : m_device(detail::requireGige(device)), m_busyFeature(detail::nucBusyFeature(*m_device)) {}

void Config::run(const char* command) {
    m_device->SendCommand(command, 1);
    BusyWait::untilIdle(*m_device, m_busyFeature, command);
}

void Config::readBack() {
    for (const std::string& name : m_device->ParamNames()) {
        // Texts are the camera's identity, which a configuration leaves
        // alone; the device reads them only when opened.
        const XEVParam* param = m_device->getParam(name);
        if (param && param->valueType() == "String")
            continue;
        m_device->GetParamValueFromCamera(name);
    }
}

void Config::Save() {
    run("CamSaveConfiguration");
}

void Config::Load() {
    run("CamLoadConfiguration");
    readBack();
}

void Config::Reset() {
    run("CamResetParameter");
    readBack();
}

// --- Free functions ------------------------------------------------------------------

namespace {

/// KestrelGigE, and the other models from firmware 02.00, keep a persistent
/// IP configuration.
bool keepsPersistentIp(const XEVDeviceGige& device) {
    return detail::isModel(device, XEVCatalog::KestrelGigE) ||
           !detail::firmwareBelow(device, "02.00");
}

} // namespace

void sendCommand(XEVDevice& device, const std::string& command, unsigned value) {
    detail::requireGige(&device)->SendCommand(command, value);
}

std::string GetUserDefinedName(XEVDevice& device) {
    return device.paramStrValueOf("GevUserDefinedName");
}

void SetUserDefinedName(XEVDevice& device, const std::string& name) {
    device.setParamValueOf("GevUserDefinedName", name);
}

void SetPersistentIp(XEVDevice& device, const std::string& ip, const std::string& mask,
                     const std::string& gateway) {
    XEVDeviceGige& gige = *detail::requireGige(&device);
    if (keepsPersistentIp(gige))
        gige.SetPersistentIp(ip, mask, gateway);
}

void DisablePersistentIp(XEVDevice& device) {
    XEVDeviceGige& gige = *detail::requireGige(&device);
    if (keepsPersistentIp(gige))
        gige.setParamValueOf("GevNetworkConfiguration", "LLA_DHCP");
}

std::vector<std::string> paramNames(XEVDevice* device) {
    const auto* gige = dynamic_cast<XEVDeviceGige*>(device);
    return gige ? gige->ParamNames() : std::vector<std::string>();
}

std::vector<std::string> groupNames(XEVDevice* device) {
    const auto* gige = dynamic_cast<XEVDeviceGige*>(device);
    return gige ? gige->GroupNames() : std::vector<std::string>();
}

std::vector<std::string> paramNames(XEVDevice* device, const std::string& group) {
    const auto* gige = dynamic_cast<XEVDeviceGige*>(device);
    return gige ? gige->ParamNames(group) : std::vector<std::string>();
}

} // namespace Gige

XEVDevice& operator<<(XEVDevice& device, Gige::InternalFilter& control) {
    control.Connect(Gige::detail::requireGige(&device));
    return device;
}

} // namespace XEVLibrary
