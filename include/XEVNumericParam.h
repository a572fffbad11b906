#pragma once

#include "XEVParam.h"

#include <string>

namespace XEVLibrary {

/**
 * A linear registry field: user value = register value x step + offset.
 *
 * Accepts user values inside a user range (by default the whole register
 * span), prints them with as many decimals as step and offset need, an
 * optional unit and one optional special label shown instead of one value
 * ("AGC" for a gain of 0). Texts are numbers with "." or "," as decimal
 * separator, optionally followed by a unit word. When both the parameter's
 * unit and that word are time units (ns, us, µs, ms, s), the number is
 * converted to the parameter's unit ("2ms" is 2000 for an exposure in µs);
 * any other word is ignored. minValue(), maxValue() and step() report the
 * user range and step; valueType() is "Numeric".
 */
class XEVNumericParam : public XEVParam {
public:
    /// Not inert; the user range is the whole register span, from offset to
    /// mask x step + offset (ordered, so a negative step spans downwards).
    XEVNumericParam(const char* name, unsigned address, unsigned shift, unsigned size, double step,
                    double offset);
    ~XEVNumericParam() override;

    /// Narrows the accepted user range. Raises a critical error when the
    /// bounds leave the register span, are not ordered, or do not fall on
    /// register values.
    void setUserRange(double min, double max);
    /// Sets the user maximum without validation (the device bounds window
    /// coordinates by the sensor size with it).
    void setMaxVal(double max);
    /// @p value is shown as @p label, and @p label reads back as @p value.
    void setSpecificLabel(double value, const std::string& label);
    /// Appended to printed values.
    void setUnit(const std::string& unit);

    ///@{
    /// The accepted user range and the step between values.
    double userMin() const { return m_userMin; }
    double userMax() const { return m_userMax; }
    double userStep() const { return m_step; }
    ///@}
    /// The user value of register value 0.
    double offset() const { return m_offset; }
    /// The unit appended to printed values.
    const std::string& unit() const { return m_unit; }
    ///@{
    /// The label of setSpecificLabel() and the value it stands for.
    const std::string& specificLabel() const { return m_specificLabel; }
    double specificValue() const { return m_specificValue; }
    ///@}
    /// Decimals printed: those of the offset or of the step, whichever has more.
    int depth() const { return m_depth; }

    double strValueToValue(const std::string& text) const override;
    double MinValue() const override;
    double MaxValue() const override;
    double Step() const override;
    std::string ValueType() const override;
    /// Refuses values outside the user range and, for a step of 1 or more,
    /// values whose integer part is not a multiple of the step; rounds half up.
    uint8_t valueToRegVal(double value) const override;
    double regValToValue(uint8_t regVal) const override;
    std::string valueToStrValue(double value) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;

    /// Walks the register values of the user range.
    using NumericValueIterator = RangeValueIterator;

private:
    double m_step;
    double m_offset;
    double m_userMin;
    double m_userMax;
    double m_specificValue;
    std::string m_specificLabel;
    std::string m_unit;
    int32_t m_depth;
};

} // namespace XEVLibrary
