#pragma once

#include "XEVDevice.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace XEVLibrary {

class CaptureLifecycle;
class XEVDeviceDescriptorUsb;
class XEVParam;
class XEVTransfert;
class UsbDeviceHandle;

/**
 * An opened USB camera.
 *
 * Settings: the camera is configured through 16 one-byte registers. Every
 * parameter write edits the Virtual Registry; UpdateConfig sends the used
 * registers that differ to the camera and copies them into the applied
 * registry; resetVirtualRegistry drops the pending edits. Kestrel cameras
 * couple some parameters (mode, gain, sensor response, trigger) and re-clamp
 * the exposure time when they change.
 *
 * Acquisition: a capture thread reads whole frames by bulk transfer straight
 * into the FIFO slots, checks the info line that ends each frame, decodes the
 * frame counter and the sensor temperature from it and commits the slot.
 * Failed, empty, short and broken frames are cancelled: observers never see a
 * partial frame.
 *
 * A capture of N frames ends once every final observer has processed the
 * capture's frames, or has drained everything it could still read after the
 * capture's last frame (an observer that fell behind and lost frames is done
 * when it has read the last frame it could get); WaitEndCapture(-1) therefore
 * always returns once the camera delivered N frames. Frames are counted by the
 * camera's 24-bit frame counter: a frame whose counter repeats the one before
 * is the same frame again and is dropped; across the counter's wrap every
 * frame counts once, whether the camera wraps to 0 or to 1.
 *
 * A capture goes from idle through starting, running and ending back to
 * idle; exactly one thread (the one that started or ended it) drives each
 * transition, with no lock held while it starts or joins reading threads.
 * An error on a camera thread ends the capture (lastError() keeps it).
 */
class XEVDeviceUsb : public XEVDevice {
public:
    /// Opens the camera of @p descriptor with @p configuration and a FIFO of
    /// @p fifoSize frames. Applications open devices through XEVManager.
    XEVDeviceUsb(const XEVDeviceDescriptorUsb* descriptor,
                 const XEVModelConfiguration& configuration, long fifoSize);
    ~XEVDeviceUsb() override;

    uint32_t Width() const override;
    uint32_t Height() const override;

    /// The parameter of that name; refuses a missing one and, unless
    /// @p allowInert, an inert one.
    XEVParam* GetParam(const std::string& name, bool allowInert) const;
    /// The parameter write: Kestrel coupling rules, Virtual Registry, geometry
    /// check, frame rate limits, notification, and UpdateConfig with @p apply.
    void SetParamValueOf(const XEVParam* param, double value, bool apply);
    /// Throws the pending edits away, restoring the applied settings.
    void resetVirtualRegistry();
    /// Validates the window of the Virtual Registry; resets it and throws
    /// when the window does not fit the sensor.
    bool checkParams();
    /// Shortest exposure of the current mode, in microseconds.
    double MinExposureTime() const;
    /// Relative directory of the NUC tables for the current settings.
    std::string MakeNucPath() const;
    /// Recomputes the frame rate limits and the frame period registers.
    void adjustFPS();
    /// Stores @p fps as pending frame rate, clamped to the limits; true when
    /// the pending frame rate changed or was clamped.
    bool refreshFPS(double fps);

    /// The two register images, for diagnostics and tests.
    ///@{
    std::vector<uint8_t> virtualRegistry() const;
    std::vector<uint8_t> appliedRegistry() const;
    ///@}
    /// False once the camera is lost.
    bool isConnected() const { return m_connected.load(); }

    void signalDeviceDisconnected() override;

protected:
    const XEVDeviceDescriptor* GetDeviceDescriptor() const override;
    double GetFps(bool applied) const override;
    double GetMinFps(bool applied) const override;
    double GetMaxFps(bool applied) const override;
    double GetParamValueOf(const std::string& name, bool applied) const override;
    std::string GetParamStrValueOf(const std::string& name, bool applied) const override;
    std::string GetManual() const override;
    void SetFps(double fps, bool apply) override;
    void SetParamValueOf(const std::string& name, double value, bool apply) override;
    void SetParamValueOf(const std::string& name, const std::string& value, bool apply) override;
    bool UpdateConfig(bool force) override;
    bool IsCapturing() const override;
    void Start() override;
    void CaptureNFrames(long n, bool waitFinalObservers) override;
    void CaptureForDuration(unsigned long milliseconds, bool waitFinalObservers) override;
    void Stop(bool resetCounters) override;
    bool WaitEndCapture(int milliseconds) override;
    void Synchronize() override;

private:
    struct FrameRates {
        double fps = 0;
        double min = 0;
        double max = 0;
    };
    enum class Family {
        Heron,
        Ibis,
        Egret,
        Jacana,
        Kestrel,
        Lapwing,
        Merlin,
        Bittern,
        Fulmar,
        Other
    };

    // Parameter side.
    void throwIfDisconnected() const;
    [[noreturn]] void throwWritesRefused() const;
    void applyKestrelCouplings(const std::string& name, double value);
    void reapplyExposure(double exposure);
    double registryValue(const std::string& name, const uint8_t* registry) const;
    std::string registryText(const std::string& name, const uint8_t* registry) const;
    bool hasParam(const std::string& name) const;
    /// (name, text in @p registry) of the parameters whose register changed.
    std::vector<std::pair<std::string, std::string>>
    changedParamTexts(const bool* changed, const uint8_t* registry) const;
    void raiseNucSignal(double minExposure);

    // Acquisition side.
    void startThreads();
    void stopThreads();
    void capturing();
    static void* _threadProc(void* device);
    void StartSoftTrigger();
    void startCapture(long frameLimit, bool waitObservers, const char* operation);
    /// Keeps the error that stopped a camera thread and ends the capture.
    void failCapture(std::exception_ptr error);

    const XEVDeviceDescriptorUsb* m_descriptor;
    const Family m_family;
    std::unique_ptr<XEVTransfert> m_transfert;
    std::unique_ptr<UsbDeviceHandle> m_handle;
    std::atomic<bool> m_connected{false};
    /// Parameters this device created while adapting its configuration.
    std::vector<std::shared_ptr<XEVParam>> m_ownedParams;

    uint8_t m_virtualRegistry[16] = {};
    uint8_t m_appliedRegistry[16] = {};
    bool m_registerUsed[16] = {};
    FrameRates m_pending;
    FrameRates m_applied;
    bool m_configurationWritten = true;
    bool m_exposureRegistersWritten = false;
    mutable boost::recursive_mutex m_paramLock;
    std::string m_nucPath;
    std::atomic<bool> m_softTriggerSelected{false};

    std::unique_ptr<CaptureLifecycle> m_capture;
    std::unique_ptr<boost::thread> m_captureThread;

    std::unique_ptr<boost::thread> m_softTriggerThread;
    boost::condition_variable m_softTriggerCondition;
    bool m_transferStarted = false;
    boost::mutex m_softTriggerLock;
};

} // namespace XEVLibrary
