#include "Gige/CmdHeader.h"

#include "Gige/ByteOrder.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace XEVLibrary {

std::atomic<uint16_t> CmdHeader::lastReqId{0};

uint16_t CmdHeader::NextReqId() {
    // Unsigned atomic arithmetic wraps, so 65535 + 1 gives 0.
    return static_cast<uint16_t>(lastReqId.fetch_add(1, std::memory_order_relaxed) + 1);
}

CmdHeader::CmdHeader(unsigned short command, unsigned char flag, unsigned short length) {
    m_bytes[0] = MagicValue;
    m_bytes[1] = flag;
    ByteOrder::Store16(&m_bytes[2], command);
    ByteOrder::Store16(&m_bytes[4], length);
    ByteOrder::Store16(&m_bytes[6], NextReqId());
}

CmdHeader CmdHeader::Decode(const uint8_t* data, std::size_t length) {
    CmdHeader header;
    std::copy_n(data, std::min(length, Size), header.m_bytes.begin());
    return header;
}

uint16_t CmdHeader::CommandId() const {
    return ByteOrder::Load16(&m_bytes[2]);
}

uint16_t CmdHeader::Length() const {
    return ByteOrder::Load16(&m_bytes[4]);
}

uint16_t CmdHeader::Id() const {
    return ByteOrder::Load16(&m_bytes[6]);
}

uint16_t CmdHeader::Renew() {
    const uint16_t id = NextReqId();
    SetId(id);
    return id;
}

void CmdHeader::SetId(uint16_t id) {
    ByteOrder::Store16(&m_bytes[6], id);
}

void CmdHeader::Dump(std::ostream& out) const {
    std::ostringstream text;
    text << std::hex << "--> cmd.header.magic:\t" << unsigned(Magic()) << '\n'
         << "--> cmd.header.flag:\t" << unsigned(Flag()) << '\n'
         << "--> cmd.header.command:\t" << CommandId() << '\n'
         << "--> cmd.header.length:\t" << Length() << '\n'
         << "--> cmd.req_id:\t" << Id() << '\n';
    out << text.str();
}

} // namespace XEVLibrary
