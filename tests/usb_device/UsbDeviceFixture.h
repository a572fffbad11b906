#pragma once

#include "TestSupport.h"
#include "XEVConfigObserver.h"
#include "XEVDevice.h"
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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace XEVTest {

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

/// Plugs emulated cameras, enumerates them through the manager and opens
/// them; destroys the manager (and with it every device) at the end.
class UsbDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        XEVManager::destroyInstance();
        XEVDevice::Fastest = false;
    }

    std::shared_ptr<XEVUsbEmulatedCamera> plug(XEVUsbCameraConfig config) {
        auto camera = m_bus.plug(config);
        camera->setPacing(XEVUsbPacing::Fastest);
        return camera;
    }

    XEVDeviceUsb* open(unsigned int number = 0, long fifoSize = 8) {
        XEVManager* manager = XEVManager::getInstance();
        return dynamic_cast<XEVDeviceUsb*>(manager->openDevice(number, 0, fifoSize));
    }

    /// Runs an N-frame capture to its end; whether it completed.
    static bool capture(XEVDevice* device, long frames) {
        device->captureNFrames(frames);
        bool completed = false;
        finishesWithin("a capture", [&] { completed = device->waitEndCapture(-1); });
        return completed;
    }

    XEVUsbEmulatedBus m_bus;
};

inline XEVUsbCameraConfig heronUsb3() {
    return XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
}

/// A Kestrel on a USB 3.0 link with firmware 3.5, a TEC and a soft trigger.
inline XEVUsbCameraConfig kestrelConfig(uint16_t capacity = UsbCapacity::Present |
                                                            UsbCapacity::Tec | UsbCapacity::Gated) {
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3);
    config.firmwareVersion = (3 << 6) | 5;
    config.capacity = capacity;
    config.serialNumber = 0x4242;
    return config;
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

/// Records frame numbers and temperatures; can be made slow.
class FrameRecorder : public XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        std::lock_guard<std::mutex> guard(m_lock);
        m_numbers.push_back(info.frameNumber);
        m_temperatures.push_back(info.temperature);
    }
    std::vector<uint64_t> frameNumbers() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_numbers;
    }
    std::vector<float> frameTemperatures() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_temperatures;
    }
    std::size_t count() const { return frameNumbers().size(); }
    std::chrono::milliseconds delay{0};

private:
    mutable std::mutex m_lock;
    std::vector<uint64_t> m_numbers;
    std::vector<float> m_temperatures;
};

/// Runs a callback of the test's own inside every onNewFrame.
class CallbackObserver : public XEVObserver {
public:
    using Callback = std::function<void(const cv::Mat&, const XEVFrameInfo&)>;
    explicit CallbackObserver(Callback callback) : m_callback(std::move(callback)) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        m_callback(frame, info);
    }

private:
    Callback m_callback;
};

/// Records configuration notifications as text lines.
class ConfigLog : public XEVConfigObserver {
public:
    void onParamChanged(const std::string& name, const std::string& value, bool applied) override {
        add(name + "=" + value + (applied ? " applied" : " pending"));
    }
    void onFpsChanged(double fps, bool) override { add("fps " + std::to_string(fps)); }
    void onDeviceDisconnected() override {
        add("disconnected");
        disconnected.store(true);
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    bool has(const std::string& line) const {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    std::atomic<bool> disconnected{false};

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
        const std::vector<std::string> answers{
            messageOf([&] { device->stop(); }),
            messageOf([&] { device->waitEndCapture(-1); }),
            messageOf([&] { device->waitEndCapture(10); }),
            messageOf([&] { manager->flushDevs(); }),
            messageOf([&] { manager->enumerate(); }),
            messageOf([&] { XEVManager::destroyInstance(); }),
            messageOf([&] { (void)manager->deviceCount(); }),
        };
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_answers = answers;
        }
        m_asked.open();
    }
    std::vector<std::string> answers() {
        if (!m_asked.wait())
            return {"<not asked>"};
        std::lock_guard<std::mutex> guard(m_lock);
        return m_answers;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_answers;
    Gate m_asked;
};

} // namespace XEVTest
