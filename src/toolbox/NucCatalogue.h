#pragma once

#include "toolbox/NucTable.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

// The calibration tree of the exposure-following NUC stage: below the NUC
// root, one directory per camera configuration holding text tables named
// "NUCFactory_<exposure>.yml", and their binary caches below "Bin/".
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// The tables of one calibration directory by exposure time.
using NucTables = std::map<double, std::shared_ptr<const Nuc>>;
/// Every calibration directory of a tree with its tables.
using NucCatalogue = std::map<std::filesystem::path, NucTables>;

/// The NUC root of @p basePath: every "\" turned into "/", a "/" appended
/// when missing, then "NUC/".
std::string nucRoot(const std::string& basePath);

/// The cache of the text table at @p textPath below @p root (a NUC root):
/// the same relative path below root + "Bin/", with the extension ".nuc".
std::string nucCachePath(const std::string& root, const std::string& textPath);

/**
 * Loads every table of the tree below @p root: from its cache when the cache
 * is sound, for the same exposure and not older than the text table; else
 * from the text table, whose cache is then written (a cache that cannot be
 * written is reported once through the diagnostics, and the table used
 * anyway). A tree that does not exist gives an empty catalogue.
 *
 * A bad text table refuses the whole tree with an XEVException naming the
 * file (and the line): a table the parser refuses, a file name without an
 * exposure time, two tables of one directory at the same exposure or of
 * different shapes.
 */
NucCatalogue buildNucCatalogue(const std::string& root);

/**
 * The table for @p exposure among @p tables (not empty): the one at that
 * exposure; the first one below the first exposure, the last one above the
 * last; else the interpolation between the two tables around it.
 */
std::shared_ptr<const Nuc> chooseNuc(const NucTables& tables, double exposure);

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
