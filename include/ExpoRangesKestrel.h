#pragma once

#include "ExpoRanges.h"

#include <atomic>

namespace XEVLibrary {

/**
 * The exposure table of the Kestrel model. The fine-step option, fixed at
 * construction, chooses between the coarse table (codes 0 ... 255, no fine
 * counts) and the fine table (fine counts on the ranges from 10 us and a
 * long-exposure range on code 255). The other options change while the
 * camera is open and select the usable slice:
 *  - gated: 0.1 ... 9 us (entries 0-1);
 *  - logarithmic response (not linear): entries 3-4;
 *  - linear: entries 2-5, and with long exposure up to the end of the table.
 * The high-gain flag is recorded only. Options are atomic, so a change made
 * from a notification thread is safe against concurrent reads.
 */
class ExpoRangesKestrel : public ExpoRanges {
public:
    /// The table chosen by @p fineStep, with the options of the other flags.
    ExpoRangesKestrel(bool gated, bool fineStep, bool longExposure, bool highGain, bool linear,
                      bool trigger);
    ~ExpoRangesKestrel() override;

    /// The coarse and fine tables, built once per process.
    ///@{
    static const Table& coarseTable();
    static const Table& fineTable();
    ///@}

    ///@{
    /// Option switches (see the class comment); safe from any thread.
    void setGated(bool on) { m_gated = on; }
    void setLinear(bool on) { m_linear = on; }
    void setHighGain(bool on) { m_highGain = on; }
    void setTrigger(bool on) { m_trigger = on; }
    void setLongExposure(bool on) { m_longExposure = on; }
    ///@}
    ///@{
    /// The current options.
    bool gated() const { return m_gated; }
    bool linear() const { return m_linear; }
    bool highGain() const { return m_highGain; }
    bool trigger() const { return m_trigger; }
    bool longExposure() const { return m_longExposure; }
    bool fineStep() const { return m_fineStep; }
    ///@}

    /// Gated: 0.1 us; linear: 10 us; logarithmic: 100 us.
    double MinValue() const override;
    /// Trigger and not gated.
    bool CanTriggerWidth() const override;
    Slice CurrentRange() const override;
    /// (220000 us, code 255 with fine 0).
    std::pair<double, uint16_t> TriggerWidthData() const override;
    /// "220" when linear, else "9".
    std::string TriggerWidthValue() const override;
    /// "ms".
    std::string TriggerWidthUnit() const override;
    /// false.
    bool DisableIfTriggerWidth() const override;

private:
    std::atomic<bool> m_gated;
    std::atomic<bool> m_linear;
    std::atomic<bool> m_highGain;
    std::atomic<bool> m_trigger;
    std::atomic<bool> m_longExposure;
    bool m_fineStep;
};

} // namespace XEVLibrary
