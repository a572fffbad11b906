#include "GvcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace XEVTest {

namespace {

int LoopbackSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int buffer = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("cannot open a loopback socket");
    return fd;
}

uint16_t PortOf(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}

std::vector<uint8_t> ReceiveFrom(int fd, std::chrono::milliseconds wait) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0)
        return {};
    std::vector<uint8_t> datagram(65536);
    const ssize_t size = ::recv(fd, datagram.data(), datagram.size(), 0);
    datagram.resize(size > 0 ? std::size_t(size) : 0);
    return datagram;
}

} // namespace

uint16_t load16(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<uint16_t>(b.at(at) << 8 | b.at(at + 1));
}

uint32_t load32(const std::vector<uint8_t>& b, std::size_t at) {
    return uint32_t(load16(b, at)) << 16 | load16(b, at + 2);
}

std::vector<uint8_t> be32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    return out;
}

GvcpClient::GvcpClient(const std::string& camera) : m_socket(LoopbackSocket()) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(3956);
    inet_pton(AF_INET, camera.c_str(), &remote.sin_addr);
    ::connect(m_socket, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
}

GvcpClient::~GvcpClient() {
    ::close(m_socket);
}

uint16_t GvcpClient::port() const {
    return PortOf(m_socket);
}

void GvcpClient::sendRaw(const std::vector<uint8_t>& datagram) {
    ::send(m_socket, datagram.data(), datagram.size(), 0);
}

uint16_t GvcpClient::send(uint16_t command, const std::vector<uint8_t>& payload, uint8_t flag) {
    const uint16_t id = m_nextId++;
    std::vector<uint8_t> datagram{0x42,
                                  flag,
                                  static_cast<uint8_t>(command >> 8),
                                  static_cast<uint8_t>(command),
                                  static_cast<uint8_t>(payload.size() >> 8),
                                  static_cast<uint8_t>(payload.size()),
                                  static_cast<uint8_t>(id >> 8),
                                  static_cast<uint8_t>(id)};
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    sendRaw(datagram);
    return id;
}

std::vector<uint8_t> GvcpClient::receive(std::chrono::milliseconds wait) {
    return ReceiveFrom(m_socket, wait);
}

std::vector<uint8_t> GvcpClient::transact(uint16_t command, const std::vector<uint8_t>& payload) {
    const uint16_t id = send(command, payload);
    for (;;) {
        std::vector<uint8_t> ack = receive();
        if (ack.size() < 8 || load16(ack, 6) == id)
            return ack;
    }
}

uint16_t GvcpClient::writeRegister(uint32_t address, uint32_t value) {
    const std::vector<uint8_t> ack = transact(0x0082, be32({address, value}));
    return ack.size() >= 8 ? load16(ack, 0) : 0xFFFF;
}

uint32_t GvcpClient::readRegister(uint32_t address) {
    const std::vector<uint8_t> ack = transact(0x0080, be32({address}));
    return ack.size() >= 12 ? load32(ack, 8) : 0xDEADBEEF;
}

std::vector<uint8_t> GvcpClient::readMemory(uint32_t address, uint16_t count) {
    const std::vector<uint8_t> ack = transact(0x0084, be32({address, count}));
    return ack.size() >= 12 ? std::vector<uint8_t>(ack.begin() + 12, ack.end())
                            : std::vector<uint8_t>();
}

UdpReceiver::UdpReceiver() : m_socket(LoopbackSocket()) {}

UdpReceiver::~UdpReceiver() {
    ::close(m_socket);
}

uint16_t UdpReceiver::port() const {
    return PortOf(m_socket);
}

std::vector<uint8_t> UdpReceiver::receive(std::chrono::milliseconds wait) {
    return ReceiveFrom(m_socket, wait);
}

} // namespace XEVTest
