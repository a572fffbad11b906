#pragma once

#include "toolbox/NucTable.h"

#include <cstddef>
#include <string>

// The text form of a NUC table: an OpenCV-style YAML subset.
//
//   %YAML:1.0
//   NUCDark: !!opencv-matrix
//      rows: 2
//      cols: 3
//      dt: w
//      data: [ 1, 2, 3, 4, 5, 6 ]
//   GainMap: !!opencv-matrix
//      ...
//      dt: f
//
// A single table holds "NUCDark" and "GainMap", a double table "NUCDarkOdd",
// "NUCDarkEven", "GainMapOdd" and "GainMapEven", in that order. A "---" line
// after the header (as OpenCV writes it) is allowed; whitespace between
// tokens is skipped.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/**
 * Parses the table held in @p text (@p size bytes, not necessarily ended by
 * a zero) into @p out, its exposure left untouched. Anything else than a
 * whole, well-formed table raises an XEVException whose message starts with
 * "@p name:<line>: " and says what was expected: dark values are integers
 * 0..65535, gains finite and not negative, rows and cols 1..MaxNucSide, every
 * matrix of the size of the first and holding exactly rows x cols values.
 */
void parseNucText(const char* text, std::size_t size, const std::string& name, Nuc& out);

/// Reads the file at @p path and parses it (see parseNucText); a file that
/// cannot be read raises an XEVException naming it.
void parseNucTextFile(const std::string& path, Nuc& out);

/// The text form of @p table, which parseNucText reads back to the same
/// values (gains with nine significant digits).
std::string formatNucText(const Nuc& table);

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
