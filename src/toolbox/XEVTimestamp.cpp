#include "XEVTimestamp.h"

#include "toolbox/AnnotationText.h"

#include <cstdio>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

// Large enough for any year an int can hold.
constexpr std::size_t TextSize = 96;

void formatTime(std::time_t when, char (&buffer)[TextSize]) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        buffer[0] = '\0';
        return;
    }
    std::snprintf(buffer, TextSize, "Day : %d/%d/%d; Time : %02d:%d:%02d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
}

} // namespace

XEVTimestamp::XEVTimestamp(int x, int y, double fontScale, unsigned int fifoSize)
    : XEVFilter(fifoSize), m_x(x), m_y(y), m_fontScale(fontScale),
      m_clock([] { return std::time(nullptr); }) {}

void XEVTimestamp::setClock(Clock clock) {
    if (clock)
        m_clock = std::move(clock);
    else
        m_clock = [] { return std::time(nullptr); };
}

std::string XEVTimestamp::text(std::time_t when) {
    char buffer[TextSize];
    formatTime(when, buffer);
    return buffer;
}

void XEVTimestamp::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    deliverAnnotated(*this, frame, info, [this](cv::Mat& out) {
        char buffer[TextSize];
        formatTime(m_clock(), buffer);
        drawAnnotationText(out, buffer, m_x, m_y, m_fontScale);
    });
}

} // namespace XEVToolBox
} // namespace XEVLibrary
