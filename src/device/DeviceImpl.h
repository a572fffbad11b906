#pragma once

#include <boost/signals2/signal.hpp>

#include <string>

namespace XEVLibrary {

/**
 * The device's private companion: the internal signals that model-specific
 * parameters and the exposure-following NUC listen to.
 */
struct DeviceImpl {
    /// Raised with the NUC path text, the current exposure time and a second
    /// value (0.0, or the minimum exposure time of the mode) when a capture
    /// starts and when the configuration changes.
    boost::signals2::signal<bool(std::string&, double, double),
                            boost::signals2::optional_last_value<bool>>
        nucSignal;
    /// Raised when the shutter mode changes (true: gated).
    boost::signals2::signal<void(bool)> modeSignal;
    /// Raised when the analog gain changes.
    boost::signals2::signal<void(bool)> gainSignal;
    /// Raised when the sensor response changes (true: linear).
    boost::signals2::signal<void(bool)> sensorResponseSignal;
    /// Raised when the trigger mode changes (true: external input).
    boost::signals2::signal<void(bool)> triggerSignal;
};

} // namespace XEVLibrary
