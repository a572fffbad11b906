#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

namespace detail {
class StretchTable;
}

/**
 * Manual gain control: a linear stretch between bounds fixed at construction,
 * rint(clamp((p - low) / (high - low) * 255, 0, 255)) in double precision, for
 * 16-bit and 8-bit single-channel frames. Output frames are 8-bit
 * single-channel of the input's size with the input's XEVFrameInfo; for input
 * of any other type the output frame is delivered without pixel work.
 */
class XEVManualAGC : public XEVFilter {
public:
    /// Refuses @p low equal to @p high with an XEVException.
    XEVManualAGC(unsigned int fifoSize, double low, double high);
    ~XEVManualAGC() override;

    /// Stretches one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Produces a frame for every two-dimensional image; only 16-bit
    /// and 8-bit single-channel input is stretched.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    ///@{
    /// The stretch bounds given at construction.
    double low() const { return m_low; }
    double high() const { return m_high; }
    ///@}

private:
    double m_low;
    double m_high;
    std::unique_ptr<detail::StretchTable> m_stretch16;
    std::vector<uint8_t> m_table8;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
