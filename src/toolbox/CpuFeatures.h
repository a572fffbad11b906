#pragma once

// Which of the toolbox's wide per-pixel paths this processor can run.
namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/**
 * Processor features the toolbox kernels pick their paths by, read once from
 * the processor. Every path gives the same bytes; the portable ones run
 * everywhere.
 */
struct CpuFeatures {
    /// 256-entry byte tables held in registers (AVX-512 VBMI).
    bool byteLookup = false;
    /// Sixteen single-precision lanes with per-instruction rounding (AVX-512
    /// F, BW and DQ).
    bool wideStretch = false;
    /// Lanes compressed into a list in one instruction (AVX-512 BW and
    /// VBMI2).
    bool laneCompress = false;
};

/// The features in use: the processor's own unless overridden.
const CpuFeatures& cpuFeatures();

/// Replaces the features in use, so that tests can run the portable paths on
/// a processor that has the wide ones (features the processor lacks are never
/// turned on). Not for use while frames are being processed.
void overrideCpuFeatures(const CpuFeatures& features);

/// Returns to the processor's own features.
void restoreCpuFeatures();

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
