#include "GigeCameraMemory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace XEVLibrary {
namespace Emulator {

namespace {

uint32_t Ipv4(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        throw std::runtime_error("not an IPv4 address: " + text);
    return ntohl(address.s_addr);
}

} // namespace

GigeCameraMemory::GigeCameraMemory(const XEVGigeCameraConfig& config,
                                   const GigeDescription& description)
    : m_bytes(Size, 0), m_writable(Size / 4, false) {
    using namespace Bootstrap;
    write32(Version, 0x00020000);    // GigE Vision 2.0
    write32(DeviceMode, 0x80000000); // big-endian registers, transmitter
    write32(MacHigh, uint32_t(config.mac[0]) << 8 | config.mac[1]);
    write32(MacLow, uint32_t(config.mac[2]) << 24 | uint32_t(config.mac[3]) << 16 |
                        uint32_t(config.mac[4]) << 8 | config.mac[5]);
    write32(IpConfigOptions, 0x80000007); // persistent, DHCP, link-local
    write32(CurrentIp, Ipv4(config.address));
    write32(CurrentSubnetMask, Ipv4(config.subnetMask));
    write32(DefaultGateway, Ipv4(config.gateway));
    writeText(ManufacturerName, 32, config.manufacturerName);
    writeText(ManufacturerInfo, 48, "Emulated camera");
    writeText(SerialNumber, 16, config.serialNumber);
    write32(NetworkInterfaces, 1);
    write32(MessageChannels, 0);
    write32(StreamChannels, 1);
    write32(TimestampFrequencyHigh, 0);
    write32(TimestampFrequencyLow, 1000000000); // nanosecond time stamps

    for (const GigeFeature& entry : description.features) {
        if (entry.kind == GigeFeature::Kind::String)
            writeText(entry.address, entry.length, entry.text);
        else if (entry.kind != GigeFeature::Kind::Command)
            write32(entry.address, entry.initial);
        // A client writes a text filling its register with 4 more zero bytes.
        const uint32_t span =
            std::max(entry.length, 4u) + (entry.kind == GigeFeature::Kind::String ? 4u : 0u);
        if (entry.access != "RO")
            for (uint32_t a = entry.address; a < entry.address + span; a += 4)
                m_writable[a / 4] = true;
    }
    for (uint32_t address : {ControlPrivilege, HeartbeatTimeout, StreamPort, StreamPacketSize,
                             StreamPacketDelay, StreamDestination, IpConfigCurrent})
        m_writable[address / 4] = true;
}

uint32_t GigeCameraMemory::read32(uint32_t address) const {
    const uint8_t* p = &m_bytes[address];
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void GigeCameraMemory::write32(uint32_t address, uint32_t value) {
    uint8_t* p = &m_bytes[address];
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

void GigeCameraMemory::writeBytes(uint32_t address, const uint8_t* data, std::size_t size) {
    std::copy(data, data + size, m_bytes.begin() + address);
}

void GigeCameraMemory::writeText(uint32_t address, std::size_t width, const std::string& text) {
    std::fill_n(m_bytes.begin() + address, width, 0);
    std::copy_n(text.begin(), std::min(text.size(), width), m_bytes.begin() + address);
}

bool GigeCameraMemory::writable(uint32_t address) const {
    return address % 4 == 0 && contains(address, 4) && m_writable[address / 4];
}

void GigeCameraMemory::installDescription(const std::string& xml, const std::string& modelName,
                                          XEVGigeDescriptionFault fault) {
    const std::string fileName = modelName + ".zip";
    std::vector<uint8_t> file;
    if (fault == XEVGigeDescriptionFault::PlainXml) {
        file.assign(xml.begin(), xml.end());
    } else {
        file = zipArchive(modelName + ".xml", xml);
        if (fault == XEVGigeDescriptionFault::Corrupt)
            for (std::size_t i = 40; i < file.size() && i < 80; ++i)
                file[i] = static_cast<uint8_t>(~file[i]);
    }
    const std::size_t room = 0x10000 - Bootstrap::DescriptionFile;
    if (file.size() > room)
        throw std::runtime_error("the description file does not fit the camera's memory");
    writeBytes(Bootstrap::DescriptionFile, file.data(), file.size());

    std::size_t announced = file.size();
    if (fault == XEVGigeDescriptionFault::Truncated)
        announced /= 2;
    char url[512];
    if (fault == XEVGigeDescriptionFault::OtherScheme)
        std::snprintf(url, sizeof url, "http://127.0.0.1/%s", fileName.c_str());
    else if (fault == XEVGigeDescriptionFault::AbsurdLength)
        std::snprintf(url, sizeof url, "local:%s;%X;FFFFFFFF", fileName.c_str(),
                      Bootstrap::DescriptionFile);
    else
        std::snprintf(url, sizeof url, "local:%s;%X;%zX", fileName.c_str(),
                      Bootstrap::DescriptionFile, announced);
    writeText(Bootstrap::FirstUrl, 512, url);
    writeText(Bootstrap::SecondUrl, 512, "");
}

} // namespace Emulator
} // namespace XEVLibrary
