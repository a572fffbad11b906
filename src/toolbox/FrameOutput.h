#pragma once

#include "XEVFrameInfo.h"
#include "XEVFrameProducer.h"
#include "toolbox/PixelKernels.h"

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// True for a two-dimensional image of pixel type @p type: the frames a
/// stage that handles only that type works on.
inline bool isImageOf(const cv::Mat& frame, int type) {
    return frame.dims == 2 && frame.type() == type;
}

/// Calls @p body(inRow, outRow, count) over the pixels of two images of the
/// same size: once for continuous images, else once per row.
template <class In, class Out, class Body>
void forEachSpan(const cv::Mat& in, cv::Mat& out, Body&& body) {
    if (in.isContinuous() && out.isContinuous()) {
        body(in.ptr<In>(0), out.ptr<Out>(0), std::size_t(in.total()));
        return;
    }
    for (int r = 0; r < in.rows; ++r)
        body(in.ptr<In>(r), out.ptr<Out>(r), std::size_t(in.cols));
}

/// out = table[in] for an 8-bit frame; @p out has the frame's size already.
inline void lookupFrame8(const cv::Mat& in, const uint8_t* table, cv::Mat& out) {
    forEachSpan<uint8_t, uint8_t>(in, out,
                                  [table](const uint8_t* from, uint8_t* to, std::size_t count) {
                                      lookup8(from, table, to, count);
                                  });
}

/// Writes one output frame of a filter: ensures the format, reserves a slot,
/// lets @p fill compute into it and commits it with @p info. When @p fill
/// returns false or throws, the slot is given back and nothing is delivered.
template <class Fill>
void deliverFrame(XEVFrameProducer& fifo, int width, int height, int type, const XEVFrameInfo& info,
                  Fill&& fill) {
    fifo.ensureFrameFormat(width, height, type, 0u);
    cv::Mat* out = fifo.lockFrameForWrite();
    bool produced = false;
    try {
        produced = fill(*out);
    } catch (...) {
        fifo.cancelWriting();
        throw;
    }
    if (produced)
        fifo.unlockFrameForWrite(info);
    else
        fifo.cancelWriting();
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
