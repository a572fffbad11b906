#include "XEVAGCROI.h"

#include "XEVException.h"
#include "toolbox/FrameOutput.h"
#include "toolbox/GainControl.h"

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

int checkedMode(int mode) {
    if (mode != 0 && mode != 1)
        XEVException::throwError("For XEVAGCROI, mode(%d) must be 0 or 1.", mode);
    return mode;
}

cv::Rect centredWindow(int mode, int cols, int rows) {
    const int oddCols = cols % 2;
    const int oddRows = rows % 2;
    if (mode == 0)
        return cv::Rect(cols / 4 + oddCols, rows / 4 + oddRows, cols / 2 + oddCols,
                        rows / 2 + oddRows);
    return cv::Rect(cols / 8 + cols / 4 + oddCols, rows / 8 + rows / 4 + oddRows,
                    cols / 4 + oddCols, rows / 4 + oddRows);
}

} // namespace

XEVAGCROI::XEVAGCROI(int mode, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_mode(checkedMode(mode)),
      m_gain(std::make_unique<detail::WindowGainControl>()) {}

XEVAGCROI::~XEVAGCROI() = default;

int XEVAGCROI::low() const {
    return m_gain->low();
}
int XEVAGCROI::high() const {
    return m_gain->high();
}

void XEVAGCROI::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVAGCROI::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (!detail::isImageOf(frame, CV_16UC1))
        return false;
    m_window = centredWindow(m_mode, frame.cols, frame.rows);
    m_gain->process(frame, out, m_window);
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
