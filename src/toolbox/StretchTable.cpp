#include "toolbox/StretchTable.h"

#include "toolbox/CpuFeatures.h"
#include "toolbox/FrameOutput.h"

#include <cmath>
#include <cstring>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

namespace {

constexpr std::size_t Levels = 65536;

/// Every 16-bit level once, in order.
const uint16_t* allLevels() {
    static const std::vector<uint16_t> levels = [] {
        std::vector<uint16_t> v(Levels);
        for (std::size_t p = 0; p < Levels; ++p)
            v[p] = uint16_t(p);
        return v;
    }();
    return levels.data();
}

} // namespace

StretchTable::StretchTable() : m_table(Levels, 0), m_check(Levels, 0) {}

void StretchTable::prepare(double low, double high) {
    m_computed = false;
    if (!cpuFeatures().wideStretch)
        return;
    // level p -> p * scale + offset, rounded; rounding to nearest is floor(x + 0.5).
    const double scale = 255.0 / (high - low);
    const double offset = 0.5 - low * scale;
    const double reach = std::fabs(offset) + 65535.0 * std::fabs(scale);
    if (!std::isfinite(reach) || reach >= 4194304.0)
        return; // too coarse in single precision
    // Lanes closer to a rounding tie than the error of single precision (a
    // few units in the last place of the largest term) are looked up.
    const double margin = 2e-3 + reach * std::ldexp(1.0, -20);
    m_estimate = StretchEstimate{float(scale), float(offset - margin), float(offset + margin)};
    stretchEstimate16(allLevels(), m_table.data(), m_estimate, m_check.data(), Levels);
    m_computed = std::memcmp(m_check.data(), m_table.data(), Levels) == 0;
}

void StretchTable::apply(const cv::Mat& in, cv::Mat& out) const {
    forEachSpan<uint16_t, uint8_t>(
        in, out,
        [this](const uint16_t* from, uint8_t* to, std::size_t count) { apply(from, to, count); });
}

void StretchTable::apply(const uint16_t* in, uint8_t* out, std::size_t count) const {
    if (m_computed)
        stretchEstimate16(in, m_table.data(), m_estimate, out, count);
    else
        lookup16(in, m_table.data(), out, count);
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
