#include "Gige/ByteOrder.h"

#include "XEVException.h"

#include <arpa/inet.h>

#include <cstring>

namespace XEVLibrary {
namespace ByteOrder {

std::string ReadText(const uint8_t* field, std::size_t width) {
    const void* zero = std::memchr(field, 0, width);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - field) : width;
    return std::string(reinterpret_cast<const char*>(field), length);
}

std::string Ipv4ToString(uint32_t address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xff) + '.' +
           std::to_string((address >> 8) & 0xff) + '.' + std::to_string(address & 0xff);
}

uint32_t Ipv4FromString(const std::string& text) {
    uint8_t bytes[4];
    // inet_pton accepts exactly four decimal parts; an embedded zero byte
    // would cut the text short, so refuse it first.
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), bytes) != 1)
        XEVException::throwError(
            XEVException::format(512, "Invalid IPv4 address \"%s\".", text.c_str()));
    return Load32(bytes);
}

} // namespace ByteOrder
} // namespace XEVLibrary
