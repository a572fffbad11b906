#pragma once

#include "XEVFrameInfo.h"

#include <opencv2/core/mat.hpp>

#include <exception>

namespace XEVLibrary {

/**
 * Where the stream channel puts the frames it assembles: the FIFO of the
 * GigE device. The channel is the FIFO's only writer; it calls these from
 * its packet strand, one at a time.
 */
class GvspFrameSink {
public:
    virtual ~GvspFrameSink() = default;

    /// Makes the FIFO hold images of @p width x @p height pixels of OpenCV
    /// @p type (CV_16UC1, CV_8UC3 or CV_8UC1), under the device's
    /// configuration lock. May wait for readers when the format changes.
    virtual void PrepareFrameFormat(int width, int height, int type) = 0;
    /// Reserves the slot to fill (the FIFO's lockFrameForWrite()).
    virtual cv::Mat* ReserveFrame() = 0;
    /// Gives the reserved slot back unfilled.
    virtual void CancelFrame() = 0;
    /// The reserved slot is filled: commits it with @p info, or cancels it
    /// when the device does not capture.
    virtual void OnNewImage(const XEVFrameInfo& info) = 0;
    /// An error on the packet path (such as a FIFO that cannot take the
    /// leader's format): the capture ends with it. Must not block.
    virtual void OnStreamError(std::exception_ptr error) { (void)error; }
};

} // namespace XEVLibrary
