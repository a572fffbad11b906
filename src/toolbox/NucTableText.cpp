#include "toolbox/NucTableText.h"

#include "XEVException.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

/// Walks the text, counting lines, and raises the parse errors.
class Cursor {
public:
    Cursor(const char* text, std::size_t size, const std::string& name)
        : m_at(text), m_end(text + size), m_name(name) {}

    [[noreturn]] void fail(const std::string& what) const {
        XEVException::throwError(m_name + ":" + std::to_string(m_line) + ": " + what);
    }

    void skipSpace() {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\n')) {
            if (*m_at == '\n')
                ++m_line;
            ++m_at;
        }
    }
    bool atEnd() {
        skipSpace();
        return m_at == m_end;
    }
    std::size_t left() const { return std::size_t(m_end - m_at); }

    /// Whether @p word comes next (after whitespace), without taking it.
    bool peek(const char* word) {
        skipSpace();
        const std::size_t n = std::strlen(word);
        return left() >= n && std::memcmp(m_at, word, n) == 0;
    }

    /// Takes @p word when it comes next (after whitespace).
    bool take(const char* word) {
        skipSpace();
        const std::size_t n = std::strlen(word);
        if (left() < n || std::memcmp(m_at, word, n) != 0)
            return false;
        m_at += n;
        return true;
    }
    void expect(const char* word, const char* shown) {
        if (!take(word))
            fail(std::string("expected \"") + shown + "\"" + found());
    }

    /// The next run of characters up to whitespace, ',' or ']' (not taken).
    std::string peekToken() {
        skipSpace();
        const char* stop = m_at;
        while (stop < m_end && *stop != ' ' && *stop != '\t' && *stop != '\r' && *stop != '\n' &&
               *stop != ',' && *stop != ']' && stop - m_at < 24)
            ++stop;
        return std::string(m_at, stop);
    }
    /// ", found <token>" or ", found the end of the file".
    std::string found() {
        if (atEnd())
            return ", found the end of the file";
        return ", found \"" + peekToken() + "\"";
    }

    /// An unsigned decimal number of at most @p limit.
    unsigned long number(const char* what, unsigned long low, unsigned long limit) {
        skipSpace();
        unsigned long value = 0;
        const auto [next, error] = std::from_chars(m_at, m_end, value);
        if (error == std::errc::result_out_of_range || (error == std::errc() && value > limit) ||
            (error == std::errc() && value < low))
            fail(std::string(what) + " " + std::string(m_at, next) + " out of " +
                 std::to_string(low) + ".." + std::to_string(limit));
        if (error != std::errc() || m_at == m_end || *m_at == '-')
            fail(std::string("expected ") + what + found());
        m_at = next;
        return value;
    }

    /// A dark value: an integer 0..65535.
    uint16_t darkValue() {
        if (atEnd())
            fail("expected a dark value" + found());
        const std::string token = peekToken();
        unsigned long value = 0;
        const auto [next, error] = std::from_chars(m_at, m_end, value);
        if (error != std::errc() || next != m_at + token.size() || value > 65535)
            fail("dark value \"" + token + "\" is not an integer 0..65535");
        m_at = next;
        return uint16_t(value);
    }

    /// A gain: a finite number, not negative, read as double then narrowed
    /// as the OpenCV reader does.
    float gainValue() {
        if (atEnd())
            fail("expected a gain" + found());
        const std::string token = peekToken();
        double value = 0.0;
        const auto [next, error] = std::from_chars(m_at, m_end, value);
        const bool special = token == ".Inf" || token == "-.Inf" || token == ".Nan" ||
                             token == ".inf" || token == "-.inf" || token == ".nan";
        if (!special && (error != std::errc() || next != m_at + token.size()))
            fail("gain \"" + token + "\" is not a number");
        const float gain = float(value);
        if (special || !std::isfinite(gain) || !std::isfinite(value))
            fail("gain \"" + token + "\" is not finite");
        if (gain < 0.0f)
            fail("gain \"" + token + "\" is negative");
        m_at = next;
        return gain;
    }

private:
    const char* m_at;
    const char* m_end;
    const std::string& m_name;
    unsigned m_line = 1;
};

/// One matrix of the table: its name, whether it holds dark values (else
/// gains) and where its values go.
struct MatrixSlot {
    const char* name;
    bool dark;
    std::vector<uint16_t>* darkValues;
    std::vector<float>* gains;
};

void parseMatrix(Cursor& in, const MatrixSlot& slot, Nuc& table, bool first) {
    const std::string header = std::string(slot.name) + ": !!opencv-matrix";
    in.expect((std::string(slot.name) + ":").c_str(), header.c_str());
    in.expect("!!opencv-matrix", header.c_str());
    in.expect("rows:", "rows: ");
    const auto rows = uint16_t(in.number("rows", 1, MaxNucSide));
    in.expect("cols:", "cols: ");
    const auto cols = uint16_t(in.number("cols", 1, MaxNucSide));
    if (first) {
        table.rows = rows;
        table.cols = cols;
    } else if (rows != table.rows || cols != table.cols) {
        in.fail(std::string(slot.name) + " is " + std::to_string(rows) + "x" +
                std::to_string(cols) + ", the first matrix " + std::to_string(table.rows) + "x" +
                std::to_string(table.cols));
    }
    const char* type = slot.dark ? "dt: w" : "dt: f";
    if (!in.take("dt:") || !in.take(slot.dark ? "w" : "f"))
        in.fail(std::string("expected \"") + type + "\"" + in.found());
    in.expect("data:", "data: [");
    in.expect("[", "data: [");

    const std::size_t count = std::size_t(rows) * cols;
    // Each value takes at least one digit and a separator: a table that
    // announces more than the text can hold is refused before any allocation.
    if (in.left() < 2 * count)
        in.fail(std::string(slot.name) + " announces " + std::to_string(count) +
                " values, more than the file holds");
    if (slot.dark)
        slot.darkValues->resize(count);
    else
        slot.gains->resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && !in.take(",")) {
            if (in.take("]"))
                in.fail(std::string(slot.name) + " holds " + std::to_string(i) + " values, " +
                        std::to_string(rows) + "x" + std::to_string(cols) + " announces " +
                        std::to_string(count));
            in.fail("expected \",\"" + in.found());
        }
        if (slot.dark)
            (*slot.darkValues)[i] = in.darkValue();
        else
            (*slot.gains)[i] = in.gainValue();
    }
    if (!in.take("]")) {
        if (in.take(","))
            in.fail(std::string(slot.name) + " holds more than the " + std::to_string(count) +
                    " values " + std::to_string(rows) + "x" + std::to_string(cols) + " announces");
        in.fail("expected \"]\"" + in.found());
    }
}

} // namespace

void parseNucText(const char* text, std::size_t size, const std::string& name, Nuc& out) {
    Cursor in(text, size, name);
    in.expect("%YAML:1.0", "%YAML:1.0");
    in.take("---");

    Nuc table;
    table.exposure = out.exposure;
    if (in.peek("NUCDarkOdd:"))
        table.isDouble = true;
    else if (!in.peek("NUCDark:"))
        in.fail("expected \"NUCDark: !!opencv-matrix\" or \"NUCDarkOdd: !!opencv-matrix\"" +
                in.found());

    const MatrixSlot single[] = {{"NUCDark", true, &table.set1.dark, nullptr},
                                 {"GainMap", false, nullptr, &table.set1.gain}};
    const MatrixSlot twofold[] = {{"NUCDarkOdd", true, &table.set1.dark, nullptr},
                                  {"NUCDarkEven", true, &table.set2.dark, nullptr},
                                  {"GainMapOdd", false, nullptr, &table.set1.gain},
                                  {"GainMapEven", false, nullptr, &table.set2.gain}};
    const MatrixSlot* slots = table.isDouble ? twofold : single;
    const std::size_t count = table.isDouble ? 4 : 2;
    for (std::size_t i = 0; i < count; ++i)
        parseMatrix(in, slots[i], table, i == 0);
    if (!in.atEnd())
        in.fail("expected the end of the file" + in.found());
    table.parsed = true;
    out = std::move(table);
}

void parseNucTextFile(const std::string& path, Nuc& out) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file)
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad())
        XEVException::throwError("%s: cannot read the NUC table.", path.c_str());
    parseNucText(text.data(), text.size(), path, out);
}

namespace {

void formatMatrix(std::ostringstream& text, const char* name, const Nuc& table,
                  const uint16_t* dark, const float* gain) {
    text << name << ": !!opencv-matrix\n   rows: " << table.rows << "\n   cols: " << table.cols
         << "\n   dt: " << (dark ? 'w' : 'f') << "\n   data: [";
    char number[32];
    for (std::size_t i = 0; i < table.pixels(); ++i) {
        if (dark)
            std::snprintf(number, sizeof number, "%u", unsigned(dark[i]));
        else
            std::snprintf(number, sizeof number, "%.9g", double(gain[i]));
        text << (i == 0 ? " " : (i % 8 == 0 ? ",\n       " : ", ")) << number;
    }
    text << " ]\n";
}

} // namespace

std::string formatNucText(const Nuc& table) {
    std::ostringstream text;
    text << "%YAML:1.0\n---\n";
    if (table.isDouble) {
        formatMatrix(text, "NUCDarkOdd", table, table.set1.dark.data(), nullptr);
        formatMatrix(text, "NUCDarkEven", table, table.set2.dark.data(), nullptr);
        formatMatrix(text, "GainMapOdd", table, nullptr, table.set1.gain.data());
        formatMatrix(text, "GainMapEven", table, nullptr, table.set2.gain.data());
    } else {
        formatMatrix(text, "NUCDark", table, table.set1.dark.data(), nullptr);
        formatMatrix(text, "GainMap", table, nullptr, table.set1.gain.data());
    }
    return text.str();
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
