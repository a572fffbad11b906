// The camera's image processing: gamma, histogram equalisation, enhancement
// filter and reticle. KestrelGigE has none of them.

#include "GigeControlSupport.h"
#include "XEVCatalog.h"
#include "XEVDeviceGige.h"
#include "XEVGigeEnhancementFilter.h"
#include "XEVGigeEqualizationHistogram.h"
#include "XEVGigeGammaCorrection.h"
#include "XEVGigeReticule.h"

#include <stdexcept>
#include <string>

namespace XEVLibrary {
namespace Gige {

namespace {

void refuseKestrel(const XEVDeviceGige& device, const char* control) {
    if (detail::isModel(device, XEVCatalog::KestrelGigE))
        throw std::runtime_error(std::string(control) + " is not implemented in KestrelGigE");
}

} // namespace

// --- GammaCorrection -----------------------------------------------------------------

void GammaCorrection::Connect(XEVDeviceGige* device) {
    refuseKestrel(*detail::requireGige(device), "GammaCorrection");
    m_device = device;
    SetGamma(m_gamma);
    SetThreshold(m_threshold);
}

const char* GammaCorrection::thresholdFeature() const {
    return detail::isModel(*m_device, XEVCatalog::FulmarGigE) &&
                   detail::firmwareBelow(*m_device, "01.03")
               ? "GammaSeuil"
               : "GammaThd";
}

void GammaCorrection::SetGamma(float gamma) {
    if (m_device)
        m_device->setParamValueOf("Gamma", gamma);
    m_gamma = gamma;
}

float GammaCorrection::Gamma() const {
    return m_device ? static_cast<float>(m_device->paramValueOf("Gamma")) : m_gamma;
}

void GammaCorrection::SetThreshold(unsigned threshold) {
    if (m_device)
        m_device->setParamValueOf(thresholdFeature(), threshold);
    m_threshold = threshold;
}

unsigned GammaCorrection::Threshold() const {
    return m_device ? static_cast<unsigned>(m_device->paramValueOf(thresholdFeature()))
                    : m_threshold;
}

// --- EqualizationHistogram -----------------------------------------------------------

void EqualizationHistogram::Connect(XEVDeviceGige* device) {
    refuseKestrel(*detail::requireGige(device), "EqualizationHistogram");
    m_device = device;
    Activate(m_active);
}

void EqualizationHistogram::SetThreshold(unsigned threshold) {
    m_threshold = threshold;
    if (m_device)
        m_device->setParamValueOf("EqualThreshold", threshold);
}

void EqualizationHistogram::Activate(bool active) {
    m_active = active;
    if (!m_device)
        return;
    if (active)
        SetThreshold(m_threshold);
    m_device->setParamValueOf("EqualActivate", detail::onOff(active));
}

// --- EnhancementFilter ---------------------------------------------------------------

void EnhancementFilter::Connect(XEVDeviceGige* device) {
    refuseKestrel(*detail::requireGige(device), "EnhancementFilter");
    m_device = device;
    Activate(m_active);
}

void EnhancementFilter::SetFilterType(const FilterType& type) {
    m_type = type;
    if (m_device)
        m_device->setParamValueOf("EnhancFilter", static_cast<unsigned>(type));
}

void EnhancementFilter::SetKernelSize(unsigned kernelSize) {
    m_kernelSize = kernelSize;
    if (m_device)
        m_device->setParamValueOf("EnhancCoef", kernelSize);
}

void EnhancementFilter::Activate(bool active) {
    m_active = active;
    if (!m_device)
        return;
    if (active) {
        SetFilterType(m_type);
        SetKernelSize(m_kernelSize);
    }
    m_device->setParamValueOf("EnhancActivate", detail::onOff(active));
}

// --- Reticule ------------------------------------------------------------------------

Reticule::Reticule(XEVDevice* device) : m_device(detail::requireGige(device)) {}

Reticule::Reticule(XEVDevice* device, unsigned posX, unsigned posY, unsigned hLength,
                   unsigned vLength, unsigned hThickness, unsigned vThickness, const Color& color,
                   bool active)
    : m_device(detail::requireGige(device)), m_active(active), m_posX(posX), m_posY(posY),
      m_lengthH(hLength), m_lengthV(vLength), m_thickH(hThickness), m_thickV(vThickness),
      m_color(color) {
    refuseKestrel(*m_device, "Reticule");
    writeAll();
}

void Reticule::Connect(XEVDeviceGige* device) {
    refuseKestrel(*detail::requireGige(device), "Reticule");
    m_device = device;
    writeAll();
}

void Reticule::writeAll() {
    SetPos(m_posX, m_posY);
    SetLength(m_lengthH, m_lengthV);
    SetThickness(m_thickH, m_thickV);
    SetColor(m_color);
    Activate(m_active);
}

void Reticule::SetPos(unsigned x, unsigned y) {
    m_device->setParamValueOf("RetCenterPosx", x);
    m_device->setParamValueOf("RetCenterPosy", y);
    m_posX = x;
    m_posY = y;
}

void Reticule::SetLength(unsigned horizontal, unsigned vertical) {
    m_device->setParamValueOf("RetLengthH", horizontal);
    m_device->setParamValueOf("RetLengthV", vertical);
    m_lengthH = horizontal;
    m_lengthV = vertical;
}

void Reticule::SetThickness(unsigned horizontal, unsigned vertical) {
    m_device->setParamValueOf("RetThickH", horizontal);
    m_device->setParamValueOf("RetThickV", vertical);
    m_thickH = horizontal;
    m_thickV = vertical;
}

void Reticule::SetColor(const Color& color) {
    // These cameras mix a chrominance in: 128 leaves the cross grey.
    if (detail::isModel(*m_device, XEVCatalog::HeronGigE) &&
        detail::firmwareBelow(*m_device, "02.00"))
        m_device->setParamValueOf("RetCrCbColor", 128);
    m_device->setParamValueOf("RetYcolor", static_cast<unsigned>(color));
    m_color = color;
}

void Reticule::Activate(bool active) {
    m_device->setParamValueOf("RetOn", active ? 1 : 0);
    m_active = active;
}

void Reticule::Reset() {
    m_device->SendCommand("RetResetProperties", 1);
    restoreDefaults();
}

void Reticule::restoreDefaults() {
    m_active = false;
    m_posX = 320;
    m_posY = 256;
    m_lengthH = 40;
    m_lengthV = 40;
    m_thickH = 2;
    m_thickV = 4;
    m_color = Black;
}

} // namespace Gige
} // namespace XEVLibrary
