#pragma once

#include "GigeDescription.h"

#include <cstdint>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// Addresses of the standard bootstrap registers the emulator implements.
namespace Bootstrap {
constexpr uint32_t Version = 0x0000;
constexpr uint32_t DeviceMode = 0x0004;
constexpr uint32_t MacHigh = 0x0008;
constexpr uint32_t MacLow = 0x000C;
constexpr uint32_t IpConfigOptions = 0x0010;
constexpr uint32_t IpConfigCurrent = 0x0014;
constexpr uint32_t CurrentIp = 0x0024;
constexpr uint32_t CurrentSubnetMask = 0x0034;
constexpr uint32_t DefaultGateway = 0x0044;
constexpr uint32_t ManufacturerName = 0x0048;
constexpr uint32_t ModelName = 0x0068;
constexpr uint32_t DeviceVersion = 0x0088;
constexpr uint32_t ManufacturerInfo = 0x00A8;
constexpr uint32_t SerialNumber = 0x00D8;
constexpr uint32_t UserDefinedName = 0x00E8;
constexpr uint32_t FirstUrl = 0x0200;
constexpr uint32_t SecondUrl = 0x0400;
constexpr uint32_t NetworkInterfaces = 0x0600;
constexpr uint32_t MessageChannels = 0x0900;
constexpr uint32_t StreamChannels = 0x0904;
constexpr uint32_t GvcpCapability = 0x0934;
constexpr uint32_t HeartbeatTimeout = 0x0938;
constexpr uint32_t TimestampFrequencyHigh = 0x093C;
constexpr uint32_t TimestampFrequencyLow = 0x0940;
constexpr uint32_t ControlPrivilege = 0x0A00;
constexpr uint32_t StreamPort = 0x0D00;
constexpr uint32_t StreamPacketSize = 0x0D04;
constexpr uint32_t StreamPacketDelay = 0x0D08;
constexpr uint32_t StreamDestination = 0x0D18;
constexpr uint32_t StreamSourcePort = 0x0D1C;
/// Where the zipped description file lives (within 16 bits of address).
constexpr uint32_t DescriptionFile = 0x2000;
} // namespace Bootstrap

/**
 * The camera's address space: 32-bit big-endian registers and byte blocks
 * (texts, the description file) in one flat memory, with the access rights
 * of each register.
 */
class GigeCameraMemory {
public:
    static constexpr uint32_t Size = 0x20000;

    GigeCameraMemory(const XEVGigeCameraConfig& config, const GigeDescription& description);

    /// True when [address, address + size) lies in the memory.
    bool contains(uint32_t address, std::size_t size) const {
        return address < Size && size <= Size - address;
    }
    uint32_t read32(uint32_t address) const;
    void write32(uint32_t address, uint32_t value);
    const uint8_t* bytes(uint32_t address) const { return &m_bytes[address]; }
    void writeBytes(uint32_t address, const uint8_t* data, std::size_t size);
    void writeText(uint32_t address, std::size_t width, const std::string& text);

    /// True when a client may write the register at @p address.
    bool writable(uint32_t address) const;

    /// Serves the description as @p fault says (first URL and file).
    void installDescription(const std::string& xml, const std::string& modelName,
                            XEVGigeDescriptionFault fault);

private:
    std::vector<uint8_t> m_bytes;
    std::vector<bool> m_writable; // one flag per 32-bit register
};

} // namespace Emulator
} // namespace XEVLibrary
