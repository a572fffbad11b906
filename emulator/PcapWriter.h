#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace XEVLibrary {
namespace Emulator {

/**
 * Writes UDP datagrams to a pcap file that network analysers open: each
 * datagram gets made-up Ethernet, IPv4 and UDP headers around it. Safe to
 * call from several threads.
 */
class PcapWriter {
public:
    /// Throws std::runtime_error when @p path cannot be created.
    explicit PcapWriter(const std::string& path);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    /// Addresses are host-order IPv4 values.
    void write(uint32_t sourceIp, uint16_t sourcePort, uint32_t destinationIp,
               uint16_t destinationPort, const uint8_t* data, std::size_t size);

private:
    std::mutex m_lock;
    std::FILE* m_file;
};

} // namespace Emulator
} // namespace XEVLibrary
