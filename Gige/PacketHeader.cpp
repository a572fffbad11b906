#include "Gige/PacketHeader.h"

#include "Gige/ByteOrder.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace XEVLibrary {

namespace {
template <std::size_t N>
bool CopyReceived(std::array<uint8_t, N>& bytes, const uint8_t* datagram, std::size_t length) {
    const std::size_t kept = std::min(length, N);
    std::copy_n(datagram, kept, bytes.begin());
    return kept == N;
}
} // namespace

PacketHeader::PacketHeader(const uint8_t* datagram, std::size_t length)
    : m_complete(CopyReceived(m_bytes, datagram, length)) {}

uint16_t PacketHeader::Status() const {
    return ByteOrder::Load16(&m_bytes[0]);
}
uint16_t PacketHeader::BlockId() const {
    return ByteOrder::Load16(&m_bytes[2]);
}

uint32_t PacketHeader::PacketId() const {
    return (static_cast<uint32_t>(m_bytes[5]) << 16) | (static_cast<uint32_t>(m_bytes[6]) << 8) |
           m_bytes[7];
}

void PacketHeader::Dump(std::ostream& out) const {
    std::ostringstream text;
    text << std::hex << "--> status:\t" << Status() << '\n'
         << "--> extendedId:\t" << ExtendedId() << '\n';
    if (!ExtendedId())
        text << "--> blockId:\t" << BlockId() << '\n' << "--> PacketId:\t" << PacketId() << '\n';
    text << "--> packetFormat:\t" << unsigned(Format()) << '\n';
    out << text.str();
}

PacketHeaderExtension::PacketHeaderExtension(const uint8_t* datagram, std::size_t length)
    : m_complete(CopyReceived(m_bytes, datagram, length)) {}

uint16_t PacketHeaderExtension::Status() const {
    return ByteOrder::Load16(&m_bytes[0]);
}
uint16_t PacketHeaderExtension::Flags() const {
    return ByteOrder::Load16(&m_bytes[2]);
}
uint64_t PacketHeaderExtension::BlockId64() const {
    return ByteOrder::Load64(&m_bytes[8]);
}
uint32_t PacketHeaderExtension::PacketId32() const {
    return ByteOrder::Load32(&m_bytes[16]);
}

void PacketHeaderExtension::Dump(std::ostream& out) const {
    std::ostringstream text;
    text << std::hex << "--> status:\t" << Status() << '\n'
         << "--> extendedId:\t" << ExtendedId() << '\n'
         << "--> blockId64:\t" << BlockId64() << '\n'
         << "--> packetId32:\t" << PacketId32() << '\n'
         << "--> packetFormat:\t" << unsigned(Format()) << '\n';
    out << text.str();
}

} // namespace XEVLibrary
