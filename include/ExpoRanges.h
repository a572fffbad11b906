#pragma once

#include "ExpoRange.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace XEVLibrary {

/**
 * A table of exposure ranges and the part of it that the current camera
 * options allow. An exposure is stored as a pair of register bytes: a coarse
 * code selecting a range and a step in it, and a fine count (code in the high
 * byte, fine count in the low byte of the packed pair).
 *
 * Encoding picks the value nearest to the request among all values that the
 * current slice can express (every pair of a range of the slice reads back as
 * itself, because the code spans of the ranges do not overlap). At an exact
 * midpoint between two expressible values the lower one is chosen; two pairs
 * expressing the same value resolve to the lower range and, within a range,
 * to the coarse code floor((v - min) / step). Values below or above the slice
 * clamp to its first or last value.
 *
 * All operations are const and may run from several threads.
 */
class ExpoRanges {
public:
    /// The ranges, in table order.
    using Table = std::vector<ExpoRange>;
    /// A run [first, last) of the table.
    using Slice = std::pair<Table::const_iterator, Table::const_iterator>;

    /// An encoded exposure: the packed pair and the value it stands for.
    struct Match {
        uint16_t codes; ///< code << 8 | fine
        /// The exposure the pair stands for, in microseconds.
        double value;
    };

    /// The ranges of @p table, all usable.
    explicit ExpoRanges(Table table = Table());
    virtual ~ExpoRanges();

    /// The pair nearest to @p value within CurrentRange() (see the class
    /// comment); NaN is treated as below every range.
    virtual Match FindBestMatch(double value) const;
    /// The value of (code, fine) in the first range of the current slice that
    /// holds the code. A code outside the slice (left by an option change) is
    /// read through the whole table; NaN when no range holds it.
    virtual double CalcValue(int code, int fine) const;
    /// The smallest exposure: the min of the first range of the table.
    virtual double MinValue() const;
    /// Whether the exposure may be set by the trigger width (base: false).
    virtual bool CanTriggerWidth() const;
    /// The ranges the current options allow (base: the whole table).
    virtual Slice CurrentRange() const;
    /// The exposure and pair that stand for "trigger width" (base: 0, 0).
    virtual std::pair<double, uint16_t> TriggerWidthData() const;
    ///@{
    /// The value and the unit shown for "trigger width" (base: empty).
    virtual std::string TriggerWidthValue() const;
    virtual std::string TriggerWidthUnit() const;
    ///@}
    /// Base: true.
    virtual bool DisableIfTriggerWidth() const;

    /// The whole table.
    const Table& table() const { return m_table; }

    /// Packs a pair as stored in a Match.
    static uint16_t pack(int code, int fine) {
        return static_cast<uint16_t>(((code & 0xFF) << 8) | (fine & 0xFF));
    }

protected:
    /// The whole table.
    Table m_table;
};

} // namespace XEVLibrary
