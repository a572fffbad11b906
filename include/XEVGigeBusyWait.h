#pragma once

#include <chrono>
#include <string>

namespace XEVLibrary {

class XEVDeviceGige;

namespace Gige {

/**
 * How the camera-side controls wait for a camera that works on a long
 * operation (NUC tables, bad-pixel lists, configurations): they poll the
 * camera's busy register at a short interval until it reads 0, and give up
 * after a bound with an XEVException ("The camera stayed busy
 * (NIOS_is_BUSY) for more than 30 s after NucSaveInFlash.").
 *
 * The bound (30 s) and the interval (20 ms) are process-wide settings;
 * changing them while a wait runs affects the waits that start later.
 */
class BusyWait {
public:
    ///@{
    /// The bound of a wait (default 30 s).
    static std::chrono::milliseconds timeout();
    static void setTimeout(std::chrono::milliseconds timeout);
    ///@}
    ///@{
    /// The polling interval (default 20 ms).
    static std::chrono::milliseconds pollInterval();
    static void setPollInterval(std::chrono::milliseconds interval);
    ///@}

    /// Waits one interval (the camera raises its flag meanwhile), then
    /// until @p busyFeature reads 0. @p operation names what the camera is
    /// doing, for the message.
    static void untilIdle(XEVDeviceGige& device, const std::string& busyFeature,
                          const std::string& operation);
};

} // namespace Gige
} // namespace XEVLibrary
