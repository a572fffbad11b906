#pragma once

// Camera-side controls against emulated GigE cameras: each test opens the
// model and firmware it needs and reads, from the camera's write log, which
// features the controls wrote with which values.

#include "tests/gige_device/GigeDeviceFixture.h"

#include "XEVGigeBusyWait.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace XEVTest {

using namespace std::chrono_literals;

/// "Feature=value" for a write: floats as "%g", texts quoted, the rest as
/// the raw number (enumerations: "Off" 0, "On" 1; "AgcMode" "Manuel" 0,
/// "Auto" 1; "AgcRoiMode" FULL 0, CENTER 1, CUSTOM 2).
inline std::string rendered(const XEVGigeRegisterWrite& write) {
    static const std::set<std::string> floats{"AgcAutoMeanStdThreshold", "AgcMeanStdThreshold",
                                              "AgcSmoothingCoefficient", "AgcManualGain",
                                              "AgcManualOffset",         "Gamma"};
    if (write.feature == "GevUserDefinedName")
        return write.feature + "=\"" + write.text + "\"";
    if (floats.count(write.feature)) {
        float value;
        std::memcpy(&value, &write.value, sizeof value);
        char text[32];
        std::snprintf(text, sizeof text, "%g", double(value));
        return write.feature + "=" + text;
    }
    return write.feature + "=" + std::to_string(write.value);
}

/**
 * Opens emulated cameras for a test, several at once where a test compares
 * models (one discovery for all: each takes a second), and reads their
 * write logs. At most six cameras at once (the addresses of the process).
 */
class ControlsTest : public ::testing::Test {
protected:
    using Presets = std::vector<std::pair<std::string, std::string>>;
    /// A camera to open: model, firmware (the model's own when empty), and
    /// values applied through the device before the write log is cleared.
    struct CameraSetup {
        GigeModel model;
        std::string firmware;
        Presets presets;
    };

    void SetUp() override {
        m_timeout = Gige::BusyWait::timeout();
        m_interval = Gige::BusyWait::pollInterval();
        Gige::BusyWait::setPollInterval(2ms);
    }
    void TearDown() override {
        m_cameras.close();
        Gige::BusyWait::setTimeout(m_timeout);
        Gige::BusyWait::setPollInterval(m_interval);
    }

    /// Opens the cameras of @p setups, busy for 20 ms after long operations;
    /// `device` is the first one.
    void open(const std::vector<CameraSetup>& setups) {
        std::vector<XEVGigeCameraConfig> configs;
        for (const CameraSetup& setup : setups) {
            XEVGigeCameraConfig config = gigeConfig(setup.model, setup.firmware);
            config.busyTime = 20ms;
            config.mtu = 9000; // the first packet size tried is taken: opening is quick
            configs.push_back(config);
        }
        m_cameras.open(configs);
        for (std::size_t i = 0; i < setups.size(); ++i) {
            if (!m_cameras.device(i))
                throw std::runtime_error("an emulated camera was not opened");
            for (const auto& [feature, value] : setups[i].presets)
                m_cameras.device(i)->setParamValueOf(feature, value);
            m_cameras.camera(i).clearRegisterWrites();
        }
        device = m_cameras.device(0);
    }
    XEVDeviceGige& open(GigeModel model, const std::string& firmware = "",
                        const Presets& presets = {}) {
        open(std::vector<CameraSetup>{{model, firmware, presets}});
        return *device;
    }

    XEVDeviceGige* deviceAt(std::size_t i) const { return m_cameras.device(i); }
    XEVGigeEmulatedCamera& camera(std::size_t i = 0) { return m_cameras.camera(i); }

    /// The writes to camera @p i since the last call (or open()), rendered;
    /// clears its log.
    std::vector<std::string> writes(std::size_t i = 0) {
        std::vector<std::string> lines;
        for (const XEVGigeRegisterWrite& write : camera(i).registerWrites())
            lines.push_back(rendered(write));
        camera(i).clearRegisterWrites();
        return lines;
    }

    /// The camera's busy register: 0 once a long operation has ended.
    uint32_t busy(std::size_t i = 0) { return cameraValue(camera(i), "NIOS_is_BUSY"); }

    XEVDeviceGige* device = nullptr;

private:
    GigeCameras m_cameras;
    std::chrono::milliseconds m_timeout{0};
    std::chrono::milliseconds m_interval{0};
};

/// The message of a std::runtime_error that @p action throws, or why not:
/// "<no exception>", or "<XEVException> <text>" for the library's own type.
inline std::string runtimeErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const XEVException& error) {
        return std::string("<XEVException> ") + error.what();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no exception>";
}

} // namespace XEVTest
