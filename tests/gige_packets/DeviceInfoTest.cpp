#include "Gige/DeviceInfo.h"
#include "DiagnosticsCapture.h"
#include "Gige/CmdHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

using namespace XEVLibrary;

namespace {

void put(std::vector<uint8_t>& packet, size_t offset, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), packet.begin() + static_cast<long>(offset));
}

void putText(std::vector<uint8_t>& packet, size_t offset, const char* text) {
    std::memcpy(packet.data() + offset, text, std::strlen(text));
}

/// A discovery acknowledge laid out byte by byte.
std::vector<uint8_t> discoveryAck() {
    std::vector<uint8_t> packet(256, 0);
    put(packet, 0, {0x00, 0x00, 0x00, 0x03, 0x00, 0xf8, 0x12, 0x34}); // status, answer, len, id
    put(packet, 8, {0x00, 0x02, 0x00, 0x00});                         // version 2.0
    put(packet, 12, {0x80, 0x00, 0x00, 0x01});                        // device mode
    put(packet, 18, {0x00, 0x0c, 0x0a, 0x01, 0x02, 0x03});            // MAC
    put(packet, 24, {0x80, 0x00, 0x00, 0x07});                        // IP config options
    put(packet, 28, {0x00, 0x00, 0x00, 0x04});                        // IP config current
    put(packet, 44, {192, 168, 10, 42});
    put(packet, 60, {255, 255, 255, 0});
    put(packet, 76, {192, 168, 10, 1});
    putText(packet, 80, "Xev-Sensor-Optical-Works");
    putText(packet, 112, "Kestrel-640");
    putText(packet, 144, "1.4.2");
    putText(packet, 176, "swir");
    putText(packet, 224, "SN000123");
    putText(packet, 240, "lab camera");
    return packet;
}

} // namespace

TEST(DeviceInfo, DecodesEveryFieldInHostOrder) {
    const std::vector<uint8_t> packet = discoveryAck();
    const DeviceInfo info(packet.data(), packet.size());
    EXPECT_EQ(info.Status(), 0);
    EXPECT_EQ(info.Answer(), 0x0003);
    EXPECT_EQ(info.DataBytes(), 248);
    EXPECT_EQ(info.Id(), 0x1234);
    EXPECT_EQ(info.SpecVersion(), "2.0");
    EXPECT_EQ(info.DeviceMode(), 0x80000001u);
    EXPECT_EQ(info.MacAddressHigh(), 0x000c);
    EXPECT_EQ(info.MacAddressLow(), 0x0a010203u);
    EXPECT_EQ(info.MacAddress(), "00:0c:0a:01:02:03");
    EXPECT_EQ(info.IpConfigOptions(), 0x80000007u);
    EXPECT_EQ(info.IpConfigCurrent(), 4u);
    EXPECT_EQ(info.CurrentIp(), 0xc0a80a2au);
    EXPECT_EQ(info.CurrentSubnetMask(), 0xffffff00u);
    EXPECT_EQ(info.DefaultGateway(), 0xc0a80a01u);
    EXPECT_EQ(info.ManufacturerName(), "Xev-Sensor-Optical-Works");
    EXPECT_EQ(info.ModelName(), "Kestrel-640");
    EXPECT_EQ(info.DeviceVersion(), "1.4.2");
    EXPECT_EQ(info.ManufacturerSpecificInformation(), "swir");
    EXPECT_EQ(info.SerialNumber(), "SN000123");
    EXPECT_EQ(info.UserDefinedName(), "lab camera");
    EXPECT_EQ(info.ReceivedLength(), 256u);
}

TEST(DeviceInfo, SpecVersionIsDecimal) {
    std::vector<uint8_t> packet = discoveryAck();
    put(packet, 8, {0x00, 0x01, 0x00, 0x0c});
    EXPECT_EQ(DeviceInfo(packet.data(), packet.size()).SpecVersion(), "1.12");
}

TEST(DeviceInfo, MacAddressKeepsLeadingZeros) {
    std::vector<uint8_t> packet = discoveryAck();
    put(packet, 18, {0x00, 0x00, 0x00, 0x0f, 0xa0, 0x00});
    const std::string mac = DeviceInfo(packet.data(), packet.size()).MacAddress();
    EXPECT_EQ(mac, "00:00:00:0f:a0:00");
    EXPECT_EQ(mac.size(), 17u);
}

TEST(DeviceInfo, TextsStopAtTheirFieldEnd) {
    std::vector<uint8_t> packet = discoveryAck();
    // Fields filled to the last byte, no zero: the neighbour must not leak in.
    std::memset(packet.data() + 112, 'M', 32);
    std::memset(packet.data() + 224, 'S', 16);
    std::memset(packet.data() + 240, 'U', 16);
    const DeviceInfo info(packet.data(), packet.size());
    EXPECT_EQ(info.ModelName(), std::string(32, 'M'));
    EXPECT_EQ(info.DeviceVersion(), "1.4.2");
    EXPECT_EQ(info.SerialNumber(), std::string(16, 'S'));
    EXPECT_EQ(info.UserDefinedName(), std::string(16, 'U'));
}

TEST(DeviceInfo, ShortDatagramReadsZeroBeyondWhatArrived) {
    const std::vector<uint8_t> full = discoveryAck();
    // A buffer of exactly the received size, so that any read past it is an
    // address-sanitizer error.
    const std::vector<uint8_t> received(full.begin(), full.begin() + 90);
    const DeviceInfo info(received.data(), received.size());
    EXPECT_EQ(info.ReceivedLength(), 90u);
    EXPECT_EQ(info.CurrentIp(), 0xc0a80a2au);
    EXPECT_EQ(info.ManufacturerName(), "Xev-Sensor");
    EXPECT_EQ(info.ModelName(), "");
    EXPECT_EQ(info.SerialNumber(), "");
    EXPECT_FALSE(IsXEVCamera(info));

    DeviceInfo reused(full.data(), full.size());
    reused.Assign(received.data(), 4);
    EXPECT_EQ(reused.Answer(), 0x0003);
    EXPECT_EQ(reused.DataBytes(), 0);
    EXPECT_EQ(reused.ModelName(), "");
}

TEST(DeviceInfo, ReceivingInPlaceZeroesTheRest) {
    std::vector<uint8_t> packet = discoveryAck();
    DeviceInfo info(packet.data(), packet.size());
    std::memcpy(info.ReceiveBuffer(), packet.data(), 50);
    info.SetReceivedLength(50);
    EXPECT_EQ(info.ReceivedLength(), 50u);
    EXPECT_EQ(info.CurrentIp(), 0xc0a80a2au);
    // Left over from the earlier datagram, and now cleared.
    EXPECT_EQ(info.CurrentSubnetMask(), 0u);
    EXPECT_EQ(info.ManufacturerName(), "");
}

TEST(DeviceInfo, PreparedBufferAndLocalFields) {
    DeviceInfo info;
    EXPECT_EQ(info.ReceivedLength(), 0u);
    EXPECT_EQ(info.IfIndex(), 0u);
    EXPECT_EQ(info.LocalIp(), 0u);
    EXPECT_TRUE(info.IsXevCamera());
    EXPECT_TRUE(info.IsReachable());
    info.SetIfIndex(3);
    info.SetLocalIp(0xc0a80a05);
    info.SetNotXevCamera();
    info.SetNotReachable();

    const std::vector<uint8_t> packet = discoveryAck();
    info.Assign(packet.data(), packet.size());
    const DeviceInfo copy(info);
    DeviceInfo assigned;
    assigned = info;
    for (const DeviceInfo* other : {&copy, static_cast<const DeviceInfo*>(&assigned)}) {
        EXPECT_EQ(other->Raw(), info.Raw());
        EXPECT_EQ(other->ReceivedLength(), 256u);
        EXPECT_EQ(other->IfIndex(), 3u);
        EXPECT_EQ(other->LocalIp(), 0xc0a80a05u);
        EXPECT_FALSE(other->IsXevCamera());
        EXPECT_FALSE(other->IsReachable());
    }
}

TEST(DeviceInfo, UpdatesWriteAddressesBigEndian) {
    const std::vector<uint8_t> packet = discoveryAck();
    DeviceInfo info(packet.data(), packet.size());
    info.UpdateCurrentIp(0x0a000102);
    info.UpdateCurrentSubnetMask(0xffff0000);
    info.UpdateDefaultGateway(0x0a000001);
    EXPECT_EQ(info.Raw()[44], 0x0a);
    EXPECT_EQ(info.Raw()[47], 0x02);
    EXPECT_EQ(info.Raw()[60], 0xff);
    EXPECT_EQ(info.Raw()[62], 0x00);
    EXPECT_EQ(info.Raw()[76], 0x0a);
    EXPECT_EQ(info.Raw()[79], 0x01);
    EXPECT_EQ(info.CurrentIp(), 0x0a000102u);
    EXPECT_EQ(info.CurrentSubnetMask(), 0xffff0000u);
    EXPECT_EQ(info.DefaultGateway(), 0x0a000001u);
}

struct AckCase {
    const char* name;
    uint16_t answer;
    uint16_t status;
    uint16_t ackId;
    size_t received;
    bool valid;
    const char* output;
};

class DiscoveryAckValidation : public ::testing::TestWithParam<AckCase> {};

TEST_P(DiscoveryAckValidation, OutcomeAndMessage) {
    const AckCase c = GetParam();
    CmdHeader::lastReqId = 0x0041;
    const CmdHeader discovery(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0);
    std::vector<uint8_t> packet = discoveryAck();
    put(packet, 0,
        {uint8_t(c.status >> 8), uint8_t(c.status), uint8_t(c.answer >> 8), uint8_t(c.answer)});
    put(packet, 6, {uint8_t(c.ackId >> 8), uint8_t(c.ackId)});
    packet.resize(c.received);
    const DeviceInfo info(packet.data(), packet.size());
    XEVTest::DiagnosticsCapture capture;
    EXPECT_EQ(info.Valid(discovery), c.valid);
    EXPECT_EQ(capture.text(), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryAckValidation,
    ::testing::Values(AckCase{"MatchingId", 0x0003, 0, 0x0042, 256, true, ""},
                      AckCase{"AnyAckId", 0x0003, 0, 0x9999, 256, true, ""},
                      AckCase{"AccessDenied", 0x0003, 0x8006, 0x0042, 256, false,
                              "bad ack.Status 32774\n"},
                      AckCase{"WrongAnswer", 0x0005, 0, 0x0042, 256, false,
                              "ack.Answer 5 and cmd.CommandId 2 mismatch\n"},
                      AckCase{"AnswerCheckedFirst", 0x0081, 0x8006, 0x0042, 256, false,
                              "ack.Answer 129 and cmd.CommandId 2 mismatch\n"},
                      AckCase{"Short", 0x0003, 0, 0x0042, 255, false,
                              "short ack: 255 bytes received, 256 expected\n"},
                      AckCase{"HeaderOnly", 0x0003, 0, 0x0042, 8, false,
                              "short ack: 8 bytes received, 256 expected\n"}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return info.param.name; });

TEST(DeviceInfo, MakerCameraNeedsTheExactName) {
    struct {
        const char* name;
        bool maker;
    } cases[] = {{"Xev-Sensor-Optical-Works", true},
                 {"Xev-Sensor-Optical-Works ", false},
                 {"xev-sensor-optical-works", false},
                 {"Xev-Sensor-Optical-Work", false},
                 {"Xev-Sensor-Optical-WorksXXXXXXXX", false}, // 32 characters, no zero
                 {"", false}};
    for (const auto& c : cases) {
        std::vector<uint8_t> packet = discoveryAck();
        std::memset(packet.data() + 80, 0, 32);
        putText(packet, 80, c.name);
        EXPECT_EQ(IsXEVCamera(DeviceInfo(packet.data(), packet.size())), c.maker) << c.name;
    }
}

TEST(DeviceInfo, DumpListsEveryField) {
    const std::vector<uint8_t> packet = discoveryAck();
    const DeviceInfo info(packet.data(), packet.size());
    std::ostringstream out;
    info.Dump(out);
    EXPECT_EQ(out.str(), "<-- ack_id:\t1234\n"
                         "<-- status:\t0\n"
                         "<-- answer:\t3\n"
                         "<-- length:\tf8\n"
                         "<-- spec_version:\t\t\t2.0\n"
                         "<-- device_mode:\t\t\t80000001\n"
                         "<-- MACAddress:\t\t\t00:0c:0a:01:02:03\n"
                         "<-- IPConfigOptions:\t\t\t80000007\n"
                         "<-- IPConfigCurrent:\t\t\t4\n"
                         "<-- CurrentIP:\t\t\t\t192.168.10.42\n"
                         "<-- CurrentSubnetMask:\t\t\t255.255.255.0\n"
                         "<-- DefautlGateway:\t\t\t192.168.10.1\n"
                         "<-- ManufacturerName:\t\t\tXev-Sensor-Optical-Works\n"
                         "<-- ModelName:\t\t\t\tKestrel-640\n"
                         "<-- DeviceVersion:\t\t\t1.4.2\n"
                         "<-- ManufacturerSpecificInformation:\tswir\n"
                         "<-- SerialNumber:\t\t\tSN000123\n"
                         "<-- UserDefinedName:\t\t\tlab camera\n");
}

TEST(DeviceInfo, DumpRawPrintsAtMostTheBuffer) {
    const std::vector<uint8_t> packet = discoveryAck();
    const DeviceInfo info(packet.data(), packet.size());
    std::ostringstream out;
    info.DumpRaw(out, 8);
    EXPECT_EQ(out.str(), "00 00 00 03 00 f8 12 34\n");
    out.str("");
    info.DumpRaw(out, 100000);
    EXPECT_EQ(out.str().size(), 256u * 3);
    EXPECT_EQ(out.str().substr(out.str().size() - 6), "00 00\n");
}
