#pragma once

#include <string>

namespace XEVLibrary {
namespace detail {

/// The micro sign as the library's own texts write it (Latin-1, byte 0xB5),
/// and as UTF-8 terminals and editors type it.
constexpr const char* Latin1MicroSeconds = "\265s";
constexpr const char* Utf8MicroSeconds = "\xC2\xB5s";

/// The power of ten that turns a value in @p unit into microseconds: -3 for
/// "ns", 0 for "us" and "µs" (either spelling of the micro sign), 3 for "ms",
/// 6 for "s". False when @p unit, exactly as written, is no time unit.
bool microsecondExponent(const std::string& unit, int& exponent);

} // namespace detail
} // namespace XEVLibrary
