// GVSP stream headers and image leaders decoded from hand-written datagrams.
#include "Gige/ImageLeader.h"
#include "Gige/PacketHeader.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace XEVLibrary;
using Bytes = std::vector<uint8_t>;

TEST(PacketHeader, DecodesStandardHeaderAndZeroFillsARunt) {
    const Bytes datagram = {0x00, 0x01, 0x12, 0x34, 0x03, 0xab, 0xcd, 0xef, 0x55};
    const PacketHeader header(datagram.data(), datagram.size());
    EXPECT_TRUE(header.Complete());
    EXPECT_EQ(header.Status(), 1);
    EXPECT_EQ(header.BlockId(), 0x1234);
    EXPECT_EQ(header.PacketId(), 0xabcdefu);
    const PacketHeader runt(datagram.data(), 6);
    EXPECT_FALSE(runt.Complete());
    EXPECT_EQ(runt.BlockId(), 0x1234);
    EXPECT_EQ(runt.PacketId(), 0xab0000u);
}

TEST(PacketHeader, FormatIsTheLowNibbleAndTheTopBitFlagsExtendedIds) {
    // Byte 4 of the header, then the EI flag and the format (1 leader, 2 trailer, 3 payload).
    const std::tuple<uint8_t, bool, uint8_t> cases[] = {
        {0x01, false, 1}, {0x82, true, 2}, {0x73, false, 3}, {0x8f, true, 15}, {0xf0, true, 0}};
    for (const auto& [byte4, extended, format] : cases) {
        const uint8_t datagram[PacketHeaderExtension::Size] = {0, 0, 0, 0, byte4};
        const PacketHeader header(datagram, PacketHeader::Size);
        const PacketHeaderExtension extension(datagram, sizeof datagram);
        EXPECT_EQ(header.ExtendedId(), extended) << int(byte4);
        EXPECT_EQ(header.Format(), format) << int(byte4);
        EXPECT_EQ(extension.ExtendedId(), extended) << int(byte4);
        EXPECT_EQ(extension.Format(), format) << int(byte4);
    }
}

TEST(PacketHeaderExtension, Decodes64BitBlockAnd32BitPacketIds) {
    const Bytes datagram = {0x00, 0x00, 0x40, 0x00, 0x83, 0x00, 0x00, 0x00, 0x01, 0x02,
                            0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xde, 0xad, 0xbe, 0xef};
    const PacketHeaderExtension header(datagram.data(), datagram.size());
    EXPECT_TRUE(header.Complete());
    EXPECT_EQ(header.Flags(), 0x4000);
    EXPECT_EQ(header.BlockId64(), 0x0102030405060708u);
    EXPECT_EQ(header.PacketId32(), 0xdeadbeefu);
    const PacketHeaderExtension runt(datagram.data(), 12);
    EXPECT_FALSE(runt.Complete());
    EXPECT_EQ(runt.BlockId64(), 0x0102030400000000u);
    EXPECT_EQ(runt.PacketId32(), 0u);
}

namespace {
/// A leader datagram: an 8-byte header, or a 20-byte one with the EI flag,
/// then the leader data.
Bytes leader(bool extended) {
    Bytes datagram(extended ? 20 : 8, 0);
    datagram[3] = 0x07;                                                 // block id
    datagram[4] = extended ? 0x81 : 0x01;                               // EI flag, leader format
    const Bytes data = {0x00, 0x00, 0x00, 0x01,                         // payload type 1
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, // timestamp
                        0x01, 0x10, 0x00, 0x25,                         // pixel format, 16 bits
                        0x00, 0x00, 0x02, 0x80,                         // width 640
                        0x00, 0x00, 0x02, 0x00};                        // height 512
    datagram.insert(datagram.end(), data.begin(), data.end());
    return datagram;
}
} // namespace

TEST(ImageLeader, DataFollowsAnEightOrTwentyByteHeader) {
    for (const bool extended : {false, true}) {
        const Bytes datagram = leader(extended);
        const ImageLeader decoded(datagram.data(), datagram.size());
        SCOPED_TRACE(extended ? "extended ids" : "standard ids");
        EXPECT_TRUE(decoded.Complete());
        EXPECT_EQ(decoded.DataOffset(), extended ? 20u : 8u);
        EXPECT_EQ(decoded.PayloadType(), ImageLeader::PayloadTypeImage);
        EXPECT_EQ(decoded.Timestamp(), 9u);
        EXPECT_EQ(decoded.PixelFormat(), 0x01100025u);
        EXPECT_EQ(decoded.EffectiveBitsPerPixel(), 16u);
        EXPECT_EQ(decoded.Width(), 640u);
        EXPECT_EQ(decoded.Height(), 512u);
    }
}

TEST(ImageLeader, TruncatedLeaderIsIncompleteAndReadsZero) {
    const Bytes datagram = leader(false);
    const ImageLeader truncated(datagram.data(), datagram.size() - 5);
    EXPECT_FALSE(truncated.Complete());
    EXPECT_EQ(truncated.Width(), 0x0200u); // the last width byte did not arrive
    EXPECT_EQ(truncated.Height(), 0u);
    // The EI flag counts only when byte 4 arrived.
    const Bytes extended = leader(true);
    EXPECT_EQ(ImageLeader(extended.data(), 4).DataOffset(), 8u);
    EXPECT_EQ(ImageLeader(extended.data(), 5).DataOffset(), 20u);
    EXPECT_FALSE(ImageLeader(extended.data(), 5).Complete());
}
