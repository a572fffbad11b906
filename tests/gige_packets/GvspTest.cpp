#include "Gige/ImageLeader.h"
#include "Gige/PacketHeader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace XEVLibrary;

TEST(PacketHeader, DecodesStandardHeader) {
    const std::vector<uint8_t> datagram = {0x00, 0x01, 0x12, 0x34, 0x03, 0xab, 0xcd, 0xef, 0x55};
    const PacketHeader header(datagram.data(), datagram.size());
    EXPECT_TRUE(header.Complete());
    EXPECT_EQ(header.Status(), 1);
    EXPECT_EQ(header.BlockId(), 0x1234);
    EXPECT_FALSE(header.ExtendedId());
    EXPECT_EQ(header.Format(), Gvsp::FormatPayload);
    EXPECT_EQ(header.PacketId(), 0xabcdefu);
}

TEST(PacketHeader, FormatIsTheLowNibble) {
    struct {
        uint8_t byte4;
        bool extended;
        uint8_t format;
    } cases[] = {{0x01, false, 1}, {0x81, true, 1},  {0x02, false, 2}, {0x73, false, 3},
                 {0x00, false, 0}, {0x04, false, 4}, {0x8f, true, 15}, {0xf0, true, 0}};
    for (const auto& c : cases) {
        const uint8_t datagram[8] = {0, 0, 0, 0, c.byte4, 0, 0, 0};
        const PacketHeader header(datagram, sizeof datagram);
        EXPECT_EQ(header.ExtendedId(), c.extended) << int(c.byte4);
        EXPECT_EQ(header.Format(), c.format) << int(c.byte4);
    }
}

TEST(PacketHeader, RuntDatagramReadsZero) {
    const std::vector<uint8_t> datagram = {0x00, 0x00, 0x12, 0x34, 0x02, 0xff};
    const PacketHeader header(datagram.data(), datagram.size());
    EXPECT_FALSE(header.Complete());
    EXPECT_EQ(header.BlockId(), 0x1234);
    EXPECT_EQ(header.Format(), Gvsp::FormatTrailer);
    EXPECT_EQ(header.PacketId(), 0xff0000u);
    const PacketHeader empty(datagram.data(), 0);
    EXPECT_EQ(empty.Format(), 0);
}

TEST(PacketHeader, Dumps) {
    const uint8_t standard[8] = {0x00, 0x00, 0x00, 0x2a, 0x03, 0x00, 0x01, 0x10};
    std::ostringstream out;
    PacketHeader(standard, sizeof standard).Dump(out);
    EXPECT_EQ(out.str(), "--> status:\t0\n"
                         "--> extendedId:\t0\n"
                         "--> blockId:\t2a\n"
                         "--> PacketId:\t110\n"
                         "--> packetFormat:\t3\n");
    const uint8_t extended[8] = {0x00, 0x00, 0x00, 0x2a, 0x81, 0x00, 0x01, 0x10};
    out.str("");
    PacketHeader(extended, sizeof extended).Dump(out);
    EXPECT_EQ(out.str(), "--> status:\t0\n"
                         "--> extendedId:\t1\n"
                         "--> packetFormat:\t1\n");
}

TEST(PacketHeaderExtension, DecodesExtendedIds) {
    const std::vector<uint8_t> datagram = {0x00, 0x00, 0x40, 0x00, 0x83, 0x00, 0x00,
                                           0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                           0x07, 0x08, 0xde, 0xad, 0xbe, 0xef};
    const PacketHeaderExtension header(datagram.data(), datagram.size());
    EXPECT_TRUE(header.Complete());
    EXPECT_TRUE(header.ExtendedId());
    EXPECT_EQ(header.Flags(), 0x4000);
    EXPECT_EQ(header.Format(), Gvsp::FormatPayload);
    EXPECT_EQ(header.BlockId64(), 0x0102030405060708u);
    EXPECT_EQ(header.PacketId32(), 0xdeadbeefu);
    std::ostringstream out;
    header.Dump(out);
    EXPECT_EQ(out.str(), "--> status:\t0\n"
                         "--> extendedId:\t1\n"
                         "--> blockId64:\t102030405060708\n"
                         "--> packetId32:\tdeadbeef\n"
                         "--> packetFormat:\t3\n");

    const std::vector<uint8_t> runt(datagram.begin(), datagram.begin() + 12);
    const PacketHeaderExtension shortHeader(runt.data(), runt.size());
    EXPECT_FALSE(shortHeader.Complete());
    EXPECT_EQ(shortHeader.BlockId64(), 0x0102030400000000u);
    EXPECT_EQ(shortHeader.PacketId32(), 0u);
}

namespace {
std::vector<uint8_t> leaderData() {
    return {0x00, 0x00, 0x00, 0x01,                         // reserved, payload type 1
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, // timestamp
            0x01, 0x10, 0x00, 0x25,                         // pixel format, 16 bits
            0x00, 0x00, 0x02, 0x80,                         // width 640
            0x00, 0x00, 0x02, 0x00};                        // height 512
}
} // namespace

TEST(ImageLeader, StandardHeaderPutsDataAtEight) {
    std::vector<uint8_t> datagram = {0x00, 0x00, 0x00, 0x07, 0x01, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> data = leaderData();
    datagram.insert(datagram.end(), data.begin(), data.end());
    const ImageLeader leader(datagram.data(), datagram.size());
    EXPECT_TRUE(leader.Complete());
    EXPECT_EQ(leader.DataOffset(), 8u);
    EXPECT_EQ(leader.PayloadType(), ImageLeader::PayloadTypeImage);
    EXPECT_EQ(leader.Timestamp(), 9u);
    EXPECT_EQ(leader.PixelFormat(), 0x01100025u);
    EXPECT_EQ(leader.EffectiveBitsPerPixel(), 16u);
    EXPECT_EQ(leader.Width(), 640u);
    EXPECT_EQ(leader.Height(), 512u);
}

TEST(ImageLeader, ExtendedHeaderPutsDataAtTwenty) {
    std::vector<uint8_t> datagram(20, 0xee);
    datagram[4] = 0x81;
    const std::vector<uint8_t> data = leaderData();
    datagram.insert(datagram.end(), data.begin(), data.end());
    const ImageLeader leader(datagram.data(), datagram.size());
    EXPECT_TRUE(leader.Complete());
    EXPECT_EQ(leader.DataOffset(), 20u);
    EXPECT_EQ(leader.PayloadType(), 1);
    EXPECT_EQ(leader.Width(), 640u);
    EXPECT_EQ(leader.Height(), 512u);
}

TEST(ImageLeader, TruncatedLeaderIsIncompleteAndReadsZero) {
    std::vector<uint8_t> datagram = {0x00, 0x00, 0x00, 0x07, 0x01, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> data = leaderData();
    datagram.insert(datagram.end(), data.begin(), data.begin() + 19);
    const ImageLeader leader(datagram.data(), datagram.size());
    EXPECT_FALSE(leader.Complete());
    EXPECT_EQ(leader.PixelFormat(), 0x01100025u);
    EXPECT_EQ(leader.Width(), 0x0200u); // the last width byte did not arrive
    EXPECT_EQ(leader.Height(), 0u);

    const ImageLeader runt(datagram.data(), 5);
    EXPECT_FALSE(runt.Complete());
    EXPECT_EQ(runt.PayloadType(), 0);
    const ImageLeader extendedRunt(std::vector<uint8_t>{0, 0, 0, 0, 0x81}.data(), 5);
    EXPECT_EQ(extendedRunt.DataOffset(), 20u);
    EXPECT_FALSE(extendedRunt.Complete());
}
