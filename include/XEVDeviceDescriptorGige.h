#pragma once

#include "Gige/DeviceInfo.h"
#include "XEVDeviceDescriptor.h"

#include <cstdint>
#include <string>

namespace XEVLibrary {

/**
 * The descriptor of a GigE camera: the camera's discovery answer (its
 * DeviceInfo, with model name, device version and serial number as texts and
 * its MAC and IP settings), the number the manager gave the camera and the
 * local address on which it answered.
 *
 * A GigE camera reports its firmware version and serial number only as
 * texts, so the numeric accessors raise an XEVException; use
 * firmwareVersionAsString() and serialNumberAsString(). The setters do
 * nothing: the descriptor is what the camera reported.
 */
class XEVDeviceDescriptorGige : public XEVDeviceDescriptor, public DeviceInfo {
public:
    /// An empty discovery record, connector number 0 and local IP 0.
    XEVDeviceDescriptorGige();
    /// Copies the discovery record and keeps the two numbers.
    XEVDeviceDescriptorGige(const DeviceInfo& info, unsigned char connectorNumber,
                            unsigned int localIp);
    /// Copies the discovery record, the connector number and the local IP.
    XEVDeviceDescriptorGige(const XEVDeviceDescriptorGige& other);
    /// Copies only the connector number: the discovery record and the local
    /// IP stay those of this descriptor.
    XEVDeviceDescriptorGige& operator=(const XEVDeviceDescriptorGige& other);
    ~XEVDeviceDescriptorGige() override;

    /// The host-order IPv4 address of the local interface on which the camera
    /// answered.
    unsigned int LocalIp() const { return m_localIp; }

    /// By connector number, then model id, then serial number text.
    bool operator<(const XEVDeviceDescriptorGige& other) const;

protected:
    ConnectorType GetConnectorType() const override { return GIGE; }
    uint8_t ConnectorNumber() const override { return m_connectorNumber; }
    std::string GetModelId() const override { return ModelName(); }
    uint16_t FirmwareVersion() const override;
    std::string StrFirmwareVersion() const override { return DeviceVersion(); }
    uint32_t GetSerialNumber() const override;
    std::string GetStrSerialNumber() const override { return SerialNumber(); }
    uint32_t Flags() const override { return 0; }
    void ConnectorNumber(unsigned int) override {}
    void SetModelId(const std::string&) override {}
    void FirmwareVersion(const unsigned short&) override {}
    void SetSerialNumber(const unsigned int&) override {}
    void Flags(unsigned int) override {}
    /// "GIGE (<number>) -- [Model:<model>] [FWVer:<version>] [SerNum:<serial>]".
    std::string ToString() const override;

private:
    uint8_t m_connectorNumber = 0;
    uint32_t m_localIp = 0;
};

} // namespace XEVLibrary
