#include "XEVDeviceDescriptor.h"

#include "XEVModelConfiguration.h"

namespace XEVLibrary {

std::vector<XEVParam*>&
XEVDeviceDescriptor::ListParams(XEVModelConfiguration& configuration) const {
    return configuration.m_params;
}

std::map<std::string, XEVParam*>&
XEVDeviceDescriptor::Params(XEVModelConfiguration& configuration) const {
    return configuration.m_paramsByName;
}

bool XEVDeviceDescriptor::IsCompatibleWith(const XEVModelConfiguration& configuration) const {
    if (GetConnectorType() != configuration.connectorType())
        return false;
    const std::string model = GetModelId();
    return model.empty() || model == configuration.modelId();
}

bool XEVDeviceDescriptor::operator==(const XEVDeviceDescriptor& other) const {
    // Stops at the first difference: a GigE descriptor refuses to give a
    // numeric serial number, so it is reached only when all else agrees.
    return GetConnectorType() == other.GetConnectorType() &&
           ConnectorNumber() == other.ConnectorNumber() && GetModelId() == other.GetModelId() &&
           GetSerialNumber() == other.GetSerialNumber();
}

} // namespace XEVLibrary
