#include "PcapWriter.h"

#include <chrono>
#include <stdexcept>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

/// A locally administered MAC address derived from the IPv4 address.
void PutMac(std::vector<uint8_t>& out, uint32_t ip) {
    out.push_back(0x02);
    out.push_back(0x00);
    PutBe(out, ip, 4);
}

uint16_t Ipv4Checksum(const uint8_t* header, std::size_t size) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

} // namespace

PcapWriter::PcapWriter(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {
    if (!m_file)
        throw std::runtime_error("cannot create the capture file " + path);
    std::vector<uint8_t> header;
    PutLe(header, 0xA1B2C3D4, 4); // microsecond time stamps
    PutLe(header, 2, 2);
    PutLe(header, 4, 2);
    PutLe(header, 0, 4);
    PutLe(header, 0, 4);
    PutLe(header, 65535, 4);
    PutLe(header, 1, 4); // Ethernet
    std::fwrite(header.data(), 1, header.size(), m_file);
}

PcapWriter::~PcapWriter() {
    std::fclose(m_file);
}

void PcapWriter::write(uint32_t sourceIp, uint16_t sourcePort, uint32_t destinationIp,
                       uint16_t destinationPort, const uint8_t* data, std::size_t size) {
    if (size > 65535 - 28)
        size = 65535 - 28;
    std::vector<uint8_t> frame;
    frame.reserve(42 + size);
    PutMac(frame, destinationIp);
    PutMac(frame, sourceIp);
    PutBe(frame, 0x0800, 2);
    const std::size_t ipStart = frame.size();
    PutBe(frame, 0x4500, 2);
    PutBe(frame, static_cast<uint32_t>(20 + 8 + size), 2);
    PutBe(frame, 0, 2);      // identification
    PutBe(frame, 0x4000, 2); // do not fragment
    PutBe(frame, 0x4011, 2); // TTL 64, UDP
    PutBe(frame, 0, 2);      // checksum, below
    PutBe(frame, sourceIp, 4);
    PutBe(frame, destinationIp, 4);
    const uint16_t checksum = Ipv4Checksum(frame.data() + ipStart, 20);
    frame[ipStart + 10] = static_cast<uint8_t>(checksum >> 8);
    frame[ipStart + 11] = static_cast<uint8_t>(checksum);
    PutBe(frame, sourcePort, 2);
    PutBe(frame, destinationPort, 2);
    PutBe(frame, static_cast<uint32_t>(8 + size), 2);
    PutBe(frame, 0, 2); // no UDP checksum
    frame.insert(frame.end(), data, data + size);

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    std::vector<uint8_t> record;
    PutLe(record, static_cast<uint32_t>(micros / 1000000), 4);
    PutLe(record, static_cast<uint32_t>(micros % 1000000), 4);
    PutLe(record, static_cast<uint32_t>(frame.size()), 4);
    PutLe(record, static_cast<uint32_t>(frame.size()), 4);
    std::lock_guard<std::mutex> hold(m_lock);
    std::fwrite(record.data(), 1, record.size(), m_file);
    std::fwrite(frame.data(), 1, frame.size(), m_file);
    std::fflush(m_file);
}

} // namespace Emulator
} // namespace XEVLibrary
