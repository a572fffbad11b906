#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace XEVTest {

/**
 * A bare GVCP client on a loopback socket, so that tests talk to an
 * emulated camera byte by byte: commands are built here, answers returned
 * as received.
 */
class GvcpClient {
public:
    /// A socket on 127.0.0.1 (any port) talking to @p camera:3956.
    explicit GvcpClient(const std::string& camera);
    ~GvcpClient();
    GvcpClient(const GvcpClient&) = delete;
    GvcpClient& operator=(const GvcpClient&) = delete;

    /// Sends a command (header built here, id returned).
    uint16_t send(uint16_t command, const std::vector<uint8_t>& payload, uint8_t flag = 0x01);
    void sendRaw(const std::vector<uint8_t>& datagram);
    /// The next datagram, or empty after @p wait.
    std::vector<uint8_t> receive(std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

    /// One transaction: the acknowledge of a fresh command.
    std::vector<uint8_t> transact(uint16_t command, const std::vector<uint8_t>& payload);
    uint16_t writeRegister(uint32_t address, uint32_t value); ///< the status
    uint32_t readRegister(uint32_t address);
    std::vector<uint8_t> readMemory(uint32_t address, uint16_t count);

    /// The local port (stream destination for the tests).
    uint16_t port() const;

private:
    int m_socket;
    uint16_t m_nextId = 1;
};

/// Big-endian helpers for the tests' packets.
uint16_t load16(const std::vector<uint8_t>& bytes, std::size_t at);
uint32_t load32(const std::vector<uint8_t>& bytes, std::size_t at);
std::vector<uint8_t> be32(std::initializer_list<uint32_t> values);

/// A UDP socket on 127.0.0.1 receiving a stream.
class UdpReceiver {
public:
    UdpReceiver();
    ~UdpReceiver();
    uint16_t port() const;
    std::vector<uint8_t> receive(std::chrono::milliseconds wait);

private:
    int m_socket;
};

} // namespace XEVTest
