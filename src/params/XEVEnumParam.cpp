#include "XEVEnumParam.h"

#include "XEVException.h"

#include <cmath>
#include <limits>

namespace XEVLibrary {

XEVEnumParam::XEVEnumParam(const char* name, unsigned address, unsigned shift, unsigned size)
    : XEVParam(name, address, shift, size, false),
      m_values(getMask(size) + 1u, std::numeric_limits<double>::quiet_NaN()) {}

XEVEnumParam::~XEVEnumParam() = default;

void XEVEnumParam::addLabel(uint8_t regVal, double value, const char* label) {
    if (regVal > getMask(size()))
        XEVException::throwCriticalError("For parameter '%s', val(%d) is out of size(%d).",
                                         name().c_str(), static_cast<int>(regVal),
                                         static_cast<int>(size()));
    if (!label)
        XEVException::throwCriticalError("For parameter '%s', label is NULL.", name().c_str());
    if (*label == '\0')
        XEVException::throwCriticalError("For parameter '%s', label is empty.", name().c_str());
    m_values[regVal] = value;
    m_valuesByLabel.emplace(label, value);
    // NaN cannot be ordered: it would break both maps keyed by value.
    if (std::isnan(value))
        return;
    m_labelsByValue.emplace(value, label);
    m_regValsByValue.emplace(value, regVal);
}

void XEVEnumParam::addLabel(uint8_t regVal, const char* label) {
    addLabel(regVal, static_cast<double>(regVal), label);
}

double XEVEnumParam::regValToValue(uint8_t regVal) const {
    if (regVal >= m_values.size())
        XEVException::throwError("For parameter '%s', value(%f) does not exist.", name().c_str(),
                                 static_cast<double>(regVal));
    return m_values[regVal];
}

uint8_t XEVEnumParam::valueToRegVal(double value) const {
    // NaN is tested first: a map lookup of NaN would match an arbitrary entry.
    // lower_bound, not find: the first register value added for the value wins.
    auto found = m_regValsByValue.end();
    if (!std::isnan(value)) {
        found = m_regValsByValue.lower_bound(value);
        if (found != m_regValsByValue.end() && found->first != value)
            found = m_regValsByValue.end();
    }
    if (found == m_regValsByValue.end())
        XEVException::throwError("For parameter '%s', UserVal(%f) does not exist.", name().c_str(),
                                 value);
    return found->second;
}

std::string XEVEnumParam::valueToStrValue(double value) const {
    const auto found = std::isnan(value) ? m_labelsByValue.end() : m_labelsByValue.find(value);
    if (found == m_labelsByValue.end())
        XEVException::throwError("For parameter '%s', UserVal(%f) does not exist.", name().c_str(),
                                 value);
    return found->second;
}

double XEVEnumParam::strValueToValue(const std::string& text) const {
    const auto found = m_valuesByLabel.find(text);
    if (found == m_valuesByLabel.end())
        XEVException::throwError("For parameter '%s', StringVal(%s) does not exist.",
                                 name().c_str(), text.c_str());
    return found->second;
}

XEVParam::PrivateValueIterator* XEVEnumParam::newBeginValueIterator() const {
    if (m_valuesByLabel.empty())
        return newEndValueIterator();
    return new EnumValueIterator(this, m_valuesByLabel.begin(), m_valuesByLabel.end());
}

XEVParam::PrivateValueIterator* XEVEnumParam::newEndValueIterator() const {
    return new EnumValueIterator(nullptr, m_valuesByLabel.end(), m_valuesByLabel.end());
}

XEVEnumParam::EnumValueIterator::EnumValueIterator(const XEVEnumParam* param, Position position,
                                                   Position end)
    : PrivateValueIterator(param, 0), m_position(position), m_end(end) {
    if (m_param && m_position != m_end)
        m_regVal = m_param->valueToRegVal(m_position->second);
    else
        setEnd();
}

XEVParam::PrivateValueIterator* XEVEnumParam::EnumValueIterator::newCopy() const {
    return new EnumValueIterator(*this);
}

XEVParam::PrivateValueIterator& XEVEnumParam::EnumValueIterator::operator++() {
    if (!m_param)
        return *this;
    const std::string& current = m_position->first;
    do {
        ++m_position;
    } while (m_position != m_end && m_position->first == current);
    if (m_position == m_end)
        setEnd();
    else
        m_regVal = m_param->valueToRegVal(m_position->second);
    return *this;
}

std::string XEVEnumParam::EnumValueIterator::operator*() const {
    if (!m_param)
        return std::string();
    return m_position->first;
}

XEVEnumParam::EnumValueIterator::~EnumValueIterator() = default;

} // namespace XEVLibrary
