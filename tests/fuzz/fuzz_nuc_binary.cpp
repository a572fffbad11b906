// Feeds arbitrary bytes to the NUC cache reader: a cache it accepts must be
// exactly what its header announces, with sound gains, and must correct
// frames at any window (taken from the input's first bytes) within bounds.
#include "XEVManager.h"
#include "toolbox/NucTable.h"
#include "toolbox/NucTableCache.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace XEVLibrary::XEVToolBox::detail;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        XEVLibrary::XEVManager::setDiagnosticsHandler([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const char* bytes = reinterpret_cast<const char*>(data);
    Nuc table;
    std::string why;
    if (!decodeNucCache(bytes, size, table, why)) {
        check(!why.empty());
        // A window and frame size from the input, applied to a table of
        // 3 x 5 the input does not describe: the windowing alone.
        if (size >= 12) {
            int32_t x, y;
            std::memcpy(&x, data, 4);
            std::memcpy(&y, data + 4, 4);
            const int rows = 1 + data[8] % 9, cols = 1 + data[9] % 9;
            Nuc small;
            small.rows = 3;
            small.cols = 5;
            small.isDouble = (data[10] & 1) != 0;
            small.allocate();
            cv::Mat frame(rows, cols, CV_16UC1, cv::Scalar(data[11])), out(rows, cols, CV_16UC1);
            const NucOverlap o = nucOverlap(x, y, cols, rows, small.rows, small.cols);
            check(o.frameX + o.width <= cols && o.frameY + o.height <= rows &&
                  o.tableX + o.width <= 5 && o.tableY + o.height <= 3 && o.width >= 0);
            applyNuc(small, o, frame, out);
        }
        return 0;
    }
    const std::size_t n = table.pixels();
    check(size == NucCacheHeader + n * 6 * (table.isDouble ? 2 : 1));
    check(table.set1.dark.size() == n && table.set1.gain.size() == n);
    check(table.set2.dark.size() == (table.isDouble ? n : 0));
    for (const NucSet* set : {&table.set1, &table.set2})
        for (float g : set->gain)
            check(std::isfinite(g) && g >= 0.0f);
    // Written again, the same bytes.
    const std::vector<char> again = encodeNucCache(table);
    check(again.size() == size && std::memcmp(again.data(), bytes, size) == 0);

    const int rows = std::min<int>(table.rows, 24) + 1, cols = std::min<int>(table.cols, 24) + 1;
    for (const int64_t shift : {int64_t(-1), int64_t(0), int64_t(table.cols) - 1}) {
        cv::Mat frame(rows, cols, CV_16UC1, cv::Scalar(int(size % 65536))),
            out(rows, cols, CV_16UC1);
        const NucOverlap o = nucOverlap(shift, shift, cols, rows, table.rows, table.cols);
        check(o.tableX + o.width <= table.cols && o.tableY + o.height <= table.rows);
        applyNuc(table, o, frame, out);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                check(out.at<uint16_t>(r, c) <= 16383 ||
                      out.at<uint16_t>(r, c) == frame.at<uint16_t>(r, c));
    }
    Nuc high = table;
    high.exposure = std::isfinite(table.exposure + 1.0) ? table.exposure + 1.0 : 0.0;
    const Nuc mid = interpolateNuc(table, high, table.exposure + 0.5);
    check(mid.set1.dark.size() == n);
    return 0;
}
