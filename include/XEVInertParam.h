#pragma once

#include "XEVParam.h"

#include <string>

namespace XEVLibrary {

/**
 * A constant shown to the user and never written: a fixed "Mode", "Pixel
 * Clock" or "Gain" on models that cannot change it. Reads give the constant
 * whatever the registry holds; the text is shown between square brackets.
 */
class XEVInertParam : public XEVParam {
public:
    /// Shown as "[" + @p text + "]".
    XEVInertParam(const char* name, double value, std::string text);
    ~XEVInertParam() override;

    /// The constant every read gives.
    double constant() const { return m_value; }

    double regValToValue(uint8_t regVal) const override;
    std::string valueToStrValue(double value) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;

    /// A walk of exactly one value, the bracketed text.
    class InertValueIterator : public PrivateValueIterator {
    public:
        /// The one-value walk of @p param.
        explicit InertValueIterator(const XEVParam* param);
        /// A copy at the same position.
        InertValueIterator(const InertValueIterator& other) = default;
        using PrivateValueIterator::operator=;
        PrivateValueIterator* newCopy() const override;
        PrivateValueIterator& operator++() override;
        ~InertValueIterator() override;
    };

private:
    double m_value;
    std::string m_text;
};

} // namespace XEVLibrary
