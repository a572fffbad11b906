// Runs emulated GigE Vision cameras until interrupted, so that applications
// (and any GigE Vision client) can be developed without hardware.

#include <XEVGigeCameraEmulator.h>

#include <boost/program_options.hpp>

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace po = boost::program_options;
using namespace XEVLibrary::Emulator;

namespace {

const std::map<std::string, GigeModel> Models{
    {"CurlewGigE", GigeModel::CurlewGigE},        {"CurlewcGigE", GigeModel::CurlewcGigE},
    {"FulmarGigE", GigeModel::FulmarGigE},        {"HeronGigE", GigeModel::HeronGigE},
    {"HeronGigE-SPOT", GigeModel::HeronGigESpot}, {"KestrelGigE", GigeModel::KestrelGigE},
};

const std::map<std::string, XEVGigeDescriptionFault> DescriptionFaults{
    {"none", XEVGigeDescriptionFault::None},
    {"plain-xml", XEVGigeDescriptionFault::PlainXml},
    {"corrupt", XEVGigeDescriptionFault::Corrupt},
    {"truncated", XEVGigeDescriptionFault::Truncated},
    {"absurd-length", XEVGigeDescriptionFault::AbsurdLength},
    {"other-scheme", XEVGigeDescriptionFault::OtherScheme},
};

/// The cameras' counters and the processor time of this process so far.
void Report(const std::vector<std::unique_ptr<XEVGigeEmulatedCamera>>& cameras) {
    for (const auto& camera : cameras) {
        const XEVGigeCameraCounters c = camera->counters();
        std::cout << camera->address() << ": " << c.commands << " commands, " << c.framesSent
                  << " frames, " << c.packetsSent << " stream packets\n";
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long long us = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                         usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    std::cout << "processor time: " << us << " us" << std::endl;
}

template <class Table>
std::string Names(const Table& table) {
    std::string names;
    for (const auto& entry : table)
        names += (names.empty() ? "" : ", ") + entry.first;
    return names;
}

} // namespace

int main(int argc, char** argv) {
    // Signals are taken by the main thread alone, camera threads never see them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    po::options_description options("Options");
    std::vector<std::string> addresses;
    std::string model = "HeronGigE";
    std::string description = "none";
    XEVGigeCameraConfig base;
    XEVGigeFaults faults;
    std::string firmware, serial, pcap;
    options.add_options()("help,h", "print this help and exit")(
        "address,a", po::value(&addresses)->composing(),
        "camera address (IPv4; repeat for several cameras; default 127.0.0.2)")(
        "model,m", po::value(&model)->default_value(model),
        ("camera model: " + Names(Models)).c_str())(
        "firmware,f", po::value(&firmware),
        "device version text, such as 01.04 (default: the model's)")(
        "serial,s", po::value(&serial), "serial number text (default: from the address)")(
        "name", po::value(&base.userDefinedName), "user-defined name (at most 15 characters)")(
        "mtu", po::value(&base.mtu)->default_value(base.mtu),
        "largest packet the emulated link carries (test packets beyond it are lost)")(
        "max-fps", po::value(&base.maxFps),
        "frame-rate ceiling the camera reports (MaxFPS, at most 400), for benchmarks "
        "(default: from exposure and readout)")(
        "all-addresses", po::bool_switch(&base.listenOnAllAddresses),
        "listen on every address of the host, so that broadcasts arrive (one camera only)")(
        "pcap", po::value(&pcap), "write every datagram sent and received to this pcap file")(
        "silent", po::bool_switch(&faults.silent), "fault: answer nothing on the control channel")(
        "access-denied", po::bool_switch(&faults.accessDenied),
        "fault: refuse every write with ACCESS_DENIED")(
        "stale-ack", po::bool_switch(&faults.staleAcknowledgeFirst),
        "fault: send a copy with the previous id before each acknowledge")(
        "status", po::value(&faults.status), "fault: every acknowledge carries this status")(
        "drop", po::value(&faults.dropRatio), "fault: share of stream packets dropped (0..1)")(
        "duplicate", po::value(&faults.duplicateRatio),
        "fault: share of stream packets sent twice (0..1)")(
        "reorder", po::value(&faults.reorderRatio),
        "fault: share of stream packets sent after the next one (0..1)")(
        "drop-packet", po::value(&faults.dropPacketIds)->composing(),
        "fault: payload packet id dropped in every frame (repeatable)")(
        "trailer-first", po::bool_switch(&faults.trailerBeforeLastPayload),
        "fault: send each trailer before the frame's last payload packet")(
        "description", po::value(&description)->default_value(description),
        ("fault in the description file: " + Names(DescriptionFaults)).c_str());

    po::variables_map values;
    try {
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
    } catch (const std::exception& error) {
        std::cerr << "xev-gige-emulator: " << error.what() << "\n";
        return 2;
    }
    if (values.count("help")) {
        std::cout << "Usage: xev-gige-emulator [options]\n\n"
                     "Runs emulated GigE Vision cameras of the XEV catalogue until interrupted\n"
                     "(Ctrl-C). Each camera answers GVCP on UDP port 3956 of its address and\n"
                     "streams GVSP where a client programs it. Any 127.0.0.x address works on\n"
                     "one machine; clients find such cameras by asking their address directly\n"
                     "(XEV_GIGE_CAMERAS=127.0.0.2 for this library, arv-tool-0.8 -a 127.0.0.2).\n"
                     "SIGUSR1 prints the counters and the processor time used so far.\n\n"
                  << options << "\n";
        return 0;
    }
    if (!Models.count(model) || !DescriptionFaults.count(description)) {
        std::cerr << "xev-gige-emulator: unknown model or description fault (see --help)\n";
        return 2;
    }
    if (addresses.empty())
        addresses.push_back("127.0.0.2");
    faults.description = DescriptionFaults.at(description);

    std::vector<std::unique_ptr<XEVGigeEmulatedCamera>> cameras;
    try {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            XEVGigeCameraConfig config =
                XEVGigeCameraConfig::forModel(Models.at(model), addresses[i]);
            config.userDefinedName = base.userDefinedName;
            config.mtu = base.mtu;
            config.maxFps = base.maxFps;
            config.listenOnAllAddresses = base.listenOnAllAddresses;
            if (!firmware.empty())
                config.firmwareVersion = firmware;
            if (!serial.empty())
                config.serialNumber = addresses.size() > 1 ? serial + std::to_string(i) : serial;
            if (!pcap.empty())
                config.pcapPath = addresses.size() > 1 ? pcap + "." + std::to_string(i) : pcap;
            cameras.push_back(std::make_unique<XEVGigeEmulatedCamera>(config));
            cameras.back()->setFaults(faults);
            std::cout << gigeModelName(config.model) << " firmware " << config.firmwareVersion
                      << " serial " << config.serialNumber << " MAC "
                      << cameras.back()->macAddress() << " on " << addresses[i] << ":3956\n";
        }
    } catch (const std::exception& error) {
        std::cerr << "xev-gige-emulator: " << error.what() << "\n";
        return 1;
    }
    std::cout.flush();
    for (int signal = 0; sigwait(&signals, &signal) == 0 && signal == SIGUSR1;)
        Report(cameras);
    Report(cameras);
    return 0;
}
