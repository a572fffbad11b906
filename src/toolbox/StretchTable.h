#pragma once

#include "toolbox/PixelKernels.h"

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/**
 * The 65536-entry table of a linear stretch from 16-bit levels to bytes, and
 * the fastest way of applying it. Callers fill the table with the exact
 * formula of their stage, then call prepare() with the stretch's bounds.
 * Where the processor has wide vectors, rows are then stretched
 * arithmetically: prepare() runs the arithmetic over every possible level and
 * keeps it only when it reproduces the table byte for byte, so the result is
 * always the table's. Otherwise, and for estimates that do not match, every
 * pixel is looked up.
 */
class StretchTable {
public:
    StretchTable();

    /// The table, to be filled before prepare().
    uint8_t* table() { return m_table.data(); }
    const uint8_t* table() const { return m_table.data(); }

    /// Sets up the arithmetic form of a stretch that maps @p low to 0 and
    /// @p high to 255 and checks it against the table.
    void prepare(double low, double high);

    /// out = table[in] for @p count levels.
    void apply(const uint16_t* in, uint8_t* out, std::size_t count) const;

    /// The same for a 16-bit frame into @p out, an 8-bit frame of its size.
    void apply(const cv::Mat& in, cv::Mat& out) const;

    /// True when apply() computes rather than looks up.
    bool computed() const { return m_computed; }

private:
    std::vector<uint8_t> m_table;
    std::vector<uint8_t> m_check;
    StretchEstimate m_estimate{};
    bool m_computed = false;
};

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
