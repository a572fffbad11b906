// The camera's bad-pixel replacement.

#include "GigeControlSupport.h"
#include "XEVCatalog.h"
#include "XEVDeviceGige.h"
#include "XEVGigeBpr.h"
#include "XEVGigeBusyWait.h"

#include <stdexcept>

namespace XEVLibrary {
namespace Gige {

namespace {
constexpr const char* Busy = "NIOS_is_BUSY";
}

void Bpr::Connect(XEVDeviceGige* device) {
    detail::requireGige(device);
    if (!detail::isModel(*device, XEVCatalog::HeronGigE) &&
        !detail::isModel(*device, XEVCatalog::HeronGigE_SPOT) &&
        !detail::isModel(*device, XEVCatalog::KestrelGigE))
        throw std::runtime_error("Bpr is used with HeronGigE or KestrelGigE only");
    m_device = device;
    Activate(true);
}

void Bpr::run(const char* command) {
    m_device->SendCommand(command, 1);
    BusyWait::untilIdle(*m_device, Busy, command);
}

void Bpr::SetDetectMethod(const DetectMethod& method) {
    if (!m_device)
        return;
    m_method = method;
    m_device->setParamValueOf("BprDetectMethod", static_cast<unsigned>(method));
}

void Bpr::SetThreshold(unsigned threshold) {
    if (!m_device)
        return;
    m_threshold = threshold;
    if (m_method == GainDetection)
        m_device->setParamValueOf("BprGainThreshold", threshold);
    else if (m_method == OffsetDetection)
        m_device->setParamValueOf("BprOffsetThreshold", threshold);
}

void Bpr::Compute(const DetectMethod& method, unsigned threshold) {
    if (!m_device)
        return;
    SetDetectMethod(method);
    SetThreshold(threshold);
    run("BprRun");
    m_badPixels = m_device->GetParamValueFromCamera("BprBadPixelNumber");
    Activate(true);
}

void Bpr::Load() {
    if (!m_device)
        return;
    run("BprLoad");
    m_badPixels = m_device->GetParamValueFromCamera("BprBadPixelNumber");
    Activate(true);
}

void Bpr::Save() {
    if (m_device)
        run("BprSave");
}

void Bpr::Reset() {
    if (m_device)
        run("BprResetList");
}

void Bpr::Activate(bool active) {
    if (!m_device)
        return;
    m_device->setParamValueOf("BprActivate", active ? 1 : 0);
    BusyWait::untilIdle(*m_device, Busy, "BprActivate");
    m_active = active;
}

} // namespace Gige
} // namespace XEVLibrary
