#pragma once

#include "Gige/GenicamFeature.h"

namespace XEVLibrary {

/**
 * A feature whose register holds a number: read as an unsigned integer,
 * written truncated toward zero and kept to 32 bits.
 */
class NumericFeature : public Feature {
public:
    using Feature::Feature;

    std::string RegName() const override { return Element("pValue"); }
    double FeatureValueAsDouble(unsigned int value) const override;
    unsigned int FeatureValueFromDouble(double value) const override;

    std::string Representation() const { return Element("Representation"); }
    std::string Unit() const { return Element("Unit"); }
};

/**
 * An "Integer" feature: an unsigned value in [Min, Max] on steps of Inc
 * from Min. A feature without Inc (or with Inc 0) takes every value of its
 * range. A value outside the range or off the steps is refused with
 * std::out_of_range, whose text gives the input, the range and the step.
 */
class IntFeature : public NumericFeature {
public:
    using NumericFeature::NumericFeature;

    std::string FeatureValueAsString(unsigned int value) const override;
    unsigned int FeatureValueFromString(const std::string& text) const override;
    unsigned int FeatureValueFromDouble(double value) const override;
    std::ostream& Manual(std::ostream& os) const override;

    uint64_t Min() const { return UnsignedElement("Min", 10); }
    uint64_t Max() const { return UnsignedElement("Max", 10); }
    uint64_t Incr() const { return UnsignedElement("Inc", 10); }

private:
    /// Refuses @p value (whose input was @p input) unless it is on the range.
    unsigned int Checked(long double value, const std::string& input) const;
};

/**
 * A "Float" feature: the register holds an IEEE 754 single-precision value.
 * Values outside [Min, Max] are refused with std::out_of_range; there is no
 * step check.
 */
class FloatFeature : public NumericFeature {
public:
    using NumericFeature::NumericFeature;

    std::string FeatureValueAsString(unsigned int value) const override;
    double FeatureValueAsDouble(unsigned int value) const override;
    unsigned int FeatureValueFromString(const std::string& text) const override;
    unsigned int FeatureValueFromDouble(double value) const override;
    std::ostream& Manual(std::ostream& os) const override;

    double Min() const;
    double Max() const;
    double Incr() const;
    std::string DisplayNotation() const { return Element("DisplayNotation"); }
    uint64_t DisplayPrecision() const { return UnsignedElement("DisplayPrecision", 10); }
};

} // namespace XEVLibrary
