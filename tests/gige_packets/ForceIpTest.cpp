#include "DiagnosticsCapture.h"
#include "Gige/CmdHeader.h"
#include "Gige/ForceIpAck.h"
#include "Gige/ForceIpCmd.h"
#include "XEVException.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace XEVLibrary;

TEST(ForceIpCmd, LayoutByteForByte) {
    CmdHeader::lastReqId = 0x00ff;
    const ForceIpCmd command("192.168.1.10", "255.255.255.0", "192.168.1.1", "00:0c:0a:01:02:03");
    std::vector<uint8_t> expected(64, 0);
    const uint8_t header[] = {0x42, 0x11, 0x00, 0x04, 0x00, 0x38, 0x01, 0x00};
    std::copy(std::begin(header), std::end(header), expected.begin());
    const uint8_t mac[] = {0x00, 0x0c, 0x0a, 0x01, 0x02, 0x03};
    std::copy(std::begin(mac), std::end(mac), expected.begin() + 10);
    const uint8_t ip[] = {192, 168, 1, 10}, mask[] = {255, 255, 255, 0}, gw[] = {192, 168, 1, 1};
    std::copy(std::begin(ip), std::end(ip), expected.begin() + 28);
    std::copy(std::begin(mask), std::end(mask), expected.begin() + 44);
    std::copy(std::begin(gw), std::end(gw), expected.begin() + 60);
    EXPECT_EQ(std::vector<uint8_t>(command.Bytes().begin(), command.Bytes().end()), expected);
    EXPECT_EQ(command.Id(), 0x0100);
    EXPECT_EQ(command.StaticIp(), 0xc0a8010au);
    EXPECT_EQ(command.StaticSubnetMask(), 0xffffff00u);
    EXPECT_EQ(command.StaticDefaultGateway(), 0xc0a80101u);
}

TEST(ForceIpCmd, MacSeparatorsMayBeAnything) {
    for (const char* text : {"00:0c:0a:01:02:03", "00-0C-0A-01-02-03", "00 0c 0a 01 02 03",
                             "00.0c.0A.01.02.03", "00x0cx0ax01x02x03", "00:0c-0a 01.02/03"}) {
        uint16_t high = 0xffff;
        uint32_t low = 0xffffffff;
        ForceIpCmd::ParseMac(text, high, low);
        EXPECT_EQ(high, 0x000c) << text;
        EXPECT_EQ(low, 0x0a010203u) << text;
    }
    const ForceIpCmd command("10.0.0.2", "255.0.0.0", "10.0.0.1", "fe-DC-ba-98-76-54");
    EXPECT_EQ(command.MacAddressHigh(), 0xfedc);
    EXPECT_EQ(command.MacAddressLow(), 0xba987654u);
}

TEST(ForceIpCmd, InvalidTextsRaiseAndDrawNoId) {
    const std::string good = "192.168.1.10";
    const std::string mac = "00:0c:0a:01:02:03";
    struct {
        std::string ip, mask, gateway, mac, message;
    } cases[] = {
        {"192.168.1", good, good, mac, "Error : Invalid IPv4 address \"192.168.1\"."},
        {good, "256.255.255.0", good, mac, "Error : Invalid IPv4 address \"256.255.255.0\"."},
        {good, good, "gateway", mac, "Error : Invalid IPv4 address \"gateway\"."},
        {good, good, std::string("10.0.0.1\0x", 10), mac,
         "Error : Invalid IPv4 address \"10.0.0.1\"."},
        {good, good, good, "00:0c:0a:01:02", "Error : Invalid MAC address \"00:0c:0a:01:02\"."},
        {good, good, good,
         "00:0c:0a:01:02:03:", "Error : Invalid MAC address \"00:0c:0a:01:02:03:\"."},
        {good, good, good, "0g:0c:0a:01:02:03",
         "Error : Invalid MAC address \"0g:0c:0a:01:02:03\"."},
        {good, good, good, "00:0c:0a:01:02: 3",
         "Error : Invalid MAC address \"00:0c:0a:01:02: 3\"."},
    };
    for (const auto& c : cases) {
        const uint16_t before = CmdHeader::lastReqId.load();
        try {
            ForceIpCmd command(c.ip, c.mask, c.gateway, c.mac);
            ADD_FAILURE() << "accepted " << c.ip << " " << c.mask << " " << c.gateway << " "
                          << c.mac;
        } catch (const XEVException& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_EQ(CmdHeader::lastReqId.load(), before);
    }
}

TEST(ForceIpCmd, DumpLines) {
    CmdHeader::lastReqId = 0x000f;
    const ForceIpCmd command("192.168.1.10", "255.255.255.0", "192.168.1.1", "00:0c:0a:01:02:03");
    std::ostringstream out;
    command.Dump(out);
    EXPECT_EQ(out.str(), "--> cmd.header.magic:\t42\n"
                         "--> cmd.header.flag:\t11\n"
                         "--> cmd.header.command:\t4\n"
                         "--> cmd.header.length:\t38\n"
                         "--> cmd.req_id:\t10\n"
                         "--> MACAddressHigh:\tc\n"
                         "--> MACAddressLow:\ta010203\n"
                         "--> staticIP:\tc0a8010a\n"
                         "--> staticDefaultGateway:\tc0a80101\n"
                         "--> staticSubnetMask:\tffffff00\n");
}

struct ForceIpAckCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool valid;
    const char* output;
};

class ForceIpAckValidation : public ::testing::TestWithParam<ForceIpAckCase> {};

TEST_P(ForceIpAckValidation, OutcomeAndMessage) {
    const ForceIpAckCase& c = GetParam();
    CmdHeader::lastReqId = 0x0104;
    const CmdHeader command(Gvcp::CmdForceIp, Gvcp::FlagBroadcastAck, 56); // id 0x0105 = 261
    const ForceIpAck ack(c.bytes.data(), c.bytes.size());
    XEVTest::DiagnosticsCapture capture;
    EXPECT_EQ(ack.Valid(command), c.valid);
    EXPECT_EQ(capture.text(), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForceIpAckValidation,
    ::testing::Values(
        ForceIpAckCase{"Valid", {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x01, 0x05}, true, ""},
        ForceIpAckCase{"WrongId",
                       {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x01, 0x04},
                       false,
                       "ack.Id 260 and cmd.Id 261 mismatch\n"},
        ForceIpAckCase{"IdCheckedFirst",
                       {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0x00, 0x07},
                       false,
                       "ack.Id 7 and cmd.Id 261 mismatch\n"},
        ForceIpAckCase{"WrongAnswer",
                       {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0x01, 0x05},
                       false,
                       "ack.Answer 3 and cmd.CommandId 4 mismatch\n"},
        ForceIpAckCase{"BadStatus",
                       {0x80, 0x06, 0x00, 0x05, 0x00, 0x00, 0x01, 0x05},
                       false,
                       "bad ack.Status 32774\n"},
        ForceIpAckCase{"Short",
                       {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x01},
                       false,
                       "short ack: 7 bytes received, 8 expected\n"}),
    [](const ::testing::TestParamInfo<ForceIpAckCase>& info) { return info.param.name; });

TEST(AckHeader, DecodesBigEndianAndZeroFills) {
    const std::vector<uint8_t> bytes = {0x80, 0x06, 0x00, 0x81, 0x00, 0x04, 0xbe, 0xef, 0x11};
    const AckHeader ack(bytes.data(), bytes.size());
    EXPECT_TRUE(ack.Complete());
    EXPECT_EQ(ack.Status(), Gvcp::StatusAccessDenied);
    EXPECT_EQ(ack.Answer(), Gvcp::AckReadReg);
    EXPECT_EQ(ack.Length(), 4);
    EXPECT_EQ(ack.Id(), 0xbeef);

    const std::vector<uint8_t> runt(bytes.begin(), bytes.begin() + 5);
    const AckHeader shortAck(runt.data(), runt.size());
    EXPECT_FALSE(shortAck.Complete());
    EXPECT_EQ(shortAck.ReceivedLength(), 5u);
    EXPECT_EQ(shortAck.Length(), 0);
    EXPECT_EQ(shortAck.Id(), 0);
}
