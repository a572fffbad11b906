#pragma once

#include "Gige/GenicamFeature.h"

#include <vector>

namespace XEVLibrary {

/// One choice of an enumeration: its name and the register value it stands for.
struct EnumEntry {
    std::string name;
    uint64_t value = 0;
};

/**
 * An "Enumeration" feature: a list of named register values. Its entries are
 * read once, when the feature is built, so that concurrent readers never
 * race on them. An enumeration with one entry is inert.
 */
class Enumeration : public Feature {
public:
    explicit Enumeration(const GenicamNode* node);

    std::string RegName() const override { return Element("pValue"); }
    /// The name of the entry with this value, or empty.
    std::string FeatureValueAsString(unsigned int value) const override;
    /// The value when an entry has it, else 0.
    double FeatureValueAsDouble(unsigned int value) const override;
    /// The value of the first entry called @p text; std::invalid_argument
    /// naming the entries when there is none.
    unsigned int FeatureValueFromString(const std::string& text) const override;
    /// The value truncated toward zero, unchecked.
    unsigned int FeatureValueFromDouble(double value) const override;
    std::ostream& Manual(std::ostream& os) const override;
    bool IsInert() const override { return m_entries.size() == 1; }
    bool IsContinuous() const override { return false; }

    uint64_t PollingTime() const { return UnsignedElement("PollingTime", 0); }
    /// Every "EnumEntry", in the order of the description.
    std::vector<EnumEntry> Entries() const { return m_entries; }

private:
    std::vector<EnumEntry> m_entries;
};

} // namespace XEVLibrary
