#include "Gige/CmdHeader.h"
#include "Gige/WriteMemCmd.h"
#include "XEVException.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

using namespace XEVLibrary;

namespace {

std::vector<uint8_t> bytesOf(const CmdHeader& header) {
    return std::vector<uint8_t>(header.Bytes().begin(), header.Bytes().end());
}

} // namespace

TEST(CmdHeader, LayoutIsBigEndianWithMagicAndFlag) {
    CmdHeader::lastReqId = 0x1233;
    const CmdHeader header(Gvcp::CmdReadMem, Gvcp::FlagAckRequired, 0x0108);
    EXPECT_EQ(bytesOf(header),
              (std::vector<uint8_t>{0x42, 0x01, 0x00, 0x84, 0x01, 0x08, 0x12, 0x34}));
    EXPECT_EQ(header.Magic(), 0x42);
    EXPECT_EQ(header.Flag(), 0x01);
    EXPECT_EQ(header.CommandId(), 0x0084);
    EXPECT_EQ(header.Length(), 0x0108);
    EXPECT_EQ(header.Id(), 0x1234);
}

TEST(CmdHeader, FirstIdAfterResetIsOne) {
    CmdHeader::lastReqId = 0;
    EXPECT_EQ(CmdHeader(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0).Id(), 1);
    EXPECT_EQ(CmdHeader(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0).Id(), 2);
}

TEST(CmdHeader, IdWrapsFrom65535ToZero) {
    CmdHeader::lastReqId = 65534;
    EXPECT_EQ(CmdHeader(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4).Id(), 65535);
    const CmdHeader wrapped(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4);
    EXPECT_EQ(wrapped.Id(), 0);
    EXPECT_EQ(bytesOf(wrapped)[6], 0);
    EXPECT_EQ(bytesOf(wrapped)[7], 0);
    EXPECT_EQ(CmdHeader(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4).Id(), 1);
}

TEST(CmdHeader, The65536thHeaderCarriesZero) {
    CmdHeader::lastReqId = 0;
    uint16_t id = 0xffff;
    for (int i = 0; i < 65536; ++i)
        id = CmdHeader(Gvcp::CmdWriteReg, Gvcp::FlagAckRequired, 8).Id();
    EXPECT_EQ(id, 0);
}

TEST(CmdHeader, RenewDrawsFromTheSharedCounter) {
    CmdHeader::lastReqId = 0x00fe;
    CmdHeader header(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4);
    EXPECT_EQ(header.Id(), 0x00ff);
    CmdHeader other(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4);
    EXPECT_EQ(header.Renew(), 0x0101);
    EXPECT_EQ(bytesOf(header)[6], 0x01);
    EXPECT_EQ(bytesOf(header)[7], 0x01);
    EXPECT_EQ(other.Id(), 0x0100);
    EXPECT_EQ(CmdHeader::lastReqId.load(), 0x0101);
}

TEST(CmdHeader, DecodeReadsOnlyWhatWasReceived) {
    const uint8_t received[3] = {0x42, 0x11, 0x00};
    const CmdHeader header = CmdHeader::Decode(received, sizeof received);
    EXPECT_EQ(header.Magic(), 0x42);
    EXPECT_EQ(header.Flag(), 0x11);
    EXPECT_EQ(header.CommandId(), 0);
    EXPECT_EQ(header.Id(), 0);
}

TEST(CmdHeader, DumpPrintsHexadecimalFields) {
    CmdHeader::lastReqId = 0x00aa;
    const CmdHeader header(Gvcp::CmdForceIp, Gvcp::FlagBroadcastAck, 56);
    std::ostringstream out;
    header.Dump(out);
    EXPECT_EQ(out.str(), "--> cmd.header.magic:\t42\n"
                         "--> cmd.header.flag:\t11\n"
                         "--> cmd.header.command:\t4\n"
                         "--> cmd.header.length:\t38\n"
                         "--> cmd.req_id:\tab\n");
    // The stream's own formatting is left as it was.
    out.str("");
    out << 10;
    EXPECT_EQ(out.str(), "10");
}

TEST(CmdHeader, ConcurrentHeadersNeverLoseAnIncrement) {
    constexpr int Threads = 8;
    constexpr int PerThread = 8000; // 64000 ids: fewer than one wrap, so all distinct
    const uint16_t before = CmdHeader::lastReqId.load();
    std::vector<std::vector<uint16_t>> ids(Threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&ids, t] {
            ids[t].reserve(PerThread);
            for (int i = 0; i < PerThread; ++i)
                ids[t].push_back(CmdHeader(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4).Id());
        });
    }
    for (auto& worker : workers)
        worker.join();
    std::set<uint16_t> distinct;
    for (const auto& list : ids)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(Threads * PerThread));
    EXPECT_EQ(CmdHeader::lastReqId.load(), static_cast<uint16_t>(before + Threads * PerThread));
}

struct WriteMemSizing {
    size_t text;
    size_t data;
    size_t length;
    size_t datagram;
};

class WriteMemSizes : public ::testing::TestWithParam<WriteMemSizing> {};

TEST_P(WriteMemSizes, PadToMultipleOfFourWithATerminatingZero) {
    const WriteMemSizing s = GetParam();
    EXPECT_EQ(Gvcp::WriteMemDataCount(s.text), s.data);
    EXPECT_EQ(Gvcp::WriteMemLength(s.text), s.length);
    EXPECT_EQ(Gvcp::WriteMemDatagramSize(s.text), s.datagram);

    const std::string text(s.text, 'a');
    const WriteMemCmd command(0x00010000, text);
    ASSERT_EQ(command.Size(), s.datagram);
    EXPECT_EQ(command.Header().Length(), s.length);
    EXPECT_EQ(command.Header().CommandId(), Gvcp::CmdWriteMem);
    EXPECT_EQ(command.Header().Flag(), Gvcp::FlagAckRequired);
    EXPECT_EQ(command.Address(), 0x00010000u);
    const uint8_t* data = command.Data() + 12;
    EXPECT_TRUE(std::all_of(data, data + s.text, [](uint8_t b) { return b == 'a'; }));
    EXPECT_TRUE(std::all_of(data + s.text, data + s.data, [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WriteMemSizes,
    ::testing::Values(WriteMemSizing{12, 16, 20, 28}, WriteMemSizing{15, 20, 24, 32},
                      WriteMemSizing{536, 540, 544, 552}, WriteMemSizing{0, 4, 8, 16},
                      WriteMemSizing{3, 8, 12, 20}, WriteMemSizing{4, 8, 12, 20}));

TEST(WriteMemCmd, FifteenByteTextByteForByte) {
    CmdHeader::lastReqId = 0x0400;
    WriteMemCmd command(0x12345678, "Hello, camera!!");
    const std::vector<uint8_t> expected = {
        0x42, 0x01, 0x00, 0x86, 0x00, 0x18, 0x04, 0x01, // header, length 24
        0x12, 0x34, 0x56, 0x78,                         // address
        'H',  'e',  'l',  'l',  'o',  ',',  ' ',  'c',  'a', 'm',
        'e',  'r',  'a',  '!',  '!',  0,    0,    0,    0,   0};
    EXPECT_EQ(std::vector<uint8_t>(command.Data(), command.Data() + command.Size()), expected);
    EXPECT_EQ(command.Renew(), 0x0402);
    EXPECT_EQ(command.Data()[7], 0x02);
}

TEST(WriteMemCmd, RefusesTextsAbove536Bytes) {
    const uint16_t before = CmdHeader::lastReqId.load();
    try {
        WriteMemCmd command(0, std::string(537, 'x'));
        FAIL() << "no exception";
    } catch (const XEVException& error) {
        EXPECT_STREQ(error.what(), "Error : WriteMem is limited to 536 bytes");
    }
    EXPECT_EQ(CmdHeader::lastReqId.load(), before);
}
