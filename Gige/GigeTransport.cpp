#include "Gige/GigeTransport.h"

#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"
#include "Gige/ForceIpAck.h"
#include "Gige/ForceIpCmd.h"
#include "Gige/RouteLookup.h"
#include "device/Diagnostics.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace XEVLibrary {

namespace asio = boost::asio;
using udp = asio::ip::udp;

namespace {

udp::endpoint Endpoint(uint32_t address, unsigned short port) {
    return udp::endpoint(asio::ip::address_v4(address), port);
}

std::string Text(const udp::endpoint& endpoint) {
    std::ostringstream out;
    out << endpoint;
    return out.str();
}

const udp::endpoint Broadcast(asio::ip::address_v4::broadcast(), Gvcp::Port);

/// The spinner's characters and how many were printed in this process.
const char Spinner[] = {'/', '-', '\\', '|'};
std::atomic<unsigned> s_spins{0};

/// One socket of a discovery and where its commands go.
struct DiscoverySocket {
    explicit DiscoverySocket(asio::io_context& io) : socket(io) {}
    udp::socket socket;
    std::vector<udp::endpoint> targets;
    udp::endpoint sender;
    std::array<uint8_t, 1024> buffer{};
};

struct Discovery {
    std::vector<DeviceInfo> found;
    std::set<udp::endpoint> discovered;
    std::set<udp::endpoint> rejected;
    /// Cameras asked directly, when nothing is broadcast: once each has
    /// answered, no other answer can come (0: wait for the whole cycle).
    std::size_t askedOnly = 0;
    asio::io_context* io = nullptr;

    bool AllAnswered() const { return askedOnly != 0 && discovered.size() >= askedOnly; }

    void Take(DiscoverySocket& s, std::size_t size, const CmdHeader& command) {
        // Exactly one discovery acknowledge: a longer datagram is not one.
        if (size != DeviceInfo::WireSize)
            return;
        DeviceInfo info(s.buffer.data(), size);
        if (!info.Valid(command) || discovered.count(s.sender))
            return;
        const std::string local = Text(s.socket.local_endpoint());
        if (!rejected.count(s.sender)) {
            if (!IsReachable(info)) {
                detail::inform("A Gige device was detected at address: " + Text(s.sender) +
                               " thrue the local ip: " + local +
                               " but is not reachable from this computer");
                rejected.insert(s.sender);
                info.SetNotReachable();
            }
            if (!IsXEVCamera(info)) {
                detail::inform("A reachable Gige device was detected but it is not a XEV camera");
                rejected.insert(s.sender);
                info.SetNotXevCamera();
            }
        } else {
            IsReachable(info);
        }
        detail::inform("device detected  camIp = " + Text(s.sender) + ", localIp = " + local);
        found.push_back(info);
        discovered.insert(s.sender);
    }
};

void Listen(DiscoverySocket& s, Discovery& discovery, const CmdHeader& command) {
    s.socket.async_receive_from(
        asio::buffer(s.buffer), s.sender,
        [&s, &discovery, &command](const boost::system::error_code& error, std::size_t size) {
            if (error)
                return; // cancelled at the end of the cycle
            discovery.Take(s, size, command);
            if (discovery.AllAnswered()) {
                discovery.io->stop();
                return;
            }
            // Every answer of the cycle is taken, not only the first.
            Listen(s, discovery, command);
        });
}

void PrintCameras(const char* title, const std::vector<DeviceInfo>& cameras) {
    detail::inform(title);
    for (const DeviceInfo& camera : cameras)
        detail::inform("\tSN: " + camera.SerialNumber() +
                       ", Ip: " + ByteOrder::Ipv4ToString(camera.CurrentIp()));
}

/// The unicast targets grouped by the local address that routes to each.
std::vector<std::pair<uint32_t, std::vector<uint32_t>>>
BySource(const std::vector<uint32_t>& cameras) {
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> groups;
    for (uint32_t camera : cameras) {
        Route route;
        if (!LookupRoute(camera, route)) {
            detail::inform("unable to find local ip for " + ByteOrder::Ipv4ToString(camera));
            continue;
        }
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& g) { return g.first == route.sourceAddress; });
        if (group == groups.end())
            groups.push_back({route.sourceAddress, {camera}});
        else
            group->second.push_back(camera);
    }
    return groups;
}

} // namespace

void get_local_ips(std::vector<std::pair<unsigned, unsigned>>& addresses) {
    const auto local = LocalIpv4Addresses();
    addresses.insert(addresses.end(), local.begin(), local.end());
}

std::vector<std::pair<unsigned, unsigned>> GetUnicastAddresses() {
    std::vector<std::pair<unsigned, unsigned>> addresses;
    get_local_ips(addresses);
    for (const auto& [address, index] : addresses)
        detail::inform("ADDRESSE: " + ByteOrder::Ipv4ToString(address) +
                       ", index = " + std::to_string(index));
    return addresses;
}

bool IsReachable(DeviceInfo& device, unsigned) {
    Route route;
    if (!LookupRoute(device.CurrentIp(), route))
        return false;
    device.SetLocalIp(route.sourceAddress);
    device.SetIfIndex(route.interfaceIndex);
    return true;
}

unsigned GetBestIp(unsigned cameraIp, unsigned) {
    Route route;
    if (!LookupRoute(cameraIp, route)) {
        detail::inform("unable to find local ip");
        return 0;
    }
    return route.sourceAddress;
}

std::vector<DeviceInfo> GigeTransport::Discover(int timeInSeconds, int maxDevices,
                                                const std::vector<uint32_t>& unicastCameras,
                                                bool broadcast) {
    asio::io_context io;
    Discovery discovery;
    std::vector<std::unique_ptr<DiscoverySocket>> sockets;
    try {
        if (broadcast) {
            const auto local = GetUnicastAddresses();
            for (std::size_t i = 0; i < local.size(); ++i) {
                auto s = std::make_unique<DiscoverySocket>(io);
                s->socket.open(udp::v4());
                s->socket.bind(
                    Endpoint(local[i].first, static_cast<unsigned short>(Gvcp::Port + i)));
                s->socket.set_option(asio::socket_base::broadcast(true));
                s->targets.push_back(Broadcast);
                sockets.push_back(std::move(s));
            }
        }
        for (const auto& [source, cameras] : BySource(unicastCameras)) {
            auto s = std::make_unique<DiscoverySocket>(io);
            s->socket.open(udp::v4());
            s->socket.bind(Endpoint(source, 0));
            for (uint32_t camera : cameras)
                s->targets.push_back(Endpoint(camera, Gvcp::Port));
            sockets.push_back(std::move(s));
        }
        discovery.io = &io;
        if (!broadcast)
            discovery.askedOnly =
                std::set<uint32_t>(unicastCameras.begin(), unicastCameras.end()).size();
        for (int cycle = 0; cycle < timeInSeconds && !sockets.empty(); ++cycle) {
            const CmdHeader command(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0);
            for (auto& s : sockets)
                for (const udp::endpoint& target : s->targets)
                    s->socket.send_to(asio::buffer(command.Bytes()), target);
            for (auto& s : sockets)
                Listen(*s, discovery, command);
            asio::steady_timer timer(io, std::chrono::seconds(1));
            timer.async_wait([&sockets](const boost::system::error_code& error) {
                if (error)
                    return;
                for (auto& s : sockets)
                    s->socket.cancel();
            });
            io.run();
            io.restart();
            if (static_cast<int>(discovery.found.size()) >= maxDevices || discovery.AllAnswered())
                break;
            detail::inform(std::string("\rTrying to discover cameras... ") +
                           Spinner[s_spins++ % 4]);
            std::this_thread::sleep_until(timer.expiry());
        }
    } catch (const std::exception& error) {
        detail::inform(error.what());
    }
    sockets.clear();

    std::vector<DeviceInfo>& found = discovery.found;
    detail::inform("Nbre devices = " + std::to_string(found.size()));
    const auto linkLocal = std::find_if(found.begin(), found.end(), [](const DeviceInfo& d) {
        return (d.CurrentIp() >> 16) == 0xA9FE;
    });
    if (linkLocal != found.end())
        std::iter_swap(found.begin(), linkLocal);
    PrintCameras("Devices discovered:", found);
    if (maxDevices >= 0 && found.size() > static_cast<std::size_t>(maxDevices)) {
        found.resize(static_cast<std::size_t>(maxDevices));
        PrintCameras("Devices retained:", found);
    }
    return found;
}

bool GigeTransport::ForceIp2(const std::string& mac, const std::string& ip, const std::string& mask,
                             const std::string& gateway,
                             const std::vector<uint32_t>& unicastCameras) {
    try {
        asio::io_context io;
        auto send = [&](uint32_t local, unsigned short port, const udp::endpoint& target) {
            udp::socket socket(io, udp::v4());
            socket.set_option(asio::socket_base::broadcast(true));
            socket.bind(Endpoint(local, port));
            detail::inform("FORCEIP --> ");
            const ForceIpCmd command(ip, mask, gateway, mac);
            socket.send_to(asio::buffer(command.Bytes()), target);
            std::ostringstream dump;
            command.Dump(dump);
            std::istringstream lines(dump.str());
            for (std::string line; std::getline(lines, line);)
                detail::inform(line);
        };
        std::vector<std::pair<unsigned, unsigned>> local;
        get_local_ips(local);
        for (const auto& entry : local) {
            detail::inform("ForceIp by: " + ByteOrder::Ipv4ToString(entry.first));
            send(entry.first, Gvcp::Port, Broadcast);
        }
        for (const auto& [source, cameras] : BySource(unicastCameras))
            for (uint32_t camera : cameras)
                send(source, 0, Endpoint(camera, Gvcp::Port));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return true;
    } catch (const std::exception& error) {
        detail::inform(error.what());
        return false;
    }
}

bool GigeTransport::ForceIp(DeviceInfo& device, const std::string& ip, const std::string& mask,
                            const std::string& gateway) {
    try {
        asio::io_context io;
        udp::socket socket(io, udp::v4());
        socket.set_option(asio::socket_base::broadcast(true));
        // Sent from the address that reaches the camera, so that it leaves
        // by the camera's interface; a camera on loopback is asked directly.
        if (device.LocalIp() != 0)
            socket.bind(Endpoint(device.LocalIp(), 0));
        const bool loopback = (device.CurrentIp() >> 24) == 127;
        const ForceIpCmd command(ip, mask, gateway, device.MacAddress());
        socket.send_to(asio::buffer(command.Bytes()),
                       loopback ? Endpoint(device.CurrentIp(), Gvcp::Port) : Broadcast);

        std::array<uint8_t, 64> answer{};
        std::size_t received = 0;
        bool done = false;
        socket.async_receive(asio::buffer(answer),
                             [&](const boost::system::error_code& error, std::size_t size) {
                                 if (!error)
                                     received = size;
                                 done = true;
                             });
        asio::steady_timer timer(io, std::chrono::seconds(1));
        timer.async_wait([&](const boost::system::error_code& error) {
            if (!error && !done)
                socket.cancel();
        });
        io.run();
        ForceIpAck ack;
        ack.Assign(answer.data(), received);
        if (received < AckHeader::Size || !ack.Valid(command.Header()))
            return false;
        device.UpdateCurrentIp(ByteOrder::Load32(&command.Bytes()[28]));
        device.UpdateCurrentSubnetMask(ByteOrder::Load32(&command.Bytes()[44]));
        device.UpdateDefaultGateway(ByteOrder::Load32(&command.Bytes()[60]));
        return true;
    } catch (const std::exception& error) {
        detail::inform(error.what());
        return false;
    }
}

} // namespace XEVLibrary
