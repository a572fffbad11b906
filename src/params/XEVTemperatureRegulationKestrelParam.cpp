#include "XEVTemperatureRegulationKestrelParam.h"

#include "XEVException.h"

namespace XEVLibrary {

XEVTemperatureRegulationKestrelParam::XEVTemperatureRegulationKestrelParam(
    const char* name, unsigned address, unsigned shift, unsigned size, double step, double offset)
    : XEVNumericParam(name, address, shift, size, step, offset) {}

XEVTemperatureRegulationKestrelParam::~XEVTemperatureRegulationKestrelParam() = default;

double XEVTemperatureRegulationKestrelParam::regValToValue(uint8_t regVal) const {
    const uint8_t index = static_cast<uint8_t>((regVal & 0x03) | ((regVal >> 2) & 0x3C));
    return XEVNumericParam::regValToValue(index);
}

uint8_t XEVTemperatureRegulationKestrelParam::valueToRegVal(double value) const {
    const uint8_t index = XEVNumericParam::valueToRegVal(value);
    return static_cast<uint8_t>((index & 0x03) | ((index << 2) & 0xF0));
}

double XEVTemperatureRegulationKestrelParam::setValue(double value, uint8_t* registry) const {
    if (!registry)
        XEVException::throwError("For parameter '%s', can't use NULL registry to write value.",
                                 name().c_str());
    const uint8_t spread = valueToRegVal(value);
    uint8_t& byte = registry[regAddr()];
    byte = static_cast<uint8_t>((spread & 0xF3) | (byte & 0x0C));
    return value;
}

XEVParam::PrivateValueIterator*
XEVTemperatureRegulationKestrelParam::newBeginValueIterator() const {
    return new TemperatureValueIterator(this, 0);
}

XEVParam::PrivateValueIterator* XEVTemperatureRegulationKestrelParam::newEndValueIterator() const {
    return new TemperatureValueIterator(nullptr, 0);
}

XEVTemperatureRegulationKestrelParam::TemperatureValueIterator::TemperatureValueIterator(
    const XEVParam* param, uint8_t first)
    : PrivateValueIterator(param, first) {}

XEVParam::PrivateValueIterator*
XEVTemperatureRegulationKestrelParam::TemperatureValueIterator::newCopy() const {
    return new TemperatureValueIterator(*this);
}

XEVParam::PrivateValueIterator&
XEVTemperatureRegulationKestrelParam::TemperatureValueIterator::operator++() {
    if (!m_param)
        return *this;
    if (m_regVal > 242)
        setEnd();
    else if ((m_regVal & 0x03) == 0x03)
        m_regVal = static_cast<uint8_t>((m_regVal + 16) & ~0x03);
    else
        ++m_regVal;
    return *this;
}

XEVTemperatureRegulationKestrelParam::TemperatureValueIterator::~TemperatureValueIterator() =
    default;

} // namespace XEVLibrary
