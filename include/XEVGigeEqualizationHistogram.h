#pragma once

#include "XEVGigeInternalFilter.h"

namespace XEVLibrary {
namespace Gige {

/**
 * The camera's histogram equalisation: a threshold ("EqualThreshold") and
 * its switch ("EqualActivate"). KestrelGigE has none: Connect refuses it
 * with a std::runtime_error. Before Connect the setters only keep their
 * values.
 */
class EqualizationHistogram : public InternalFilter {
public:
    /// Keeps the values until Connect.
    EqualizationHistogram(unsigned threshold, bool active)
        : m_threshold(threshold), m_active(active) {}

    /// Sends the switch (and, when on, the threshold first).
    void Connect(XEVDeviceGige* device) override;

    ///@{
    /// The threshold ("EqualThreshold").
    void SetThreshold(unsigned threshold);
    unsigned Threshold() const { return m_threshold; }
    ///@}
    /// Switching on writes the threshold, then "On".
    void Activate(bool active);
    /// True while the equalisation is on.
    bool Active() const { return m_active; }

private:
    XEVDeviceGige* m_device = nullptr;
    unsigned m_threshold;
    bool m_active;
};

} // namespace Gige
} // namespace XEVLibrary
