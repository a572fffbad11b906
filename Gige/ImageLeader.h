#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace XEVLibrary {

/**
 * The image leader of a GVSP block, as the stream channel reads it: payload
 * type, timestamp, pixel format, width and height. Its data follows the
 * 8-byte packet header, or the 20-byte one when the EI flag is set.
 *
 * Built from the whole leader datagram and its size; fields beyond what
 * arrived read as zero and leave the leader incomplete.
 */
class ImageLeader {
public:
    /// The only payload type accepted: uncompressed image.
    static constexpr uint16_t PayloadTypeImage = 1;
    /// Leader bytes decoded, from the start of the leader data.
    static constexpr std::size_t Size = 24;

    ImageLeader(const uint8_t* datagram, std::size_t length);

    /// Offset of the leader data in the datagram: 8, or 20 with EI set.
    std::size_t DataOffset() const { return m_offset; }
    /// True when the datagram holds every decoded leader field.
    bool Complete() const { return m_complete; }

    uint16_t PayloadType() const;
    uint64_t Timestamp() const;
    /// GenICam pixel format code.
    uint32_t PixelFormat() const;
    /// Bits 16-23 of the pixel format: effective bits per pixel.
    unsigned EffectiveBitsPerPixel() const { return (PixelFormat() >> 16) & 0xff; }
    uint32_t Width() const;
    uint32_t Height() const;

private:
    std::array<uint8_t, Size> m_bytes{};
    std::size_t m_offset = 8;
    bool m_complete = false;
};

} // namespace XEVLibrary
