#include "XEVGigeParam.h"

#include "Gige/GenicamEnumeration.h"
#include "Gige/GenicamNumericFeature.h"
#include "Gige/GenicamStringFeature.h"
#include "XEVException.h"
#include "gige/GigeValueIterator.h"

#include <ostream>

namespace XEVLibrary {

namespace {

const Feature& Checked(const Feature* feature) {
    if (!feature)
        XEVException::throwCriticalError("A GigE parameter needs a feature of the description.");
    return *feature;
}

} // namespace

XEVGigeParam::XEVGigeParam(const Feature* feature)
    : XEVParam(Checked(feature).Name().c_str(), Checked(feature).IsContinuous(),
               Checked(feature).IsInert() || !Checked(feature).IsMutable()),
      m_feature(feature), m_kind(Kind::Undefined) {
    if (dynamic_cast<const IntFeature*>(feature)) {
        m_kind = Kind::Int;
    } else if (dynamic_cast<const FloatFeature*>(feature)) {
        m_kind = Kind::Float;
    } else if (const auto* enumeration = dynamic_cast<const Enumeration*>(feature)) {
        m_kind = Kind::Enumeration;
        for (const EnumEntry& entry : enumeration->Entries())
            m_entryNames.push_back(entry.name);
    } else if (dynamic_cast<const StringFeature*>(feature)) {
        m_kind = Kind::String;
    }
}

XEVGigeParam::~XEVGigeParam() = default;

double XEVGigeParam::setValue(double value, uint8_t*) const {
    return value;
}

void XEVGigeParam::manual(std::ostream& os, int indent) const {
    const int length = static_cast<int>(name().size());
    const int pad = length + 3 <= indent ? indent - length + 3 : 3;
    os << name() << " :" << std::string(static_cast<std::size_t>(pad), ' ');
    m_feature->Manual(os) << std::endl;
}

XEVParam::PrivateValueIterator* XEVGigeParam::newBeginValueIterator() const {
    if (m_kind == Kind::Enumeration)
        return new GigeEnumValueIterator(this, 0);
    return new GigeValueIterator();
}

XEVParam::PrivateValueIterator* XEVGigeParam::newEndValueIterator() const {
    return new GigeValueIterator();
}

double XEVGigeParam::MinValue() const {
    if (m_kind == Kind::Int)
        return static_cast<double>(static_cast<const IntFeature*>(m_feature)->Min());
    if (m_kind == Kind::Float)
        return static_cast<const FloatFeature*>(m_feature)->Min();
    return 0.0;
}

double XEVGigeParam::MaxValue() const {
    if (m_kind == Kind::Int)
        return static_cast<double>(static_cast<const IntFeature*>(m_feature)->Max());
    if (m_kind == Kind::Float)
        return static_cast<const FloatFeature*>(m_feature)->Max();
    return 0.0;
}

double XEVGigeParam::Step() const {
    if (m_kind == Kind::Int)
        return static_cast<double>(static_cast<const IntFeature*>(m_feature)->Incr());
    if (m_kind == Kind::Float)
        return static_cast<const FloatFeature*>(m_feature)->Incr();
    return 0.0;
}

std::string XEVGigeParam::ValueType() const {
    switch (m_kind) {
    case Kind::Int:
        return "Int";
    case Kind::Float:
        return "Float";
    case Kind::Enumeration:
        return "Enumeration";
    case Kind::String:
        return "String";
    default:
        return "Undefined";
    }
}

} // namespace XEVLibrary
