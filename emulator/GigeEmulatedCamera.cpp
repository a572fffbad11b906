#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"
#include "GigeCameraMemory.h"
#include "GigeDescription.h"
#include "GigeStreamSender.h"
#include "PcapWriter.h"
#include "XEVGigeCameraEmulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace XEVLibrary {
namespace Emulator {

namespace {

using Clock = std::chrono::steady_clock;

using ByteOrder::Load16;
using ByteOrder::Load32;
using ByteOrder::Store16;
using ByteOrder::Store32;

// Status codes the library does not need to name.
constexpr uint16_t NotImplemented = 0x8001;
constexpr uint16_t InvalidParameter = 0x8002;
constexpr uint16_t InvalidAddress = 0x8003;
constexpr uint16_t WriteProtect = 0x8004;
constexpr uint16_t BadAlignment = 0x8005;

constexpr std::size_t MaxMemoryBytes = 536;
/// Entries the write log keeps at most; later writes are not logged.
constexpr std::size_t MaxLoggedWrites = 100000;

uint32_t Ipv4(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        throw std::runtime_error("not an IPv4 address: " + text);
    return ntohl(address.s_addr);
}

std::string Ipv4Text(uint32_t address) {
    char text[INET_ADDRSTRLEN];
    const in_addr a{htonl(address)};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

int BoundUdpSocket(uint32_t ip, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot open a UDP socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const int buffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(ip);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error("cannot bind " + Ipv4Text(ip) + ":" + std::to_string(port) + ": " +
                                 reason);
    }
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

struct SensorSize {
    unsigned width;
    unsigned height;
};

SensorSize SensorOf(GigeModel model) {
    switch (model) {
    case GigeModel::CurlewGigE:
    case GigeModel::CurlewcGigE:
        return {1280, 1024};
    case GigeModel::FulmarGigE:
        return {768, 576};
    default:
        return {640, 512};
    }
}

} // namespace

std::string gigeModelName(GigeModel model) {
    switch (model) {
    case GigeModel::CurlewGigE:
        return "CurlewGigE";
    case GigeModel::CurlewcGigE:
        return "CurlewcGigE";
    case GigeModel::FulmarGigE:
        return "FulmarGigE";
    case GigeModel::HeronGigE:
        return "HeronGigE";
    case GigeModel::HeronGigESpot:
        return "HeronGigE-SPOT";
    case GigeModel::KestrelGigE:
        return "KestrelGigE";
    }
    return "HeronGigE";
}

XEVGigeCameraConfig XEVGigeCameraConfig::forModel(GigeModel model, const std::string& address) {
    XEVGigeCameraConfig config;
    config.model = model;
    config.address = address;
    const uint32_t ip = Ipv4(address);
    // A MAC address of the maker's range, unique per address.
    config.mac = {{0x00, 0x0c, 0x0a, static_cast<uint8_t>(ip >> 16), static_cast<uint8_t>(ip >> 8),
                   static_cast<uint8_t>(ip)}};
    char serial[16];
    std::snprintf(serial, sizeof serial, "GE%06X", ip & 0xFFFFFF);
    config.serialNumber = serial;
    switch (model) {
    case GigeModel::KestrelGigE:
        config.firmwareVersion = "01.04";
        break;
    case GigeModel::FulmarGigE:
        config.firmwareVersion = "01.03";
        break;
    default:
        config.firmwareVersion = "02.01";
        break;
    }
    return config;
}

struct XEVGigeEmulatedCamera::State {
    XEVGigeCameraConfig config;
    SensorSize sensor;
    GigeDescription description;
    std::string xml;

    mutable std::mutex lock;
    GigeCameraMemory memory;
    XEVGigeFaults faults;
    XEVGigeCameraCounters counters;
    std::map<uint32_t, std::string> commands;         // register address -> command name
    std::map<uint32_t, const GigeFeature*> byAddress; // the first feature at each address
    Clock::time_point busyUntil{};
    std::vector<XEVGigeRegisterWrite> writes;
    /// The settings "CamSaveConfiguration" kept: register address -> value.
    std::map<uint32_t, uint32_t> savedSettings;

    // The controller: the endpoint that holds the control privilege.
    bool controlled = false;
    uint32_t controllerIp = 0;
    uint16_t controllerPort = 0;
    Clock::time_point controllerSeen{};

    uint16_t lastAckId = 0;
    uint32_t currentIp = 0;
    int gvcpSocket = -1;
    int streamSocket = -1;
    std::unique_ptr<PcapWriter> pcap;
    std::unique_ptr<GigeStreamSender> stream;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> packetsSent{0};
    uint32_t streamIp = 0;
    std::atomic<uint16_t> streamPort{0};
    std::thread server;

    explicit State(const XEVGigeCameraConfig& c)
        : config(c), sensor(SensorOf(c.model)),
          description(describeGigeModel(c, sensor.width, sensor.height)), xml(description.xml()),
          memory(c, description) {
        memory.installDescription(xml, description.modelName, faults.description);
        for (const GigeFeature& entry : description.features) {
            if (entry.kind == GigeFeature::Kind::Command)
                commands[entry.address] = entry.name;
            byAddress.emplace(entry.address, &entry);
        }
        currentIp = Ipv4(c.address);
        if (c.maxFps > 0)
            setFeature("MaxFPS", floatBits(static_cast<float>(c.maxFps)));
    }

    uint32_t feature(const std::string& name) const {
        const GigeFeature* entry = description.find(name);
        return entry ? entry->address : 0;
    }

    uint32_t featureValue(const std::string& name) const {
        const uint32_t address = feature(name);
        return address ? memory.read32(address) : 0;
    }

    float featureFloat(const std::string& name) const {
        const uint32_t bits = featureValue(name);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    void setFeature(const std::string& name, uint32_t value) {
        if (const uint32_t address = feature(name))
            memory.write32(address, value);
    }

    void record(uint32_t fromIp, uint16_t fromPort, uint32_t toIp, uint16_t toPort,
                const uint8_t* data, std::size_t size) {
        if (pcap)
            pcap->write(fromIp, fromPort, toIp, toPort, data, size);
    }

    void open() {
        const uint32_t listenIp = config.listenOnAllAddresses ? INADDR_ANY : currentIp;
        gvcpSocket = BoundUdpSocket(listenIp, Gvcp::Port);
        try {
            streamSocket = BoundUdpSocket(config.listenOnAllAddresses ? INADDR_ANY : currentIp, 0);
        } catch (...) {
            ::close(gvcpSocket);
            throw;
        }
        streamIp = currentIp;
        streamPort = LocalPort(streamSocket);
        memory.write32(Bootstrap::StreamSourcePort, streamPort.load());
        if (!config.pcapPath.empty())
            pcap = std::make_unique<PcapWriter>(config.pcapPath);
        stream = std::make_unique<GigeStreamSender>(
            streamSocket, sensor.width, sensor.height, config.sceneSeed,
            [this] { return streamSettings(); },
            [this] {
                std::lock_guard<std::mutex> hold(lock);
                return faults;
            },
            // Called with the lock held (test packets) or not (frames).
            [this](const uint8_t* data, std::size_t size, uint32_t ip, uint16_t port) {
                ++packetsSent;
                record(streamIp, streamPort, ip, port, data, size);
            });
        server = std::thread([this] { serve(); });
    }

    void close() {
        stopping = true;
        if (server.joinable())
            server.join();
        if (stream)
            stream->stop();
        stream.reset();
        if (gvcpSocket >= 0)
            ::close(gvcpSocket);
        if (streamSocket >= 0)
            ::close(streamSocket);
    }

    GigeStreamSettings streamSettings() {
        std::lock_guard<std::mutex> hold(lock);
        GigeStreamSettings s;
        s.destinationIp = memory.read32(Bootstrap::StreamDestination);
        s.destinationPort = static_cast<uint16_t>(memory.read32(Bootstrap::StreamPort));
        s.packetSize = memory.read32(Bootstrap::StreamPacketSize) & 0xFFFF;
        s.width = featureValue("Width");
        s.height = featureValue("Height");
        s.offsetX = featureValue("OffsetX");
        s.offsetY = featureValue("OffsetY");
        s.pixelFormat = featureValue("PixelFormat");
        s.framesPerSecond = config.model == GigeModel::FulmarGigE
                                ? featureValue("AcquisitionFrameRate")
                                : featureFloat("AcquisitionFrameRate");
        s.exposureUs = featureFloat("ExposureTime");
        const uint32_t mode = featureValue("AcquisitionMode");
        s.frameLimit = mode == 1 ? 1 : mode == 2 ? featureValue("AcquisitionFrameCount") : 0;
        return s;
    }

    // --- GVCP ----------------------------------------------------------------

    void serve() {
        std::vector<uint8_t> datagram(9000);
        while (!stopping) {
            pollfd wait{gvcpSocket, POLLIN, 0};
            const int ready = ::poll(&wait, 1, 20);
            expireController();
            if (ready <= 0 || !(wait.revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t size = ::recvfrom(gvcpSocket, datagram.data(), datagram.size(), 0,
                                            reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (size < 0)
                continue;
            const uint32_t fromIp = ntohl(from.sin_addr.s_addr);
            const uint16_t fromPort = ntohs(from.sin_port);
            record(fromIp, fromPort, currentIp, Gvcp::Port, datagram.data(), std::size_t(size));
            handle(datagram.data(), std::size_t(size), from);
        }
    }

    void expireController() {
        std::lock_guard<std::mutex> hold(lock);
        const auto timeout = std::chrono::milliseconds(memory.read32(Bootstrap::HeartbeatTimeout));
        if (controlled && Clock::now() - controllerSeen > timeout) {
            controlled = false;
            memory.write32(Bootstrap::ControlPrivilege, 0);
            // A camera left without controller stops streaming.
            stopStreamLocked();
        }
    }

    void stopStreamLocked() {
        if (stream && stream->running()) {
            lock.unlock();
            stream->stop();
            lock.lock();
        }
    }

    void reply(std::vector<uint8_t>& ack, const sockaddr_in& to) {
        ::sendto(gvcpSocket, ack.data(), ack.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
        record(currentIp, Gvcp::Port, ntohl(to.sin_addr.s_addr), ntohs(to.sin_port), ack.data(),
               ack.size());
    }

    static std::vector<uint8_t> Ack(uint16_t status, uint16_t answer, std::size_t payload,
                                    uint16_t id) {
        std::vector<uint8_t> ack(8 + payload, 0);
        Store16(&ack[0], status);
        Store16(&ack[2], answer);
        Store16(&ack[4], static_cast<uint32_t>(payload));
        Store16(&ack[6], id);
        return ack;
    }

    void handle(const uint8_t* d, std::size_t size, const sockaddr_in& from) {
        std::unique_lock<std::mutex> hold(lock);
        ++counters.commands;
        if (faults.silent)
            return;
        if (size < 8 || d[0] != CmdHeader::MagicValue) {
            ++counters.refused;
            return;
        }
        const uint16_t command = Load16(d + 2);
        const uint16_t length = Load16(d + 4);
        const uint16_t id = Load16(d + 6);
        const uint8_t* payload = d + 8;
        const std::size_t available = std::min<std::size_t>(length, size - 8);
        const uint32_t fromIp = ntohl(from.sin_addr.s_addr);
        const uint16_t fromPort = ntohs(from.sin_port);
        const bool fromController =
            controlled && fromIp == controllerIp && fromPort == controllerPort;
        if (fromController)
            controllerSeen = Clock::now();

        std::vector<uint8_t> ack;
        switch (command) {
        case Gvcp::CmdDiscovery:
            ++counters.discoveries;
            ack = Ack(Gvcp::StatusSuccess, Gvcp::AckDiscovery, 248, id);
            std::copy_n(memory.bytes(0), 248, ack.begin() + 8);
            break;
        case Gvcp::CmdForceIp:
            if (!forceIp(payload, available))
                return; // addressed to another camera
            ack = Ack(Gvcp::StatusSuccess, Gvcp::AckForceIp, 0, id);
            break;
        case Gvcp::CmdReadReg:
            ++counters.readRegisters;
            ack = readRegisters(payload, available, id, fromController);
            break;
        case Gvcp::CmdWriteReg:
            ++counters.writeRegisters;
            ack = writeRegisters(payload, available, id, fromIp, fromPort, fromController, hold);
            break;
        case Gvcp::CmdReadMem:
            ++counters.readMemories;
            ack = readMemory(payload, available, id);
            break;
        case Gvcp::CmdWriteMem:
            ++counters.writeMemories;
            ack = writeMemory(payload, available, id, fromController, hold);
            break;
        default:
            ++counters.refused;
            ack = Ack(NotImplemented, static_cast<uint16_t>(command + 1), 0, id);
            break;
        }
        if (command >= Gvcp::CmdReadReg && command <= Gvcp::CmdWriteMem) {
            if (faults.status != 0)
                Store16(&ack[0], faults.status);
            if (faults.staleAcknowledgeFirst) {
                std::vector<uint8_t> stale = ack;
                Store16(&stale[6], static_cast<uint16_t>(id - 1));
                reply(stale, from);
            }
        }
        if (Load16(&ack[0]) != Gvcp::StatusSuccess)
            ++counters.refused;
        lastAckId = id;
        reply(ack, from);
    }

    bool forceIp(const uint8_t* p, std::size_t size) {
        if (size < 56)
            return false;
        const uint32_t macHigh = Load16(p + 2);
        const uint32_t macLow = Load32(p + 4);
        if (macHigh != memory.read32(Bootstrap::MacHigh) ||
            macLow != memory.read32(Bootstrap::MacLow))
            return false;
        const uint32_t ip = Load32(p + 20);
        memory.write32(Bootstrap::CurrentIp, ip);
        memory.write32(Bootstrap::CurrentSubnetMask, Load32(p + 36));
        memory.write32(Bootstrap::DefaultGateway, Load32(p + 52));
        if (!config.listenOnAllAddresses && ip != currentIp) {
            // Move to the new address: answer from there from now on.
            try {
                const int moved = BoundUdpSocket(ip, Gvcp::Port);
                ::close(gvcpSocket);
                gvcpSocket = moved;
            } catch (const std::exception&) {
                // The address is not on this host: keep listening where we are.
            }
        }
        currentIp = ip;
        return true;
    }

    std::vector<uint8_t> readRegisters(const uint8_t* p, std::size_t size, uint16_t id,
                                       bool fromController) {
        const std::size_t count = size / 4;
        if (count == 0 || count > MaxMemoryBytes / 4 || size % 4 != 0)
            return Ack(InvalidParameter, Gvcp::AckReadReg, 0, id);
        std::vector<uint8_t> ack = Ack(Gvcp::StatusSuccess, Gvcp::AckReadReg, count * 4, id);
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t address = Load32(p + 4 * i);
            if (address % 4 != 0) {
                Store16(&ack[0], BadAlignment);
                break;
            }
            if (!memory.contains(address, 4)) {
                Store16(&ack[0], InvalidAddress);
                break;
            }
            if (address == Bootstrap::ControlPrivilege && fromController)
                ++counters.heartbeats;
            Store32(&ack[8 + 4 * i], readRegister(address));
        }
        return ack;
    }

    uint32_t readRegister(uint32_t address) const {
        if (address == feature("NIOS_is_BUSY") || address == feature("NucProcessing_WAIT_plz"))
            return faults.busyForever || Clock::now() < busyUntil ? 1 : 0;
        return memory.read32(address);
    }

    std::vector<uint8_t> writeRegisters(const uint8_t* p, std::size_t size, uint16_t id,
                                        uint32_t fromIp, uint16_t fromPort, bool fromController,
                                        std::unique_lock<std::mutex>& hold) {
        const std::size_t count = size / 8;
        std::vector<uint8_t> ack = Ack(Gvcp::StatusSuccess, Gvcp::AckWriteReg, 4, id);
        if (count == 0 || size % 8 != 0) {
            Store16(&ack[0], InvalidParameter);
            return ack;
        }
        std::size_t done = 0;
        for (; done < count; ++done) {
            const uint32_t address = Load32(p + 8 * done);
            const uint32_t value = Load32(p + 8 * done + 4);
            const uint16_t status =
                writeRegister(address, value, fromIp, fromPort, fromController, hold);
            if (status != Gvcp::StatusSuccess) {
                Store16(&ack[0], status);
                break;
            }
            fromController = controlled && fromIp == controllerIp && fromPort == controllerPort;
        }
        Store16(&ack[10], static_cast<uint32_t>(done));
        return ack;
    }

    uint16_t writeRegister(uint32_t address, uint32_t value, uint32_t fromIp, uint16_t fromPort,
                           bool fromController, std::unique_lock<std::mutex>& hold) {
        if (faults.accessDenied)
            return Gvcp::StatusAccessDenied;
        if (address % 4 != 0)
            return BadAlignment;
        if (!memory.contains(address, 4))
            return InvalidAddress;
        if (address == Bootstrap::ControlPrivilege) {
            if (controlled && !fromController)
                return Gvcp::StatusAccessDenied;
            controlled = value != 0;
            controllerIp = fromIp;
            controllerPort = fromPort;
            controllerSeen = Clock::now();
            memory.write32(address, value);
            if (!controlled)
                stopStreamLocked();
            return Gvcp::StatusSuccess;
        }
        if (!fromController)
            return Gvcp::StatusAccessDenied;
        if (!memory.writable(address))
            return WriteProtect;
        if (address == Bootstrap::StreamPacketSize) {
            memory.write32(address, value & 0x7FFFFFFF);
            logWrite(address, value, "");
            if (value & 0x80000000)
                fireTestPacket(value & 0xFFFF);
            return Gvcp::StatusSuccess;
        }
        memory.write32(address, value);
        logWrite(address, value, "");
        if (const auto command = commands.find(address); command != commands.end())
            runCommand(command->second, hold);
        else
            followSetting(address, value);
        return Gvcp::StatusSuccess;
    }

    void logWrite(uint32_t address, uint32_t value, const std::string& text) {
        if (writes.size() >= MaxLoggedWrites)
            return;
        XEVGigeRegisterWrite entry;
        const auto named = byAddress.find(address);
        if (named != byAddress.end()) {
            entry.feature = named->second->name;
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%04X", address);
            entry.feature = hex;
        }
        entry.address = address;
        entry.value = value;
        entry.text = text;
        writes.push_back(std::move(entry));
    }

    /// The camera's own writable settings: what its configuration commands
    /// save, load and reset.
    template <typename Visit>
    void forEachSetting(Visit visit) const {
        for (const GigeFeature& entry : description.features)
            if (entry.address >= GigeDescription::CustomBase && entry.access == "RW" &&
                entry.kind != GigeFeature::Kind::Command && entry.kind != GigeFeature::Kind::String)
                visit(entry);
    }

    /// Cameras before GigE Vision 2.0 (firmware below 02.01, KestrelGigE
    /// aside) have no source port register: they stream from the port they
    /// stream to, which is where their controller expects the packets.
    bool announcesSourcePort() const {
        return config.model == GigeModel::KestrelGigE || config.firmwareVersion >= "02.01";
    }

    /// Moves the stream socket to @p port; the sender keeps its descriptor,
    /// which now names the new socket. Keeps the old one when @p port is
    /// taken on the camera's address.
    void streamFrom(uint16_t port) {
        if (port == 0 || port == streamPort.load())
            return;
        int moved = -1;
        try {
            moved = BoundUdpSocket(streamIp, port);
        } catch (const std::exception&) {
            return;
        }
        ::dup2(moved, streamSocket);
        ::close(moved);
        streamPort = port;
    }

    void fireTestPacket(unsigned packetSize) {
        if (packetSize > config.mtu)
            return; // a packet larger than the link carries never arrives
        ++counters.testPackets;
        stream->sendTestPacket(memory.read32(Bootstrap::StreamDestination),
                               static_cast<uint16_t>(memory.read32(Bootstrap::StreamPort)),
                               packetSize);
    }

    void runCommand(const std::string& name, std::unique_lock<std::mutex>& hold) {
        if (name == "AcquisitionStart") {
            hold.unlock();
            stream->start();
            hold.lock();
        } else if (name == "AcquisitionStop") {
            hold.unlock();
            stream->stop();
            hold.lock();
        } else if (name.rfind("Nuc", 0) == 0 || name.rfind("Bpr", 0) == 0 ||
                   name.rfind("Cam", 0) == 0) {
            busyUntil = Clock::now() + config.busyTime;
            if (name == "BprRun")
                setFeature("BprBadPixelNumber", 42);
            else if (name == "CamSaveConfiguration")
                forEachSetting([this](const GigeFeature& entry) {
                    savedSettings[entry.address] = memory.read32(entry.address);
                });
            else if (name == "CamLoadConfiguration" || name == "CamResetParameter")
                restoreSettings(name == "CamResetParameter");
        }
    }

    /// Back to the saved copy (nothing saved: nothing changes) or to the
    /// description's initial values.
    void restoreSettings(bool initial) {
        forEachSetting([&](const GigeFeature& entry) {
            const auto saved = savedSettings.find(entry.address);
            if (initial)
                memory.write32(entry.address, entry.initial);
            else if (saved != savedSettings.end())
                memory.write32(entry.address, saved->second);
        });
        followSetting(0, 0); // the registers derived from the others
    }

    /// Keeps derived registers consistent with a written one.
    void followSetting(uint32_t address, uint32_t value) {
        if (address == Bootstrap::StreamPort && !announcesSourcePort())
            streamFrom(static_cast<uint16_t>(value));
        if (address == feature("ExposureTime")) {
            float us;
            std::memcpy(&us, &value, sizeof us);
            setFeature("CamIntegrationTime", static_cast<uint32_t>(std::lround(us)));
        } else if (address == feature("CamIntegrationTime")) {
            setFeature("ExposureTime", floatBits(static_cast<float>(value)));
        }
        const unsigned bytes = (featureValue("PixelFormat") >> 16 & 0xFF) / 8;
        setFeature("PayloadSize", featureValue("Width") * featureValue("Height") * bytes);
        // Readout takes 30 us per line; exposure and readout bound the rate.
        const double frameUs = featureFloat("ExposureTime") + 30.0 * (featureValue("Height") + 10);
        setFeature("MaxFPS", floatBits(static_cast<float>(
                                 config.maxFps > 0 ? config.maxFps : std::floor(1e6 / frameUs))));
        const double fps = config.model == GigeModel::FulmarGigE
                               ? featureValue("AcquisitionFrameRate")
                               : featureFloat("AcquisitionFrameRate");
        const double maxExposure =
            std::max(1.0, 1e6 / std::max(fps, 1.0) - 30.0 * (featureValue("Height") + 10));
        setFeature("MaxExposureTime", floatBits(static_cast<float>(maxExposure)));
    }

    std::vector<uint8_t> readMemory(const uint8_t* p, std::size_t size, uint16_t id) {
        if (size < 8)
            return Ack(InvalidParameter, Gvcp::AckReadMem, 0, id);
        const uint32_t address = Load32(p);
        const uint16_t count = Load16(p + 6);
        if (count == 0 || count > MaxMemoryBytes || count % 4 != 0 || address % 4 != 0)
            return Ack(InvalidParameter, Gvcp::AckReadMem, 4, id);
        if (!memory.contains(address, count)) {
            std::vector<uint8_t> ack = Ack(InvalidAddress, Gvcp::AckReadMem, 4, id);
            Store32(&ack[8], address);
            return ack;
        }
        std::vector<uint8_t> ack =
            Ack(Gvcp::StatusSuccess, Gvcp::AckReadMem, 4 + std::size_t(count), id);
        Store32(&ack[8], address);
        std::copy_n(memory.bytes(address), count, ack.begin() + 12);
        return ack;
    }

    std::vector<uint8_t> writeMemory(const uint8_t* p, std::size_t size, uint16_t id,
                                     bool fromController, std::unique_lock<std::mutex>& hold) {
        std::vector<uint8_t> ack = Ack(Gvcp::StatusSuccess, Gvcp::AckWriteMem, 4, id);
        if (size < 8 || (size - 4) > MaxMemoryBytes || (size - 4) % 4 != 0) {
            Store16(&ack[0], InvalidParameter);
            return ack;
        }
        const uint32_t address = Load32(p);
        const std::size_t count = size - 4;
        if (faults.accessDenied || !fromController) {
            Store16(&ack[0], Gvcp::StatusAccessDenied);
            return ack;
        }
        if (address % 4 != 0 || !memory.contains(address, count)) {
            Store16(&ack[0], InvalidAddress);
            return ack;
        }
        for (std::size_t i = 0; i < count; i += 4)
            if (!memory.writable(address + static_cast<uint32_t>(i))) {
                Store16(&ack[0], WriteProtect);
                return ack;
            }
        memory.writeBytes(address, p + 4, count);
        const auto named = byAddress.find(address);
        if (named != byAddress.end() && named->second->kind == GigeFeature::Kind::String) {
            const auto* text = reinterpret_cast<const char*>(p + 4);
            logWrite(address, Load32(p + 4), std::string(text, strnlen(text, count)));
        } else {
            for (std::size_t i = 0; i < count; i += 4)
                logWrite(address + static_cast<uint32_t>(i), Load32(p + 4 + i), "");
        }
        // Clients that write features with WRITEMEM (Aravis does) start the
        // acquisition and change settings as with WRITEREG.
        for (std::size_t i = 0; i < count; i += 4) {
            const uint32_t at = address + static_cast<uint32_t>(i);
            if (const auto command = commands.find(at); command != commands.end())
                runCommand(command->second, hold);
            else
                followSetting(at, memory.read32(at));
        }
        Store16(&ack[10], static_cast<uint32_t>(count));
        return ack;
    }
};

XEVGigeEmulatedCamera::XEVGigeEmulatedCamera(const XEVGigeCameraConfig& config)
    : m_state(std::make_unique<State>(config)) {
    m_state->open();
}

XEVGigeEmulatedCamera::~XEVGigeEmulatedCamera() {
    m_state->close();
}

const XEVGigeCameraConfig& XEVGigeEmulatedCamera::config() const {
    return m_state->config;
}

std::string XEVGigeEmulatedCamera::address() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return Ipv4Text(m_state->currentIp);
}

std::string XEVGigeEmulatedCamera::macAddress() const {
    const auto& m = m_state->config.mac;
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
                  m[5]);
    return text;
}

void XEVGigeEmulatedCamera::setFaults(const XEVGigeFaults& faults) {
    std::lock_guard<std::mutex> hold(m_state->lock);
    if (faults.description != m_state->faults.description)
        m_state->memory.installDescription(m_state->xml, m_state->description.modelName,
                                           faults.description);
    m_state->faults = faults;
}

XEVGigeFaults XEVGigeEmulatedCamera::faults() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->faults;
}

XEVGigeCameraCounters XEVGigeEmulatedCamera::counters() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    XEVGigeCameraCounters counters = m_state->counters;
    counters.framesSent = m_state->stream ? m_state->stream->framesSent() : 0;
    counters.packetsSent = m_state->packetsSent;
    return counters;
}

uint32_t XEVGigeEmulatedCamera::registerValue(uint32_t address) const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->memory.contains(address, 4) ? m_state->readRegister(address & ~3u) : 0;
}

uint32_t XEVGigeEmulatedCamera::featureAddress(const std::string& feature) const {
    return m_state->feature(feature);
}

std::string XEVGigeEmulatedCamera::descriptionXml() const {
    return m_state->xml;
}

bool XEVGigeEmulatedCamera::hasController() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->controlled;
}

bool XEVGigeEmulatedCamera::isStreaming() const {
    return m_state->stream && m_state->stream->running();
}

std::vector<XEVGigeRegisterWrite> XEVGigeEmulatedCamera::registerWrites() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->writes;
}

void XEVGigeEmulatedCamera::clearRegisterWrites() {
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->writes.clear();
}

} // namespace Emulator
} // namespace XEVLibrary
