// GVCP commands built byte for byte, acknowledges decoded from hand-written
// bytes, and the checks that accept or refuse an acknowledge.
#include "DiagnosticsCapture.h"
#include "Gige/DeviceInfo.h"
#include "Gige/ForceIpAck.h"
#include "Gige/ForceIpCmd.h"
#include "Gige/WriteMemCmd.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace XEVLibrary;
using Bytes = std::vector<uint8_t>;

namespace {

void put(Bytes& packet, size_t offset, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), packet.begin() + static_cast<long>(offset));
}

void putText(Bytes& packet, size_t offset, const char* text) {
    std::memcpy(packet.data() + offset, text, std::strlen(text));
}

template <typename Container>
Bytes bytesOf(const Container& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

Bytes bytesOf(const WriteMemCmd& command) {
    return Bytes(command.Data(), command.Data() + command.Size());
}

CmdHeader readReg() {
    return CmdHeader(Gvcp::CmdReadReg, Gvcp::FlagAckRequired, 4);
}

/// A discovery acknowledge laid out byte by byte. The model name and the
/// version fill their fields to the last byte, without a zero.
Bytes discoveryAck() {
    Bytes packet(256, 0);
    put(packet, 0, {0x00, 0x00, 0x00, 0x03, 0x00, 0xf8, 0x12, 0x34}); // status, answer, len, id
    put(packet, 18, {0x00, 0x0c, 0x0a, 0x01, 0x02, 0x03});            // MAC
    put(packet, 44, {192, 168, 10, 42});
    put(packet, 60, {255, 255, 255, 0});
    put(packet, 76, {192, 168, 10, 1});
    putText(packet, 80, "Xev-Sensor-Optical-Works");
    putText(packet, 112, "Kestrel-640-InGaAs-TEC-cooled-01");
    putText(packet, 144, "1.4.2 (2024-01-17) build 0815 rc");
    putText(packet, 240, "lab camera no. 7");
    return packet;
}

} // namespace

TEST(CmdHeader, RequestIdsStartAtOneWrapToZeroAndRenewFromTheSharedCounter) {
    CmdHeader::lastReqId = 0;
    EXPECT_EQ(readReg().Id(), 1);
    CmdHeader::lastReqId = 65534;
    EXPECT_EQ(readReg().Id(), 65535);
    CmdHeader header = readReg();
    EXPECT_EQ(header.Id(), 0);
    EXPECT_EQ(readReg().Id(), 1);
    // A resend draws the next id of the counter all commands share.
    CmdHeader::lastReqId = 0x0101;
    EXPECT_EQ(header.Renew(), 0x0102);
    EXPECT_EQ(bytesOf(header.Bytes()), (Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x01, 0x02}));
    EXPECT_EQ(readReg().Id(), 0x0103);
}

TEST(CmdHeader, ConcurrentHeadersNeverLoseAnIncrement) {
    constexpr int Threads = 8, PerThread = 8000; // 64000 ids: less than one wrap, all distinct
    const uint16_t before = CmdHeader::lastReqId.load();
    std::vector<uint16_t> ids(Threads * PerThread);
    std::vector<std::thread> workers;
    for (auto part = ids.begin(); part != ids.end(); part += PerThread)
        workers.emplace_back(
            [part] { std::generate_n(part, PerThread, [] { return readReg().Id(); }); });
    for (auto& worker : workers)
        worker.join();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an id was drawn twice";
    EXPECT_EQ(CmdHeader::lastReqId.load(), static_cast<uint16_t>(before + Threads * PerThread));
}

TEST(WriteMemCmd, FifteenByteTextByteForByte) {
    CmdHeader::lastReqId = 0x0400;
    WriteMemCmd command(0x12345678, "Hello, camera!!");
    Bytes expected = {0x42, 0x01, 0x00, 0x86, 0x00, 0x18, 0x04, 0x01, // header, length 24
                      0x12, 0x34, 0x56, 0x78,                         // address
                      'H',  'e',  'l',  'l',  'o',  ',',  ' ',  'c',  'a', 'm',
                      'e',  'r',  'a',  '!',  '!',  0,    0,    0,    0,   0};
    EXPECT_EQ(bytesOf(command), expected);
    EXPECT_EQ(command.Renew(), 0x0402);
    expected[7] = 0x02;
    EXPECT_EQ(bytesOf(command), expected);
}

TEST(WriteMemCmd, TextIsPaddedWithAtLeastOneZeroToAMultipleOfFour) {
    struct {
        size_t text, length, datagram; // length: address and data
    } cases[] = {{0, 8, 16}, {3, 12, 20}, {4, 12, 20}, {536, 544, 552}};
    for (const auto& c : cases) {
        const WriteMemCmd command(0x00010000, std::string(c.text, 'a'));
        EXPECT_EQ(command.Size(), c.datagram) << c.text << " bytes";
        EXPECT_EQ(command.Header().Length(), c.length) << c.text << " bytes";
    }
    // Above 536 bytes: refused, without drawing an id.
    const uint16_t before = CmdHeader::lastReqId.load();
    EXPECT_EQ(XEVTest::messageOf([] { WriteMemCmd(0, std::string(537, 'x')); }),
              "Error : WriteMem is limited to 536 bytes");
    EXPECT_EQ(CmdHeader::lastReqId.load(), before);
}

TEST(ForceIpCmd, LayoutByteForByte) {
    CmdHeader::lastReqId = 0x00ff;
    const ForceIpCmd command("192.168.1.10", "255.255.255.0", "192.168.1.1", "00:0c:0a:01:02:03");
    Bytes expected(64, 0);
    put(expected, 0, {0x42, 0x11, 0x00, 0x04, 0x00, 0x38, 0x01, 0x00}); // length 56
    put(expected, 10, {0x00, 0x0c, 0x0a, 0x01, 0x02, 0x03});            // MAC
    put(expected, 28, {192, 168, 1, 10});                               // static IP
    put(expected, 44, {255, 255, 255, 0});                              // mask
    put(expected, 60, {192, 168, 1, 1});                                // gateway
    EXPECT_EQ(bytesOf(command.Bytes()), expected);
}

TEST(ForceIpCmd, MacPairsInEitherCaseWithSeparatorsOfAnyKind) {
    const std::tuple<const char*, uint16_t, uint32_t> cases[] = {
        {"00x0c.0A 01/02:03", 0x000c, 0x0a010203},
        {"fe:dc:ba:98:76:54", 0xfedc, 0xba987654},
        {"FE-DC-BA-98-76-54", 0xfedc, 0xba987654}};
    for (const auto& [text, high, low] : cases) {
        uint16_t parsedHigh = 0xffff;
        uint32_t parsedLow = 0xffffffff;
        ForceIpCmd::ParseMac(text, parsedHigh, parsedLow);
        EXPECT_EQ(parsedHigh, high) << text;
        EXPECT_EQ(parsedLow, low) << text;
    }
}

TEST(ForceIpCmd, InvalidTextsRaiseAndDrawNoId) {
    const std::string ip = "192.168.1.10", mac = "00:0c:0a:01:02:03";
    struct {
        std::string ip, mask, gateway, mac, bad;
    } cases[] = {
        {"192.168.1", ip, ip, mac, "IPv4 address \"192.168.1\""},
        {ip, "256.255.255.0", ip, mac, "IPv4 address \"256.255.255.0\""},
        {ip, ip, "gateway", mac, "IPv4 address \"gateway\""},
        {ip, ip, std::string("10.0.0.1\0x", 10), mac, "IPv4 address \"10.0.0.1\""},
        {ip, ip, ip, "00:0c:0a:01:02", "MAC address \"00:0c:0a:01:02\""},
        {ip, ip, ip, "00:0c:0a:01:02:03:", "MAC address \"00:0c:0a:01:02:03:\""},
        {ip, ip, ip, "0g:0c:0a:01:02:03", "MAC address \"0g:0c:0a:01:02:03\""},
        {ip, ip, ip, "00:0c:0a:01:02: 3", "MAC address \"00:0c:0a:01:02: 3\""},
    };
    for (const auto& c : cases) {
        const uint16_t before = CmdHeader::lastReqId.load();
        EXPECT_EQ(XEVTest::messageOf([&] { ForceIpCmd(c.ip, c.mask, c.gateway, c.mac); }),
                  "Error : Invalid " + c.bad + ".");
        EXPECT_EQ(CmdHeader::lastReqId.load(), before) << c.bad;
    }
}

TEST(DeviceInfo, DecodesEveryFieldInHostOrder) {
    const Bytes packet = discoveryAck();
    const DeviceInfo info(packet.data(), packet.size());
    EXPECT_EQ(info.ReceivedLength(), 256u);
    EXPECT_EQ(info.MacAddressHigh(), 0x000c);
    EXPECT_EQ(info.MacAddressLow(), 0x0a010203u);
    EXPECT_EQ(info.CurrentIp(), 0xc0a80a2au);
    EXPECT_EQ(info.CurrentSubnetMask(), 0xffffff00u);
    EXPECT_EQ(info.DefaultGateway(), 0xc0a80a01u);
    // A text that fills its field shows nothing of its neighbour's first byte.
    EXPECT_EQ(info.ModelName(), "Kestrel-640-InGaAs-TEC-cooled-01");
    EXPECT_EQ(info.UserDefinedName(), "lab camera no. 7");
}

TEST(DeviceInfo, BytesThatDidNotArriveReadAsZero) {
    const Bytes full = discoveryAck();
    // Exactly the received size, so that a read past it is a sanitizer error.
    const Bytes received(full.begin(), full.begin() + 90);
    const DeviceInfo info(received.data(), received.size());
    EXPECT_EQ(info.ReceivedLength(), 90u);
    EXPECT_EQ(info.CurrentIp(), 0xc0a80a2au);
    EXPECT_EQ(info.ManufacturerName(), "Xev-Sensor");
    EXPECT_EQ(info.ModelName(), "");
    // A record received into in place keeps nothing of the earlier datagram.
    DeviceInfo inPlace(full.data(), full.size());
    std::memcpy(inPlace.ReceiveBuffer(), full.data(), 50);
    inPlace.SetReceivedLength(50);
    EXPECT_EQ(inPlace.ReceivedLength(), 50u);
    EXPECT_EQ(inPlace.CurrentIp(), 0xc0a80a2au);
    EXPECT_EQ(inPlace.CurrentSubnetMask(), 0u);
}

TEST(DeviceInfo, MakerCameraNeedsTheExactName) {
    const std::pair<const char*, bool> cases[] = {{"Xev-Sensor-Optical-Works", true},
                                                  {"Xev-Sensor-Optical-Works ", false},
                                                  {"xev-sensor-optical-works", false},
                                                  {"Xev-Sensor-Optical-Work", false},
                                                  {"Xev-Sensor-Optical-WorksXXXXXXXX", false},
                                                  {"", false}}; // the fifth: 32 characters, no zero
    for (const auto& [name, maker] : cases) {
        Bytes packet = discoveryAck();
        std::fill_n(packet.begin() + 80, 32, 0);
        putText(packet, 80, name);
        const DeviceInfo info(packet.data(), packet.size());
        EXPECT_EQ(info.ManufacturerName(), name);
        EXPECT_EQ(IsXEVCamera(info), maker) << name;
    }
}

/// An acknowledge as received and what validating it against its command
/// gives. Each ack type runs the shared checks in its own order and stops at
/// the first failure, printing why.
struct AckCase {
    const char* name;
    bool discovery; // a DISCOVERY acknowledge, otherwise a FORCEIP one
    uint16_t status, answer, ackId;
    size_t received;
    const char* output; // empty when valid
};

void PrintTo(const AckCase& c, std::ostream* out) {
    *out << c.name;
}

class AckValidation : public ::testing::TestWithParam<AckCase> {};

TEST_P(AckValidation, OutcomeAndMessage) {
    const AckCase& c = GetParam();
    CmdHeader::lastReqId = 0x0104;
    const CmdHeader command(c.discovery ? Gvcp::CmdDiscovery : Gvcp::CmdForceIp,
                            Gvcp::FlagBroadcastAck, 0); // request id 0x0105 = 261
    Bytes packet = c.discovery ? discoveryAck() : Bytes(8, 0);
    put(packet, 0,
        {uint8_t(c.status >> 8), uint8_t(c.status), uint8_t(c.answer >> 8), uint8_t(c.answer), 0, 0,
         uint8_t(c.ackId >> 8), uint8_t(c.ackId)});
    packet.resize(c.received);
    XEVTest::DiagnosticsCapture capture;
    const bool valid = c.discovery ? DeviceInfo(packet.data(), packet.size()).Valid(command)
                                   : ForceIpAck(packet.data(), packet.size()).Valid(command);
    EXPECT_EQ(valid, *c.output == '\0');
    EXPECT_EQ(capture.text(), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Acks, AckValidation,
    ::testing::Values(
        AckCase{"DiscoveryValidWhateverItsAckId", true, 0, 0x0003, 0x9999, 256, ""},
        AckCase{"DiscoveryOneByteShort", true, 0, 0x0003, 0x0105, 255,
                "short ack: 255 bytes received, 256 expected\n"},
        AckCase{"DiscoveryWrongAnswerBeforeStatus", true, 0x8006, 0x0081, 0x0105, 256,
                "ack.Answer 129 and cmd.CommandId 2 mismatch\n"},
        AckCase{"DiscoveryBadStatus", true, 0x8006, 0x0003, 0x0105, 256, "bad ack.Status 32774\n"},
        AckCase{"ForceIpValid", false, 0, 0x0005, 0x0105, 8, ""},
        AckCase{"ForceIpOneByteShort", false, 0, 0x0005, 0x0105, 7,
                "short ack: 7 bytes received, 8 expected\n"},
        AckCase{"ForceIpWrongIdBeforeAnswerAndStatus", false, 0x8006, 0x0003, 0x0104, 8,
                "ack.Id 260 and cmd.Id 261 mismatch\n"},
        AckCase{"ForceIpWrongAnswerBeforeStatus", false, 0x8006, 0x0003, 0x0105, 8,
                "ack.Answer 3 and cmd.CommandId 4 mismatch\n"},
        AckCase{"ForceIpBadStatus", false, 0x8006, 0x0005, 0x0105, 8, "bad ack.Status 32774\n"}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return info.param.name; });
