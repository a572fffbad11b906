#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Mirrors 8-bit single-channel frames about the horizontal axis: the order of the rows is reversed
 * (flip code 0).
 * Output frames have the input's size and type and its XEVFrameInfo; frames of
 * any other type are dropped.
 */
class XEVFlipH : public XEVFilter {
public:
    /// Mirrors frames left to right; the filter's FIFO holds @p fifoSize frames.
    explicit XEVFlipH(unsigned int fifoSize);

    /// Mirrors one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 8-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);
};

} // namespace XEVToolBox
} // namespace XEVLibrary
