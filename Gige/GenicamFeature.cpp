#include "Gige/GenicamFeature.h"
#include "Gige/GenicamCategory.h"
#include "Gige/GenicamCommand.h"
#include "Gige/GenicamEnumeration.h"
#include "Gige/GenicamNumericFeature.h"
#include "Gige/GenicamRegister.h"
#include "Gige/GenicamStringFeature.h"

#include <rapidxml/rapidxml.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <stdexcept>

namespace XEVLibrary {

namespace {

std::string Formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

/// A double truncated toward zero and kept to 32 bits, as a register takes
/// it. Values that no 64-bit integer holds (and NaN) give 0 rather than
/// undefined behaviour.
unsigned int TruncatedTo32Bits(double value) {
    const double truncated = std::trunc(value);
    if (!(truncated > -9.2e18 && truncated < 9.2e18))
        return 0;
    return static_cast<unsigned int>(static_cast<int64_t>(truncated));
}

std::string RangeMessage(const std::string& input, const std::string& min, const std::string& max,
                         const std::string& step) {
    return " value(" + input + ") must be in the range [" + min + ", " + max + "] by step of " +
           step;
}

} // namespace

// --- Feature -----------------------------------------------------------------

std::string Feature::FeatureValueAsString(unsigned int) const {
    return {};
}

double Feature::FeatureValueAsDouble(unsigned int) const {
    return 0.0;
}

unsigned int Feature::FeatureValueFromString(const std::string&) const {
    return 0;
}

unsigned int Feature::FeatureValueFromDouble(double) const {
    return 0;
}

std::ostream& Feature::Manual(std::ostream& os) const {
    return os;
}

std::string Feature::Name() const {
    return Attribute("Name");
}

std::string Feature::NameSpace() const {
    return m_node->first_attribute("NameSpace") ? Attribute("NameSpace") : "Custom";
}

int Feature::MergePriority() const {
    return std::atoi(Attribute("MergePriority").c_str());
}

bool Feature::ExposeStatic() const {
    return Attribute("ExposeStatic") == "Yes";
}

int Feature::Visibility() const {
    const std::string level = Element("Visibility");
    if (level == "Expert")
        return Expert;
    if (level == "Guru")
        return Guru;
    if (level == "Invisible")
        return Invisible;
    return Beginner;
}

std::string Feature::Element(const char* name) const {
    const GenicamNode* child = m_node->first_node(name);
    return child ? std::string(child->value(), child->value_size()) : std::string();
}

std::string Feature::Attribute(const char* name) const {
    const auto* attribute = m_node->first_attribute(name);
    return attribute ? std::string(attribute->value(), attribute->value_size()) : std::string();
}

uint64_t Feature::UnsignedElement(const char* name, int base) const {
    const std::string text = Element(name);
    return std::strtoull(text.c_str(), nullptr, base);
}

// --- Numbers -----------------------------------------------------------------

double NumericFeature::FeatureValueAsDouble(unsigned int value) const {
    return value;
}

unsigned int NumericFeature::FeatureValueFromDouble(double value) const {
    return TruncatedTo32Bits(value);
}

std::string IntFeature::FeatureValueAsString(unsigned int value) const {
    return std::to_string(value);
}

unsigned int IntFeature::FeatureValueFromString(const std::string& text) const {
    // std::stoul refuses texts that are no number ("stoul"); the whole value
    // is checked, so a number beyond 32 bits cannot wrap into the range.
    return Checked(static_cast<long double>(std::stoul(text)), text);
}

unsigned int IntFeature::FeatureValueFromDouble(double value) const {
    return Checked(std::trunc(static_cast<long double>(value)), Formatted("%f", value));
}

unsigned int IntFeature::Checked(long double value, const std::string& input) const {
    const uint64_t min = Min();
    const uint64_t max = Max();
    const uint64_t step = Incr();
    // Without an increment every value of the range is a step.
    const bool inRange = value >= static_cast<long double>(min) &&
                         value <= static_cast<long double>(max) && value <= 4294967295.0L;
    if (!inRange || (step != 0 && (static_cast<uint64_t>(value) - min) % step != 0))
        throw std::out_of_range(
            RangeMessage(input, std::to_string(min), std::to_string(max), std::to_string(step)));
    return static_cast<unsigned int>(value);
}

std::ostream& IntFeature::Manual(std::ostream& os) const {
    return os << "Integer \n\t\t[min: " << Min() << ", max: " << Max() << ", Step: " << Incr()
              << "]";
}

namespace {

float FloatOfRegister(unsigned int value) {
    float single;
    static_assert(sizeof single == sizeof value, "a register holds one single-precision value");
    std::memcpy(&single, &value, sizeof single);
    return single;
}

double DoubleElement(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

} // namespace

double FloatFeature::Min() const {
    return DoubleElement(Element("Min"));
}

double FloatFeature::Max() const {
    return DoubleElement(Element("Max"));
}

double FloatFeature::Incr() const {
    return DoubleElement(Element("Inc"));
}

std::string FloatFeature::FeatureValueAsString(unsigned int value) const {
    return Formatted("%f", FloatOfRegister(value));
}

double FloatFeature::FeatureValueAsDouble(unsigned int value) const {
    return FloatOfRegister(value);
}

unsigned int FloatFeature::FeatureValueFromString(const std::string& text) const {
    return FeatureValueFromDouble(std::stof(text));
}

unsigned int FloatFeature::FeatureValueFromDouble(double value) const {
    const double min = Min();
    const double max = Max();
    if (!(min <= value && value <= max))
        throw std::out_of_range(RangeMessage(Formatted("%f", value), Formatted("%f", min),
                                             Formatted("%f", max), Formatted("%f", Incr())));
    const float single = static_cast<float>(value);
    unsigned int bits;
    std::memcpy(&bits, &single, sizeof bits);
    return bits;
}

std::ostream& FloatFeature::Manual(std::ostream& os) const {
    return os << "Float \n\t\t[min: " << Min() << ", max: " << Max() << ", Step: " << Incr() << "]";
}

// --- Registers ---------------------------------------------------------------

namespace {

std::string OrDefault(std::string text, const char* fallback) {
    return text.empty() ? std::string(fallback) : text;
}

} // namespace

std::string RegisterFeature::AccessMode() const {
    return OrDefault(Element("AccessMode"), "RO");
}

std::string IntRegFeature::Endianess() const {
    return OrDefault(Element("Endianess"), "LittleEndian");
}

std::string IntRegFeature::Sign() const {
    return OrDefault(Element("Sign"), "Unsigned");
}

// --- Enumeration -------------------------------------------------------------

Enumeration::Enumeration(const GenicamNode* node) : Feature(node) {
    for (const GenicamNode* entry = node->first_node("EnumEntry"); entry;
         entry = entry->next_sibling("EnumEntry")) {
        const auto* name = entry->first_attribute("Name");
        const GenicamNode* value = entry->first_node("Value");
        const std::string valueText = value ? std::string(value->value(), value->value_size()) : "";
        m_entries.push_back({name ? std::string(name->value(), name->value_size()) : std::string(),
                             std::strtoull(valueText.c_str(), nullptr, 0)});
    }
}

std::string Enumeration::FeatureValueAsString(unsigned int value) const {
    for (const EnumEntry& entry : m_entries)
        if (entry.value == value)
            return entry.name;
    return {};
}

double Enumeration::FeatureValueAsDouble(unsigned int value) const {
    for (const EnumEntry& entry : m_entries)
        if (entry.value == value)
            return value;
    return 0.0;
}

unsigned int Enumeration::FeatureValueFromString(const std::string& text) const {
    std::string names;
    for (const EnumEntry& entry : m_entries) {
        if (entry.name == text)
            return static_cast<unsigned int>(entry.value);
        names += (names.empty() ? "" : "| ") + entry.name;
    }
    throw std::invalid_argument(" value(" + text + ") is not one of [" + names + "]");
}

unsigned int Enumeration::FeatureValueFromDouble(double value) const {
    return TruncatedTo32Bits(value);
}

std::ostream& Enumeration::Manual(std::ostream& os) const {
    os << "Enum \n\t\t[";
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        os << m_entries[i].name << (i + 1 < m_entries.size() ? "| " : "");
    os << "]";
    if (IsInert())
        os << " - Inert";
    return os;
}

// --- Texts, commands, categories ---------------------------------------------

std::ostream& StringFeature::Manual(std::ostream& os) const {
    return os << "String \n\t\t[" << Name() << "]";
}

std::ostream& Command::Manual(std::ostream& os) const {
    return os << "String \n\t\t[" << Name() << "]";
}

std::vector<std::string> Category::FeatureNames() const {
    std::vector<std::string> names;
    for (const GenicamNode* child = Node()->first_node("pFeature"); child;
         child = child->next_sibling("pFeature"))
        names.emplace_back(child->value(), child->value_size());
    return names;
}

} // namespace XEVLibrary
