#pragma once

#include "Gige/GenicamFeature.h"

namespace XEVLibrary {

/// A "Command": writing CommandValue to its register makes the camera act.
class Command : public Feature {
public:
    using Feature::Feature;

    std::string RegName() const override { return Element("pValue"); }
    std::ostream& Manual(std::ostream& os) const override;
    bool IsCommand() const override { return true; }
    bool IsContinuous() const override { return false; }

    uint64_t CommandValue() const { return UnsignedElement("CommandValue", 0); }
    uint64_t PollingTime() const { return UnsignedElement("PollingTime", 0); }
};

} // namespace XEVLibrary
