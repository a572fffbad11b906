#include "ExpoRanges.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace XEVLibrary {

namespace {

constexpr int MaxFine = 255;

// Running choice of the nearest expressible value.
class Nearest {
public:
    explicit Nearest(double target)
        : m_target(target), m_tolerance(1e-9 * std::max(1.0, std::fabs(target))) {}

    void offer(const ExpoRange& range, int code, int fine) {
        const double value = range.valueOf(code, fine);
        const double distance = std::fabs(value - m_target);
        bool better = !m_found || distance < m_distance - m_tolerance;
        // An exact midpoint (within rounding) goes to the lower value; the
        // same value offered again keeps the pair found first.
        if (!better && std::fabs(distance - m_distance) <= m_tolerance)
            better = value < m_value - m_tolerance;
        if (better) {
            m_found = true;
            m_distance = distance;
            m_value = value;
            m_codes = ExpoRanges::pack(code, fine);
        }
    }

    ExpoRanges::Match match() const { return {m_codes, m_value}; }

private:
    double m_target;
    double m_tolerance;
    bool m_found = false;
    double m_distance = 0.0;
    double m_value = 0.0;
    uint16_t m_codes = 0;
};

// Offers the pairs of one code nearest to the target.
void offerCode(Nearest& nearest, const ExpoRange& range, int code, double target) {
    if (!range.hasFine()) {
        nearest.offer(range, code, 0);
        return;
    }
    const double base = range.valueOf(code, 0);
    const double k = std::floor((target - base) / range.fineStep);
    const int low = static_cast<int>(std::min<double>(std::max(k, 0.0), MaxFine));
    nearest.offer(range, code, low);
    if (low < MaxFine)
        nearest.offer(range, code, low + 1);
}

// Offers the pairs of one range nearest to the target.
void offerRange(Nearest& nearest, const ExpoRange& range, double target) {
    const int span = range.lastCode - range.firstCode;
    int index = 0;
    if (range.step != 0.0) {
        const double q = std::floor((target - range.min) / range.step);
        index = static_cast<int>(std::min<double>(std::max(q, 0.0), span));
    }
    offerCode(nearest, range, range.firstCode + index, target);
    if (range.step == 0.0)
        return;
    if (index > 0)
        offerCode(nearest, range, range.firstCode + index - 1, target);
    if (index < span)
        offerCode(nearest, range, range.firstCode + index + 1, target);
}

} // namespace

ExpoRanges::ExpoRanges(Table table) : m_table(std::move(table)) {}

ExpoRanges::~ExpoRanges() = default;

ExpoRanges::Match ExpoRanges::FindBestMatch(double value) const {
    const Slice slice = CurrentRange();
    if (slice.first == slice.second)
        return {0, std::numeric_limits<double>::quiet_NaN()};
    const ExpoRange& first = *slice.first;
    const ExpoRange& last = *(slice.second - 1);
    if (!(value > first.min))
        return {pack(first.firstCode, 0), first.min};
    if (value >= last.max)
        return {pack(last.lastCode, last.hasFine() ? MaxFine : 0), last.max};
    Nearest nearest(value);
    for (auto it = slice.first; it != slice.second; ++it)
        offerRange(nearest, *it, value);
    return nearest.match();
}

double ExpoRanges::CalcValue(int code, int fine) const {
    const Slice slice = CurrentRange();
    for (auto it = slice.first; it != slice.second; ++it)
        if (it->containsCode(code))
            return it->valueOf(code, fine);
    for (const ExpoRange& range : m_table)
        if (range.containsCode(code))
            return range.valueOf(code, fine);
    return std::numeric_limits<double>::quiet_NaN();
}

double ExpoRanges::MinValue() const {
    return m_table.empty() ? 0.0 : m_table.front().min;
}

bool ExpoRanges::CanTriggerWidth() const {
    return false;
}

ExpoRanges::Slice ExpoRanges::CurrentRange() const {
    return {m_table.begin(), m_table.end()};
}

std::pair<double, uint16_t> ExpoRanges::TriggerWidthData() const {
    return {0.0, 0};
}

std::string ExpoRanges::TriggerWidthValue() const {
    return std::string();
}

std::string ExpoRanges::TriggerWidthUnit() const {
    return std::string();
}

bool ExpoRanges::DisableIfTriggerWidth() const {
    return true;
}

} // namespace XEVLibrary
