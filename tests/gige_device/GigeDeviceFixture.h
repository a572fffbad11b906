#pragma once

#include "CameraAddress.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "XEVConfigObserver.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVDeviceGige.h"
#include "XEVException.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVManager.h"
#include "XEVParam.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace XEVTest {

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

/// @p model with firmware @p firmware (the model's own when empty), on an
/// address of this process.
inline XEVGigeCameraConfig gigeConfig(GigeModel model, const std::string& firmware = "") {
    XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(model, cameraAddress());
    if (!firmware.empty())
        config.firmwareVersion = firmware;
    return config;
}

/**
 * Emulated GigE cameras, listed to the manager, found by one enumeration and
 * opened through it. close() destroys the manager (and with it the devices),
 * stops the cameras and gives the manager its settings back.
 */
class GigeCameras {
public:
    ~GigeCameras() { close(); }

    /// Opens one device per config; a camera that is not found or not opened
    /// leaves its device null (the test then fails on it).
    void open(const std::vector<XEVGigeCameraConfig>& configs) {
        close();
        m_saved = Settings::current();
        std::vector<std::string> addresses;
        for (const XEVGigeCameraConfig& config : configs) {
            m_cameras.push_back(std::make_unique<XEVGigeEmulatedCamera>(config));
            addresses.push_back(config.address);
        }
        XEVManager::destroyInstance();
        XEVManager::useUsb = false;
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeCameraAddresses = addresses;
        XEVManager::gigeDiscoveryTimeInSeconds = 2;
        XEVManager::numberGigeDevicesToDiscover = static_cast<int>(configs.size());
        m_devices.assign(configs.size(), nullptr);
        finishesWithin("opening the GigE cameras", [&] {
            XEVManager* manager = XEVManager::getInstance(); // enumerates
            for (unsigned n = 0; n < manager->deviceCount(); ++n) {
                const auto* descriptor =
                    dynamic_cast<const XEVDeviceDescriptorGige*>(manager->getDeviceDescriptor(n));
                if (!descriptor)
                    continue;
                const std::string ip = ByteOrder::Ipv4ToString(descriptor->CurrentIp());
                for (std::size_t i = 0; i < addresses.size(); ++i) {
                    if (addresses[i] != ip)
                        continue;
                    try {
                        m_devices[i] = dynamic_cast<XEVDeviceGige*>(manager->openDevice(n, 0, 8));
                    } catch (const std::exception& error) {
                        ADD_FAILURE() << "opening the camera at " << ip << ": " << error.what();
                    }
                }
            }
        });
    }

    void close() {
        if (!m_saved)
            return;
        finishesWithin("closing the GigE cameras", [] { XEVManager::destroyInstance(); });
        m_devices.clear();
        m_cameras.clear();
        m_saved->restore();
        m_saved.reset();
    }

    XEVGigeEmulatedCamera& camera(std::size_t i) { return *m_cameras.at(i); }
    XEVDeviceGige* device(std::size_t i) const { return m_devices.at(i); }

private:
    struct Settings {
        bool useUsb, useGige, broadcast;
        std::vector<std::string> addresses;
        int discoveryTime, devicesToDiscover;
        static std::unique_ptr<Settings> current() {
            return std::unique_ptr<Settings>(new Settings{
                XEVManager::useUsb, XEVManager::useGige, XEVManager::gigeBroadcast,
                XEVManager::gigeCameraAddresses, XEVManager::gigeDiscoveryTimeInSeconds,
                XEVManager::numberGigeDevicesToDiscover});
        }
        void restore() const {
            XEVManager::useUsb = useUsb;
            XEVManager::useGige = useGige;
            XEVManager::gigeBroadcast = broadcast;
            XEVManager::gigeCameraAddresses = addresses;
            XEVManager::gigeDiscoveryTimeInSeconds = discoveryTime;
            XEVManager::numberGigeDevicesToDiscover = devicesToDiscover;
        }
    };

    std::unique_ptr<Settings> m_saved;
    std::vector<std::unique_ptr<XEVGigeEmulatedCamera>> m_cameras;
    std::vector<XEVDeviceGige*> m_devices;
};

/// Records configuration notifications as text lines.
class ConfigLog : public XEVConfigObserver {
public:
    ~ConfigLog() override { disconnect(); }
    void onParamChanged(const std::string& name, const std::string& value, bool applied) override {
        add(name + "=" + value + (applied ? " applied" : " pending"));
    }
    void onFpsChanged(double fps, bool) override { add("fps " + number(fps)); }
    void onMinFpsChanged(double fps, bool) override { add("min fps " + number(fps)); }
    void onMaxFpsChanged(double fps, bool) override { add("max fps " + number(fps)); }
    void onDeviceDisconnected() override { add("disconnected"); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }

private:
    static std::string number(double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
    }
    void add(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
    }
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

/// A float register of @p camera, as the camera holds it.
inline float cameraFloat(const XEVGigeEmulatedCamera& camera, const std::string& feature) {
    const uint32_t bits = camera.registerValue(camera.featureAddress(feature));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

/// An integer register of @p camera.
inline uint32_t cameraValue(const XEVGigeEmulatedCamera& camera, const std::string& feature) {
    return camera.registerValue(camera.featureAddress(feature));
}

/// The pending raw values of every non-text parameter of @p device.
inline std::map<std::string, uint32_t> pendingValues(const XEVDeviceGige& device) {
    std::map<std::string, uint32_t> values;
    for (const XEVParam* param : device)
        if (param->valueType() != "String")
            values[param->name()] = device.registryValue(param->name(), false);
    return values;
}

} // namespace XEVTest
