#include "Gige/GvcpTransaction.h"

#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"
#include "Gige/WriteMemCmd.h"
#include "XEVException.h"
#include "device/Diagnostics.h"

#include <algorithm>
#include <cstring>

namespace XEVLibrary {

namespace {

std::vector<uint8_t> BuildCommand(uint16_t code, const std::vector<uint32_t>& words) {
    const CmdHeader header(code, Gvcp::FlagAckRequired,
                           static_cast<unsigned short>(4 * words.size()));
    std::vector<uint8_t> bytes(header.Bytes().begin(), header.Bytes().end());
    for (uint32_t word : words) {
        bytes.resize(bytes.size() + 4);
        ByteOrder::Store32(&bytes[bytes.size() - 4], word);
    }
    return bytes;
}

constexpr std::chrono::milliseconds RegisterTimeout{100};
constexpr std::chrono::milliseconds WriteMemTimeout{700};

} // namespace

GvcpTransaction::GvcpTransaction(std::vector<uint8_t> command, std::chrono::milliseconds timeout,
                                 uint32_t address)
    : m_command(std::move(command)), m_timeout(timeout), m_address(address) {}

uint16_t GvcpTransaction::Id() const {
    return ByteOrder::Load16(&m_command[6]);
}

void GvcpTransaction::Renew() {
    ByteOrder::Store16(&m_command[6], CmdHeader::NextReqId());
}

bool GvcpTransaction::Settle() {
    if (m_settled)
        return false;
    m_settled = true;
    return true;
}

// --- READREG -----------------------------------------------------------------

ReadRegTransaction::ReadRegTransaction(uint32_t address)
    : GvcpTransactionOf(BuildCommand(Gvcp::CmdReadReg, {address}), RegisterTimeout, address) {}

GvcpTransaction::Verdict ReadRegTransaction::Judge(const uint8_t* ack, std::size_t size) {
    if (size < 12)
        return Verdict::KeepWaiting; // too short to hold a value
    Answer(ByteOrder::Load32(ack + 8));
    return Verdict::Done;
}

void ReadRegTransaction::GiveUp() {
    detail::inform(" OnAsyncReceived");
    Abandon(XEVException::format(XEVException::DefaultBufferSize,
                                 "The camera did not answer the reading of register 0x%04X.",
                                 Address()));
}

// --- WRITEREG ----------------------------------------------------------------

WriteRegTransaction::WriteRegTransaction(uint32_t address, uint32_t value,
                                         std::chrono::milliseconds timeout)
    : GvcpTransactionOf(BuildCommand(Gvcp::CmdWriteReg, {address, value}), timeout, address) {}

GvcpTransaction::Verdict WriteRegTransaction::Judge(const uint8_t* ack, std::size_t size) {
    if (size < 8)
        return Verdict::KeepWaiting;
    const uint16_t status = ByteOrder::Load16(ack);
    const uint16_t answer = ByteOrder::Load16(ack + 2);
    const uint16_t command = ByteOrder::Load16(&Command()[2]);
    bool accepted = false;
    if (answer != static_cast<uint16_t>(command + 1)) {
        detail::inform("WriteReg ack.Answer " + std::to_string(answer) + " and cmd.CommandId " +
                       std::to_string(command) + " mismatch");
    } else if (status == Gvcp::StatusSuccess) {
        accepted = true;
    } else if (status == Gvcp::StatusAccessDenied) {
        detail::inform("WriteReg GEV_STATUS_ACCESS_DENIED");
    } else {
        detail::inform("WriteReg bad ack.Status " + std::to_string(status));
        if (CanResend())
            return Verdict::Resend;
        Refuse(status);
        return Verdict::Done;
    }
    Answer(accepted);
    return Verdict::Done;
}

void WriteRegTransaction::GiveUp() {
    detail::inform("WriteReg OnAsyncReceived reg: " + std::to_string(Address()) +
                   ", err.value: 125 ==> exception");
    Abandon(XEVException::format(XEVException::DefaultBufferSize,
                                 "The camera did not answer the writing of register 0x%04X.",
                                 Address()));
}

// --- READMEM -----------------------------------------------------------------

ReadMemTransaction::ReadMemTransaction(uint32_t address, bool textMode)
    : GvcpTransactionOf(BuildCommand(Gvcp::CmdReadMem, {address, Count}), RegisterTimeout, address),
      m_textMode(textMode) {}

GvcpTransaction::Verdict ReadMemTransaction::Judge(const uint8_t* ack, std::size_t size) {
    // The data: what the acknowledge announces, bounded by what arrived.
    std::string data;
    if (size > 12 && ByteOrder::Load16(ack) == Gvcp::StatusSuccess) {
        const std::size_t announced = ByteOrder::Load16(ack + 4);
        const std::size_t length = std::min(size - 12, announced >= 4 ? announced - 4 : 0);
        data.assign(reinterpret_cast<const char*>(ack + 12), length);
        if (m_textMode)
            data.resize(std::strlen(data.c_str()));
    }
    Answer(std::move(data));
    return Verdict::Done;
}

void ReadMemTransaction::GiveUp() {
    Answer(std::string());
}

// --- WRITEMEM ----------------------------------------------------------------

namespace {

std::vector<uint8_t> WriteMemBytes(uint32_t address, const std::string& data) {
    const WriteMemCmd command(address, data);
    return std::vector<uint8_t>(command.Data(), command.Data() + command.Size());
}

} // namespace

WriteMemTransaction::WriteMemTransaction(uint32_t address, const std::string& data)
    : GvcpTransactionOf(WriteMemBytes(address, data), WriteMemTimeout, address) {}

GvcpTransaction::Verdict WriteMemTransaction::Judge(const uint8_t*, std::size_t) {
    Answer(true);
    return Verdict::Done;
}

void WriteMemTransaction::GiveUp() {
    Answer(false);
}

} // namespace XEVLibrary
