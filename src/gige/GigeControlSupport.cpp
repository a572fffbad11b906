#include "GigeControlSupport.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptor.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVGigeBusyWait.h"

#include <atomic>
#include <thread>

namespace XEVLibrary {
namespace Gige {

namespace {

std::atomic<long long> busyTimeoutMs{30000};
std::atomic<long long> busyPollMs{20};

/// "30 s" for whole seconds, "250 ms" otherwise.
std::string durationText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

namespace detail {

XEVDeviceGige* requireGige(XEVDevice* device) {
    auto* gige = dynamic_cast<XEVDeviceGige*>(device);
    if (!gige)
        XEVException::throwError("Camera-side controls need a GigE device.");
    return gige;
}

XEVDeviceGige* requireGige(XEVDeviceGige* device) {
    if (!device)
        XEVException::throwError("Camera-side controls need a GigE device.");
    return device;
}

void notConnected(const char* control) {
    XEVException::throwError("The %s control is not connected to a camera.", control);
}

bool isModel(const XEVDeviceGige& device, const std::string& model) {
    return device.modelId() == model;
}

std::string firmwareOf(const XEVDeviceGige& device) {
    return device.deviceDescriptor()->firmwareVersionAsString();
}

bool firmwareBelow(const XEVDeviceGige& device, const char* version) {
    return firmwareOf(device) < version;
}

std::string nucBusyFeature(const XEVDeviceGige& device) {
    return isModel(device, XEVCatalog::CurlewcGigE) && firmwareBelow(device, "01.03")
               ? "NucProcessing_WAIT_plz"
               : "NIOS_is_BUSY";
}

} // namespace detail

// --- BusyWait ------------------------------------------------------------------------

std::chrono::milliseconds BusyWait::timeout() {
    return std::chrono::milliseconds(busyTimeoutMs.load());
}

void BusyWait::setTimeout(std::chrono::milliseconds timeout) {
    busyTimeoutMs = timeout.count();
}

std::chrono::milliseconds BusyWait::pollInterval() {
    return std::chrono::milliseconds(busyPollMs.load());
}

void BusyWait::setPollInterval(std::chrono::milliseconds interval) {
    busyPollMs = interval.count();
}

void BusyWait::untilIdle(XEVDeviceGige& device, const std::string& busyFeature,
                         const std::string& operation) {
    const auto bound = timeout();
    const auto interval = pollInterval();
    const auto giveUp = std::chrono::steady_clock::now() + bound;
    for (;;) {
        std::this_thread::sleep_for(interval);
        if (device.GetParamValueFromCamera(busyFeature) == 0)
            return;
        if (std::chrono::steady_clock::now() >= giveUp)
            XEVException::throwError("The camera stayed busy (" + busyFeature + ") for more than " +
                                     durationText(bound) + " after " + operation + ".");
    }
}

} // namespace Gige
} // namespace XEVLibrary
