#pragma once

#include "XEVDevice.h"
#include "XEVGigeStreamStatistics.h"

#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace boost {
namespace asio {
class io_context;
} // namespace asio
} // namespace boost

namespace XEVLibrary {

class CaptureLifecycle;
class Feature;
class GenicamXml;
class GvcpChannel;
class GvspChannel;
class XEVDeviceDescriptorGige;
class XEVParam;

/**
 * An opened GigE Vision camera.
 *
 * Parameters: every feature of the camera's GenICam description that has a
 * register becomes a parameter of the device's configuration (an
 * XEVGigeParam), under its GenICam name; the library's own names ("Exposure
 * Time", "Number of Line", "Number of Column", "First Line", "First Column",
 * "Pixel Depth") are translated. Setters change the pending registry;
 * UpdateConfig() writes the pending values that differ to the camera and
 * copies them into the applied registry. Text features (such as
 * "GevUserDefinedName") are written at once. Frame-rate limits follow the
 * model and its firmware.
 *
 * Acquisition: the stream channel assembles GVSP packets straight into the
 * FIFO slots on the device's io thread, which never waits for
 * the stages below (a capture of N frames is completed on a thread of its
 * own). A capture counts as running until its production has fully stopped;
 * an error that ends it is kept (lastError()).
 *
 * A camera that stops answering its control channel disconnects the device:
 * the capture ends, config observers hear of it, and every later camera
 * operation raises "XEVDevice(<model>) is disconnected.".
 */
class XEVDeviceGige : public XEVDevice {
public:
    /// Takes control of the camera, reads its description and registers, and
    /// negotiates the stream. @p port is not used (the system assigns the
    /// stream port).
    XEVDeviceGige(const XEVDeviceDescriptorGige* descriptor,
                  const XEVModelConfiguration& configuration, unsigned short port, long fifoSize);
    ~XEVDeviceGige() override;

    /// How long SetPersistentIp() leaves the camera to store each setting in
    /// its flash (1500 ms; emulated cameras store at once).
    static std::atomic<unsigned> persistentSettleMs;

    /// The GenICam name of a library parameter name; other names unchanged.
    static std::string Xev2GigeName(const std::string& name);

    /// Writes @p value to the register of the command @p name at once.
    void SendCommand(const std::string& name, uint32_t value);
    /// Visible features outside "DebugControl", commands left out, in name
    /// order.
    std::vector<std::string> ParamNames() const;
    /// The features and commands of the category @p group.
    std::vector<std::string> ParamNames(const std::string& group) const;
    /// The categories under the description's root, "DebugControl" left out.
    std::vector<std::string> GroupNames() const;
    /// The camera's GenICam description.
    const GenicamXml& Genicam() const;
    /// The control channel, for the camera-side controls.
    GvcpChannel& Control() const;

    /// Checks the pending window; resets the pending registry and raises
    /// when it does not fit the sensor.
    bool checkParams();
    /// Copies the applied values back into the pending registry.
    void resetVirtualRegistry();
    /// Raises when @p raw for @p featureName ("Width", "Height", "OffsetX",
    /// "OffsetY") puts the window outside the sensor.
    void CheckDimensionParams(const std::string& featureName, uint32_t raw) const;
    /// Writes the persistent IP settings and switches the camera to them.
    void SetPersistentIp(const std::string& ip, const std::string& mask,
                         const std::string& gateway);
    /// Recomputes the frame-rate limits of the model.
    void adjustFPS();
    /// Stores @p fps as pending frame rate, clamped to the limits; true when
    /// it changed or was clamped.
    bool refreshFPS(double fps);
    /// Reads a feature's register from the camera and stores it in both
    /// registries.
    unsigned GetParamValueFromCamera(const std::string& name);

    /// The raw pending or applied value of a GenICam feature.
    uint32_t registryValue(const std::string& featureName, bool applied) const;
    /// False once the camera is lost.
    bool isConnected() const { return m_connected.load(); }
    /// What the stream channel received since the device was opened.
    XEVGigeStreamStatistics streamStatistics() const;
    /// The stream's packet size, as negotiated with the camera.
    unsigned packetSize() const;

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
    class FrameSink;
    struct FrameRates {
        double fps = 0;
        double min = 0;
        double max = 0;
    };

    // Parameter side (XEVDeviceGige.cpp).
    void throwIfDisconnected() const;
    void readAllRegisters();
    /// Takes the window's origin from the applied "OffsetX" and "OffsetY"
    /// for the frames to come; called with the configuration lock held.
    void refreshFrameOrigin();
    bool hasExposureCap() const;
    bool firmwareAtLeast(const char* version) const;
    /// The feature called @p featureName; raises, naming @p name as the
    /// caller gave it, when the description has none.
    const Feature& featureOf(const std::string& name, const std::string& featureName) const;
    /// The same, refusing a feature the camera does not let be written.
    const Feature& writableFeature(const std::string& name, const std::string& featureName) const;
    /// @p raw of "ExposureTime" limited to the applied "MaxExposureTime".
    uint32_t cappedExposure(uint32_t raw) const;
    /// Stores a checked value as pending, then limits, notification, apply.
    void storePending(const std::string& name, const std::string& featureName, uint32_t raw,
                      const std::string& text, bool apply);
    /// The value of @p featureName in a registry through its feature; 0 when
    /// the description or the registry lacks it.
    double registryDouble(const std::string& featureName, bool applied) const;
    [[noreturn]] void throwParamError(const std::string& name, const std::exception& error) const;
    [[noreturn]] void throwWritesRefused() const;

    // Acquisition side (XEVDeviceGigeAcquisition.cpp).
    void startIoThreads();
    void stopIoThreads();
    void runIo();
    void OnNewImage(const XEVFrameInfo& info);

    const XEVDeviceDescriptorGige* m_descriptor;
    std::string m_firmware;
    std::atomic<bool> m_connected{false};
    std::map<std::string, uint32_t> m_pendingRegistry;
    std::map<std::string, uint32_t> m_appliedRegistry;
    std::map<std::string, std::string> m_stringValues;
    FrameRates m_pending{25.0, 0, 0};
    FrameRates m_applied;
    mutable boost::recursive_mutex m_configLock;
    /// Parameters made from the description's features.
    std::vector<std::shared_ptr<XEVParam>> m_ownedParams;

    std::atomic<bool> m_alive{true};
    /// The applied window origin, written into every frame's record.
    std::atomic<uint32_t> m_frameOffsetX{0};
    std::atomic<uint32_t> m_frameOffsetY{0};
    std::unique_ptr<CaptureLifecycle> m_capture;
    std::unique_ptr<FrameSink> m_sink;
    std::unique_ptr<boost::asio::io_context> m_io;
    std::shared_ptr<void> m_ioWork;
    std::vector<std::unique_ptr<boost::thread>> m_ioThreads;
    std::unique_ptr<GvcpChannel> m_gvcp;
    std::unique_ptr<GvspChannel> m_gvsp;
};

} // namespace XEVLibrary
