#pragma once

#include "XEVExposureParam.h"

namespace XEVLibrary {

/**
 * The exposure time of the Kestrel model: an XEVExposureParam on an
 * ExpoRangesKestrel table whose options follow the camera (gated mode,
 * linear or logarithmic response, high gain, external trigger), and a fixed
 * manual text.
 */
class XEVExposureParamKestrel : public XEVExposureParam {
public:
    /// An exposure time on a Kestrel table with these options.
    XEVExposureParamKestrel(bool gated, bool fineStep, bool longExposure, bool highGain,
                            bool linear, bool trigger);
    ~XEVExposureParamKestrel() override;

    /// Installs a new ExpoRangesKestrel with these options.
    void ChangeRanges(bool gated, bool fineStep, bool longExposure, bool highGain, bool linear,
                      bool trigger);
    /// Option switches of the installed table (ignored when the installed
    /// table is not an ExpoRangesKestrel).
    ///@{
    void ModeChange(bool gated);
    void LinLogChange(bool linear);
    void GainChange(bool highGain);
    void TriggerChange(bool trigger);
    ///@}

    /// The fixed text describing the ranges; @p indent is ignored.
    void manual(std::ostream& os, int indent) const override;
};

} // namespace XEVLibrary
