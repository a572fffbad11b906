#pragma once

#include "TestSupport.h"
#include "XEVConfigObserver.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVDeviceUsb.h"
#include "XEVException.h"
#include "XEVManager.h"
#include "XEVObserver.h"
#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace XEVTest {

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

inline XEVUsbCameraConfig usb3(UsbModel model) {
    return XEVUsbCameraConfig::forModel(model, UsbLink::USB3);
}

/// A Kestrel on a USB 3.0 link with firmware 3.5 and serial number 0x4242.
inline XEVUsbCameraConfig kestrelConfig(uint16_t capacity = UsbCapacity::Present |
                                                            UsbCapacity::Tec | UsbCapacity::Gated) {
    XEVUsbCameraConfig config = usb3(UsbModel::Kestrel);
    config.firmwareVersion = (3 << 6) | 5;
    config.capacity = capacity;
    config.serialNumber = 0x4242;
    return config;
}

/// A Kestrel in soft trigger mode starts a capture without the pause with
/// which a free-running camera restarts its stream.
inline XEVUsbCameraConfig softTriggerKestrel() {
    return kestrelConfig(UsbCapacity::Present | UsbCapacity::SoftTrigger);
}

/// Vendor requests of kind @p request seen by @p camera.
inline std::vector<XEVUsbCameraEvent> requestsOf(const XEVUsbEmulatedCamera& camera,
                                                 uint8_t request) {
    std::vector<XEVUsbCameraEvent> found;
    for (const auto& event : camera.vendorRequests())
        if (event.request == request)
            found.push_back(event);
    return found;
}

/// Records the info of every frame, after running a callback of the test's own.
class FrameRecorder : public XEVObserver {
public:
    using Callback = std::function<void(const cv::Mat&, const XEVFrameInfo&)>;
    explicit FrameRecorder(Callback callback = nullptr) : m_callback(std::move(callback)) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        if (m_callback)
            m_callback(frame, info);
        std::lock_guard<std::mutex> guard(m_lock);
        m_infos.push_back(info);
    }
    std::vector<XEVFrameInfo> infos() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_infos;
    }
    std::vector<uint64_t> numbers() const {
        std::vector<uint64_t> numbers;
        for (const XEVFrameInfo& info : infos())
            numbers.push_back(info.frameNumber);
        return numbers;
    }
    std::size_t count() const { return infos().size(); }

private:
    Callback m_callback;
    mutable std::mutex m_lock;
    std::vector<XEVFrameInfo> m_infos;
};

/// Records configuration notifications as text lines.
class ConfigLog : public XEVConfigObserver {
public:
    void onParamChanged(const std::string& name, const std::string& value, bool applied) override {
        add(name + "=" + value + (applied ? " applied" : " pending"));
    }
    void onFpsChanged(double fps, bool) override { add("fps " + std::to_string(fps)); }
    void onDeviceDisconnected() override { add("disconnected"); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    bool has(const std::string& line) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

private:
    void add(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
    }
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

/// Asks once, on one of a device's own threads (a frame callback or a camera
/// notification), for the calls that would wait for that very thread, and
/// for one that would not (deviceCount(), last).
class OwnThreadAnswers {
public:
    void ask(XEVDevice* device) {
        if (m_asked.isOpen())
            return;
        XEVManager* manager = XEVManager::getInstance();
        m_answers = {messageOf([&] { device->stop(); }),
                     messageOf([&] { device->waitEndCapture(-1); }),
                     messageOf([&] { device->waitEndCapture(10); }),
                     messageOf([&] { manager->flushDevs(); }),
                     messageOf([&] { manager->enumerate(); }),
                     messageOf([&] { XEVManager::destroyInstance(); }),
                     messageOf([&] { (void)manager->deviceCount(); })};
        m_asked.open(); // publishes m_answers to the thread that waits
    }
    std::vector<std::string> answers() {
        return m_asked.wait() ? m_answers : std::vector<std::string>{"<not asked>"};
    }

    /// The answers of a Kestrel: @p stop for stop(), @p wait for both waits.
    static std::vector<std::string> expected(const std::string& stop, const std::string& wait) {
        const std::string own = " cannot destroy XEVDevice(Kestrel) from one of its own threads.";
        return {stop,
                wait,
                wait,
                "Error : XEVManager::flushDevs()" + own,
                "Error : XEVManager::enumerate()" + own,
                "Error : XEVManager::destroyInstance()" + own,
                "<no exception>"};
    }

private:
    std::vector<std::string> m_answers;
    Gate m_asked;
};

/// Plugs emulated cameras, enumerates them through the manager and opens
/// them; destroys the manager (and with it every device) at the end.
class UsbDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        XEVManager::destroyInstance();
        XEVDevice::Fastest = false;
    }
    std::shared_ptr<XEVUsbEmulatedCamera> plug(const XEVUsbCameraConfig& config) {
        auto plugged = m_bus.plug(config);
        plugged->setPacing(XEVUsbPacing::Fastest);
        return plugged;
    }
    XEVDeviceUsb* open(unsigned int number = 0, long fifoSize = 8) {
        XEVManager* manager = XEVManager::getInstance();
        return dynamic_cast<XEVDeviceUsb*>(manager->openDevice(number, 0, fifoSize));
    }
    /// Plugs the only camera as `camera`, opens it as `device` and attaches
    /// `recorder` to it.
    XEVDeviceUsb* openOne(const XEVUsbCameraConfig& config = kestrelConfig(), long fifoSize = 8) {
        camera = plug(config);
        device = open(0, fifoSize);
        *device << recorder;
        return device;
    }
    /// Runs an N-frame capture to its end; whether it completed.
    static bool capture(XEVDevice* on, long frames) {
        on->captureNFrames(frames);
        bool completed = false;
        finishesWithin("a capture", [&] { completed = on->waitEndCapture(-1); });
        return completed;
    }
    /// What setting @p name of `device` to @p value throws ("<no exception>").
    template <typename T>
    std::string set(const char* name, T value, bool apply = false) {
        return messageOf([&] { device->setParamValueOf(name, value, apply); });
    }

    XEVUsbEmulatedBus m_bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
    XEVDeviceUsb* device = nullptr;
    FrameRecorder recorder;
};

} // namespace XEVTest
