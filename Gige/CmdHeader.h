#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace XEVLibrary {

/// GVCP constants: UDP port, command and acknowledge codes, header flags and
/// the status codes the library looks at.
namespace Gvcp {
constexpr uint16_t Port = 3956;

constexpr uint16_t CmdDiscovery = 0x0002;
constexpr uint16_t AckDiscovery = 0x0003;
constexpr uint16_t CmdForceIp = 0x0004;
constexpr uint16_t AckForceIp = 0x0005;
constexpr uint16_t CmdReadReg = 0x0080;
constexpr uint16_t AckReadReg = 0x0081;
constexpr uint16_t CmdWriteReg = 0x0082;
constexpr uint16_t AckWriteReg = 0x0083;
constexpr uint16_t CmdReadMem = 0x0084;
constexpr uint16_t AckReadMem = 0x0085;
constexpr uint16_t CmdWriteMem = 0x0086;
constexpr uint16_t AckWriteMem = 0x0087;

/// Acknowledge required (register and memory commands).
constexpr uint8_t FlagAckRequired = 0x01;
/// Acknowledge required, with bit 0x10 set (DISCOVERY and FORCEIP).
constexpr uint8_t FlagBroadcastAck = 0x11;

constexpr uint16_t StatusSuccess = 0x0000;
constexpr uint16_t StatusAccessDenied = 0x8006;

/// Longest text one WRITEMEM command carries.
constexpr std::size_t WriteMemMaxBytes = 536;

/// WRITEMEM data bytes for a text of @p n bytes: the text and at least one
/// zero byte, padded to a multiple of 4.
constexpr std::size_t WriteMemDataCount(std::size_t n) {
    return 4 * ((n + 1) / 4 + 1);
}
/// The header's length field for a text of @p n bytes: address and data.
constexpr std::size_t WriteMemLength(std::size_t n) {
    return WriteMemDataCount(n) + 4;
}
/// The whole WRITEMEM datagram for a text of @p n bytes.
constexpr std::size_t WriteMemDatagramSize(std::size_t n) {
    return WriteMemLength(n) + 8;
}
} // namespace Gvcp

/**
 * GVCP command header, the 8 bytes in front of every command the library
 * sends: magic 0x42, flag, command code, payload length and request id, all
 * multi-byte fields big-endian.
 *
 * Every constructed header draws a fresh request id from the process-wide
 * counter lastReqId, shared by all channels and by discovery.
 */
class CmdHeader {
public:
    static constexpr std::size_t Size = 8;
    static constexpr uint8_t MagicValue = 0x42;

    /// The last request id handed out. Starts at 0, so the first id is 1;
    /// wraps from 65535 to 0. Atomic: concurrent draws never lose a step.
    static std::atomic<uint16_t> lastReqId;
    /// Advances lastReqId and returns the new value.
    static uint16_t NextReqId();

    /// Fills the header and draws a request id.
    CmdHeader(unsigned short command, unsigned char flag, unsigned short length);

    /// Decodes a header from received bytes without drawing an id; bytes
    /// beyond @p length read as zero.
    static CmdHeader Decode(const uint8_t* data, std::size_t length);

    uint8_t Magic() const { return m_bytes[0]; }
    uint8_t Flag() const { return m_bytes[1]; }
    uint16_t CommandId() const;
    uint16_t Length() const;
    uint16_t Id() const;

    /// For a resend: draws a fresh request id into the header and returns it.
    uint16_t Renew();
    void SetId(uint16_t id);

    /// The header as sent.
    const std::array<uint8_t, Size>& Bytes() const { return m_bytes; }

    /// Prints every field in hexadecimal, one line each.
    void Dump(std::ostream& out) const;

private:
    CmdHeader() = default;
    std::array<uint8_t, Size> m_bytes{};
};

} // namespace XEVLibrary
