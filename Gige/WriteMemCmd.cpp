#include "Gige/WriteMemCmd.h"

#include "Gige/ByteOrder.h"
#include "XEVException.h"

#include <algorithm>

namespace XEVLibrary {

WriteMemCmd::WriteMemCmd(uint32_t address, const std::string& data) {
    if (data.size() > Gvcp::WriteMemMaxBytes)
        XEVException::throwError("WriteMem is limited to %zu bytes", Gvcp::WriteMemMaxBytes);
    const CmdHeader header(Gvcp::CmdWriteMem, Gvcp::FlagAckRequired,
                           static_cast<unsigned short>(Gvcp::WriteMemLength(data.size())));
    std::copy(header.Bytes().begin(), header.Bytes().end(), m_bytes.begin());
    ByteOrder::Store32(&m_bytes[CmdHeader::Size], address);
    // The padding is already zero: m_bytes starts zeroed and is written once.
    std::copy(data.begin(), data.end(), m_bytes.begin() + CmdHeader::Size + 4);
    m_size = Gvcp::WriteMemDatagramSize(data.size());
}

uint16_t WriteMemCmd::Id() const {
    return ByteOrder::Load16(&m_bytes[6]);
}

uint32_t WriteMemCmd::Address() const {
    return ByteOrder::Load32(&m_bytes[CmdHeader::Size]);
}

uint16_t WriteMemCmd::Renew() {
    const uint16_t id = CmdHeader::NextReqId();
    ByteOrder::Store16(&m_bytes[6], id);
    return id;
}

} // namespace XEVLibrary
