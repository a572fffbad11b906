#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <array>
#include <cstdint>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Renders 8-bit single-channel frames in false colours. Each frame is first
 * sharpened, sharpened = saturate(2 * in - GaussianBlur(in, 3x3, sigma 1.0,
 * BORDER_REFLECT_101)), then coloured with the colour map of @p mode:
 * 1 rainbow, 2 jet, 3 HSV, 4 hot, 5 summer, 6 winter, 7 cool, 8 bone,
 * 9 spring, 10 autumn, 11 ocean. Any other mode applies no colour map: the
 * sharpened image is delivered as grey in three channels. Output frames are
 * 8-bit three-channel (OpenCV's BGR order) of the input's size with the
 * input's XEVFrameInfo; frames of any other type are dropped.
 */
class XEVColorMap : public XEVFilter {
public:
    /// Colours with the map of @p mode (see the class comment); the filter's
    /// FIFO holds @p fifoSize frames.
    XEVColorMap(unsigned int fifoSize, int mode);

    /// Colours one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 8-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// The colour map mode given at construction.
    int mode() const { return m_mode; }

private:
    int m_mode;
    /// The colour of each grey level, three bytes per level.
    std::array<uint8_t, 256 * 3> m_colours;
    /// One blurred row and its column sums, reused while the width stays.
    cv::Mat m_blurred;
    cv::Mat m_vertical;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
