#pragma once

#include "XEVConnectorType.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace XEVLibrary {

class XEVModelConfiguration;
class XEVParam;

/**
 * Describes one camera found by enumeration, before it is opened: connector,
 * position in the enumeration, model id, firmware version, serial number and
 * capability flags.
 *
 * A public, non-virtual interface over pure virtual accessors. The concrete
 * kinds are XEVDeviceDescriptorUsb (filled from the camera's info line) and
 * XEVDeviceDescriptorGige (wrapping the camera's discovery answer). The
 * manager owns every descriptor.
 */
class XEVDeviceDescriptor {
public:
    virtual ~XEVDeviceDescriptor() = default;

    /// The connector the camera is reached through: USB or GigE.
    ConnectorType connectorType() const { return GetConnectorType(); }
    /// Position of the camera in the enumeration (its device number).
    uint8_t connectorNumber() const { return ConnectorNumber(); }
    /// The model id ("Kestrel", "HeronGigE" ...; XEVCatalog lists them).
    std::string modelId() const { return GetModelId(); }
    ///@{
    /// Firmware version as a number, and as text.
    uint16_t firmwareVersion() const { return FirmwareVersion(); }
    std::string firmwareVersionAsString() const { return StrFirmwareVersion(); }
    ///@}
    ///@{
    /// Serial number as a number, and as the text the camera shows.
    uint32_t serialNumber() const { return GetSerialNumber(); }
    std::string serialNumberAsString() const { return GetStrSerialNumber(); }
    ///@}
    /// Capability flags (XEVCatalog::FLAG_INFO_LINE ...).
    uint32_t flags() const { return Flags(); }
    /// True when Flags() AND @p flag is not 0.
    bool hasFlag(unsigned int flag) const { return (Flags() & flag) != 0; }

    ///@{
    /// Setters used by enumeration and by the emulators; applications only read
    /// a descriptor.
    void setNumber(unsigned int number) { ConnectorNumber(number); }
    void setModelId(const std::string& modelId) { SetModelId(modelId); }
    void setFirmwareVersion(const unsigned short& version) { FirmwareVersion(version); }
    void setSerialNumber(const unsigned int& serial) { SetSerialNumber(serial); }
    void setFlags(unsigned int flags) { Flags(flags); }
    ///@}

    /// Same connector type and, unless the model id is empty, same model id.
    bool isCompatibleWith(const XEVModelConfiguration& configuration) const {
        return IsCompatibleWith(configuration);
    }
    /// A text describing the camera (connector, model, serial number ...), for messages.
    std::string toString() const { return ToString(); }

    /// A configuration's parameters, in list order and by name.
    ///@{
    std::vector<XEVParam*>& ListParams(XEVModelConfiguration& configuration) const;
    std::map<std::string, XEVParam*>& Params(XEVModelConfiguration& configuration) const;
    ///@}

    /// Same connector type, connector number, model id, then numeric serial
    /// number, stopping at the first difference.
    bool operator==(const XEVDeviceDescriptor& other) const;
    /// Not operator==().
    bool operator!=(const XEVDeviceDescriptor& other) const { return !(*this == other); }

protected:
    ///@{
    /// The accessors the USB and GigE descriptors implement; the public
    /// operations of similar names forward to them and say what they do.
    virtual ConnectorType GetConnectorType() const = 0;
    virtual uint8_t ConnectorNumber() const = 0;
    virtual std::string GetModelId() const = 0;
    virtual uint16_t FirmwareVersion() const = 0;
    virtual std::string StrFirmwareVersion() const = 0;
    virtual uint32_t GetSerialNumber() const = 0;
    virtual std::string GetStrSerialNumber() const = 0;
    virtual uint32_t Flags() const = 0;
    virtual void ConnectorNumber(unsigned int number) = 0;
    virtual void SetModelId(const std::string& modelId) = 0;
    virtual void FirmwareVersion(const unsigned short& version) = 0;
    virtual void SetSerialNumber(const unsigned int& serial) = 0;
    virtual void Flags(unsigned int flags) = 0;
    virtual std::string ToString() const = 0;
    virtual bool IsCompatibleWith(const XEVModelConfiguration& configuration) const;
    ///@}
};

} // namespace XEVLibrary
