#pragma once

#include "Gige/GenicamFeature.h"

namespace XEVLibrary {

/// A "String" feature: a text held in a string register.
class StringFeature : public Feature {
public:
    using Feature::Feature;

    std::string RegName() const override { return Element("pValue"); }
    std::ostream& Manual(std::ostream& os) const override;
    bool IsContinuous() const override { return false; }
};

} // namespace XEVLibrary
