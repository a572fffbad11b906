#pragma once

#include "XEVGigeInternalFilter.h"

#include <string>

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's non-uniformity correction tables: selecting, saving to and
 * loading from flash, activating and resetting them. Base of NUC1Point and
 * NUC2Points, which compute tables.
 *
 * Operations that take a table index accept -1 for the current one. They
 * raise an XEVException when the control is not connected, or when no index
 * is given and none is current. Long operations wait for the camera's busy
 * register ("NucProcessing_WAIT_plz" on CurlewcGigE before firmware 01.03,
 * "NIOS_is_BUSY" elsewhere), at most BusyWait::timeout().
 */
class NUC : public InternalFilter {
public:
    /// @p index: the table Connect loads, or -1 for none.
    explicit NUC(int index = -1);

    /// Loads the current table, if one is set.
    void Connect(XEVDeviceGige* device) override;

    /// Writes @p index to "NucSelectTable".
    void SelectNUC(int index);
    /// Saves the camera's table to flash as @p index.
    void Save(int index = -1);
    /// Loads table @p index from flash and activates it.
    void Load(int index = -1);
    /// "NucActivate" "On" or "Off".
    void Activate(bool active);
    /// Clears the camera's table and deactivates it.
    void Reset();

    /// True while the correction is on.
    bool Active() const { return m_active; }
    /// The current table index, or -1.
    int CurrentIndex() const { return m_currentIndex; }
    /// The register the control waits on.
    const std::string& BusyFeature() const { return m_busyFeature; }

protected:
    /// The device; raises when not connected.
    XEVDeviceGige& device() const;
    /// @p index, or the current one for -1; raises when there is none or
    /// the control is not connected.
    int checkedIndex(int index) const;
    /// Sends @p command (value 1) and waits until the camera is idle again.
    void run(const char* command);
    /// Waits until the camera is idle after @p operation (BusyWait::untilIdle()).
    void WaitOperationDone(const char* operation);

    /// The device, null until Connect.
    XEVDeviceGige* m_device = nullptr;
    /// True while the correction is on.
    bool m_active = false;
    /// The current table index, or -1.
    int m_currentIndex;
    /// The busy register, chosen by model at Connect.
    std::string m_busyFeature = "NIOS_is_BUSY";
};

} // namespace Gige
} // namespace XEVLibrary
