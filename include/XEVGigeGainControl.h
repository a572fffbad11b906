#pragma once

#include "XEVGigeAgcROI.h"
#include "XEVGigeInternalFilter.h"

#include <memory>

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's gain control: the region its statistics come from, and the
 * statistics themselves, read from the camera at each call. Base of
 * AutomaticGainControl and ManualGainControl, which choose the mode.
 */
class GainControl : public InternalFilter {
public:
    /// Keeps a copy of @p roi (an AgcROICustom stays one).
    explicit GainControl(const AgcROI& roi);
    ///@{
    /// Copies clone the region.
    GainControl(const GainControl& other);
    GainControl& operator=(const GainControl& other);
    ///@}
    ~GainControl() override;

    /// Writes the custom bounds (an AgcROICustom) then the region mode.
    void Connect(XEVDeviceGige* device) override;

    /// "AgcStatisticsFmean", "AgcStatisticsFstd", "AgcStatisticsWmin" and
    /// "AgcStatisticsWmax" as the camera reports them now. Not connected:
    /// an XEVException.
    ///@{
    float HistoMean() const;
    float HistoStdDev() const;
    float HistoMin() const;
    float HistoMax() const;
    ///@}

    /// The region given at construction.
    const AgcROI& Roi() const { return *m_roi; }

protected:
    /// The device; an XEVException naming @p control when not connected.
    XEVDeviceGige& device(const char* control) const;
    /// True once Connect has run.
    bool connected() const { return m_device != nullptr; }
    /// A feature the camera updates itself, read from it.
    float cameraValue(const char* feature) const;

    /// The device, null until Connect.
    XEVDeviceGige* m_device = nullptr;
    /// The region, of its own class.
    std::unique_ptr<AgcROI> m_roi;
};

} // namespace Gige
} // namespace XEVLibrary
