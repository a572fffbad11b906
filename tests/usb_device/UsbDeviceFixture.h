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

#include <atomic>
#include <condition_variable>
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

    XEVUsbEmulatedBus m_bus;
};

/// A Kestrel on a USB 3.0 link with firmware 3.5, a TEC and a soft trigger.
inline XEVUsbCameraConfig kestrelConfig(uint16_t capacity = UsbCapacity::Present |
                                                            UsbCapacity::Tec | UsbCapacity::Gated) {
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3);
    config.firmwareVersion = (3 << 6) | 5;
    config.capacity = capacity;
    config.serialNumber = 0x4242;
    return config;
}

/// Records frame numbers and temperatures; can be made slow.
class FrameRecorder : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        std::lock_guard<std::mutex> guard(m_lock);
        numbers.push_back(info.frameNumber);
        temperatures.push_back(info.temperature);
        sizes.push_back(frame.size());
    }
    std::vector<uint64_t> frameNumbers() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return numbers;
    }
    std::vector<float> frameTemperatures() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return temperatures;
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return numbers.size();
    }
    std::chrono::milliseconds delay{0};

private:
    mutable std::mutex m_lock;
    std::vector<uint64_t> numbers;
    std::vector<float> temperatures;
    std::vector<cv::Size> sizes;
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
    void clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
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

} // namespace XEVTest
