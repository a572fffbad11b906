#include "Gige/ImageLeader.h"

#include "Gige/ByteOrder.h"
#include "Gige/PacketHeader.h"

#include <algorithm>

namespace XEVLibrary {

ImageLeader::ImageLeader(const uint8_t* datagram, std::size_t length) {
    const bool extended = length > 4 && (datagram[4] & 0x80) != 0;
    m_offset = extended ? PacketHeaderExtension::Size : PacketHeader::Size;
    if (length > m_offset) {
        const std::size_t kept = std::min(length - m_offset, Size);
        std::copy_n(datagram + m_offset, kept, m_bytes.begin());
        m_complete = kept == Size;
    }
}

uint16_t ImageLeader::PayloadType() const {
    return ByteOrder::Load16(&m_bytes[2]);
}
uint64_t ImageLeader::Timestamp() const {
    return ByteOrder::Load64(&m_bytes[4]);
}
uint32_t ImageLeader::PixelFormat() const {
    return ByteOrder::Load32(&m_bytes[12]);
}
uint32_t ImageLeader::Width() const {
    return ByteOrder::Load32(&m_bytes[16]);
}
uint32_t ImageLeader::Height() const {
    return ByteOrder::Load32(&m_bytes[20]);
}

} // namespace XEVLibrary
