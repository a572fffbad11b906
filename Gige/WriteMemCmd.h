#pragma once

#include "Gige/CmdHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace XEVLibrary {

/**
 * A WRITEMEM command carrying a text: header (0x0086, flag 0x01), the
 * 32-bit address, then the text followed by zero bytes up to
 * Gvcp::WriteMemDataCount() of its size.
 */
class WriteMemCmd {
public:
    static constexpr std::size_t MaxSize = Gvcp::WriteMemDatagramSize(Gvcp::WriteMemMaxBytes);

    /// Builds the command with a fresh request id; raises an XEVException
    /// "WriteMem is limited to 536 bytes" for a longer text.
    WriteMemCmd(uint32_t address, const std::string& data);

    CmdHeader Header() const { return CmdHeader::Decode(m_bytes.data(), m_size); }
    uint16_t Id() const;
    uint32_t Address() const;
    /// For a resend: draws a fresh request id into the command.
    uint16_t Renew();

    /// The datagram: Data()[0 .. Size()).
    const uint8_t* Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_size; }

private:
    std::array<uint8_t, MaxSize> m_bytes{};
    std::size_t m_size = 0;
};

} // namespace XEVLibrary
