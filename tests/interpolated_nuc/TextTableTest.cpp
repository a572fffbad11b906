// The text tables: what the parser reads, and every refusal with its file
// and line.
#include "NucTestUtil.h"

#include "XEVException.h"
#include "toolbox/NucTableText.h"

using namespace XEVNucTest;
using XEVLibrary::XEVToolBox::detail::Nuc;

namespace {

/// What parsing @p text as "T.yml" throws ("<no exception>" when it parses).
std::string refusalOf(const std::string& text) {
    return XEVTest::messageOf([&] {
        Nuc table;
        detail::parseNucText(text.data(), text.size(), "T.yml", table);
    });
}

Nuc parsed(const std::string& text) {
    Nuc table;
    table.exposure = 42.0;
    detail::parseNucText(text.data(), text.size(), "T.yml", table);
    return table;
}

// Lines of the reference table: 1 "%YAML:1.0", 2 "---", 3-7 the dark matrix
// ("data" on 7), 8-12 the gain matrix ("data" on 12).
const std::string Good = singleTable(1, 2, "1, 2", "1., 0.5");

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

} // namespace

TEST(NucText, ReadsSingleAndDoubleTables) {
    const Nuc single = parsed(Good);
    EXPECT_TRUE(single.parsed);
    EXPECT_FALSE(single.isDouble);
    EXPECT_EQ(single.rows, 1);
    EXPECT_EQ(single.cols, 2);
    EXPECT_EQ(single.exposure, 42.0); // left to the caller
    EXPECT_EQ(single.set1.dark, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(single.set1.gain, (std::vector<float>{1.0f, 0.5f}));
    EXPECT_TRUE(single.set2.dark.empty());

    // As OpenCV writes them: values on several lines, exponents, no "---",
    // no spaces after the colons; the largest dark value and a zero gain.
    const Nuc twofold = parsed("%YAML:1.0\nNUCDarkOdd: !!opencv-matrix\n rows:2\n cols:1\n dt: w\n"
                               " data: [ 65535,\n    0 ]\nNUCDarkEven: !!opencv-matrix\n"
                               " rows: 2\n cols: 1\n dt: w\n data: [3,4]\n"
                               "GainMapOdd: !!opencv-matrix\n rows: 2\n cols: 1\n dt: f\n"
                               " data: [ 1.25000000e+00, 0. ]\nGainMapEven: !!opencv-matrix\n"
                               " rows: 2\n cols: 1\n dt: f\n data: [ 2.5e-1, 3 ]\n");
    EXPECT_TRUE(twofold.isDouble);
    EXPECT_EQ(twofold.rows, 2);
    EXPECT_EQ(twofold.cols, 1);
    EXPECT_EQ(twofold.set1.dark, (std::vector<uint16_t>{65535, 0}));
    EXPECT_EQ(twofold.set2.dark, (std::vector<uint16_t>{3, 4}));
    EXPECT_EQ(twofold.set1.gain, (std::vector<float>{1.25f, 0.0f}));
    EXPECT_EQ(twofold.set2.gain, (std::vector<float>{0.25f, 3.0f}));
}

TEST(NucText, RefusalsNameTheFileAndTheLine) {
    const struct {
        const char* what;
        std::string text;
        std::string message;
    } cases[] = {
        {"no header", Good.substr(10), "T.yml:1: expected \"%YAML:1.0\", found \"---\""},
        {"gain type for a dark map", replaced(Good, "dt: w", "dt: f"),
         "T.yml:6: expected \"dt: w\", found \"f\""},
        {"dark type for a gain map", replaced(Good, "dt: f", "dt: w"),
         "T.yml:11: expected \"dt: f\", found \"w\""},
        {"unknown first matrix", replaced(Good, "NUCDark:", "NUCDarkX:"),
         "T.yml:3: expected \"NUCDark: !!opencv-matrix\" or \"NUCDarkOdd: !!opencv-matrix\", "
         "found \"NUCDarkX:\""},
        {"unknown second matrix", replaced(Good, "GainMap:", "GainMapOdd:"),
         "T.yml:8: expected \"GainMap: !!opencv-matrix\", found \"GainMapOdd:\""},
        {"no matrix tag", replaced(Good, "GainMap: !!opencv-matrix", "GainMap: matrix"),
         "T.yml:8: expected \"GainMap: !!opencv-matrix\", found \"matrix\""},
        {"truncated in the values", Good.substr(0, Good.find("2 ]")),
         "T.yml:7: expected a dark value, found the end of the file"},
        {"truncated before a matrix", Good.substr(0, Good.find("GainMap")),
         "T.yml:8: expected \"GainMap: !!opencv-matrix\", found the end of the file"},
        {"fewer values than announced", replaced(Good, "cols: 2\n   dt: w", "cols: 3\n   dt: w"),
         "T.yml:7: NUCDark holds 2 values, 1x3 announces 3"},
        {"more values than announced", replaced(Good, "1, 2", "1, 2, 3"),
         "T.yml:7: NUCDark holds more than the 2 values 1x2 announces"},
        {"far more values announced than the file holds",
         replaced(Good, "rows: 1\n   cols: 2\n   dt: w", "rows: 16384\n   cols: 16384\n   dt: w"),
         "T.yml:7: NUCDark announces 268435456 values, more than the file holds"},
        {"a separator missing", replaced(Good, "1, 2", "1 2"),
         "T.yml:7: expected \",\", found \"2\""},
        {"dark above 16 bits", replaced(Good, "1, 2", "1, 65536"),
         "T.yml:7: dark value \"65536\" is not an integer 0..65535"},
        {"negative dark", replaced(Good, "1, 2", "-1, 2"),
         "T.yml:7: dark value \"-1\" is not an integer 0..65535"},
        {"fractional dark", replaced(Good, "1, 2", "1, 2.5"),
         "T.yml:7: dark value \"2.5\" is not an integer 0..65535"},
        {"negative gain", replaced(Good, "1., 0.5", "1., -0.5"),
         "T.yml:12: gain \"-0.5\" is negative"},
        {"NaN gain", replaced(Good, "1., 0.5", ".Nan, 0.5"),
         "T.yml:12: gain \".Nan\" is not finite"},
        {"infinite gain", replaced(Good, "1., 0.5", "1., inf"),
         "T.yml:12: gain \"inf\" is not finite"},
        {"gain beyond single precision", replaced(Good, "1., 0.5", "1e39, 0.5"),
         "T.yml:12: gain \"1e39\" is not finite"},
        {"gain not a number", replaced(Good, "1., 0.5", "1., x"),
         "T.yml:12: gain \"x\" is not a number"},
        {"no rows", replaced(Good, "rows: 1", "rows: 0"), "T.yml:4: rows 0 out of 1..16384"},
        {"rows not a number", replaced(Good, "rows: 1", "rows: -1"),
         "T.yml:4: expected rows, found \"-1\""},
        {"cols above any sensor", replaced(Good, "cols: 2", "cols: 65536"),
         "T.yml:5: cols 65536 out of 1..16384"},
        {"cols beyond 64 bits", replaced(Good, "cols: 2", "cols: 99999999999999999999999"),
         "T.yml:5: cols 99999999999999999999999 out of 1..16384"},
        {"matrices of different sizes",
         replaced(Good, "rows: 1\n   cols: 2\n   dt: f", "rows: 2\n   cols: 1\n   dt: f"),
         "T.yml:10: GainMap is 2x1, the first matrix 1x2"},
        {"matrices of different widths",
         replaced(Good, "rows: 1\n   cols: 2\n   dt: f", "rows: 1\n   cols: 1\n   dt: f"),
         "T.yml:10: GainMap is 1x1, the first matrix 1x2"},
        {"matrices of different heights",
         replaced(Good, "rows: 1\n   cols: 2\n   dt: f", "rows: 2\n   cols: 2\n   dt: f"),
         "T.yml:10: GainMap is 2x2, the first matrix 1x2"},
        {"text after the last matrix", Good + "extra: 1\n",
         "T.yml:13: expected the end of the file, found \"extra:\""},
        {"empty file", "", "T.yml:1: expected \"%YAML:1.0\", found the end of the file"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusalOf(c.text), "Error : " + c.message) << c.what;
    EXPECT_EQ(refusalOf(Good), "<no exception>");
}

TEST(NucText, DoubleTablesNeedAllFourMatricesInOrder) {
    const std::string good = doubleTable(1, 1, "1", "2", "1.", "2.");
    EXPECT_EQ(refusalOf(good), "<no exception>");
    EXPECT_EQ(refusalOf(replaced(good, "NUCDarkEven:", "GainMapOdd:")),
              "Error : T.yml:8: expected \"NUCDarkEven: !!opencv-matrix\", found \"GainMapOdd:\"");
    EXPECT_EQ(refusalOf(good.substr(0, good.find("GainMapEven"))),
              "Error : T.yml:18: expected \"GainMapEven: !!opencv-matrix\", found the end of the "
              "file");
}

TEST(NucText, WrittenTablesReadBackTheSame) {
    // The calibration tool writes what the stage reads.
    Nuc table;
    table.rows = 3;
    table.cols = 4;
    table.isDouble = true;
    table.allocate();
    for (std::size_t i = 0; i < table.pixels(); ++i) {
        table.set1.dark[i] = uint16_t(i * 5000 + 7);
        table.set2.dark[i] = uint16_t(65535 - i);
        table.set1.gain[i] = 1.0f / float(i + 3);
        table.set2.gain[i] = float(i) * 1e-7f;
    }
    const std::string text = detail::formatNucText(table);
    const std::string start = "%YAML:1.0\n---\nNUCDarkOdd: !!opencv-matrix\n   rows: 3\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    const Nuc back = parsed(text);
    EXPECT_TRUE(back.isDouble);
    EXPECT_EQ(back.rows, 3);
    EXPECT_EQ(back.cols, 4);
    EXPECT_EQ(back.set1.dark, table.set1.dark);
    EXPECT_EQ(back.set2.dark, table.set2.dark);
    EXPECT_EQ(back.set1.gain, table.set1.gain);
    EXPECT_EQ(back.set2.gain, table.set2.gain);
}

TEST(NucText, ABadTableRefusesTheStageNamingItsPath) {
    TempTree tree;
    tree.write("40MHz/NUCFactory_1000.yml", Good);
    const std::string bad =
        tree.write("40MHz/NUCFactory_2000.yml", replaced(Good, "dt: w", "dt: f"));
    SignalDevice device;
    EXPECT_EQ(XEVTest::messageOf([&] { XEVInterpolatedNuc(device, tree.base().c_str(), 4); }),
              "Error : " + bad + ":6: expected \"dt: w\", found \"f\"");
    // Nor is a name without an exposure time taken as exposure 0.
    fs::remove(bad);
    const std::string nameless = tree.write("40MHz/NUCFactory_fast.yml", Good);
    EXPECT_EQ(XEVTest::messageOf([&] { XEVInterpolatedNuc(device, tree.base().c_str(), 4); }),
              "Error : " + nameless + ": the file name holds no exposure time.");
}

TEST(NucText, TablesOfOneDirectoryMustAgree) {
    // Interpolating between tables of different shapes would read past the
    // smaller one; two tables at one exposure would make the choice depend on
    // the order of the directory listing.
    SignalDevice device;
    const auto refusal = [&](const TempTree& tree) {
        return XEVTest::messageOf([&] { XEVInterpolatedNuc(device, tree.base().c_str(), 4); });
    };
    {
        TempTree tree;
        tree.write("a/NUCFactory_1000.yml", Good);
        const std::string other =
            tree.write("a/NUCFactory_2000.yml", singleTable(2, 1, "1, 2", "1., 1."));
        tree.write("b/NUCFactory_2000.yml",
                   singleTable(2, 1, "1, 2", "1., 1.")); // another directory
        EXPECT_EQ(refusal(tree),
                  "Error : " + other + ": a single table of 2x1 among single tables of 1x2.");
    }
    {
        TempTree tree;
        tree.write("a/NUCFactory_1000.yml", Good);
        const std::string other = tree.write("a/NUCFactory_2000.yml",
                                             doubleTable(1, 2, "1, 2", "1, 2", "1., 1.", "1., 1."));
        EXPECT_EQ(refusal(tree),
                  "Error : " + other + ": a double table of 1x2 among single tables of 1x2.");
    }
    {
        TempTree tree;
        tree.write("a/NUCFactory_1000.yml", Good);
        const std::string other = tree.write("a/NUCFactory_1e3.yml", Good);
        EXPECT_EQ(refusal(tree), "Error : " + other + ": a second table at the exposure 1000.");
    }
}
