#include "XEVManualAGC.h"

#include "XEVException.h"
#include "toolbox/FrameOutput.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"
#include "toolbox/StretchTable.h"

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

double checkedLow(double low, double high) {
    if (low == high)
        XEVException::throwError("For XEVManualAGC, low(%g) and high(%g) must differ.", low, high);
    return low;
}

} // namespace

XEVManualAGC::XEVManualAGC(unsigned int fifoSize, double low, double high)
    : XEVFilter(fifoSize), m_low(checkedLow(low, high)), m_high(high),
      m_stretch16(std::make_unique<detail::StretchTable>()), m_table8(256) {
    // The bounds never change: the tables are built once.
    detail::stretchRangeDouble(m_stretch16->table(), 0, detail::WordLevels, m_low, m_high);
    m_stretch16->prepare(m_low, m_high);
    detail::stretchRangeDouble(m_table8.data(), 0, 256, m_low, m_high);
}

XEVManualAGC::~XEVManualAGC() = default;

void XEVManualAGC::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (frame.dims != 2)
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVManualAGC::process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo&) {
    if (frame.dims != 2)
        return false;
    out.create(frame.rows, frame.cols, CV_8UC1);
    if (frame.type() == CV_16UC1) {
        m_stretch16->apply(frame, out);
    } else if (frame.type() == CV_8UC1) {
        detail::lookupFrame8(frame, m_table8.data(), out);
    }
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
