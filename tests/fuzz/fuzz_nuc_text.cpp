// Feeds arbitrary texts to the NUC text table parser; every table it accepts
// must be whole and sound, survive its binary cache unchanged, and correct
// frames at any window without reading or writing out of bounds.
#include "XEVManager.h"
#include "toolbox/NucTable.h"
#include "toolbox/NucTableCache.h"
#include "toolbox/NucTableText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace XEVLibrary::XEVToolBox::detail;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkSet(const NucSet& set, std::size_t pixels) {
    check(set.dark.size() == pixels && set.gain.size() == pixels);
    for (float g : set.gain)
        check(std::isfinite(g) && g >= 0.0f);
}

/// Corrects a frame of @p rows x @p cols at (@p x, @p y) and checks the output.
void correct(const Nuc& table, int rows, int cols, int64_t x, int64_t y, uint16_t fill) {
    cv::Mat frame(rows, cols, CV_16UC1, cv::Scalar(fill)), out(rows, cols, CV_16UC1);
    const NucOverlap o = nucOverlap(x, y, cols, rows, table.rows, table.cols);
    check(o.width >= 0 && o.height >= 0 && o.frameX + o.width <= cols &&
          o.frameY + o.height <= rows && o.tableX + o.width <= table.cols &&
          o.tableY + o.height <= table.rows);
    applyNuc(table, o, frame, out);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const uint16_t v = out.at<uint16_t>(r, c);
            const bool inside =
                c >= o.frameX && c < o.frameX + o.width && r >= o.frameY && r < o.frameY + o.height;
            check(inside ? (v >= 1000 && v <= 16383) : v == fill);
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        XEVLibrary::XEVManager::setDiagnosticsHandler([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    Nuc table;
    try {
        parseNucText(reinterpret_cast<const char*>(data), size, "fuzz.yml", table);
    } catch (const std::exception&) {
        return 0; // refusals are the expected answer to most inputs
    }
    check(table.parsed && table.rows >= 1 && table.cols >= 1 && table.rows <= MaxNucSide &&
          table.cols <= MaxNucSide);
    checkSet(table.set1, table.pixels());
    checkSet(table.set2, table.isDouble ? table.pixels() : 0);

    // Through the cache and back.
    const std::vector<char> bytes = encodeNucCache(table);
    Nuc back;
    std::string why;
    check(decodeNucCache(bytes.data(), bytes.size(), back, why));
    check(back.rows == table.rows && back.cols == table.cols && back.isDouble == table.isDouble &&
          back.set1.dark == table.set1.dark && back.set1.gain == table.set1.gain &&
          back.set2.dark == table.set2.dark && back.set2.gain == table.set2.gain);

    // Through the text form and back.
    const std::string text = formatNucText(table);
    Nuc again;
    parseNucText(text.data(), text.size(), "again.yml", again);
    check(again.set1.dark == table.set1.dark && again.set1.gain == table.set1.gain &&
          again.set2.gain == table.set2.gain);

    // Interpolated with itself at another exposure, then applied.
    Nuc high = table;
    high.exposure = table.exposure + 1000.0;
    const Nuc mid = interpolateNuc(table, high, table.exposure + 250.0);
    checkSet(mid.set1, table.pixels());
    const int rows = std::min<int>(table.rows + 2, 40), cols = std::min<int>(table.cols + 2, 40);
    correct(mid, rows, cols, 0, 0, 1001);
    correct(table, rows, cols, -1, 1, 7);
    correct(table, 3, 2, table.cols - 1, table.rows - 1, 65535);
    correct(table, 1, 1, 4294967295LL, 4294967295LL, 0);
    return 0;
}
