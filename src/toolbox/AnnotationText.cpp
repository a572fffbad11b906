#include "toolbox/AnnotationText.h"

#include <opencv2/imgproc.hpp>

namespace XEVLibrary {
namespace XEVToolBox {

bool isAnnotatable(const cv::Mat& frame) {
    return !frame.empty() && frame.type() == CV_8UC1;
}

void drawAnnotationText(cv::Mat& image, const char* text, int x, int y, double fontScale) {
    // Line type 8: the undocumented type 5 is only accepted for thick lines
    // and draws the same pixels as 8 there.
    cv::putText(image, text, cv::Point(x, y), cv::FONT_HERSHEY_DUPLEX | cv::FONT_ITALIC, fontScale,
                cv::Scalar(255, 255, 255, 255), 2, cv::LINE_8);
}

} // namespace XEVToolBox
} // namespace XEVLibrary
