#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace XEVLibrary {

class CmdHeader;

/**
 * GVCP acknowledge header, the first 8 bytes of every acknowledge: status,
 * answer (the command code + 1), payload length and ack id (echoing the
 * command's request id), all big-endian.
 *
 * Built from the received bytes and their count; what was not received
 * reads as zero and makes the header incomplete.
 */
class AckHeader {
public:
    static constexpr std::size_t Size = 8;

    /// Nothing received yet: all zero, incomplete.
    AckHeader() = default;
    AckHeader(const uint8_t* data, std::size_t length) { Assign(data, length); }

    /// Replaces the header with the first bytes of a received datagram.
    void Assign(const uint8_t* data, std::size_t length);

    uint16_t Status() const;
    uint16_t Answer() const;
    uint16_t Length() const;
    uint16_t Id() const;

    /// How many header bytes were received (at most Size).
    std::size_t ReceivedLength() const { return m_received; }
    /// True when all 8 bytes were received.
    bool Complete() const { return m_received == Size; }

    const std::array<uint8_t, Size>& Bytes() const { return m_bytes; }

    /// The validation steps every acknowledge shares, each printing its
    /// reason on standard output when it fails.
    static bool CheckReceived(std::size_t received, std::size_t expected);
    static bool CheckAnswer(uint16_t answer, const CmdHeader& cmd);
    static bool CheckStatus(uint16_t status);
    static bool CheckId(uint16_t ackId, const CmdHeader& cmd);

    /// Writes one line to standard output in a single operation, so that
    /// lines of concurrent channels do not interleave.
    static void PrintLine(const std::string& line);

private:
    std::array<uint8_t, Size> m_bytes{};
    std::size_t m_received = 0;
};

} // namespace XEVLibrary
