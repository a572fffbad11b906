#pragma once

#include "XEVGigeGainControl.h"

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's manual gain control ("AgcMode" "Manuel"): a gain
 * ("AgcManualGain") and an offset ("AgcManualOffset"). Before Connect the
 * setters only keep their values.
 */
class ManualGainControl : public GainControl {
public:
    /// Keeps the gain, the offset and the region until Connect.
    ManualGainControl(float gain, float offset, const AgcROI& roi = AgcROI());

    /// The region, the gain, the offset, then "Manuel" to "AgcMode".
    void Connect(XEVDeviceGige* device) override;

    ///@{
    /// The gain ("AgcManualGain").
    void SetGain(float gain);
    float Gain() const;
    ///@}
    ///@{
    /// The offset ("AgcManualOffset").
    void SetOffset(float offset);
    float Offset() const;
    ///@}

private:
    float m_gain;
    float m_offset;
};

} // namespace Gige
} // namespace XEVLibrary
