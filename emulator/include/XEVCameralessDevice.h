#pragma once

#include "XEVDevice.h"

#include <string>

namespace XEVLibrary {
namespace Emulator {

/**
 * A device with no camera behind it: it produces no frame and takes every
 * setting without effect. Its frame rates are what its owner sets; it raises
 * the NUC signal on request, as a camera does when its configuration or
 * exposure changes. For stages that want a device (the exposure-following
 * NUC), and for tests of the device base.
 */
class XEVCameralessDevice : public XEVDevice {
public:
    /// A device of model @p modelId with frames of @p width x @p height and a
    /// FIFO of @p fifoSize frames.
    explicit XEVCameralessDevice(const std::string& modelId = "Cameraless", unsigned width = 640,
                                 unsigned height = 512, long fifoSize = 4);

    /// Raises the NUC signal with @p path and @p exposure; what the
    /// connected stages answered (false when none did).
    bool announceNuc(std::string path, double exposure, double minExposure = 0.0);

    /// The frame rates the getters report.
    ///@{
    double fpsValue = 0, minFpsValue = 0, maxFpsValue = 0;
    ///@}

protected:
    const XEVDeviceDescriptor* GetDeviceDescriptor() const override { return nullptr; }
    double GetFps(bool) const override { return fpsValue; }
    double GetMinFps(bool) const override { return minFpsValue; }
    double GetMaxFps(bool) const override { return maxFpsValue; }
    double GetParamValueOf(const std::string&, bool) const override { return 0; }
    std::string GetParamStrValueOf(const std::string&, bool) const override { return ""; }
    std::string GetManual() const override { return ""; }
    void SetFps(double, bool) override {}
    void SetParamValueOf(const std::string&, double, bool) override {}
    void SetParamValueOf(const std::string&, const std::string&, bool) override {}
    bool UpdateConfig(bool) override { return true; }
    bool IsCapturing() const override { return false; }
    void Start() override {}
    void CaptureNFrames(long, bool) override {}
    void CaptureForDuration(unsigned long, bool) override {}
    void Stop(bool) override {}
    bool WaitEndCapture(int) override { return true; }
    void Synchronize() override {}
};

} // namespace Emulator
} // namespace XEVLibrary
