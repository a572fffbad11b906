#include "XEVDeviceDescriptorGige.h"

#include "XEVException.h"

#include <sstream>

namespace XEVLibrary {

XEVDeviceDescriptorGige::XEVDeviceDescriptorGige() = default;

XEVDeviceDescriptorGige::XEVDeviceDescriptorGige(const DeviceInfo& info,
                                                 unsigned char connectorNumber,
                                                 unsigned int localIp)
    : DeviceInfo(info), m_connectorNumber(connectorNumber), m_localIp(localIp) {}

XEVDeviceDescriptorGige::XEVDeviceDescriptorGige(const XEVDeviceDescriptorGige& other)
    : XEVDeviceDescriptor(other), DeviceInfo(other), m_connectorNumber(other.m_connectorNumber),
      m_localIp(other.m_localIp) {}

XEVDeviceDescriptorGige& XEVDeviceDescriptorGige::operator=(const XEVDeviceDescriptorGige& other) {
    m_connectorNumber = other.m_connectorNumber;
    return *this;
}

XEVDeviceDescriptorGige::~XEVDeviceDescriptorGige() = default;

uint16_t XEVDeviceDescriptorGige::FirmwareVersion() const {
    XEVException::throwError(
        "Gige cameras provide string firmwareVersion.\nUse firmwareVersionAsString() instead.");
}

uint32_t XEVDeviceDescriptorGige::GetSerialNumber() const {
    XEVException::throwError(
        "Gige cameras provide string serialNumbers.\nUse serialNumberAsString() instead.");
}

std::string XEVDeviceDescriptorGige::ToString() const {
    std::ostringstream text;
    text << connectorTypeToString(GetConnectorType()) << " ("
         << static_cast<unsigned>(m_connectorNumber) << ") -- [Model:" << GetModelId() << "]"
         << " [FWVer:" << StrFirmwareVersion() << "]"
         << " [SerNum:" << GetStrSerialNumber() << "]";
    return text.str();
}

bool XEVDeviceDescriptorGige::operator<(const XEVDeviceDescriptorGige& other) const {
    if (m_connectorNumber != other.m_connectorNumber)
        return m_connectorNumber < other.m_connectorNumber;
    const std::string model = GetModelId();
    const std::string otherModel = other.GetModelId();
    if (model != otherModel)
        return model < otherModel;
    return GetStrSerialNumber() < other.GetStrSerialNumber();
}

} // namespace XEVLibrary
