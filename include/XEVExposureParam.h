#pragma once

#include "ExpoRanges.h"
#include "XEVParam.h"

#include <memory>
#include <string>

namespace XEVLibrary {

class ExposureGrammar;

/**
 * An exposure time stored as a two-byte code read through a table of ranges
 * (ExpoRanges): the coarse code in registry byte 4 and the fine count in
 * registry byte 3. User values are microseconds.
 *
 * Writes store the nearest value that the table's current slice can express
 * and return it; nothing is refused except NaN and a null registry. Texts
 * are numbers with an optional unit ("100.3ms", "100.3 ms", "100300 us",
 * "0.1003s"); values print in the largest fitting unit with at most four
 * decimals ("100.4us", "500ns", "12ms").
 *
 * The range table may be replaced while other threads read: it is held by a
 * shared pointer swapped atomically, so a reader keeps the table it started
 * with.
 */
class XEVExposureParam : public XEVParam {
public:
    /// Registry byte 4 (code) and byte 3 (fine). Takes ownership of @p ranges.
    explicit XEVExposureParam(ExpoRanges* ranges);
    ~XEVExposureParam() override;

    /// Destroys the current table object (once no reader uses it) and takes
    /// ownership of @p ranges. A null table is refused with a critical error.
    void SetExpoRanges(ExpoRanges* ranges);
    /// The installed table.
    std::shared_ptr<ExpoRanges> expoRanges() const;

    /// Registry byte of the fine count.
    static constexpr unsigned FineAddress = 3;
    /// Registry byte of the coarse code.
    static constexpr unsigned CodeAddress = 4;

    using XEVParam::setValue;
    /// Stores the nearest expressible value; returns the value stored.
    double setValue(double value, uint8_t* registry) const override;
    /// Raises "ill-formed exposure time string: " + text on a bad text.
    double strValueToValue(const std::string& text) const override;
    std::string valueToStrValue(double value) const override;
    double ValueFromReg(const uint8_t* registry) const override;
    /// Walks every pair of the whole table (not only the current slice).
    PrivateValueIterator* newBeginValueIterator() const override;

    /// Walk over the (code, fine) pairs of a range table.
    class ExpoValueIterator : public PrivateValueIterator {
    public:
        /// The walk of @p param over the pairs of @p ranges, from the first.
        ExpoValueIterator(const XEVExposureParam* param, std::shared_ptr<const ExpoRanges> ranges);
        /// A copy at the same position.
        ExpoValueIterator(const ExpoValueIterator& other) = default;
        using PrivateValueIterator::operator=;
        PrivateValueIterator* newCopy() const override;
        /// Also compares the range and the fine count.
        bool operator==(const PrivateValueIterator& other) const override;
        bool operator!=(const PrivateValueIterator& other) const override;
        PrivateValueIterator& operator++() override;
        std::string operator*() const override;
        ~ExpoValueIterator() override;

    private:
        std::shared_ptr<const ExpoRanges> m_ranges;
        std::size_t m_range;
        int m_code;
        int m_fine;
    };

private:
    std::unique_ptr<ExposureGrammar> m_grammar;
    std::shared_ptr<ExpoRanges> m_ranges;
};

} // namespace XEVLibrary
