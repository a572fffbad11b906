#include "XEVParam.h"

#include "XEVException.h"
#include "params/ValueList.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace XEVLibrary {

// ---------------------------------------------------------------------------
// PrivateValueIterator
// ---------------------------------------------------------------------------

XEVParam::PrivateValueIterator::PrivateValueIterator(const XEVParam* param, uint8_t regVal)
    : m_regVal(param ? regVal : 0), m_param(param) {}

XEVParam::PrivateValueIterator&
XEVParam::PrivateValueIterator::operator=(const PrivateValueIterator& other) {
    m_regVal = other.m_regVal;
    m_param = other.m_param;
    return *this;
}

XEVParam::PrivateValueIterator* XEVParam::PrivateValueIterator::newCopy() const {
    return new PrivateValueIterator(*this);
}

bool XEVParam::PrivateValueIterator::operator==(const PrivateValueIterator& other) const {
    return m_param == other.m_param && m_regVal == other.m_regVal;
}

bool XEVParam::PrivateValueIterator::operator!=(const PrivateValueIterator& other) const {
    return !(*this == other);
}

XEVParam::PrivateValueIterator& XEVParam::PrivateValueIterator::operator++() {
    if (!m_param)
        return *this;
    if (m_regVal >= getMask(m_param->size()))
        setEnd();
    else
        ++m_regVal;
    return *this;
}

std::string XEVParam::PrivateValueIterator::operator*() const {
    if (!m_param)
        return std::string();
    return m_param->valueToStrValue(m_param->regValToValue(m_regVal));
}

XEVParam::PrivateValueIterator::~PrivateValueIterator() = default;

// ---------------------------------------------------------------------------
// ValueIterator
// ---------------------------------------------------------------------------

XEVParam::ValueIterator::ValueIterator(const XEVParam& param, bool begin)
    : m_iterator(begin ? param.newBeginValueIterator() : param.newEndValueIterator()) {}

XEVParam::ValueIterator::ValueIterator(PrivateValueIterator* iterator) : m_iterator(iterator) {}

XEVParam::ValueIterator::ValueIterator(const ValueIterator& other)
    : m_iterator(other.m_iterator ? other.m_iterator->newCopy() : nullptr) {}

XEVParam::ValueIterator::ValueIterator(ValueIterator&& other) noexcept
    : m_iterator(other.m_iterator) {
    other.m_iterator = nullptr;
}

XEVParam::ValueIterator& XEVParam::ValueIterator::operator=(const ValueIterator& other) {
    if (this == &other)
        return *this;
    PrivateValueIterator* copy = other.m_iterator ? other.m_iterator->newCopy() : nullptr;
    delete m_iterator;
    m_iterator = copy;
    return *this;
}

XEVParam::ValueIterator& XEVParam::ValueIterator::operator=(ValueIterator&& other) noexcept {
    if (this != &other) {
        delete m_iterator;
        m_iterator = other.m_iterator;
        other.m_iterator = nullptr;
    }
    return *this;
}

XEVParam::ValueIterator::~ValueIterator() {
    delete m_iterator;
}

bool XEVParam::ValueIterator::operator==(const ValueIterator& other) const {
    if (!m_iterator || !other.m_iterator)
        return m_iterator == other.m_iterator;
    return *m_iterator == *other.m_iterator;
}

bool XEVParam::ValueIterator::operator!=(const ValueIterator& other) const {
    if (!m_iterator || !other.m_iterator)
        return m_iterator != other.m_iterator;
    return *m_iterator != *other.m_iterator;
}

XEVParam::ValueIterator& XEVParam::ValueIterator::operator++() {
    if (m_iterator)
        ++*m_iterator;
    return *this;
}

XEVParam::ValueIterator XEVParam::ValueIterator::operator++(int) {
    ValueIterator before(*this);
    ++*this;
    return before;
}

std::string XEVParam::ValueIterator::operator*() const {
    return m_iterator ? **m_iterator : std::string();
}

// ---------------------------------------------------------------------------
// XEVParam
// ---------------------------------------------------------------------------

XEVParam::XEVParam(const char* name, unsigned address, unsigned shift, unsigned size, bool inert)
    : m_inert(inert), m_continuous(false), m_address(address), m_shift(shift), m_size(size),
      m_name(name ? name : "") {
    if (size == 0)
        XEVException::throwCriticalError("For parameter '%s', size does not be 0.", m_name.c_str());
    if (address >= RegistrySize)
        XEVException::throwCriticalError(
            "For parameter '%s', unvalid address(%d). This address is out of registry size(%d).",
            m_name.c_str(), static_cast<int>(address), static_cast<int>(RegistrySize));
    // Compared without adding, so that huge values cannot wrap around.
    if (shift > 8 || size > 8 - shift)
        XEVException::throwCriticalError(
            "For parameter '%s', unvalid shift and size. Multi-bytes parameters unsuported.",
            m_name.c_str());
}

XEVParam::XEVParam(const char* name, bool continuous, bool inert)
    : m_inert(inert), m_continuous(continuous), m_address(0), m_shift(0), m_size(0),
      m_name(name ? name : "") {}

XEVParam::~XEVParam() = default;

unsigned XEVParam::getMask(unsigned bits) {
    return (1u << (bits % 32)) - 1u;
}

uint8_t XEVParam::rawField(const uint8_t* registry) const {
    const unsigned mask = getMask(m_size);
    return static_cast<uint8_t>((registry[m_address] & (mask << m_shift)) >> m_shift);
}

void XEVParam::writeField(uint8_t regVal, uint8_t* registry) const {
    const unsigned mask = getMask(m_size);
    // Masked so that a conversion can never spill into a neighbouring field.
    registry[m_address] = static_cast<uint8_t>((registry[m_address] & ~(mask << m_shift)) |
                                               ((regVal & mask) << m_shift));
}

double XEVParam::setValue(double value, uint8_t* registry) const {
    if (m_inert)
        return value;
    if (!registry)
        XEVException::throwError("For parameter '%s', can't use NULL registry to write value.",
                                 m_name.c_str());
    writeField(valueToRegVal(value), registry);
    return value;
}

double XEVParam::setValue(const std::string& text, uint8_t* registry) const {
    if (m_inert)
        return 0.0;
    return setValue(strValueToValue(text), registry);
}

double XEVParam::value(const uint8_t* registry) const {
    if (!registry)
        XEVException::throwError("For parameter '%s', can't use NULL registry to read value.",
                                 m_name.c_str());
    return ValueFromReg(registry);
}

std::string XEVParam::strValue(const uint8_t* registry) const {
    return valueToStrValue(value(registry));
}

double XEVParam::ValueFromReg(const uint8_t* registry) const {
    return regValToValue(rawField(registry));
}

uint8_t XEVParam::valueToRegVal(double value) const {
    // NaN fails this test too, so it never reaches the conversion below.
    if (!(value <= static_cast<double>(getMask(m_size))))
        XEVException::throwWarning(
            "For parameter '%s', unvalid cast (UserVal to RegVal), UserVal(%f) is too big.",
            m_name.c_str(), value);
    // A value of -1 or below cannot be represented: refused rather than wrapped.
    if (value <= -1.0)
        XEVException::throwWarning(
            "For parameter '%s', unvalid cast (UserVal to RegVal), UserVal(%f) is too small.",
            m_name.c_str(), value);
    return static_cast<uint8_t>(value);
}

double XEVParam::regValToValue(uint8_t regVal) const {
    return static_cast<double>(regVal);
}

std::string XEVParam::valueToStrValue(double value) const {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

double XEVParam::strValueToValue(const std::string& text) const {
    return std::strtod(text.c_str(), nullptr);
}

XEVParam::PrivateValueIterator* XEVParam::newBeginValueIterator() const {
    return new PrivateValueIterator(this, 0);
}

XEVParam::PrivateValueIterator* XEVParam::newEndValueIterator() const {
    return new PrivateValueIterator(nullptr, 0);
}

std::string XEVParam::toUtf8(const std::string& text) {
    std::string utf8;
    utf8.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // A 0xB5 after 0xC2 is already the second byte of UTF-8's micro sign.
        if (c == 0xB5 && (i == 0 || static_cast<unsigned char>(text[i - 1]) != 0xC2))
            utf8 += "\xC2\xB5";
        else
            utf8 += text[i];
    }
    return utf8;
}

double XEVParam::MinValue() const {
    return 0.0;
}
double XEVParam::MaxValue() const {
    return 0.0;
}
double XEVParam::Step() const {
    return 0.0;
}
std::string XEVParam::ValueType() const {
    return std::string();
}

void XEVParam::manual(std::ostream& os, int indent) const {
    const int length = static_cast<int>(m_name.size());
    int pad = 3;
    if (length + 3 <= indent)
        pad = indent - length + 3;
    os << m_name << " :" << std::string(static_cast<std::size_t>(pad), ' ')
       << formatValueList(*this) << std::endl;
}

XEVParam::RangeValueIterator::RangeValueIterator(const XEVParam* param, uint8_t first, uint8_t last)
    : PrivateValueIterator(param, first), m_last(param ? last : 0) {}

XEVParam::PrivateValueIterator* XEVParam::RangeValueIterator::newCopy() const {
    return new RangeValueIterator(*this);
}

XEVParam::PrivateValueIterator& XEVParam::RangeValueIterator::operator++() {
    if (!m_param)
        return *this;
    if (m_regVal >= m_last)
        setEnd();
    else
        ++m_regVal;
    return *this;
}

XEVParam::RangeValueIterator::~RangeValueIterator() = default;

} // namespace XEVLibrary
