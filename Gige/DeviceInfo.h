#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace XEVLibrary {

class CmdHeader;

/**
 * A GigE camera's DISCOVERY acknowledge as received (256 bytes, acknowledge
 * header included), followed by fields the library fills locally: the
 * interface index and local address that reach the camera, and whether it is
 * one of the maker's cameras and reachable.
 *
 * The received bytes are kept as they came and decoded on access (multi-byte
 * fields big-endian, texts up to their zero byte or field end). A datagram
 * shorter than 256 bytes reads as zero beyond what arrived and never
 * validates. Addresses returned are host-order IPv4 values.
 */
class DeviceInfo {
public:
    /// Size of the discovery acknowledge on the wire.
    static constexpr std::size_t WireSize = 256;

    /// A prepared receive buffer: nothing received, interface index and local
    /// IP 0, both flags true.
    DeviceInfo() = default;
    /// Decodes @p length received bytes (extra bytes are ignored).
    DeviceInfo(const uint8_t* data, std::size_t length) { Assign(data, length); }

    /// Replaces the received bytes; the local fields stay.
    void Assign(const uint8_t* data, std::size_t length);
    /// For receiving in place: the WireSize-byte buffer, to be followed by
    /// SetReceivedLength() with the datagram's size.
    uint8_t* ReceiveBuffer() { return m_raw.data(); }
    /// Records how many bytes arrived in ReceiveBuffer() and zeroes the rest.
    void SetReceivedLength(std::size_t length);
    std::size_t ReceivedLength() const { return m_received; }
    const std::array<uint8_t, WireSize>& Raw() const { return m_raw; }

    uint16_t Status() const;
    uint16_t Answer() const;
    uint16_t DataBytes() const;
    uint16_t Id() const;
    uint16_t SpecVersionMajor() const;
    uint16_t SpecVersionMinor() const;
    /// "<major>.<minor>", both decimal.
    std::string SpecVersion() const;
    uint32_t DeviceMode() const;
    uint16_t MacAddressHigh() const;
    uint32_t MacAddressLow() const;
    /// Six two-digit lower-case hexadecimal pairs joined by colons.
    std::string MacAddress() const;
    uint32_t IpConfigOptions() const;
    uint32_t IpConfigCurrent() const;
    uint32_t CurrentIp() const;
    uint32_t CurrentSubnetMask() const;
    uint32_t DefaultGateway() const;
    std::string ManufacturerName() const;
    std::string ModelName() const;
    std::string DeviceVersion() const;
    std::string ManufacturerSpecificInformation() const;
    std::string SerialNumber() const;
    std::string UserDefinedName() const;

    /// Overwrite the camera's current address fields (after a FORCEIP), from
    /// host-order values.
    void UpdateCurrentIp(uint32_t address);
    void UpdateCurrentSubnetMask(uint32_t mask);
    void UpdateDefaultGateway(uint32_t gateway);

    unsigned IfIndex() const { return m_ifIndex; }
    void SetIfIndex(unsigned index) { m_ifIndex = index; }
    unsigned LocalIp() const { return m_localIp; }
    void SetLocalIp(unsigned address) { m_localIp = address; }
    bool IsXevCamera() const { return m_xevCamera; }
    void SetNotXevCamera() { m_xevCamera = false; }
    bool IsReachable() const { return m_reachable; }
    void SetNotReachable() { m_reachable = false; }

    /// True when all 256 bytes arrived, the answer is the acknowledge of
    /// @p cmd and the status is success; otherwise prints why on standard
    /// output. The ack id is not compared.
    bool Valid(const CmdHeader& cmd) const;

    /// Diagnostics: every field on a labelled line.
    void Dump(std::ostream& out) const;
    /// Diagnostics: the first @p n received-buffer bytes (at most 256) in
    /// hexadecimal on one line.
    void DumpRaw(std::ostream& out, std::size_t n) const;

private:
    std::array<uint8_t, WireSize> m_raw{};
    std::size_t m_received = 0;
    unsigned m_ifIndex = 0;
    unsigned m_localIp = 0;
    bool m_xevCamera = true;
    bool m_reachable = true;
};

/// The manufacturer name the maker's cameras report.
extern const char* const XevManufacturerName;

/// True when the camera's manufacturer name is exactly the maker's.
bool IsXEVCamera(const DeviceInfo& info);

} // namespace XEVLibrary
