#include "toolbox/NucCatalogue.h"

#include "XEVException.h"
#include "device/Diagnostics.h"
#include "toolbox/NucTableCache.h"
#include "toolbox/NucTableText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace fs = std::filesystem;

namespace {

constexpr char TablePrefix[] = "NUCFactory_";
constexpr std::size_t TablePrefixLength = sizeof(TablePrefix) - 1;

bool isTextTable(const fs::path& path) {
    const std::string name = path.filename().string();
    return path.extension() == ".yml" && name.compare(0, TablePrefixLength, TablePrefix) == 0;
}

/// The exposure of "NUCFactory_<exposure>.yml".
double exposureOf(const fs::path& path) {
    const std::string stem = path.stem().string().substr(TablePrefixLength);
    char* end = nullptr;
    const double exposure = std::strtod(stem.c_str(), &end);
    if (stem.empty() || end != stem.c_str() + stem.size() || !std::isfinite(exposure))
        XEVException::throwError("%s: the file name holds no exposure time.",
                                 path.string().c_str());
    return exposure;
}

bool olderThan(const fs::path& cache, const fs::path& text) {
    std::error_code a, b;
    const auto cacheTime = fs::last_write_time(cache, a);
    const auto textTime = fs::last_write_time(text, b);
    return !a && !b && cacheTime < textTime;
}

/// The table of @p text: its cache when it can be trusted, else the text
/// table parsed and its cache written.
std::shared_ptr<const Nuc> loadTable(const std::string& root, const fs::path& text,
                                     bool& unwritableTold) {
    const double exposure = exposureOf(text);
    const std::string cache = nucCachePath(root, text.string());
    auto table = std::make_shared<Nuc>();
    std::error_code error;
    if (fs::exists(cache, error)) {
        std::string why;
        if (olderThan(cache, text))
            why = "older than its table";
        else if (loadNucCache(cache, *table, why) && table->exposure != exposure)
            why = "for another exposure";
        if (why.empty())
            return table;
        XEVLibrary::detail::inform("XEVInterpolatedNuc: the NUC cache " + cache +
                                   " is rebuilt: " + why + ".");
    }
    parseNucTextFile(text.string(), *table);
    table->exposure = exposure;
    std::string why;
    if (!saveNucCache(cache, *table, why) && !unwritableTold) {
        unwritableTold = true;
        XEVLibrary::detail::inform("XEVInterpolatedNuc: the NUC cache " + cache +
                                   " cannot be written (" + why +
                                   "); the tables are used without their caches.");
    }
    return table;
}

} // namespace

std::string nucRoot(const std::string& basePath) {
    std::string root = basePath;
    std::replace(root.begin(), root.end(), '\\', '/');
    if (root.empty() || root.back() != '/')
        root += '/';
    return root + "NUC/";
}

std::string nucCachePath(const std::string& root, const std::string& textPath) {
    std::string relative = textPath.substr(std::min(root.size(), textPath.size()));
    const std::size_t dot = relative.rfind('.');
    if (dot != std::string::npos && relative.find('/', dot) == std::string::npos)
        relative.erase(dot);
    return root + "Bin/" + relative + ".nuc";
}

NucCatalogue buildNucCatalogue(const std::string& root) {
    NucCatalogue catalogue;
    std::error_code error;
    if (!fs::is_directory(root, error))
        return catalogue;

    // Sorted, so that the same tree always loads (and fails) the same way.
    std::vector<fs::path> texts;
    const fs::path bin = fs::path(root) / "Bin";
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && it->path() == bin)
            it.disable_recursion_pending(); // the caches, not the tree
        else if (it->is_regular_file(error) && isTextTable(it->path()))
            texts.push_back(it->path());
    }
    if (error)
        XEVException::throwError("XEVInterpolatedNuc: the NUC tree %s cannot be read: %s",
                                 root.c_str(), error.message().c_str());
    std::sort(texts.begin(), texts.end());

    bool unwritableTold = false;
    for (const fs::path& text : texts) {
        std::shared_ptr<const Nuc> table = loadTable(root, text, unwritableTold);
        NucTables& tables = catalogue[text.parent_path()];
        if (!tables.empty()) {
            const Nuc& first = *tables.begin()->second;
            if (first.rows != table->rows || first.cols != table->cols ||
                first.isDouble != table->isDouble)
                XEVException::throwError(
                    "%s: a %s table of %ux%u among %s tables of %ux%u.", text.string().c_str(),
                    table->isDouble ? "double" : "single", unsigned(table->rows),
                    unsigned(table->cols), first.isDouble ? "double" : "single",
                    unsigned(first.rows), unsigned(first.cols));
        }
        if (!tables.emplace(table->exposure, table).second)
            XEVException::throwError("%s: a second table at the exposure %g.",
                                     text.string().c_str(), table->exposure);
    }
    return catalogue;
}

std::shared_ptr<const Nuc> chooseNuc(const NucTables& tables, double exposure) {
    if (tables.empty())
        return nullptr;
    const auto high = tables.lower_bound(exposure);
    if (high == tables.end())
        return std::prev(high)->second;
    if (high->first == exposure || high == tables.begin())
        return high->second;
    const auto low = std::prev(high);
    return std::make_shared<const Nuc>(interpolateNuc(*low->second, *high->second, exposure));
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
