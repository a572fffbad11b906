#include "Gige/ForceIpCmd.h"

#include "Gige/ByteOrder.h"
#include "XEVException.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace XEVLibrary {

namespace {
constexpr std::size_t OffMacHigh = 10;
constexpr std::size_t OffMacLow = 12;
constexpr std::size_t OffStaticIp = 28;
constexpr std::size_t OffStaticSubnetMask = 44;
constexpr std::size_t OffStaticDefaultGateway = 60;
constexpr std::size_t MacTextLength = 17;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

[[noreturn]] void InvalidMac(const std::string& mac) {
    XEVException::throwError(XEVException::format(512, "Invalid MAC address \"%s\".", mac.c_str()));
}
} // namespace

void ForceIpCmd::ParseMac(const std::string& mac, uint16_t& high, uint32_t& low) {
    if (mac.size() != MacTextLength)
        InvalidMac(mac);
    uint64_t value = 0;
    // Pairs start every third character; the characters between them are
    // separators of any kind and are skipped.
    for (std::size_t pair = 0; pair < 6; ++pair) {
        const int upper = HexDigit(mac[pair * 3]);
        const int lower = HexDigit(mac[pair * 3 + 1]);
        if (upper < 0 || lower < 0)
            InvalidMac(mac);
        value = (value << 8) | static_cast<uint64_t>(upper << 4 | lower);
    }
    high = static_cast<uint16_t>(value >> 32);
    low = static_cast<uint32_t>(value);
}

ForceIpCmd::ForceIpCmd(const std::string& ip, const std::string& mask, const std::string& gateway,
                       const std::string& mac) {
    // Parse everything before drawing a request id, so that a refused text
    // leaves the counter alone.
    uint16_t macHigh = 0;
    uint32_t macLow = 0;
    ParseMac(mac, macHigh, macLow);
    const uint32_t staticIp = ByteOrder::Ipv4FromString(ip);
    const uint32_t staticMask = ByteOrder::Ipv4FromString(mask);
    const uint32_t staticGateway = ByteOrder::Ipv4FromString(gateway);

    const CmdHeader header(Gvcp::CmdForceIp, Gvcp::FlagBroadcastAck,
                           static_cast<unsigned short>(Size - CmdHeader::Size));
    std::copy(header.Bytes().begin(), header.Bytes().end(), m_bytes.begin());
    ByteOrder::Store16(&m_bytes[OffMacHigh], macHigh);
    ByteOrder::Store32(&m_bytes[OffMacLow], macLow);
    ByteOrder::Store32(&m_bytes[OffStaticIp], staticIp);
    ByteOrder::Store32(&m_bytes[OffStaticSubnetMask], staticMask);
    ByteOrder::Store32(&m_bytes[OffStaticDefaultGateway], staticGateway);
}

uint16_t ForceIpCmd::Id() const {
    return ByteOrder::Load16(&m_bytes[6]);
}
uint16_t ForceIpCmd::MacAddressHigh() const {
    return ByteOrder::Load16(&m_bytes[OffMacHigh]);
}
uint32_t ForceIpCmd::MacAddressLow() const {
    return ByteOrder::Load32(&m_bytes[OffMacLow]);
}
uint32_t ForceIpCmd::StaticIp() const {
    return ByteOrder::Load32(&m_bytes[OffStaticIp]);
}
uint32_t ForceIpCmd::StaticSubnetMask() const {
    return ByteOrder::Load32(&m_bytes[OffStaticSubnetMask]);
}
uint32_t ForceIpCmd::StaticDefaultGateway() const {
    return ByteOrder::Load32(&m_bytes[OffStaticDefaultGateway]);
}

void ForceIpCmd::Dump(std::ostream& out) const {
    std::ostringstream text;
    Header().Dump(text);
    text << std::hex << "--> MACAddressHigh:\t" << MacAddressHigh() << '\n'
         << "--> MACAddressLow:\t" << MacAddressLow() << '\n'
         << "--> staticIP:\t" << StaticIp() << '\n'
         << "--> staticDefaultGateway:\t" << StaticDefaultGateway() << '\n'
         << "--> staticSubnetMask:\t" << StaticSubnetMask() << '\n';
    out << text.str();
}

} // namespace XEVLibrary
