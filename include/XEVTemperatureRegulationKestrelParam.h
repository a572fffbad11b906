#pragma once

#include "XEVNumericParam.h"

namespace XEVLibrary {

/**
 * The TEC temperature set point of the Kestrel model: a numeric index
 * (-15 ... 48 with the catalog's step 1 and offset -15) whose 6-bit register
 * index n is spread over one registry byte: bits 0-1 of n in bits 0-1, bits
 * 2-5 of n in bits 4-7. Bits 2-3 of the byte belong to "TEC Mode" and
 * survive every write.
 */
class XEVTemperatureRegulationKestrelParam : public XEVNumericParam {
public:
    /// Same arguments as the numeric parameter.
    XEVTemperatureRegulationKestrelParam(const char* name, unsigned address, unsigned shift,
                                         unsigned size, double step, double offset);
    ~XEVTemperatureRegulationKestrelParam() override;

    using XEVParam::setValue;
    /// Writes the spread index into the parameter's byte, keeping bits 2-3.
    double setValue(double value, uint8_t* registry) const override;
    /// The spread register byte of @p value.
    uint8_t valueToRegVal(double value) const override;
    /// The value of a spread register byte (bits 2-3 ignored).
    double regValToValue(uint8_t regVal) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;

    /// Walks the register bytes 0, 1, 2, 3, 16, 17 ... 243.
    class TemperatureValueIterator : public PrivateValueIterator {
    public:
        /// The walk of @p param from register byte @p first.
        TemperatureValueIterator(const XEVParam* param, uint8_t first);
        /// A copy at the same position.
        TemperatureValueIterator(const TemperatureValueIterator& other) = default;
        using PrivateValueIterator::operator=;
        PrivateValueIterator* newCopy() const override;
        PrivateValueIterator& operator++() override;
        ~TemperatureValueIterator() override;
    };
};

} // namespace XEVLibrary
