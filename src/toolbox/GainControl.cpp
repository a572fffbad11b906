#include "toolbox/GainControl.h"

#include "toolbox/PixelKernels.h"

#include <algorithm>
#include <cstring>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

int lowerBound(const uint32_t* histogram, int bins, uint32_t tail) {
    uint64_t sum = 0;
    for (int i = 0; i < bins; ++i) {
        sum += histogram[i];
        if (sum >= tail)
            return i;
    }
    // Too few pixels for a tail: keep the whole range.
    return 0;
}

int upperBound(const uint32_t* histogram, int start, uint32_t tail) {
    uint64_t sum = 0;
    for (int j = start; j >= 0; --j) {
        sum += histogram[j];
        if (sum >= tail)
            return j;
    }
    return start;
}

Bounds withMinimumSpan(int low, int top) {
    return Bounds{low, (top - low < MinimumSpan) ? low + MinimumSpan : top};
}

Bounds gainBounds(const uint32_t* histogram, int bins, int start) {
    return withMinimumSpan(lowerBound(histogram, bins, TailPixels),
                           upperBound(histogram, start, TailPixels));
}

void fillStretchTable16(uint8_t* table, int low, int high) {
    // The formula is monotonic, gives 0 at and below low and 255 at and above
    // high, so only the levels in between need computing.
    const int first = std::clamp(low, 0, WordLevels);
    const int end = std::clamp(high + 1, first, WordLevels);
    std::memset(table, 0, std::size_t(first));
    stretchRangeDouble(table, first, end, double(low), double(high));
    std::memset(table + end, 255, std::size_t(WordLevels - end));
}

void fillFloatStretchTable16(uint8_t* table, int low, int high) {
    // Same shortcut as the double table: single-precision division is
    // monotonic too and (high - low) / (high - low) is exactly 1.
    const int first = std::clamp(low, 0, WordLevels);
    const int end = std::clamp(high + 1, first, WordLevels);
    std::memset(table, 0, std::size_t(first));
    stretchRangeFloat(table, first, end, low, high);
    std::memset(table + end, 255, std::size_t(WordLevels - end));
}

WindowGainControl::WindowGainControl() : m_histogram(RawLevels, 0) {}

void WindowGainControl::reset() {
    m_low = 0;
    m_high = RawLevels - 1;
}

void WindowGainControl::prepareTable() {
    if (m_low == m_tableLow && m_high == m_tableHigh)
        return;
    fillFloatStretchTable16(m_stretch.table(), m_low, m_high);
    m_stretch.prepare(m_low, m_high);
    m_tableLow = m_low;
    m_tableHigh = m_high;
}

void WindowGainControl::process(const cv::Mat& in, cv::Mat& out, const cv::Rect& window) {
    if (in.size() != m_size) {
        m_size = in.size();
        reset();
    }
    out.create(in.rows, in.cols, CV_8UC1);
    prepareTable();

    m_stretch.apply(in, out);

    const cv::Rect counted = window & cv::Rect(0, 0, in.cols, in.rows);
    Bounds bounds{};
    int low = 0, top = 0;
    if (!counted.empty() &&
        m_selector.select(in(counted), RawLevels - 1, RawLevels - 2, TailPixels, low, top)) {
        bounds = withMinimumSpan(low, top);
    } else {
        uint32_t* histogram = m_histogram.data();
        std::fill(m_histogram.begin(), m_histogram.end(), 0u);
        for (int r = counted.y; r < counted.y + counted.height; ++r)
            countHistogram16(in.ptr<uint16_t>(r) + counted.x, std::size_t(counted.width), histogram,
                             RawLevels - 1);
        bounds = gainBounds(histogram, RawLevels, RawLevels - 2);
    }
    m_low = bounds.low;
    m_high = bounds.high;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
