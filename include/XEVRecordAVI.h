#pragma once

#include "XEVFilter.h"

#include <memory>
#include <string>

namespace cv {
class VideoWriter;
}

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Writes every frame to a video file and passes it on unchanged.
 *
 * The file is opened when reading starts and closed when it stops. The video
 * frame size is (width - 4) x (height - 4) with the colour flag (the size of
 * demosaiced colour frames of a width x height sensor) and width x height
 * without; incoming frames must have that size and 3 channels (colour) or 1
 * (grey) to be recorded. Frames that do not fit are passed on but not
 * recorded, and one line says so on standard error.
 *
 * A file that cannot be opened ends the reading thread with an XEVException,
 * available from lastError().
 */
class XEVRecordAVI : public XEVFilter {
public:
    /// Records with the codec "FMP4".
    XEVRecordAVI(const std::string& filePath, int width, int height, double fps, bool isColor,
                 int fifoSize);
    /// Records with @p codec, a four-character code such as "MJPG"; any other
    /// length throws an XEVException.
    XEVRecordAVI(const std::string& filePath, const std::string& codec, int width, int height,
                 double fps, bool isColor, int fifoSize);
    ~XEVRecordAVI() override;

    void onStart() override;
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;
    void onStop() override;

    /// The frame size the video file is opened with.
    ///@{
    int videoWidth() const;
    int videoHeight() const;
    ///@}

private:
    std::unique_ptr<cv::VideoWriter> m_writer;
    int m_width;
    int m_height;
    double m_fps;
    bool m_isColor;
    std::string m_filePath;
    std::string m_codec;
    bool m_mismatchReported = false;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
