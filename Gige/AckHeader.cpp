#include "Gige/AckHeader.h"

#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"
#include "device/Diagnostics.h"

#include <algorithm>
#include <iostream>

namespace XEVLibrary {

void AckHeader::Assign(const uint8_t* data, std::size_t length) {
    m_received = std::min(length, Size);
    std::copy_n(data, m_received, m_bytes.begin());
    std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_received), m_bytes.end(), 0);
}

uint16_t AckHeader::Status() const {
    return ByteOrder::Load16(&m_bytes[0]);
}

uint16_t AckHeader::Answer() const {
    return ByteOrder::Load16(&m_bytes[2]);
}

uint16_t AckHeader::Length() const {
    return ByteOrder::Load16(&m_bytes[4]);
}

uint16_t AckHeader::Id() const {
    return ByteOrder::Load16(&m_bytes[6]);
}

void AckHeader::PrintLine(const std::string& line) {
    detail::diagnostic(detail::DiagnosticKind::Information, line);
}

bool AckHeader::CheckReceived(std::size_t received, std::size_t expected) {
    if (received >= expected)
        return true;
    PrintLine("short ack: " + std::to_string(received) + " bytes received, " +
              std::to_string(expected) + " expected");
    return false;
}

bool AckHeader::CheckAnswer(uint16_t answer, const CmdHeader& cmd) {
    if (answer == static_cast<uint16_t>(cmd.CommandId() + 1))
        return true;
    PrintLine("ack.Answer " + std::to_string(answer) + " and cmd.CommandId " +
              std::to_string(cmd.CommandId()) + " mismatch");
    return false;
}

bool AckHeader::CheckStatus(uint16_t status) {
    if (status == Gvcp::StatusSuccess)
        return true;
    PrintLine("bad ack.Status " + std::to_string(status));
    return false;
}

bool AckHeader::CheckId(uint16_t ackId, const CmdHeader& cmd) {
    if (ackId == cmd.Id())
        return true;
    PrintLine("ack.Id " + std::to_string(ackId) + " and cmd.Id " + std::to_string(cmd.Id()) +
              " mismatch");
    return false;
}

} // namespace XEVLibrary
