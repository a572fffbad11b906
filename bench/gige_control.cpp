// The control channel's costs against the least they could be, in the same
// run: a register read through the channel (io thread, transaction, future)
// against a bare blocking UDP round trip to the same emulated camera, and the
// description model built from a camera's description against the XML
// parser alone on the same text.

#include "Gige/GenicamXml.h"
#include "Gige/GvcpChannel.h"
#include "XEVGigeCameraEmulator.h"

#include <benchmark/benchmark.h>
#include <rapidxml/rapidxml.hpp>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace {

const char* const CameraIp = "127.0.9.2";

void BM_ReadRegister(benchmark::State& state) {
    XEVGigeEmulatedCamera camera(XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, CameraIp));
    GvcpChannel channel("127.0.0.1", CameraIp);
    const uint32_t width = camera.featureAddress("Width");
    for (auto _ : state)
        benchmark::DoNotOptimize(channel.ReadRegister(width));
}

/// One READREG and its acknowledge on a blocking socket, nothing else.
void BM_ReadRegister_RawUdp(benchmark::State& state) {
    XEVGigeEmulatedCamera camera(XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, CameraIp));
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(3956);
    inet_pton(AF_INET, CameraIp, &to.sin_addr);
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const uint32_t width = camera.featureAddress("Width");
    uint8_t command[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0, 0};
    for (int i = 0; i < 4; ++i)
        command[8 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
    uint8_t ack[64];
    uint16_t id = 0;
    for (auto _ : state) {
        ++id;
        command[6] = static_cast<uint8_t>(id >> 8);
        command[7] = static_cast<uint8_t>(id);
        send(fd, command, sizeof command, 0);
        benchmark::DoNotOptimize(recv(fd, ack, sizeof ack, 0));
    }
    close(fd);
}

std::vector<char> HeronDescription() {
    XEVGigeEmulatedCamera camera(XEVGigeCameraConfig::forModel(GigeModel::HeronGigE, CameraIp));
    const std::string xml = camera.descriptionXml();
    return std::vector<char>(xml.begin(), xml.end());
}

void BM_ParseDescription(benchmark::State& state) {
    const std::vector<char> text = HeronDescription();
    for (auto _ : state) {
        GenicamXml model;
        benchmark::DoNotOptimize(model.Parse(text));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

/// The XML parser alone on a copy of the same text.
void BM_ParseDescription_Rapidxml(benchmark::State& state) {
    const std::vector<char> text = HeronDescription();
    std::vector<char> copy;
    for (auto _ : state) {
        copy.assign(text.begin(), text.end());
        copy.push_back('\0');
        rapidxml::xml_document<char> document;
        document.parse<rapidxml::parse_declaration_node | rapidxml::parse_comment_nodes>(
            copy.data());
        benchmark::DoNotOptimize(document.first_node());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

} // namespace

BENCHMARK(BM_ReadRegister)->UseRealTime();
BENCHMARK(BM_ReadRegister_RawUdp)->UseRealTime();
BENCHMARK(BM_ParseDescription);
BENCHMARK(BM_ParseDescription_Rapidxml);
BENCHMARK_MAIN();
