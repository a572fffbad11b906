#include "XEVAutomaticGainControl.h"

#include "XEVException.h"
#include "toolbox/FrameOutput.h"
#include "toolbox/GainControl.h"
#include "toolbox/PixelKernels.h"
#include "toolbox/StretchTable.h"
#include "toolbox/TailSelector.h"

#include <algorithm>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

unsigned int checkedBitDepth(unsigned int bitDepth) {
    if (bitDepth < 8 || bitDepth > 16)
        XEVException::throwError(
            "For XEVAutomaticGainControl, bit depth(%u) must be between 8 and 16.", bitDepth);
    return bitDepth;
}

bool handles(const cv::Mat& frame) {
    return frame.dims == 2 && (frame.type() == CV_16UC1 || frame.type() == CV_8UC1);
}

} // namespace

XEVAutomaticGainControl::XEVAutomaticGainControl(unsigned int bitDepth, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_bitDepth(checkedBitDepth(bitDepth)), m_histogramSize(1 << bitDepth),
      m_histogram(std::size_t(1) << bitDepth, 0),
      m_stretch(std::make_unique<detail::StretchTable>()),
      m_selector(std::make_unique<detail::TailSelector>()), m_high((1 << bitDepth) - 1) {}

XEVAutomaticGainControl::~XEVAutomaticGainControl() = default;

void XEVAutomaticGainControl::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!handles(frame))
        return;
    detail::deliverFrame(*this, frame.cols, frame.rows, CV_8UC1, info,
                         [&](cv::Mat& out) { return process(frame, out, info); });
}

bool XEVAutomaticGainControl::process(const cv::Mat& frame, cv::Mat& out,
                                      const XEVFrameInfo& info) {
    if (!handles(frame))
        return false;
    const bool words = frame.type() == CV_16UC1;
    m_histogramSize = words ? (1 << m_bitDepth) : 256;
    out.create(frame.rows, frame.cols, CV_8UC1);

    const int firstColumn = info.offsetX == 0 ? 1 : 0;
    const int endColumn = info.offsetX == 0 ? frame.cols - 2 : frame.cols;
    const int firstRow = info.offsetY == 0 ? 1 : 0;
    const int endRow = info.offsetY == 0 ? frame.rows - 2 : frame.rows;
    const bool counts = endColumn > firstColumn && endRow > firstRow;
    const int lastBin = m_histogramSize - 1;
    int low = 0, top = 0;
    detail::Bounds bounds{};
    if (words && counts &&
        m_selector->select(frame(cv::Range(firstRow, endRow), cv::Range(firstColumn, endColumn)),
                           uint16_t(lastBin), uint16_t(lastBin), detail::TailPixels, low, top)) {
        bounds = detail::withMinimumSpan(low, top);
    } else {
        uint32_t* histogram = m_histogram.data();
        std::fill(histogram, histogram + m_histogramSize, 0u);
        const std::size_t width = counts ? std::size_t(endColumn - firstColumn) : 0;
        for (int r = firstRow; r < endRow && counts; ++r) {
            if (words)
                detail::countHistogram16(frame.ptr<uint16_t>(r) + firstColumn, width, histogram,
                                         uint32_t(lastBin));
            else
                detail::countHistogram8(frame.ptr<uint8_t>(r) + firstColumn, width, histogram);
        }
        bounds = detail::gainBounds(histogram, m_histogramSize, lastBin);
    }
    m_low = bounds.low;
    m_high = bounds.high;

    if (words) {
        if (m_low != m_tableLow || m_high != m_tableHigh) {
            detail::fillStretchTable16(m_stretch->table(), m_low, m_high);
            m_stretch->prepare(m_low, m_high);
            m_tableLow = m_low;
            m_tableHigh = m_high;
        }
        m_stretch->apply(frame, out);
    } else {
        detail::stretchRangeDouble(m_table8.data(), 0, 256, double(m_low), double(m_high));
        detail::lookupFrame8(frame, m_table8.data(), out);
    }
    return true;
}

} // namespace XEVToolBox
} // namespace XEVLibrary
