#pragma once

#include "XEVParam.h"

#include <map>
#include <string>
#include <vector>

namespace XEVLibrary {

/**
 * A registry field whose register values are split into ranges, each a run
 * of evenly spaced values in its own time unit ("ns", "us" or "ms"): an
 * exposure time made of nanosecond, microsecond and millisecond steps. User
 * values are microseconds.
 *
 * Texts are an integer followed directly by a unit ("500ns", "25us",
 * "2ms"; the Latin-1 micro sign followed by "s" reads as "us"). A user value
 * between two steps is stored as the lower step; one past every range of
 * its unit is stored as the register value computed for the unit's last
 * range, kept inside the field (a value past the longest exposure is stored
 * as the highest register value rather than wrapped).
 */
class XEVMultiRangeEnumParam : public XEVParam {
public:
    /// One run of values: register firstReg + i means first + i x step.
    struct Range {
        ///@{
        /// The run's first and last values and the step between them.
        int32_t first;
        int32_t last;
        int32_t step;
        ///@}
        /// The register value of the run's first value.
        uint8_t firstReg;

        /// The last register value of the range.
        int lastReg() const { return firstReg + (last - first) / step; }
    };

    /// Not inert, no ranges.
    XEVMultiRangeEnumParam(const char* name, unsigned address, unsigned shift, unsigned size);
    ~XEVMultiRangeEnumParam() override;

    /// Appends a range to the list of @p unit. A step of 0 is refused with a
    /// critical error.
    void addRange(uint8_t firstReg, int first, int last, int step, const char* unit);

    ///@{
    /// Lowest and highest register values over every range (255 and 0 when
    /// there is none).
    uint8_t lowestRegVal() const { return m_lowest; }
    uint8_t highestRegVal() const { return m_highest; }
    ///@}
    /// The ranges of every unit.
    const std::map<std::string, std::vector<Range>>& ranges() const { return m_ranges; }

    /// Reads a leading integer with std::stoi (which raises
    /// std::invalid_argument or std::out_of_range for a text without a
    /// number), then the unit; the value must be a step of one of its ranges.
    double strValueToValue(const std::string& text) const override;
    uint8_t valueToRegVal(double value) const override;
    double regValToValue(uint8_t regVal) const override;
    /// An integer in the largest fitting unit: 500ns, 1000us, 2ms.
    std::string valueToStrValue(double value) const override;
    PrivateValueIterator* newBeginValueIterator() const override;
    PrivateValueIterator* newEndValueIterator() const override;

    /// Walks the register values from the lowest to the highest range start.
    using MultiRangeValueIterator = RangeValueIterator;

private:
    uint8_t m_lowest;
    uint8_t m_highest;
    std::map<std::string, std::vector<Range>> m_ranges;
};

} // namespace XEVLibrary
