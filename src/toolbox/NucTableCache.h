#pragma once

#include "toolbox/NucTable.h"

#include <cstddef>
#include <string>
#include <vector>

// The binary cache of a parsed NUC table, in native byte order:
//
//   offset 0   1 byte   the double flag, the character '0' or '1'
//          1   2 bytes  rows
//          3   2 bytes  cols
//          5   8 bytes  exposure (double)
//         13            set 1 dark values (rows x cols x 2 bytes), then its
//                       gains (rows x cols x 4 bytes); a double table then
//                       holds set 2 the same way.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// Size of the header before the maps.
constexpr std::size_t NucCacheHeader = 13;

/// The cache bytes of @p table.
std::vector<char> encodeNucCache(const Nuc& table);

/**
 * Reads a cache from @p size bytes at @p data into @p out. A cache is never
 * trusted blindly: a flag other than '0' or '1', rows or cols 0 or above
 * MaxNucSide, a size other than the header announces, a non-finite exposure
 * or a gain that is not finite or negative make it return false with the
 * reason in @p why, leaving @p out untouched.
 */
bool decodeNucCache(const char* data, std::size_t size, Nuc& out, std::string& why);

/// Reads the cache file at @p path (see decodeNucCache); a file that cannot
/// be read returns false with the reason.
bool loadNucCache(const std::string& path, Nuc& out, std::string& why);

/**
 * Writes the cache of @p table at @p path, creating its directories. The
 * bytes go to a temporary file in the same directory that is then renamed
 * over @p path, so that a crash never leaves half a cache. Returns false
 * with the reason in @p why (and no temporary file left) when it cannot.
 */
bool saveNucCache(const std::string& path, const Nuc& table, std::string& why);

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
