#pragma once

#include "XEVParam.h"

#include <map>
#include <string>
#include <vector>

namespace XEVLibrary {

/**
 * A registry field whose register values carry labels ("Trigger Mode",
 * "Pixel Depth", "Pixel Clock" ...). Each label stands for a user value; a
 * register value without a label reads as NaN, which no text stands for.
 * Texts are the labels, compared whole and case-sensitively. The value walk
 * yields the labels in byte-wise ascending order.
 */
class XEVEnumParam : public XEVParam {
public:
    /// Not inert, no labels.
    XEVEnumParam(const char* name, unsigned address, unsigned shift, unsigned size);
    ~XEVEnumParam() override;

    /// Register value @p regVal stands for @p value, shown as @p label.
    /// Raises a critical error for a register value above the mask, a null or
    /// an empty label, checked in that order.
    void addLabel(uint8_t regVal, double value, const char* label);
    /// The register value itself is the user value.
    void addLabel(uint8_t regVal, const char* label);

    /// The label of each user value.
    const std::map<double, std::string>& labelsByValue() const { return m_labelsByValue; }
    /// The user value of each label.
    const std::map<std::string, double>& valuesByLabel() const { return m_valuesByLabel; }

    double strValueToValue(const std::string& text) const override;
    uint8_t valueToRegVal(double value) const override;
    double regValToValue(uint8_t regVal) const override;
    std::string valueToStrValue(double value) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;

    /// Walks the labels in ascending byte-wise order.
    class EnumValueIterator : public PrivateValueIterator {
    public:
        /// Position in the label map.
        using Position = std::map<std::string, double>::const_iterator;
        /// Walks from @p position to @p end.
        EnumValueIterator(const XEVEnumParam* param, Position position, Position end);
        /// A copy at the same position.
        EnumValueIterator(const EnumValueIterator& other) = default;
        using PrivateValueIterator::operator=;
        PrivateValueIterator* newCopy() const override;
        PrivateValueIterator& operator++() override;
        std::string operator*() const override;
        ~EnumValueIterator() override;

    private:
        Position m_position;
        Position m_end;
    };

private:
    std::vector<double> m_values;
    std::map<double, std::string> m_labelsByValue;
    std::map<std::string, double> m_valuesByLabel;
    std::multimap<double, uint8_t> m_regValsByValue;
};

} // namespace XEVLibrary
