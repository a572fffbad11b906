#include "XEVAddText.h"

#include "toolbox/AnnotationText.h"

namespace XEVLibrary {
namespace XEVToolBox {

XEVAddText::XEVAddText(const std::string& text, int x, int y, double fontScale,
                       unsigned int fifoSize)
    : XEVFilter(fifoSize), m_text(text), m_x(x), m_y(y), m_fontScale(fontScale) {}

void XEVAddText::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    if (!isAnnotatable(frame))
        return;
    ensureFrameFormat(frame.cols, frame.rows, CV_8UC1, 0);
    cv::Mat* out = lockFrameForWrite();
    try {
        frame.copyTo(*out);
        drawAnnotationText(*out, m_text.c_str(), m_x, m_y, m_fontScale);
    } catch (...) {
        cancelWriting();
        throw;
    }
    unlockFrameForWrite(info);
}

} // namespace XEVToolBox
} // namespace XEVLibrary
