#include "XEVNumericParam.h"

#include "XEVException.h"
#include "params/TimeUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>

namespace XEVLibrary {

namespace {

// Number of decimals a step or an offset needs; capped because a binary
// fraction may never become whole.
int decimalCount(double x) {
    int count = 0;
    while (std::isfinite(x) && x != std::trunc(x) && count < 15) {
        x *= 10.0;
        ++count;
    }
    return count;
}

const std::regex& numberPattern() {
    // Compiled once; matching on a const regex is safe from several threads
    // (std::regex keeps no shared matcher state, unlike Boost's block cache).
    static const std::regex pattern("^\\s*((-)?(\\d+)([\\.\\,](\\d+))?)\\s*(\\D+\\s*)?$");
    return pattern;
}

} // namespace

XEVNumericParam::XEVNumericParam(const char* name, unsigned address, unsigned shift, unsigned size,
                                 double step, double offset)
    : XEVParam(name, address, shift, size, false), m_step(step), m_offset(offset),
      m_userMin(std::min(offset, getMask(size) * step + offset)),
      m_userMax(std::max(offset, getMask(size) * step + offset)), m_specificValue(0.0),
      m_depth(std::max(decimalCount(offset), decimalCount(step))) {}

XEVNumericParam::~XEVNumericParam() = default;

void XEVNumericParam::setUserRange(double min, double max) {
    const double span = getMask(size()) * m_step;
    const double lo = m_step > 0 ? m_offset : m_offset + span;
    const double hi = m_step > 0 ? m_offset + span : m_offset;
    if (lo > min || max > hi || min >= max)
        XEVException::throwCriticalError("For parameter '%s', bad min and/or max UserVal(%f;%f). "
                                         "There are out of range [%f;%f] or min >= max.",
                                         name().c_str(), min, max, lo, hi);
    const double regMin = (min - m_offset) / m_step;
    const double regMax = (max - m_offset) / m_step;
    if (regMin != std::trunc(regMin) || regMax != std::trunc(regMax))
        XEVException::throwCriticalError("For parameter '%s', bad min and/or max UserVal(%f;%f). "
                                         "Their corresponding RegVal(%f,%f) are not integer.",
                                         name().c_str(), min, max, regMin, regMax);
    m_userMin = min;
    m_userMax = max;
}

void XEVNumericParam::setMaxVal(double max) {
    m_userMax = max;
}

void XEVNumericParam::setSpecificLabel(double value, const std::string& label) {
    m_specificValue = value;
    m_specificLabel = label;
}

void XEVNumericParam::setUnit(const std::string& unit) {
    m_unit = unit;
}

double XEVNumericParam::regValToValue(uint8_t regVal) const {
    return regVal * m_step + m_offset;
}

uint8_t XEVNumericParam::valueToRegVal(double value) const {
    // Written so that NaN is refused as out of range too.
    if (!(value >= m_userMin && value <= m_userMax))
        XEVException::throwError("For parameter '%s', value(%f) is out of range [%f;%f].",
                                 name().c_str(), value, m_userMin, m_userMax);
    const double s = std::trunc(m_step);
    if (s != 0.0 && std::fmod(std::trunc(std::fabs(value)), s) != 0.0)
        XEVException::throwError("For parameter '%s', value(%f) must be a multiple of %f.",
                                 name().c_str(), value, m_step);
    const double reg = std::floor((value - m_offset) / m_step + 0.5);
    // A user range widened past the register span must not wrap around.
    if (!(reg >= 0.0 && reg <= getMask(size())))
        XEVException::throwError("For parameter '%s', value(%f) is out of range [%f;%f].",
                                 name().c_str(), value, m_userMin, m_userMax);
    return static_cast<uint8_t>(reg);
}

std::string XEVNumericParam::valueToStrValue(double value) const {
    if (!m_specificLabel.empty() && value == m_specificValue)
        return m_specificLabel;
    char text[100];
    if (m_unit.empty())
        std::snprintf(text, sizeof text, "%.*f", m_depth, value);
    else
        std::snprintf(text, sizeof text, "%.*f%s", m_depth, value, m_unit.c_str());
    return text;
}

double XEVNumericParam::strValueToValue(const std::string& text) const {
    if (text == m_specificLabel)
        return m_specificValue;
    std::smatch match;
    // Matched against the whole text: with a search, '^' and '$' would also
    // match at embedded line breaks and accept "abc\n12".
    if (!std::regex_match(text, match, numberPattern()))
        XEVException::throwError("For parameter '%s', cannot convert val(%s) to UserVal.",
                                 name().c_str(), text.c_str());
    // A time in another time unit than the parameter's is converted ("2ms"
    // to an exposure in microseconds) by moving the decimal point, which
    // keeps the value exact; any other trailing word is ignored.
    std::string digits = match.str(3) + match.str(5);
    std::ptrdiff_t point = std::ptrdiff_t(match.str(3).size());
    int textExponent = 0, ownExponent = 0;
    const std::string word = match.str(6);
    if (match[6].matched &&
        detail::microsecondExponent(word.substr(0, word.find_last_not_of(" \t") + 1),
                                    textExponent) &&
        detail::microsecondExponent(m_unit, ownExponent))
        point += textExponent - ownExponent;
    if (point < 0) {
        digits.insert(0, std::size_t(-point), '0');
        point = 0;
    } else if (point > std::ptrdiff_t(digits.size())) {
        digits.append(std::size_t(point) - digits.size(), '0');
    }
    const double sign = match[2].matched ? -1.0 : 1.0;
    // Accumulated digit by digit: no overflow exception for long texts.
    double integer = 0.0;
    for (std::ptrdiff_t i = 0; i < point; ++i)
        integer = integer * 10.0 + (digits[std::size_t(i)] - '0');
    double fraction = 0.0;
    double weight = 0.1;
    for (std::size_t i = std::size_t(point); i < digits.size(); ++i) {
        fraction += (digits[i] - '0') * weight;
        weight /= 10.0;
    }
    return sign * integer + sign * fraction;
}

double XEVNumericParam::MinValue() const {
    return m_userMin;
}

double XEVNumericParam::MaxValue() const {
    return m_userMax;
}

double XEVNumericParam::Step() const {
    return m_step;
}

std::string XEVNumericParam::ValueType() const {
    return "Numeric";
}

XEVParam::PrivateValueIterator* XEVNumericParam::newBeginValueIterator() const {
    // The walk stays inside the user range even when setMaxVal left a bound
    // between two register values, and never fails on a bound.
    const double mask = getMask(size());
    auto reg = [&](double value, bool up) {
        const double q = (value - m_offset) / m_step;
        const double r = up ? std::ceil(q - 1e-9) : std::floor(q + 1e-9);
        if (!(r >= 0.0))
            return uint8_t(0);
        return static_cast<uint8_t>(std::min(r, mask));
    };
    if (m_step > 0)
        return new NumericValueIterator(this, reg(m_userMin, true), reg(m_userMax, false));
    return new NumericValueIterator(this, reg(m_userMax, true), reg(m_userMin, false));
}

XEVParam::PrivateValueIterator* XEVNumericParam::newEndValueIterator() const {
    return new PrivateValueIterator(nullptr, 0);
}

} // namespace XEVLibrary
