#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace XEVLibrary {

/// GVSP packet formats (low nibble of byte 4 of the stream header).
namespace Gvsp {
constexpr uint8_t FormatLeader = 1;
constexpr uint8_t FormatTrailer = 2;
constexpr uint8_t FormatPayload = 3;
} // namespace Gvsp

/**
 * GVSP packet header, the first 8 bytes of every stream datagram: status,
 * 16-bit block id, EI flag and packet format, 24-bit packet id.
 *
 * Built from a received datagram and its size; header bytes that did not
 * arrive read as zero, so a runt datagram has format 0 and is ignored.
 */
class PacketHeader {
public:
    static constexpr std::size_t Size = 8;

    PacketHeader() = default;
    PacketHeader(const uint8_t* datagram, std::size_t length);

    uint16_t Status() const;
    uint16_t BlockId() const;
    /// The EI flag: the extended (20-byte) header is in use.
    bool ExtendedId() const { return (m_bytes[4] & 0x80) != 0; }
    /// 1 leader, 2 trailer, 3 payload data; anything else is not handled.
    uint8_t Format() const { return m_bytes[4] & 0x0f; }
    uint32_t PacketId() const;
    /// True when all 8 header bytes arrived.
    bool Complete() const { return m_complete; }

    /// Prints the fields in hexadecimal, one line each.
    void Dump(std::ostream& out) const;

private:
    std::array<uint8_t, Size> m_bytes{};
    bool m_complete = false;
};

/**
 * GVSP header with extended ids (EI flag set), 20 bytes: the first 8 as in
 * PacketHeader (bytes 2-3 are then flags), a 64-bit block id and a 32-bit
 * packet id.
 */
class PacketHeaderExtension {
public:
    static constexpr std::size_t Size = 20;

    PacketHeaderExtension() = default;
    PacketHeaderExtension(const uint8_t* datagram, std::size_t length);

    uint16_t Status() const;
    uint16_t Flags() const;
    bool ExtendedId() const { return (m_bytes[4] & 0x80) != 0; }
    uint8_t Format() const { return m_bytes[4] & 0x0f; }
    uint64_t BlockId64() const;
    uint32_t PacketId32() const;
    /// True when all 20 header bytes arrived.
    bool Complete() const { return m_complete; }

    /// Prints the fields in hexadecimal, one line each.
    void Dump(std::ostream& out) const;

private:
    std::array<uint8_t, Size> m_bytes{};
    bool m_complete = false;
};

} // namespace XEVLibrary
