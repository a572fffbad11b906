#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace rapidxml {
template <class Ch>
class xml_node;
} // namespace rapidxml

namespace XEVLibrary {

/// An XML element of a camera's description, as the parser leaves it.
using GenicamNode = rapidxml::xml_node<char>;

/**
 * One element of a camera's GenICam description: a feature, a register, a
 * command or a category.
 *
 * A feature keeps no value of its own. It is a thin view over its XML
 * element, which lives in the text that GenicamXml retains, and every
 * conversion works on a 32-bit register value handed in by the caller. The
 * base answers with neutral values; the kinds override what they support.
 */
class Feature {
public:
    /// Visibility levels, as the "Visibility" element names them.
    enum VisibilityLevel { Beginner = 0, Expert = 1, Guru = 2, Invisible = 3 };

    explicit Feature(const GenicamNode* node) : m_node(node) {}
    virtual ~Feature() = default;
    Feature(const Feature&) = delete;
    Feature& operator=(const Feature&) = delete;

    /// Name of the register that holds the value (the "pValue" element).
    virtual std::string RegName() const { return {}; }
    virtual std::string FeatureValueAsString(unsigned int value) const;
    virtual double FeatureValueAsDouble(unsigned int value) const;
    virtual unsigned int FeatureValueFromString(const std::string& text) const;
    virtual unsigned int FeatureValueFromDouble(double value) const;
    /// One manual entry: the kind and its range or choices, no line end.
    virtual std::ostream& Manual(std::ostream& os) const;
    virtual bool IsCommand() const { return false; }
    /// True when the feature can hold one value only.
    virtual bool IsInert() const { return false; }
    /// True when the values form a range rather than a list of choices.
    virtual bool IsContinuous() const { return true; }
    /// True when the camera lets the feature be written (set at parsing).
    virtual bool IsMutable() const { return m_mutable; }

    void SetMutable(bool isMutable) { m_mutable = isMutable; }

    std::string Name() const;
    /// "Custom" when the element does not say.
    std::string NameSpace() const;
    int MergePriority() const;
    bool ExposeStatic() const;
    std::string ToolTip() const { return Element("ToolTip"); }
    std::string Description() const { return Element("Description"); }
    std::string DisplayName() const { return Element("DisplayName"); }
    /// A VisibilityLevel; any text the element does not name is Beginner.
    int Visibility() const;

protected:
    /// The text of the first child element called @p name, or empty.
    std::string Element(const char* name) const;
    /// The text of the attribute called @p name, or empty.
    std::string Attribute(const char* name) const;
    /// A child element read as an unsigned number; @p base 0 accepts the
    /// 0x and leading-0 prefixes. A missing element or a text that is no
    /// number reads as 0.
    uint64_t UnsignedElement(const char* name, int base) const;

    const GenicamNode* Node() const { return m_node; }

private:
    const GenicamNode* m_node;
    bool m_mutable = false;
};

} // namespace XEVLibrary
