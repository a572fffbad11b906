#include "toolbox/TailSelector.h"

#include "toolbox/CpuFeatures.h"
#include "toolbox/PixelKernels.h"

#include <algorithm>
#include <functional>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

/// Pixels read to choose the limits.
constexpr std::size_t SampleSize = 2048;
/// Windows smaller than this are counted: a histogram is cheap there and a
/// sample would say little.
constexpr std::size_t SmallestWindow = 16384;
/// Room for each tail's pixels.
constexpr std::size_t ListCapacity = 32768;
/// Each limit is chosen so that about this many times the tail size lies
/// beyond it, by the sample.
constexpr std::size_t Margin = 4;

} // namespace

TailSelector::TailSelector() : m_sample(SampleSize), m_low(ListCapacity), m_high(ListCapacity) {}

bool TailSelector::chooseLimits(const cv::Mat& window, uint16_t lastBin, uint16_t topStart,
                                uint32_t tail, uint16_t& lowLimit, uint16_t& highLimit) {
    const std::size_t pixels = window.total();
    const std::size_t rows = std::size_t(window.rows), cols = std::size_t(window.cols);
    for (std::size_t k = 0; k < SampleSize; ++k) {
        // Rows evenly spaced, columns spread by a multiplicative hash, so that
        // no stride of the frame lines up with the samples.
        const std::size_t row = k * rows / SampleSize;
        const std::size_t col = ((k * 40503u) & 0xFFFFu) * cols >> 16;
        m_sample[k] = std::min(window.ptr<uint16_t>(int(row))[col], lastBin);
    }
    // Sample rank whose level has about Margin tails below it, plus a few
    // sample pixels' worth for the sampling error.
    const std::size_t expected = (std::size_t(tail) * SampleSize + pixels - 1) / pixels;
    const std::size_t rank = std::min(SampleSize - 1, Margin * expected + 4);
    uint16_t* begin = m_sample.data();
    std::nth_element(begin, begin + rank, begin + SampleSize);
    lowLimit = begin[rank];
    // The top tail counts only values up to topStart.
    uint16_t* end =
        std::partition(begin, begin + SampleSize, [topStart](uint16_t v) { return v <= topStart; });
    const std::size_t eligible = std::size_t(end - begin);
    if (eligible <= rank)
        return false;
    std::nth_element(begin, begin + rank, end, std::greater<uint16_t>());
    highLimit = begin[rank];
    return true;
}

bool TailSelector::select(const cv::Mat& window, uint16_t lastBin, uint16_t topStart, uint32_t tail,
                          int& first, int& top) {
    if (!cpuFeatures().laneCompress || window.type() != CV_16UC1 || window.dims != 2 ||
        window.total() < SmallestWindow || tail == 0)
        return false;
    TailLists lists{lastBin, 0, 0, topStart, m_low.data(), m_high.data(), ListCapacity, 0, 0};
    if (!chooseLimits(window, lastBin, topStart, tail, lists.lowLimit, lists.highLimit))
        return false;
    for (int r = 0; r < window.rows; ++r)
        if (!gatherTails16(window.ptr<uint16_t>(r), std::size_t(window.cols), lists))
            return false;
    // Every pixel at or below a limit was collected, so with at least a tail
    // of them the tail-th one overall is among them, at the same rank.
    if (lists.lowCount < tail || lists.highCount < tail)
        return false;
    uint16_t* low = m_low.data();
    std::nth_element(low, low + tail - 1, low + lists.lowCount);
    uint16_t* high = m_high.data();
    std::nth_element(high, high + tail - 1, high + lists.highCount, std::greater<uint16_t>());
    first = low[tail - 1];
    top = high[tail - 1];
    return true;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
