#include "Gige/DeviceInfo.h"

#include "Gige/AckHeader.h"
#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace XEVLibrary {

namespace {
// Field offsets, counted from the first byte of the acknowledge header.
constexpr std::size_t OffStatus = 0;
constexpr std::size_t OffAnswer = 2;
constexpr std::size_t OffLength = 4;
constexpr std::size_t OffAckId = 6;
constexpr std::size_t OffSpecMajor = 8;
constexpr std::size_t OffSpecMinor = 10;
constexpr std::size_t OffDeviceMode = 12;
constexpr std::size_t OffMacHigh = 18;
constexpr std::size_t OffMacLow = 20;
constexpr std::size_t OffIpConfigOptions = 24;
constexpr std::size_t OffIpConfigCurrent = 28;
constexpr std::size_t OffCurrentIp = 44;
constexpr std::size_t OffCurrentSubnetMask = 60;
constexpr std::size_t OffDefaultGateway = 76;
constexpr std::size_t OffManufacturerName = 80;
constexpr std::size_t OffModelName = 112;
constexpr std::size_t OffDeviceVersion = 144;
constexpr std::size_t OffManufacturerInfo = 176;
constexpr std::size_t OffSerialNumber = 224;
constexpr std::size_t OffUserDefinedName = 240;
} // namespace

const char* const XevManufacturerName = "Xev-Sensor-Optical-Works";

void DeviceInfo::Assign(const uint8_t* data, std::size_t length) {
    const std::size_t kept = std::min(length, WireSize);
    std::copy_n(data, kept, m_raw.begin());
    SetReceivedLength(kept);
}

void DeviceInfo::SetReceivedLength(std::size_t length) {
    m_received = std::min(length, WireSize);
    std::fill(m_raw.begin() + static_cast<std::ptrdiff_t>(m_received), m_raw.end(), 0);
}

uint16_t DeviceInfo::Status() const {
    return ByteOrder::Load16(&m_raw[OffStatus]);
}
uint16_t DeviceInfo::Answer() const {
    return ByteOrder::Load16(&m_raw[OffAnswer]);
}
uint16_t DeviceInfo::DataBytes() const {
    return ByteOrder::Load16(&m_raw[OffLength]);
}
uint16_t DeviceInfo::Id() const {
    return ByteOrder::Load16(&m_raw[OffAckId]);
}
uint16_t DeviceInfo::SpecVersionMajor() const {
    return ByteOrder::Load16(&m_raw[OffSpecMajor]);
}
uint16_t DeviceInfo::SpecVersionMinor() const {
    return ByteOrder::Load16(&m_raw[OffSpecMinor]);
}

std::string DeviceInfo::SpecVersion() const {
    return std::to_string(SpecVersionMajor()) + '.' + std::to_string(SpecVersionMinor());
}

uint32_t DeviceInfo::DeviceMode() const {
    return ByteOrder::Load32(&m_raw[OffDeviceMode]);
}
uint16_t DeviceInfo::MacAddressHigh() const {
    return ByteOrder::Load16(&m_raw[OffMacHigh]);
}
uint32_t DeviceInfo::MacAddressLow() const {
    return ByteOrder::Load32(&m_raw[OffMacLow]);
}

std::string DeviceInfo::MacAddress() const {
    char text[18];
    const uint8_t* mac = &m_raw[OffMacHigh];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

uint32_t DeviceInfo::IpConfigOptions() const {
    return ByteOrder::Load32(&m_raw[OffIpConfigOptions]);
}
uint32_t DeviceInfo::IpConfigCurrent() const {
    return ByteOrder::Load32(&m_raw[OffIpConfigCurrent]);
}
uint32_t DeviceInfo::CurrentIp() const {
    return ByteOrder::Load32(&m_raw[OffCurrentIp]);
}
uint32_t DeviceInfo::CurrentSubnetMask() const {
    return ByteOrder::Load32(&m_raw[OffCurrentSubnetMask]);
}
uint32_t DeviceInfo::DefaultGateway() const {
    return ByteOrder::Load32(&m_raw[OffDefaultGateway]);
}

std::string DeviceInfo::ManufacturerName() const {
    return ByteOrder::ReadText(&m_raw[OffManufacturerName], 32);
}
std::string DeviceInfo::ModelName() const {
    return ByteOrder::ReadText(&m_raw[OffModelName], 32);
}
std::string DeviceInfo::DeviceVersion() const {
    return ByteOrder::ReadText(&m_raw[OffDeviceVersion], 32);
}
std::string DeviceInfo::ManufacturerSpecificInformation() const {
    return ByteOrder::ReadText(&m_raw[OffManufacturerInfo], 48);
}
std::string DeviceInfo::SerialNumber() const {
    return ByteOrder::ReadText(&m_raw[OffSerialNumber], 16);
}
std::string DeviceInfo::UserDefinedName() const {
    return ByteOrder::ReadText(&m_raw[OffUserDefinedName], 16);
}

void DeviceInfo::UpdateCurrentIp(uint32_t address) {
    ByteOrder::Store32(&m_raw[OffCurrentIp], address);
}
void DeviceInfo::UpdateCurrentSubnetMask(uint32_t mask) {
    ByteOrder::Store32(&m_raw[OffCurrentSubnetMask], mask);
}
void DeviceInfo::UpdateDefaultGateway(uint32_t gateway) {
    ByteOrder::Store32(&m_raw[OffDefaultGateway], gateway);
}

bool DeviceInfo::Valid(const CmdHeader& cmd) const {
    return AckHeader::CheckReceived(m_received, WireSize) &&
           AckHeader::CheckAnswer(Answer(), cmd) && AckHeader::CheckStatus(Status());
}

void DeviceInfo::Dump(std::ostream& out) const {
    std::ostringstream text;
    text << std::hex << "<-- ack_id:\t" << Id() << '\n'
         << "<-- status:\t" << Status() << '\n'
         << "<-- answer:\t" << Answer() << '\n'
         << "<-- length:\t" << DataBytes() << '\n'
         << "<-- spec_version:\t\t\t" << SpecVersion() << '\n'
         << "<-- device_mode:\t\t\t" << DeviceMode() << '\n'
         << "<-- MACAddress:\t\t\t" << MacAddress() << '\n'
         << "<-- IPConfigOptions:\t\t\t" << IpConfigOptions() << '\n'
         << "<-- IPConfigCurrent:\t\t\t" << IpConfigCurrent() << '\n'
         << "<-- CurrentIP:\t\t\t\t" << ByteOrder::Ipv4ToString(CurrentIp()) << '\n'
         << "<-- CurrentSubnetMask:\t\t\t" << ByteOrder::Ipv4ToString(CurrentSubnetMask()) << '\n'
         << "<-- DefautlGateway:\t\t\t" << ByteOrder::Ipv4ToString(DefaultGateway()) << '\n'
         << "<-- ManufacturerName:\t\t\t" << ManufacturerName() << '\n'
         << "<-- ModelName:\t\t\t\t" << ModelName() << '\n'
         << "<-- DeviceVersion:\t\t\t" << DeviceVersion() << '\n'
         << "<-- ManufacturerSpecificInformation:\t" << ManufacturerSpecificInformation() << '\n'
         << "<-- SerialNumber:\t\t\t" << SerialNumber() << '\n'
         << "<-- UserDefinedName:\t\t\t" << UserDefinedName() << '\n';
    out << text.str();
}

void DeviceInfo::DumpRaw(std::ostream& out, std::size_t n) const {
    static const char digits[] = "0123456789abcdef";
    const std::size_t count = std::min(n, WireSize);
    std::string line;
    line.reserve(count * 3 + 1);
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0)
            line += ' ';
        line += digits[m_raw[i] >> 4];
        line += digits[m_raw[i] & 0x0f];
    }
    line += '\n';
    out << line;
}

bool IsXEVCamera(const DeviceInfo& info) {
    return info.ManufacturerName() == XevManufacturerName;
}

} // namespace XEVLibrary
