#pragma once

#include "XEVFilter.h"

#include <ctime>
#include <functional>
#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Writes the local date and time onto every 8-bit grey frame.
 *
 * Each frame is copied into the filter's FIFO with the text
 * "Day : d/m/yyyy; Time : hh:m:ss" drawn on it (minutes are not zero-padded)
 * in white, italic duplex Hershey font, thickness 2, with (x, y) the bottom
 * left of the text. The frame record is passed on unchanged. Frames that are
 * not 8-bit single-channel are not handled and produce no output.
 */
class XEVTimestamp : public XEVFilter {
public:
    /// The source of the calendar time; std::time by default.
    using Clock = std::function<std::time_t()>;

    /// Draws with the bottom left at (@p x, @p y), at OpenCV font scale
    /// @p fontScale; the filter's FIFO holds @p fifoSize frames.
    XEVTimestamp(int x, int y, double fontScale, unsigned int fifoSize);

    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// Replaces the time source (replays, tests). Call while stopped.
    void setClock(Clock clock);

    /// The text drawn for the calendar time @p when, in local time.
    static std::string text(std::time_t when);

private:
    int m_x;
    int m_y;
    double m_fontScale;
    Clock m_clock;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
