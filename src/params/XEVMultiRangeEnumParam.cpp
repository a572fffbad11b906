#include "XEVMultiRangeEnumParam.h"

#include "XEVException.h"
#include "params/TimeUnit.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace XEVLibrary {

namespace {

// A scaled value is an integer count of its unit; the small tolerance keeps
// 0.3 us (299.99999... ns after scaling) from dropping one step.
int wholeUnits(double scaled) {
    const double whole = std::trunc(scaled + (scaled >= 0 ? 1e-6 : -1e-6));
    if (whole >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (whole <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(whole);
}

// Unit of a microsecond value and the value in that unit.
const char* unitOf(double value, double& scaled) {
    if (value < 1.0) {
        scaled = value * 1000.0;
        return "ns";
    }
    if (value > 1000.0) {
        scaled = value / 1000.0;
        return "ms";
    }
    scaled = value;
    return "us";
}

/// @p integer and the decimal @p fraction digits, in a unit of 10^@p exponent
/// microseconds, as a whole number of nanoseconds; false when that is not whole
/// or too large.
bool wholeNanoseconds(int integer, const std::string& fraction, int exponent, long long& result) {
    const int shift = exponent + 3; // powers of ten from the unit to nanoseconds
    if (shift < 0)
        return false;
    std::string digits = fraction;
    if (int(digits.size()) > shift) {
        if (digits.find_first_not_of('0', std::size_t(shift)) != std::string::npos)
            return false;
        digits.resize(std::size_t(shift));
    }
    digits.append(std::size_t(shift) - digits.size(), '0');
    long long value = std::llabs(integer);
    for (int i = 0; i < shift; ++i)
        if (__builtin_mul_overflow(value, 10LL, &value))
            return false;
    long long part = 0;
    for (char c : digits)
        part = part * 10 + (c - '0');
    if (__builtin_add_overflow(value, part, &value))
        return false;
    result = integer < 0 ? -value : value;
    return true;
}

double toMicroseconds(const std::string& unit, int count) {
    if (unit == "ns")
        return count * 0.001;
    if (unit == "ms")
        return count * 1000.0;
    return count;
}

} // namespace

XEVMultiRangeEnumParam::XEVMultiRangeEnumParam(const char* name, unsigned address, unsigned shift,
                                               unsigned size)
    : XEVParam(name, address, shift, size, false), m_lowest(255), m_highest(0) {}

XEVMultiRangeEnumParam::~XEVMultiRangeEnumParam() = default;

void XEVMultiRangeEnumParam::addRange(uint8_t firstReg, int first, int last, int step,
                                      const char* unit) {
    if (step == 0)
        XEVException::throwCriticalError("For parameter '%s', step of a range does not be 0.",
                                         name().c_str());
    const Range range{first, last, step, firstReg};
    m_ranges[unit ? unit : ""].push_back(range);
    m_lowest = std::min(m_lowest, firstReg);
    const int mask = static_cast<int>(getMask(size()));
    m_highest = static_cast<uint8_t>(
        std::max<int>(m_highest, std::min(std::max(range.lastReg(), 0), mask)));
}

double XEVMultiRangeEnumParam::regValToValue(uint8_t regVal) const {
    for (const auto& unit : m_ranges)
        for (const Range& range : unit.second)
            if (range.firstReg <= regVal && regVal <= range.lastReg())
                return toMicroseconds(unit.first,
                                      (regVal - range.firstReg) * range.step + range.first);
    return regVal;
}

std::string XEVMultiRangeEnumParam::valueToStrValue(double value) const {
    double scaled = 0.0;
    const char* unit = unitOf(value, scaled);
    char text[32];
    std::snprintf(text, sizeof text, "%d%s", wholeUnits(scaled), unit);
    return text;
}

uint8_t XEVMultiRangeEnumParam::valueToRegVal(double value) const {
    if (std::isnan(value))
        XEVException::throwError("For parameter '%s', UserVal(%f) does not exist.", name().c_str(),
                                 value);
    double scaled = 0.0;
    const char* unit = unitOf(value, scaled);
    const auto found = m_ranges.find(unit);
    if (found == m_ranges.end() || found->second.empty())
        XEVException::throwError("For parameter '%s', no %s unit found.", name().c_str(), unit);
    const long long n = wholeUnits(scaled);
    long long r = 0;
    for (const Range& range : found->second) {
        r = (n - range.first) / range.step + range.firstReg;
        if (range.firstReg <= r && r <= range.lastReg())
            return static_cast<uint8_t>(r);
    }
    // None holds it: the register value computed for the unit's last range
    // (1000 us gives the first millisecond step), kept inside the field so
    // that a value past the last range cannot wrap to a small exposure.
    return static_cast<uint8_t>(std::min<long long>(std::max<long long>(r, 0), getMask(size())));
}

double XEVMultiRangeEnumParam::strValueToValue(const std::string& text) const {
    std::size_t used = 0;
    const int n = std::stoi(text, &used);
    // An optional decimal fraction ("2.5ms").
    std::string fraction;
    if (used + 1 < text.size() && (text[used] == '.' || text[used] == ',') &&
        std::isdigit(static_cast<unsigned char>(text[used + 1]))) {
        for (++used; used < text.size() && std::isdigit(static_cast<unsigned char>(text[used]));
             ++used)
            fraction += text[used];
    }
    std::string unit = text.substr(used);
    if (unit == detail::Latin1MicroSeconds || unit == detail::Utf8MicroSeconds)
        unit = "us";
    auto noUnit = [&] {
        XEVException::throwError(
            "For parameter '%s', no valid unit found in val(%s). Valid units are [ns,\265s,us,ms]",
            name().c_str(), text.c_str());
    };
    int exponent = 0;
    if (unit.empty() || !detail::microsecondExponent(unit, exponent))
        noUnit();
    const auto own = m_ranges.find(unit);
    if (own != m_ranges.end() && fraction.empty())
        for (const Range& range : own->second)
            if (range.first <= n && n <= range.last &&
                (static_cast<long long>(n) - range.first) % range.step == 0)
                return toMicroseconds(unit, n);

    // The same time written in another unit ("2000us" for the 2 ms step):
    // any range that holds it exactly, counted in whole nanoseconds.
    long long nanoseconds = 0;
    if (wholeNanoseconds(n, fraction, exponent, nanoseconds)) {
        for (const auto& [rangeUnit, ranges] : m_ranges) {
            int rangeExponent = 0;
            detail::microsecondExponent(rangeUnit, rangeExponent);
            long long perUnit = 1;
            for (int e = -3; e < rangeExponent; ++e)
                perUnit *= 10;
            if (nanoseconds % perUnit != 0)
                continue;
            const long long count = nanoseconds / perUnit;
            for (const Range& range : ranges)
                if (range.first <= count && count <= range.last &&
                    (count - range.first) % range.step == 0)
                    return toMicroseconds(rangeUnit, int(count));
        }
    }
    if (own == m_ranges.end())
        noUnit();
    XEVException::throwError("For parameter '%s', val(%s) not valid. Parameter must be a multiple "
                             "of the step in the range.",
                             name().c_str(), text.c_str());
}

XEVParam::PrivateValueIterator* XEVMultiRangeEnumParam::newBeginValueIterator() const {
    if (m_lowest > m_highest)
        return newEndValueIterator();
    return new MultiRangeValueIterator(this, m_lowest, m_highest);
}

XEVParam::PrivateValueIterator* XEVMultiRangeEnumParam::newEndValueIterator() const {
    return new MultiRangeValueIterator(nullptr, 0, 0);
}

} // namespace XEVLibrary
