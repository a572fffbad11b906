#pragma once

#include "Gige/CmdHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace XEVLibrary {

/**
 * The FORCEIP command, 64 bytes: command header (0x0004, flag 0x11, length
 * 56), the target camera's MAC address and the static IP address, subnet
 * mask and default gateway it is to take, big-endian, reserved bytes zero.
 */
class ForceIpCmd {
public:
    static constexpr std::size_t Size = 64;

    /// Builds the command with a fresh request id. The addresses are dotted
    /// quads; the MAC is six two-digit hexadecimal pairs separated by single
    /// characters of any kind ("00:0c:0a:01:02:03", "00-0C-0A-01-02-03").
    /// Raises an XEVException when a text is not a valid address.
    ForceIpCmd(const std::string& ip, const std::string& mask, const std::string& gateway,
               const std::string& mac);

    /// The header as encoded in the command.
    CmdHeader Header() const { return CmdHeader::Decode(m_bytes.data(), m_bytes.size()); }
    uint16_t Id() const;
    uint16_t MacAddressHigh() const;
    uint32_t MacAddressLow() const;
    /// Host-order addresses.
    uint32_t StaticIp() const;
    uint32_t StaticSubnetMask() const;
    uint32_t StaticDefaultGateway() const;

    /// The 64 bytes as sent.
    const std::array<uint8_t, Size>& Bytes() const { return m_bytes; }

    /// Prints the header and address fields in hexadecimal, one line each.
    void Dump(std::ostream& out) const;

    /// Parses a MAC text into its upper 16 and lower 32 bits; raises an
    /// XEVException when it is not 17 characters with hexadecimal pairs at
    /// positions 0, 3, 6, 9, 12 and 15.
    static void ParseMac(const std::string& mac, uint16_t& high, uint32_t& low);

private:
    std::array<uint8_t, Size> m_bytes{};
};

} // namespace XEVLibrary
