// The camera's NUC tables: selection, flash, activation and computation.

#include "GigeControlSupport.h"
#include "XEVCatalog.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVGigeBusyWait.h"
#include "XEVGigeNUC1Point.h"
#include "XEVGigeNUC2Points.h"

#include <stdexcept>

namespace XEVLibrary {
namespace Gige {

NUC::NUC(int index) : m_currentIndex(index) {}

void NUC::Connect(XEVDeviceGige* device) {
    m_device = detail::requireGige(device);
    m_busyFeature = detail::nucBusyFeature(*m_device);
    if (m_currentIndex != -1)
        Load(m_currentIndex);
}

XEVDeviceGige& NUC::device() const {
    if (!m_device)
        detail::notConnected("NUC");
    return *m_device;
}

int NUC::checkedIndex(int index) const {
    device();
    if (index == -1)
        index = m_currentIndex;
    if (index == -1)
        XEVException::throwError("No NUC table given, and none is current.");
    return index;
}

void NUC::WaitOperationDone(const char* operation) {
    BusyWait::untilIdle(device(), m_busyFeature, operation);
}

void NUC::run(const char* command) {
    device().SendCommand(command, 1);
    WaitOperationDone(command);
}

void NUC::SelectNUC(int index) {
    index = checkedIndex(index);
    m_device->setParamValueOf("NucSelectTable", index);
    m_currentIndex = index;
}

void NUC::Save(int index) {
    SelectNUC(index);
    run("NucSaveInFlash");
}

void NUC::Load(int index) {
    SelectNUC(index);
    run("NucLoadFromFlash");
    Activate(true);
}

void NUC::Activate(bool active) {
    device().setParamValueOf("NucActivate", detail::onOff(active));
    WaitOperationDone("NucActivate");
    m_active = active;
}

void NUC::Reset() {
    device().SendCommand("NucResetTable", 1);
    Activate(false);
}

void NUC1Point::Compute(int index) {
    SelectNUC(index);
    run("NucCompute1Pts");
    Activate(true);
}

void NUC2Points::Connect(XEVDeviceGige* device) {
    detail::requireGige(device);
    if (!detail::isModel(*device, XEVCatalog::HeronGigE) &&
        !detail::isModel(*device, XEVCatalog::HeronGigE_SPOT) &&
        !detail::isModel(*device, XEVCatalog::KestrelGigE))
        throw std::runtime_error("NUC2Points is used with HeronGigE or KestrelGigE only");
    NUC::Connect(device);
}

void NUC2Points::ComputeDark(int index) {
    SelectNUC(index);
    run("NucCompute2Pts1");
}

void NUC2Points::ComputeWhite() {
    run("NucCompute2Pts2");
    Activate(true);
}

} // namespace Gige
} // namespace XEVLibrary
