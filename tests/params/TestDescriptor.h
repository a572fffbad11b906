#pragma once

#include "XEVDeviceDescriptor.h"
#include "XEVException.h"

#include <string>

namespace XEVTest {

/// A descriptor with plain fields, for compatibility and selection tests.
class TestDescriptor : public XEVLibrary::XEVDeviceDescriptor {
public:
    TestDescriptor(XEVLibrary::ConnectorType type, std::string model, uint32_t serial = 0,
                   uint8_t number = 0)
        : m_type(type), m_model(std::move(model)), m_serial(serial), m_number(number) {}

    /// Makes the numeric serial number fail, as a GigE descriptor does.
    bool refuseSerial = false;

protected:
    XEVLibrary::ConnectorType GetConnectorType() const override { return m_type; }
    uint8_t ConnectorNumber() const override { return m_number; }
    std::string GetModelId() const override { return m_model; }
    uint16_t FirmwareVersion() const override { return m_firmware; }
    std::string StrFirmwareVersion() const override { return std::to_string(m_firmware); }
    uint32_t GetSerialNumber() const override {
        if (refuseSerial)
            XEVLibrary::XEVException::throwError("no numeric serial");
        return m_serial;
    }
    std::string GetStrSerialNumber() const override { return std::to_string(m_serial); }
    uint32_t Flags() const override { return m_flags; }
    void ConnectorNumber(unsigned int number) override { m_number = static_cast<uint8_t>(number); }
    void SetModelId(const std::string& model) override { m_model = model; }
    void FirmwareVersion(const unsigned short& version) override { m_firmware = version; }
    void SetSerialNumber(const unsigned int& serial) override { m_serial = serial; }
    void Flags(unsigned int flags) override { m_flags = flags; }
    std::string ToString() const override { return "Test[" + m_model + "]"; }

private:
    XEVLibrary::ConnectorType m_type;
    std::string m_model;
    uint32_t m_serial;
    uint8_t m_number;
    uint16_t m_firmware = 0;
    uint32_t m_flags = 0;
};

} // namespace XEVTest
