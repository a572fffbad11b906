#pragma once

#include "Gige/GenicamFeature.h"

namespace XEVLibrary {

/// What every register element states: where it is, how long, whether it
/// may be written (read-only when it does not say) and through which port.
class RegisterFeature : public Feature {
public:
    using Feature::Feature;

    uint64_t Address() const { return UnsignedElement("Address", 0); }
    uint64_t Length() const { return UnsignedElement("Length", 0); }
    /// "RO", "WO" or "RW"; "RO" when the element is missing.
    std::string AccessMode() const;
    std::string PortName() const { return Element("pPort"); }
};

/**
 * A register of the camera ("IntReg", "FloatReg" or "StringReg"): where a
 * feature's value lives and whether it may be written.
 */
class IntRegFeature : public RegisterFeature {
public:
    using RegisterFeature::RegisterFeature;

    std::string Cachable() const { return Element("Cachable"); }
    /// "LittleEndian" when the element is missing.
    std::string Endianess() const;
    /// "Unsigned" when the element is missing.
    std::string Sign() const;
    uint64_t PollingTime() const { return UnsignedElement("PollingTime", 0); }
};

/// A "StringReg" register read as such.
class StringRegFeature : public RegisterFeature {
public:
    using RegisterFeature::RegisterFeature;
};

} // namespace XEVLibrary
