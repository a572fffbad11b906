#include "gige/GigeValueIterator.h"

#include "XEVGigeParam.h"

namespace XEVLibrary {

XEVParam::PrivateValueIterator* GigeValueIterator::newCopy() const {
    return new GigeValueIterator(*this);
}

GigeValueIterator::~GigeValueIterator() = default;

GigeEnumValueIterator::GigeEnumValueIterator(const XEVGigeParam* param, std::size_t index)
    : GigeValueIterator(param), m_index(index) {
    settle();
}

XEVParam::PrivateValueIterator&
GigeEnumValueIterator::operator=(const PrivateValueIterator& other) {
    PrivateValueIterator::operator=(other);
    m_index = m_param ? indexOf(other) : 0;
    settle();
    return *this;
}

XEVParam::PrivateValueIterator* GigeEnumValueIterator::newCopy() const {
    return new GigeEnumValueIterator(*this);
}

bool GigeEnumValueIterator::operator==(const PrivateValueIterator& other) const {
    if (m_param != other.param())
        return false;
    return !m_param || m_index == indexOf(other);
}

bool GigeEnumValueIterator::operator!=(const PrivateValueIterator& other) const {
    return !(*this == other);
}

XEVParam::PrivateValueIterator& GigeEnumValueIterator::operator++() {
    if (m_param) {
        ++m_index;
        settle();
    }
    return *this;
}

std::string GigeEnumValueIterator::operator*() const {
    return m_param ? gigeParam()->entryNames()[m_index] : std::string();
}

GigeEnumValueIterator::~GigeEnumValueIterator() = default;

std::size_t GigeEnumValueIterator::indexOf(const PrivateValueIterator& other) {
    const auto* walk = dynamic_cast<const GigeEnumValueIterator*>(&other);
    return walk ? walk->m_index : 0;
}

const XEVGigeParam* GigeEnumValueIterator::gigeParam() const {
    // Only XEVGigeParam creates this walk, on itself.
    return static_cast<const XEVGigeParam*>(m_param);
}

void GigeEnumValueIterator::settle() {
    if (m_param && m_index >= gigeParam()->entryNames().size()) {
        setEnd();
        m_index = 0;
    }
}

} // namespace XEVLibrary
