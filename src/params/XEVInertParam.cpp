#include "XEVInertParam.h"

#include <utility>

namespace XEVLibrary {

XEVInertParam::XEVInertParam(const char* name, double value, std::string text)
    : XEVParam(name, 0, 0, 8, true), m_value(value), m_text("[" + std::move(text) + "]") {}

XEVInertParam::~XEVInertParam() = default;

double XEVInertParam::regValToValue(uint8_t) const {
    return m_value;
}

std::string XEVInertParam::valueToStrValue(double) const {
    return m_text;
}

XEVParam::PrivateValueIterator* XEVInertParam::newBeginValueIterator() const {
    return new InertValueIterator(this);
}

XEVParam::PrivateValueIterator* XEVInertParam::newEndValueIterator() const {
    return new InertValueIterator(nullptr);
}

XEVInertParam::InertValueIterator::InertValueIterator(const XEVParam* param)
    : PrivateValueIterator(param, 0) {}

XEVParam::PrivateValueIterator* XEVInertParam::InertValueIterator::newCopy() const {
    return new InertValueIterator(*this);
}

XEVParam::PrivateValueIterator& XEVInertParam::InertValueIterator::operator++() {
    setEnd();
    return *this;
}

XEVInertParam::InertValueIterator::~InertValueIterator() = default;

} // namespace XEVLibrary
