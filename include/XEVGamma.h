#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <array>
#include <cstdint>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * A two-segment gamma curve for 8-bit single-channel frames. With threshold T,
 * level i maps to rint((i / T)^gamma * T) up to T and to
 * rint(255 - ((255 - i) / (255 - T))^gamma * 255 * ((255 - T) / 255)) above,
 * clamped to 0..255 (an undefined value, as at i = T = 0, gives 0). Output
 * frames have the input's size and type and its XEVFrameInfo; frames of any
 * other type are dropped.
 */
class XEVGamma : public XEVFilter {
public:
    /// The curve of exponent @p gamma around threshold @p threshold (0..255);
    /// the filter's FIFO holds @p fifoSize frames.
    XEVGamma(double gamma, int threshold, unsigned int fifoSize);

    /// Applies the curve to one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 8-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    ///@{
    /// The exponent and the threshold given at construction.
    double gamma() const { return m_gamma; }
    int threshold() const { return m_threshold; }
    ///@}
    /// The 256-entry table of the curve.
    const std::array<uint8_t, 256>& table() const { return m_table; }

private:
    double m_gamma;
    int m_threshold;
    std::array<uint8_t, 256> m_table;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
