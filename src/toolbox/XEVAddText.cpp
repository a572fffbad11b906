#include "XEVAddText.h"

#include "toolbox/AnnotationText.h"

namespace XEVLibrary {
namespace XEVToolBox {

XEVAddText::XEVAddText(const std::string& text, int x, int y, double fontScale,
                       unsigned int fifoSize)
    : XEVFilter(fifoSize), m_text(text), m_x(x), m_y(y), m_fontScale(fontScale) {}

void XEVAddText::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    deliverAnnotated(*this, frame, info, [this](cv::Mat& out) {
        drawAnnotationText(out, m_text.c_str(), m_x, m_y, m_fontScale);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
