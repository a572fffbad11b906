// The camera's gain control: region, statistics, automatic and manual modes.

#include "GigeControlSupport.h"
#include "XEVCatalog.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVGigeAgcROICustom.h"
#include "XEVGigeAutomaticGainControl.h"
#include "XEVGigeManualGainControl.h"

namespace XEVLibrary {
namespace Gige {

using detail::isModel;

// --- GainControl ---------------------------------------------------------------------

GainControl::GainControl(const AgcROI& roi) : m_roi(roi.Clone()) {}

GainControl::GainControl(const GainControl& other)
    : InternalFilter(other), m_device(other.m_device), m_roi(other.m_roi->Clone()) {}

GainControl& GainControl::operator=(const GainControl& other) {
    if (this != &other) {
        m_device = other.m_device;
        m_roi = other.m_roi->Clone();
    }
    return *this;
}

GainControl::~GainControl() = default;

void GainControl::Connect(XEVDeviceGige* device) {
    XEVDeviceGige& gige = *detail::requireGige(device);
    // A plain AgcROI in "CUSTOM_FRAME" keeps the bounds the camera has.
    if (const auto* custom = dynamic_cast<const AgcROICustom*>(m_roi.get())) {
        gige.setParamValueOf("AgcRoiCustomLeft", custom->Left());
        gige.setParamValueOf("AgcRoiCustomTop", custom->Top());
        gige.setParamValueOf("AgcRoiCustomRight", custom->Right());
        gige.setParamValueOf("AgcRoiCustomBottom", custom->Bottom());
    }
    gige.setParamValueOf("AgcRoiMode", m_roi->Mode());
    m_device = &gige;
}

XEVDeviceGige& GainControl::device(const char* control) const {
    if (!m_device)
        detail::notConnected(control);
    return *m_device;
}

float GainControl::cameraValue(const char* feature) const {
    XEVDeviceGige& gige = device("GainControl");
    // The camera updates these itself: the registry holds an old reading.
    gige.GetParamValueFromCamera(feature);
    return static_cast<float>(gige.paramValueOf(feature));
}

float GainControl::HistoMean() const {
    return cameraValue("AgcStatisticsFmean");
}

float GainControl::HistoStdDev() const {
    return cameraValue("AgcStatisticsFstd");
}

float GainControl::HistoMin() const {
    return cameraValue("AgcStatisticsWmin");
}

float GainControl::HistoMax() const {
    return cameraValue("AgcStatisticsWmax");
}

// --- AutomaticGainControl ------------------------------------------------------------

AutomaticGainControl::AutomaticGainControl(float thresholdOrCoeff,
                                           const std::string& smoothingMethod, const AgcROI& roi)
    : GainControl(roi), m_thresholdOrCoeff(thresholdOrCoeff), m_smoothingMethod(smoothingMethod) {}

void AutomaticGainControl::Connect(XEVDeviceGige* device) {
    GainControl::Connect(device);
    const bool kestrel = isModel(*m_device, XEVCatalog::KestrelGigE);
    const bool heron = isModel(*m_device, XEVCatalog::HeronGigE);
    m_usesSmoothingCoefficient = kestrel;
    m_usesSmoothingMethod = !kestrel && !heron;
    SetMeanStdThresholdOrSmoothingCoeff(m_thresholdOrCoeff);
    if (m_usesSmoothingMethod)
        SetSmoothingMethod(m_smoothingMethod);
    m_device->setParamValueOf("AgcMode", "Auto");
}

std::string AutomaticGainControl::numberFeature() const {
    if (isModel(*m_device, XEVCatalog::KestrelGigE))
        return "AgcSmoothingCoefficient";
    // The HeronGigE renamed its threshold with firmware 01.03.
    if (isModel(*m_device, XEVCatalog::HeronGigE) &&
        m_device->paramStrValueOf("GevDeviceVersion") < "01.03")
        return "AgcMeanStdThreshold";
    return "AgcAutoMeanStdThreshold";
}

float AutomaticGainControl::MeanStdThresholdOrSmoothingCoeff() const {
    if (!connected())
        return m_thresholdOrCoeff;
    return static_cast<float>(m_device->paramValueOf(numberFeature()));
}

void AutomaticGainControl::SetMeanStdThresholdOrSmoothingCoeff(float value) {
    if (connected())
        m_device->setParamValueOf(numberFeature(), value);
    m_thresholdOrCoeff = value;
}

std::string AutomaticGainControl::SmoothingMethod() const {
    if (!connected())
        return m_smoothingMethod;
    if (isModel(*m_device, XEVCatalog::KestrelGigE))
        XEVException::throwError(
            "KestrelGigE doesn't use SmoothingMethod, use SmoothingCoefficient instead");
    if (isModel(*m_device, XEVCatalog::CurlewGigE) || isModel(*m_device, XEVCatalog::CurlewcGigE))
        return m_device->paramStrValueOf("AgcSmoothingMethod");
    return m_smoothingMethod;
}

void AutomaticGainControl::SetSmoothingMethod(const std::string& method) {
    if (connected()) {
        if (isModel(*m_device, XEVCatalog::KestrelGigE))
            XEVException::throwError(
                "KestrelGigE don't use SmoothingMethod, use SmoothingCoefficient instead");
        if (isModel(*m_device, XEVCatalog::CurlewGigE) ||
            isModel(*m_device, XEVCatalog::CurlewcGigE))
            m_device->setParamValueOf("AgcSmoothingMethod", method);
    }
    m_smoothingMethod = method;
}

float AutomaticGainControl::Gain() const {
    return cameraValue("AgcAutoGain");
}

float AutomaticGainControl::Offset() const {
    return cameraValue("AgcAutoOffset");
}

// --- ManualGainControl ---------------------------------------------------------------

ManualGainControl::ManualGainControl(float gain, float offset, const AgcROI& roi)
    : GainControl(roi), m_gain(gain), m_offset(offset) {}

void ManualGainControl::Connect(XEVDeviceGige* device) {
    GainControl::Connect(device);
    SetGain(m_gain);
    SetOffset(m_offset);
    m_device->setParamValueOf("AgcMode", "Manuel");
}

void ManualGainControl::SetGain(float gain) {
    if (connected())
        m_device->setParamValueOf("AgcManualGain", gain);
    m_gain = gain;
}

float ManualGainControl::Gain() const {
    return connected() ? static_cast<float>(m_device->paramValueOf("AgcManualGain")) : m_gain;
}

void ManualGainControl::SetOffset(float offset) {
    if (connected())
        m_device->setParamValueOf("AgcManualOffset", offset);
    m_offset = offset;
}

float ManualGainControl::Offset() const {
    return connected() ? static_cast<float>(m_device->paramValueOf("AgcManualOffset")) : m_offset;
}

} // namespace Gige
} // namespace XEVLibrary
