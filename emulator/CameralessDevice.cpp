#include "XEVCameralessDevice.h"

#include "device/DeviceImpl.h"

namespace XEVLibrary {
namespace Emulator {

XEVCameralessDevice::XEVCameralessDevice(const std::string& modelId, unsigned width,
                                         unsigned height, long fifoSize)
    : XEVDevice(XEVModelConfiguration(USB3, modelId, width, height), fifoSize) {}

bool XEVCameralessDevice::announceNuc(std::string path, double exposure, double minExposure) {
    return impl()->nucSignal(path, exposure, minExposure).value_or(false);
}

} // namespace Emulator
} // namespace XEVLibrary
