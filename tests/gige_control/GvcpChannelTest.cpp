#include "CameraAddress.h"
#include "DiagnosticsCapture.h"
#include "TestSupport.h"

#include "Gige/CmdHeader.h"
#include "Gige/GvcpChannel.h"
#include "XEVException.h"
#include "XEVGigeCameraEmulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::GvcpChannel;
using XEVLibrary::Emulator::GigeModel;
using XEVLibrary::Emulator::XEVGigeCameraConfig;
using XEVLibrary::Emulator::XEVGigeDescriptionFault;
using XEVLibrary::Emulator::XEVGigeEmulatedCamera;
using XEVLibrary::Emulator::XEVGigeFaults;
using Clock = std::chrono::steady_clock;

class GvcpChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        camera = std::make_unique<XEVGigeEmulatedCamera>(
            XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, address));
    }

    std::unique_ptr<GvcpChannel> Open() {
        return std::make_unique<GvcpChannel>("127.0.0.1", address, [this] { ++lost; });
    }

    void Fault(void (*set)(XEVGigeFaults&)) {
        XEVGigeFaults faults;
        set(faults);
        camera->setFaults(faults);
    }

    std::string address = cameraAddress();
    std::unique_ptr<XEVGigeEmulatedCamera> camera;
    std::atomic<int> lost{0};
};

TEST_F(GvcpChannelTest, OpeningTakesControlAndReadsTheDescriptionIn512ByteBlocks) {
    std::unique_ptr<GvcpChannel> channel;
    finishesWithin("opening", [&] { channel = Open(); });
    EXPECT_TRUE(channel->IsOpen());
    EXPECT_TRUE(camera->hasController());
    EXPECT_TRUE(channel->Genicam().FeatureExist("Width"));
    const std::string url = channel->ReadStringRegister(GvcpChannel::FirstUrlRegister);
    const std::size_t zipped = std::stoul(url.substr(url.rfind(';') + 1), nullptr, 16);
    // The first URL, then the file block by block (one READMEM above).
    EXPECT_EQ(camera->counters().readMemories, 1 + (zipped + 511) / 512 + 1);
    EXPECT_EQ(camera->registerValue(GvcpChannel::HeartbeatTimeoutRegister), 3000u);
    channel.reset();
    EXPECT_FALSE(camera->hasController()); // released on closing
}

TEST_F(GvcpChannelTest, RegistersTextsAndRefusals) {
    auto channel = Open();
    EXPECT_TRUE(channel->SendRegister("Width", 320));
    EXPECT_EQ(channel->ReadRegister("Width"), 320u);
    EXPECT_TRUE(channel->SendMemRegister("GevUserDefinedName", "Bench 3"));
    EXPECT_EQ(channel->ReadStringRegister("GevUserDefinedName"), "Bench 3");
    EXPECT_EQ(channel->ReadStringRegister("GevModelName"), "HeronGigE");
    EXPECT_EQ(messageOf([&] { channel->SendMemRegister(0x00E8, std::string(537, 'x')); }),
              "Error : WriteMem is limited to 536 bytes");
    const auto writes = camera->counters().writeRegisters;
    DiagnosticsCapture diagnostics;
    // A read-only register: refused with an error status, retried, then false.
    EXPECT_FALSE(channel->SendRegister("SensorWidth", 1));
    EXPECT_EQ(camera->counters().writeRegisters - writes, 11u);
    EXPECT_NE(diagnostics.text().find("WriteRegException status: 8004\n"), std::string::npos);
    // ACCESS_DENIED: false after a single attempt.
    Fault([](XEVGigeFaults& f) { f.accessDenied = true; });
    EXPECT_FALSE(channel->SendRegister("Width", 64));
    EXPECT_EQ(camera->counters().writeRegisters - writes, 12u);
    EXPECT_NE(diagnostics.text().find("WriteReg GEV_STATUS_ACCESS_DENIED\n"), std::string::npos);
}

TEST_F(GvcpChannelTest, AStaleAcknowledgeIsNeverTakenForTheAnswer) {
    auto channel = Open();
    ASSERT_TRUE(channel->SendRegister("Height", 256));
    Fault([](XEVGigeFaults& f) { f.staleAcknowledgeFirst = true; });
    const auto before = camera->counters();
    EXPECT_EQ(channel->ReadRegister("Height"), 256u);
    EXPECT_TRUE(channel->SendRegister("Height", 128));
    EXPECT_EQ(channel->ReadRegister("Height"), 128u);
    const auto after = camera->counters();
    EXPECT_EQ(after.readRegisters - before.readRegisters, 2u); // no resend
    EXPECT_EQ(after.writeRegisters - before.writeRegisters, 1u);
}

TEST_F(GvcpChannelTest, ASilentCameraIsLostAfterElevenAttemptsAndNobodyWaitsForever) {
    auto channel = Open();
    Fault([](XEVGigeFaults& f) { f.silent = true; });
    const auto commands = camera->counters().commands;
    const uint16_t firstId = XEVLibrary::CmdHeader::lastReqId + 1;
    const auto start = Clock::now();
    std::string message;
    finishesWithin("a read from a silent camera",
                   [&] { message = messageOf([&] { channel->ReadRegister("Width"); }); });
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(message, "Error : The camera did not answer the reading of register 0x10008.");
    EXPECT_EQ(camera->counters().commands - commands, 11u);
    EXPECT_EQ(static_cast<uint16_t>(XEVLibrary::CmdHeader::lastReqId - firstId), 10);
    EXPECT_GE(elapsed, 1000ms); // 11 attempts of 100 ms
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_TRUE(waitUntil([&] { return lost == 1; })); // told after the caller

    finishesWithin("a read after the loss", [&] {
        EXPECT_EQ(messageOf([&] { channel->ReadRegister("Width"); }),
                  "Error : The control channel of the camera at " + address + " is closed.");
    });
    finishesWithin("closing", [&] { channel.reset(); });
}

TEST_F(GvcpChannelTest, HeartbeatKeepsControlAtHalfTheTimeout) {
    auto channel = Open();
    const auto heartbeats = [&] { return camera->counters().heartbeats; };
    const uint64_t first = heartbeats();
    auto start = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return heartbeats() == first + 1; }, 5000ms));
    const auto defaultPeriod = Clock::now() - start;
    EXPECT_GE(defaultPeriod, 1400ms); // 3000 ms / 2 after the last command
    EXPECT_LE(defaultPeriod, 4000ms);

    ASSERT_TRUE(channel->SendRegister(GvcpChannel::HeartbeatTimeoutRegister, 1000));
    const uint64_t second = heartbeats();
    start = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return heartbeats() == second + 3; }, 5000ms));
    const auto threePeriods = Clock::now() - start;
    EXPECT_GE(threePeriods, 1400ms); // 3 x 500 ms
    EXPECT_LE(threePeriods, 4000ms);
    EXPECT_TRUE(camera->hasController()); // 1.5 s without commands, yet still controlled
}

TEST_F(GvcpChannelTest, DescriptionsThatCannotBeReadFailTheOpening) {
    const std::pair<XEVGigeDescriptionFault, const char*> faults[] = {
        {XEVGigeDescriptionFault::PlainXml, "Bad zip file signature"},
        {XEVGigeDescriptionFault::OtherScheme, "description File not of type local"},
        {XEVGigeDescriptionFault::AbsurdLength, "description File length 4294967295 refused"},
        {XEVGigeDescriptionFault::Truncated, "Bad zip file: the compressed data run beyond"},
        {XEVGigeDescriptionFault::Corrupt, "inflate error: -3: "},
    };
    for (const auto& [fault, message] : faults) {
        XEVGigeFaults f;
        f.description = fault;
        camera->setFaults(f);
        DiagnosticsCapture diagnostics;
        EXPECT_EQ(messageOf([&] { Open(); }),
                  "CriticalError : Unable to load xml device description file");
        EXPECT_NE(diagnostics.text().find(message), std::string::npos) << diagnostics.text();
        EXPECT_FALSE(camera->hasController()); // given back on failing
    }
}

TEST_F(GvcpChannelTest, BusyCameraIsWaitedFor) {
    auto channel = Open();
    ASSERT_TRUE(channel->SendCommand("NucCompute1Pts", 1));
    EXPECT_NE(channel->ReadRegister("NIOS_is_BUSY"), 0u);
    finishesWithin("waiting for the camera", [&] { channel->WaitNiosNotBusy(); });
    EXPECT_EQ(channel->ReadRegister("NIOS_is_BUSY"), 0u);
}

TEST_F(GvcpChannelTest, AnUnreachableCameraLeavesTheChannelClosed) {
    camera.reset();
    std::unique_ptr<GvcpChannel> channel;
    finishesWithin(
        "opening without camera", [&] { channel = Open(); }, 20000ms);
    EXPECT_FALSE(channel->IsOpen());
}

} // namespace
} // namespace XEVTest
