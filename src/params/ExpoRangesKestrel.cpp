#include "ExpoRangesKestrel.h"

namespace XEVLibrary {

const ExpoRanges::Table& ExpoRangesKestrel::coarseTable() {
    static const Table table = {
        {0.1, 0.9, 0.1, 0, 0, 8},       {1, 9, 1, 0, 9, 17},
        {10, 90, 10, 0, 18, 26},        {100, 900, 100, 0, 27, 35},
        {1000, 11000, 1000, 0, 36, 46}, {12000, 220000, 1000, 0, 47, 255},
    };
    return table;
}

const ExpoRanges::Table& ExpoRangesKestrel::fineTable() {
    static const Table table = {
        {0.1, 0.9, 0.1, 0, 0, 8},
        {1, 9, 1, 0, 9, 17},
        {10, 102.75, 10, 0.05, 18, 26},
        {100, 1002, 100, 0.4, 27, 35},
        {1000, 12020, 1000, 4, 36, 46},
        {12000, 220020, 1000, 4, 47, 254},
        {220000, 5320000, 0, 20000, 255, 255},
    };
    return table;
}

ExpoRangesKestrel::ExpoRangesKestrel(bool gated, bool fineStep, bool longExposure, bool highGain,
                                     bool linear, bool trigger)
    : ExpoRanges(fineStep ? fineTable() : coarseTable()), m_gated(gated), m_linear(linear),
      m_highGain(highGain), m_trigger(trigger), m_longExposure(longExposure), m_fineStep(fineStep) {
}

ExpoRangesKestrel::~ExpoRangesKestrel() = default;

double ExpoRangesKestrel::MinValue() const {
    if (m_gated)
        return m_table[0].min;
    if (m_linear)
        return m_table[2].min;
    return m_table[3].min;
}

bool ExpoRangesKestrel::CanTriggerWidth() const {
    return m_trigger && !m_gated;
}

ExpoRanges::Slice ExpoRangesKestrel::CurrentRange() const {
    const auto begin = m_table.begin();
    if (m_gated)
        return {begin, begin + 2};
    if (!m_linear)
        return {begin + 3, begin + 5};
    if (!m_longExposure)
        return {begin + 2, begin + 6};
    return {begin + 2, m_table.end()};
}

std::pair<double, uint16_t> ExpoRangesKestrel::TriggerWidthData() const {
    return {220000.0, pack(255, 0)};
}

std::string ExpoRangesKestrel::TriggerWidthValue() const {
    return m_linear ? "220" : "9";
}

std::string ExpoRangesKestrel::TriggerWidthUnit() const {
    return "ms";
}

bool ExpoRangesKestrel::DisableIfTriggerWidth() const {
    return false;
}

} // namespace XEVLibrary
