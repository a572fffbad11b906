// The binary caches: their exact bytes, and every reason not to trust one.
#include "DiagnosticsCapture.h"
#include "NucTestUtil.h"

#include "toolbox/NucTableCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

using namespace XEVNucTest;
using XEVLibrary::XEVToolBox::detail::Nuc;

namespace {

// dark {1, 258}, gains {1, 0.5} at 1000 us: pixels of 1000 give 1999 and
// trunc(742 x 0.5) + 1000 = 1371.
const std::string Table = singleTable(1, 2, "1, 258", "1., 0.5");
const std::vector<int> TableOutput = {1999, 1371};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(char(v));
    return out;
}

// '0', rows 1, cols 2, 1000.0, dark {1, 258}, gains {1.0f, 0.5f}.
const std::string TableCache = bytes({'0', 1, 0, 2, 0, 0, 0,    0,    0, 0, 0x40, 0x8F, 0x40,
                                      1,   0, 2, 1, 0, 0, 0x80, 0x3F, 0, 0, 0,    0x3F});

/// The files of a directory, by name.
std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<int> correctedAt1000(const TempTree& tree) {
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    EXPECT_TRUE(device.announceNuc("40MHz", 1000.0));
    return corrected(stage, flatFrame(1, 2, 1000));
}

} // namespace

TEST(NucCache, LayoutIsByteExactAndWrittenWithoutLeftovers) {
    TempTree tree;
    tree.write("40MHz/NUCFactory_1000.yml", Table);
    tree.write("double/NUCFactory_500.yml", doubleTable(1, 1, "1", "2", "1.", "2."));
    SignalDevice device;
    {
        XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
        EXPECT_EQ(stage.tableCount(), 2u);
    }
    EXPECT_EQ(readFile(tree.bin("40MHz/NUCFactory_1000.nuc")), TableCache);
    // '1', 1 x 1, 500.0, then odd dark and gain, even dark and gain.
    EXPECT_EQ(readFile(tree.bin("double/NUCFactory_500.nuc")),
              bytes({'1', 1, 0, 1, 0,    0,    0, 0, 0, 0, 0x40, 0x7F, 0x40,
                     1,   0, 0, 0, 0x80, 0x3F, 2, 0, 0, 0, 0,    0x40}));
    // Written through a temporary file and renamed: nothing else is left.
    EXPECT_EQ(filesIn(tree.bin("40MHz")), (std::vector<std::string>{"NUCFactory_1000.nuc"}));
    EXPECT_EQ(filesIn(tree.bin("double")), (std::vector<std::string>{"NUCFactory_500.nuc"}));
}

TEST(NucCache, DecodingRefusesAnythingButASoundCache) {
    const auto with = [](std::size_t offset, const std::string& patch) {
        std::string damaged = TableCache;
        damaged.replace(offset, patch.size(), patch);
        return damaged;
    };
    std::string nanExposure(8, '\0');
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nanExposure.data(), &nan, 8);
    const struct {
        const char* what;
        std::string cache;
        std::string why;
    } cases[] = {
        {"empty", "", "shorter than its header"},
        {"header cut", TableCache.substr(0, 12), "shorter than its header"},
        {"no flag", with(0, "x"), "no double flag"},
        {"no rows", with(1, bytes({0, 0})), "a table of 0x2"},
        {"no cols", with(3, bytes({0, 0})), "a table of 1x0"},
        {"rows above any sensor", with(1, bytes({0x01, 0x40})), "a table of 16385x2"},
        {"truncated", TableCache.substr(0, 24), "24 bytes where its header announces 25"},
        {"longer", TableCache + "x", "26 bytes where its header announces 25"},
        {"header for more rows", with(1, bytes({2, 0})), "25 bytes where its header announces 37"},
        {"double flag on a single table", with(0, "1"), "25 bytes where its header announces 37"},
        {"exposure not a number", with(5, nanExposure), "no exposure"},
        {"negative gain", with(24, bytes({0xBF})), "a gain that is not finite or negative"},
        {"infinite gain", with(21, bytes({0, 0, 0x80, 0x7F})),
         "a gain that is not finite or negative"},
    };
    for (const auto& c : cases) {
        Nuc table;
        table.rows = 9;
        std::string why;
        EXPECT_FALSE(detail::decodeNucCache(c.cache.data(), c.cache.size(), table, why)) << c.what;
        EXPECT_EQ(why, c.why) << c.what;
        EXPECT_EQ(table.rows, 9) << c.what << ": touched on refusal";
    }
    Nuc table;
    std::string why;
    ASSERT_TRUE(detail::decodeNucCache(TableCache.data(), TableCache.size(), table, why)) << why;
    EXPECT_EQ(table.exposure, 1000.0);
    EXPECT_EQ(table.set1.dark, (std::vector<uint16_t>{1, 258}));
    EXPECT_EQ(table.set1.gain, (std::vector<float>{1.0f, 0.5f}));
}

TEST(NucCache, DamagedOrStaleCachesAreRebuiltFromTheirTable) {
    const std::string cache = "40MHz/NUCFactory_1000.nuc";
    const struct {
        const char* what;
        std::function<void(const TempTree&)> damage;
        std::string why;
    } cases[] = {
        {"truncated", [&](const TempTree& t) { fs::resize_file(t.bin(cache), 20); },
         "20 bytes where its header announces 25"},
        {"header against size",
         [&](const TempTree& t) {
             writeFile(t.bin(cache),
                       TableCache.substr(0, 1) + bytes({3, 0}) + TableCache.substr(3));
         },
         "25 bytes where its header announces 49"},
        {"no rows",
         [&](const TempTree& t) {
             writeFile(t.bin(cache),
                       TableCache.substr(0, 1) + bytes({0, 0}) + TableCache.substr(3));
         },
         "a table of 0x2"},
        {"another exposure's cache",
         [&](const TempTree& t) {
             std::string other = TableCache;
             other[12] = 0x41; // 1000.0 becomes 1000 x 2^16
             writeFile(t.bin(cache), other);
         },
         "for another exposure"},
        {"older than its table",
         [&](const TempTree& t) {
             touchRelative(t.nuc("40MHz/NUCFactory_1000.yml"), t.bin(cache),
                           std::chrono::seconds(5));
         },
         "older than its table"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.write("40MHz/NUCFactory_1000.yml", Table);
        EXPECT_EQ(correctedAt1000(tree), TableOutput); // writes the cache
        c.damage(tree);
        XEVTest::DiagnosticsCapture diagnostics;
        EXPECT_EQ(correctedAt1000(tree), TableOutput);
        EXPECT_EQ(diagnostics.text(), "XEVInterpolatedNuc: the NUC cache " + tree.bin(cache) +
                                          " is rebuilt: " + c.why + ".\n");
        EXPECT_EQ(readFile(tree.bin(cache)), TableCache);
    }
}

TEST(NucCache, AStaleCacheGivesWayToTheNewTable) {
    TempTree tree;
    const std::string text = tree.write("40MHz/NUCFactory_1000.yml", Table);
    EXPECT_EQ(correctedAt1000(tree), TableOutput);
    XEVTest::DiagnosticsCapture diagnostics; // the cache is rebuilt
    // A new calibration: dark {5, 6}; 995 and trunc(994 x 0.5) = 497.
    writeFile(text, singleTable(1, 2, "5, 6", "1., 0.5"));
    touchRelative(text, tree.bin("40MHz/NUCFactory_1000.nuc"), std::chrono::seconds(1));
    EXPECT_EQ(correctedAt1000(tree), (std::vector<int>{1995, 1497}));
}

TEST(NucCache, ASecondRunReadsTheCachesAndCorrectsTheSame) {
    TempTree tree;
    const std::string text = tree.write("40MHz/NUCFactory_1000.yml", Table);
    const std::vector<int> first = correctedAt1000(tree);
    EXPECT_EQ(first, TableOutput);
    // The text table spoilt but older than its cache: only the cache is read.
    writeFile(text, "not a table");
    touchRelative(text, tree.bin("40MHz/NUCFactory_1000.nuc"), std::chrono::seconds(-5));
    XEVTest::DiagnosticsCapture diagnostics;
    EXPECT_EQ(correctedAt1000(tree), first);
    EXPECT_EQ(diagnostics.text(), "");
}

TEST(NucCache, ATreeWhoseCachesCannotBeWrittenIsUsedAnyway) {
    TempTree tree;
    tree.write("40MHz/NUCFactory_1000.yml", Table);
    tree.write("40MHz/NUCFactory_3000.yml", singleTable(1, 2, "1, 258", "1., 0.5"));
    // A file where the cache directory should be: no cache can be created
    // (permissions would not stop a test run as root).
    writeFile(tree.nuc("Bin"), "in the way");
    XEVTest::DiagnosticsCapture diagnostics;
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    EXPECT_EQ(stage.tableCount(), 2u);
    EXPECT_TRUE(device.announceNuc("40MHz", 1000.0));
    EXPECT_EQ(corrected(stage, flatFrame(1, 2, 1000)), TableOutput);
    // Said once for the tree, not once per table.
    const std::string text = diagnostics.text();
    EXPECT_EQ(text.rfind("XEVInterpolatedNuc: the NUC cache " +
                             tree.bin("40MHz/NUCFactory_1000.nuc") + " cannot be written (",
                         0),
              0u)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find("); the tables are used without their caches.\n"), std::string::npos);
}
