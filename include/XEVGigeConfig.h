#pragma once

#include <string>

namespace XEVLibrary {

class XEVDevice;
class XEVDeviceGige;

namespace Gige {

/**
 * The camera's whole configuration: saved to its flash, loaded back, or
 * reset to the maker's values. Loading and resetting read every parameter
 * of the device back from the camera (text parameters excepted), so that
 * the device's pending and applied values are the camera's.
 *
 * Takes its device at construction: a device that is not a GigE one is
 * refused with an XEVException. Each operation waits for the camera's busy
 * register ("NucProcessing_WAIT_plz" on CurlewcGigE before firmware 01.03,
 * "NIOS_is_BUSY" elsewhere), at most BusyWait::timeout().
 */
class Config {
public:
    /// Takes @p device; an XEVException when it is not a GigE device.
    explicit Config(XEVDevice* device);

    /// "CamSaveConfiguration".
    void Save();
    /// "CamLoadConfiguration", then the parameters read back.
    void Load();
    /// "CamResetParameter", then the parameters read back.
    void Reset();

    /// The busy register the operations wait on.
    const std::string& BusyFeature() const { return m_busyFeature; }

private:
    void run(const char* command);
    void readBack();

    XEVDeviceGige* m_device;
    std::string m_busyFeature;
};

} // namespace Gige
} // namespace XEVLibrary
