#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace XEVLibrary {

/// Big-endian (network order) field access on packet bytes. Every read goes
/// byte by byte, so it needs no alignment and never reinterprets memory.
namespace ByteOrder {

inline uint16_t Load16(const uint8_t* p) {
    return static_cast<uint16_t>((static_cast<unsigned>(p[0]) << 8) | p[1]);
}

inline uint32_t Load32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint64_t Load64(const uint8_t* p) {
    return (static_cast<uint64_t>(Load32(p)) << 32) | Load32(p + 4);
}

inline void Store16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

inline void Store32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

/// The text of a fixed-width field: up to its first zero byte, or the whole
/// field when it holds none.
std::string ReadText(const uint8_t* field, std::size_t width);

/// A host-order IPv4 address in dotted decimal form.
std::string Ipv4ToString(uint32_t address);

/// Parses a dotted-quad IPv4 text into a host-order value; raises an
/// XEVException when the text is not one.
uint32_t Ipv4FromString(const std::string& text);

} // namespace ByteOrder
} // namespace XEVLibrary
