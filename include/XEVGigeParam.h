#pragma once

#include "XEVParam.h"

#include <string>
#include <vector>

namespace XEVLibrary {

class Feature;

/**
 * A parameter of a GigE camera: one feature of the camera's GenICam
 * description, under the feature's name.
 *
 * It describes the feature (range, step, kind, choices) but holds no value:
 * the GigE device keeps the values by feature name, as 32-bit register
 * contents, and converts them through the feature. The byte registry of the
 * base class is not used; setValue() leaves it untouched.
 *
 * The parameter is inert when the feature can hold one value only or when
 * the camera does not let it be written (a read-only or invisible register).
 * It is continuous unless the feature is a list of choices, a text or a
 * command.
 *
 * Values walked by begin() and end(): an enumeration's entry names, in the
 * order of the description. Integer, float, text and command features have
 * no list of values (their range can hold billions of them): their walk is
 * empty, begin() == end(); MinValue(), MaxValue() and Step() give the range.
 *
 * The feature belongs to the device's control channel and must outlive the
 * parameter.
 */
class XEVGigeParam : public XEVParam {
public:
    /// The parameter of @p feature, which must outlive it.
    explicit XEVGigeParam(const Feature* feature);
    ~XEVGigeParam() override;

    using XEVParam::setValue;
    /// Returns @p value; the registry is not used by GigE parameters.
    double setValue(double value, uint8_t* registry) const override;
    /// One line: the name, " :", padding to @p indent, then the feature's
    /// manual text (its kind and its range or choices).
    void manual(std::ostream& os, int indent) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;
    /// The range and step of integer and float features, 0 for the others.
    double MinValue() const override;
    double MaxValue() const override;
    double Step() const override;
    /// "Int", "Float", "Enumeration", "String" or "Undefined" (commands).
    std::string ValueType() const override;

    /// The feature of the camera's description.
    const Feature* feature() const { return m_feature; }
    /// The entry names of an enumeration, in order; empty for other kinds.
    const std::vector<std::string>& entryNames() const { return m_entryNames; }

private:
    enum class Kind { Int, Float, Enumeration, String, Undefined };

    const Feature* m_feature;
    Kind m_kind;
    std::vector<std::string> m_entryNames;
};

} // namespace XEVLibrary
