#pragma once

#include "XEVGigeGainControl.h"

#include <string>

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's automatic gain control ("AgcMode" "Auto"). Its one number is,
 * by model, the mean/standard-deviation threshold ("AgcMeanStdThreshold" on
 * HeronGigE before firmware 01.03, "AgcAutoMeanStdThreshold" elsewhere) or,
 * on KestrelGigE, the smoothing coefficient ("AgcSmoothingCoefficient").
 * Curlew cameras also take a smoothing method ("AgcSmoothingMethod");
 * KestrelGigE refuses one.
 *
 * Before Connect the setters only keep their values and the getters return
 * them; once connected they write and read the camera.
 */
class AutomaticGainControl : public GainControl {
public:
    /// Keeps the number (@p thresholdOrCoeff), the smoothing method and the
    /// region until Connect.
    AutomaticGainControl(float thresholdOrCoeff, const std::string& smoothingMethod,
                         const AgcROI& roi = AgcROI());

    /// The region, the number, the smoothing method where the model has
    /// one, then "Auto" to "AgcMode".
    void Connect(XEVDeviceGige* device) override;

    ///@{
    /// The number: the threshold or the smoothing coefficient, by model.
    float MeanStdThresholdOrSmoothingCoeff() const;
    void SetMeanStdThresholdOrSmoothingCoeff(float value);
    ///@}
    /// KestrelGigE: an XEVException. Curlew cameras: the camera's value.
    std::string SmoothingMethod() const;
    /// KestrelGigE: an XEVException. Curlew cameras write it; others keep it.
    void SetSmoothingMethod(const std::string& method);
    /// "AgcAutoGain" and "AgcAutoOffset", as the camera computes them now.
    ///@{
    float Gain() const;
    float Offset() const;
    ///@}

    /// Set by Connect: the camera takes a smoothing method / coefficient.
    ///@{
    bool UsesSmoothingMethod() const { return m_usesSmoothingMethod; }
    bool UsesSmoothingCoefficient() const { return m_usesSmoothingCoefficient; }
    ///@}

private:
    std::string numberFeature() const;

    float m_thresholdOrCoeff;
    std::string m_smoothingMethod;
    bool m_usesSmoothingMethod = false;
    bool m_usesSmoothingCoefficient = false;
};

} // namespace Gige
} // namespace XEVLibrary
