#pragma once

#include "XEVGigeInternalFilter.h"

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's bad-pixel replacement: detection of the bad pixels (by gain
 * or by offset, each with its threshold), their list kept in flash, and the
 * replacement itself. Only HeronGigE, HeronGigE-SPOT and KestrelGigE have
 * one: Connect refuses other models with a std::runtime_error, and
 * activates the replacement.
 *
 * Every operation does nothing until the control is connected. Long
 * operations wait for "NIOS_is_BUSY", at most BusyWait::timeout().
 */
class Bpr : public InternalFilter {
public:
    /// How the camera tells bad pixels, written as its number.
    enum DetectMethod : unsigned {
        GainDetection = 0,  ///< threshold in "BprGainThreshold"
        OffsetDetection = 1 ///< threshold in "BprOffsetThreshold"
    };

    Bpr() = default;

    void Connect(XEVDeviceGige* device) override;

    /// "BprDetectMethod".
    void SetDetectMethod(const DetectMethod& method);
    /// The threshold of the current method; other methods have none.
    void SetThreshold(unsigned threshold);
    /// Detects the bad pixels ("BprRun"), counts them and activates the
    /// replacement.
    void Compute(const DetectMethod& method, unsigned threshold);
    /// The list from flash ("BprLoad"); counts them, activates.
    void Load();
    /// The list to flash ("BprSave").
    void Save();
    /// Empties the list ("BprResetList").
    void Reset();
    /// "BprActivate" 1 or 0.
    void Activate(bool active);

    /// True while the replacement is on.
    bool Active() const { return m_active; }
    /// The camera's "BprBadPixelNumber" after the last Compute or Load.
    unsigned BadPixelNumber() const { return m_badPixels; }
    ///@{
    /// The detection method and threshold last set.
    DetectMethod Method() const { return m_method; }
    unsigned Threshold() const { return m_threshold; }
    ///@}

private:
    void run(const char* command);

    XEVDeviceGige* m_device = nullptr;
    bool m_active = false;
    DetectMethod m_method = GainDetection;
    unsigned m_threshold = 50;
    unsigned m_badPixels = 0;
};

} // namespace Gige
} // namespace XEVLibrary
