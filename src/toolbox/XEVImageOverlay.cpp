#include "XEVImageOverlay.h"

#include "toolbox/AnnotationText.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdint>

namespace XEVLibrary {
namespace XEVToolBox {

struct XEVImageOverlay::Overlay {
    cv::Mat picture;
    int x = 0;
    int y = 0;
    double alpha = 0.0;
};

XEVImageOverlay::XEVImageOverlay(const std::string& imagePath, int x, int y, double alpha,
                                 unsigned int fifoSize)
    : XEVFilter(fifoSize), m_overlay(new Overlay) {
    try {
        m_overlay->picture = cv::imread(imagePath, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        // An unreadable picture draws nothing.
        m_overlay->picture.release();
    }
    m_overlay->x = x;
    m_overlay->y = y;
    m_overlay->alpha = alpha;
}

XEVImageOverlay::~XEVImageOverlay() = default;

bool XEVImageOverlay::hasPicture() const {
    return !m_overlay->picture.empty();
}

namespace {

void blend(const cv::Mat& picture, int x, int y, double alpha, cv::Mat& frame) {
    if (!(alpha > 0.0) || picture.empty())
        return;
    // 64-bit bounds: x, y may be anywhere in the int range.
    const int64_t firstRow = std::max<int64_t>(0, -int64_t(y));
    const int64_t firstCol = std::max<int64_t>(0, -int64_t(x));
    const int64_t endRow = std::min<int64_t>(picture.rows, int64_t(frame.rows) - y);
    const int64_t endCol = std::min<int64_t>(picture.cols, int64_t(frame.cols) - x);
    if (firstRow >= endRow || firstCol >= endCol)
        return;
    const double beta = 1.0 - alpha;
    const int64_t width = endCol - firstCol;
    for (int64_t r = firstRow; r < endRow; ++r) {
        const uint8_t* __restrict src = picture.ptr<uint8_t>(int(r)) + firstCol;
        uint8_t* __restrict dst = frame.ptr<uint8_t>(int(r + y)) + (firstCol + x);
        for (int64_t c = 0; c < width; ++c) {
            int value = static_cast<int>(src[c] * alpha + dst[c] * beta);
            value = std::min(255, std::max(0, value));
            dst[c] = static_cast<uint8_t>(value);
        }
    }
}

} // namespace

void XEVImageOverlay::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    deliverAnnotated(*this, frame, info, [this](cv::Mat& out) {
        blend(m_overlay->picture, m_overlay->x, m_overlay->y, m_overlay->alpha, out);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
