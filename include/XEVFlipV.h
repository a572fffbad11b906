#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Mirrors 8-bit single-channel frames about the vertical axis: the order of the columns is reversed
 * (flip code 1).
 * Output frames have the input's size and type and its XEVFrameInfo; frames of
 * any other type are dropped.
 */
class XEVFlipV : public XEVFilter {
public:
    /// Mirrors frames top to bottom; the filter's FIFO holds @p fifoSize frames.
    explicit XEVFlipV(unsigned int fifoSize);

    /// Mirrors one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 8-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);
};

} // namespace XEVToolBox
} // namespace XEVLibrary
