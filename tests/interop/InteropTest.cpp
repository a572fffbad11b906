// Judges from outside the project: Aravis's arv-tool reads and writes the
// emulated camera as any GigE Vision client would, arv-camera-test streams
// from it, and tshark dissects the datagrams of a library session without
// finding a malformed one.
#include "CameraAddress.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "Gige/GigeTransport.h"
#include "Gige/GvcpChannel.h"
#include "XEVGigeCameraEmulator.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::Emulator::GigeModel;
using XEVLibrary::Emulator::XEVGigeCameraConfig;
using XEVLibrary::Emulator::XEVGigeEmulatedCamera;

/// What @p command prints on standard output (and on standard error, with
/// @p errors), run with a time limit; its exit status in @p status.
std::string Output(const std::string& command, bool errors = true, int* status = nullptr) {
    std::string text;
    const std::string redirect = errors ? " 2>&1" : " 2>/dev/null";
    if (FILE* pipe = popen(("timeout 30 " + command + redirect).c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        const int ended = pclose(pipe);
        if (status)
            *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    }
    return text;
}

/// The value of a closing counter line "name = value" of arv-camera-test, or
/// -1 when it is missing.
long long ArvCounter(const std::string& output, const std::string& name) {
    const std::size_t line = output.find("\n" + name + " ");
    const std::size_t equals = output.find("= ", line);
    if (line == std::string::npos || equals == std::string::npos)
        return -1;
    return std::atoll(output.c_str() + equals + 2);
}

bool Installed(const char* program) {
    return Output(std::string("sh -c 'command -v ") + program + "'").find(program) !=
           std::string::npos;
}

TEST(Interop, ArvToolListsReadsAndWritesTheEmulatedCamera) {
    if (!Installed("arv-tool-0.8"))
        GTEST_SKIP() << "arv-tool-0.8 is not installed (Debian package aravis-tools-cli)";
    const std::string address = cameraAddress();
    XEVGigeEmulatedCamera camera(XEVGigeCameraConfig::forModel(GigeModel::KestrelGigE, address));
    const std::string arv = "arv-tool-0.8 -a " + address;
    EXPECT_NE(Output(arv).find(address), std::string::npos);
    EXPECT_EQ(Output(arv + " genicam"), camera.descriptionXml() + "\n");
    const std::string read = Output(arv + " control Width Height PixelFormat AcquisitionMode");
    EXPECT_NE(read.find("Width = 640"), std::string::npos) << read;
    EXPECT_NE(read.find("Height = 512"), std::string::npos) << read;
    EXPECT_NE(read.find("PixelFormat = Mono16"), std::string::npos) << read;
    EXPECT_NE(read.find("AcquisitionMode = Continuous"), std::string::npos) << read;
    const std::string written = Output(arv + " control Width=320 PixelFormat=Mono8");
    EXPECT_NE(written.find("Width = 320"), std::string::npos) << written;
    EXPECT_EQ(camera.registerValue(camera.featureAddress("Width")), 320u);
    EXPECT_EQ(camera.registerValue(camera.featureAddress("PixelFormat")), 0x01080001u);
    EXPECT_FALSE(camera.hasController()); // arv-tool gives control back
}

TEST(Interop, ArvCameraTestStreamsFromTheEmulatedCameraWithoutLoss) {
    if (!Installed("arv-camera-test-0.8"))
        GTEST_SKIP() << "arv-camera-test-0.8 is not installed (Debian package aravis-tools)";
    const std::string address = cameraAddress();
    XEVGigeEmulatedCamera camera(XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, address));
    int status = -1;
    const std::string out = Output(
        "arv-camera-test-0.8 -n " + address + " --no-packet-socket -a --duration=5", true, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("payload                = 655360 bytes"), std::string::npos) << out;
    EXPECT_GT(ArvCounter(out, "n_completed_buffers"), 0) << out;
    for (const char* counter : {"n_failures", "n_missing_frames", "n_size_mismatch_errors",
                                "n_missing_packets", "n_error_packets"})
        EXPECT_EQ(ArvCounter(out, counter), 0) << counter << " in\n" << out;
    EXPECT_GT(camera.counters().framesSent, 0u);
    EXPECT_FALSE(camera.isStreaming()); // stopped by AcquisitionStop
}

TEST(Interop, TsharkFindsNoMalformedPacketInALibrarySession) {
    if (!Installed("tshark"))
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    const std::string address = cameraAddress();
    const std::string pcap = (std::filesystem::temp_directory_path() /
                              ("xev-session-" + std::to_string(getpid()) + ".pcap"))
                                 .string();
    {
        XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, address);
        config.pcapPath = pcap;
        XEVGigeEmulatedCamera camera(config);
        const uint32_t ip = XEVLibrary::ByteOrder::Ipv4FromString(address);
        ASSERT_EQ(XEVLibrary::GigeTransport::Discover(1, 1, {ip}, false).size(), 1u);
        XEVLibrary::GvcpChannel channel("127.0.0.1", address);
        ASSERT_TRUE(channel.IsOpen());
        EXPECT_TRUE(channel.SendRegister("Width", 320));
        EXPECT_EQ(channel.ReadStringRegister("GevModelName"), "HeronGigE");
        EXPECT_TRUE(channel.SendMemRegister("GevUserDefinedName", "Bench"));
        EXPECT_TRUE(channel.SendRegister(XEVLibrary::GvcpChannel::HeartbeatTimeoutRegister, 1000));
        const uint64_t beats = camera.counters().heartbeats;
        EXPECT_TRUE(waitUntil([&] { return camera.counters().heartbeats > beats; }));
    }
    const std::string kinds =
        Output("tshark -r " + pcap + " -Y gvcp -T fields -e gvcp.cmd.command -e gvcp.ack", false);
    for (const char* command : {"0x0002", "0x0003", "0x0080", "0x0081", "0x0082", "0x0083",
                                "0x0084", "0x0085", "0x0086", "0x0087"})
        EXPECT_NE(kinds.find(command), std::string::npos) << command << " missing in\n" << kinds;
    EXPECT_EQ(
        Output("tshark -r " + pcap + " -Y '_ws.malformed || _ws.expert.severity >= error'", false),
        "");
    std::filesystem::remove(pcap);
}

} // namespace
} // namespace XEVTest
