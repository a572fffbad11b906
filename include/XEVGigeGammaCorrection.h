#pragma once

#include "XEVGigeInternalFilter.h"

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's gamma correction: the gamma ("Gamma") and the threshold
 * below which it does not apply ("GammaSeuil" on FulmarGigE before firmware
 * 01.03, "GammaThd" elsewhere). KestrelGigE has none: Connect refuses it
 * with a std::runtime_error. Before Connect the setters only keep their
 * values and the getters return them; afterwards they write and read the
 * camera's features.
 */
class GammaCorrection : public InternalFilter {
public:
    /// Keeps the values until Connect.
    GammaCorrection(float gamma, unsigned threshold) : m_gamma(gamma), m_threshold(threshold) {}

    /// Writes the gamma, then the threshold.
    void Connect(XEVDeviceGige* device) override;

    ///@{
    /// The gamma ("Gamma").
    void SetGamma(float gamma);
    float Gamma() const;
    ///@}
    ///@{
    /// The threshold below which gamma does not apply.
    void SetThreshold(unsigned threshold);
    unsigned Threshold() const;
    ///@}

private:
    const char* thresholdFeature() const;

    XEVDeviceGige* m_device = nullptr;
    float m_gamma;
    unsigned m_threshold;
};

} // namespace Gige
} // namespace XEVLibrary
