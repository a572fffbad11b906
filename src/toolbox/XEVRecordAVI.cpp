#include "XEVRecordAVI.h"

#include "XEVException.h"
#include "device/Diagnostics.h"

#include <opencv2/videoio.hpp>

#include <cstdio>

namespace XEVLibrary {
namespace XEVToolBox {

namespace {

// A negative size would wrap to a huge FIFO; 0 gets the producer's refusal.
unsigned int fifoSizeOf(int fifoSize) {
    return fifoSize < 0 ? 0u : static_cast<unsigned>(fifoSize);
}

} // namespace

XEVRecordAVI::XEVRecordAVI(const std::string& filePath, int width, int height, double fps,
                           bool isColor, int fifoSize)
    : XEVRecordAVI(filePath, "FMP4", width, height, fps, isColor, fifoSize) {}

XEVRecordAVI::XEVRecordAVI(const std::string& filePath, const std::string& codec, int width,
                           int height, double fps, bool isColor, int fifoSize)
    : XEVFilter(fifoSizeOf(fifoSize)), m_writer(new cv::VideoWriter), m_width(width),
      m_height(height), m_fps(fps), m_isColor(isColor), m_filePath(filePath), m_codec(codec) {
    if (m_codec.size() != 4)
        XEVException::throwError("XEVRecordAVI: the codec must have four characters: '" + codec +
                                 "' provided.");
}

XEVRecordAVI::~XEVRecordAVI() = default;

int XEVRecordAVI::videoWidth() const {
    return m_isColor ? m_width - 4 : m_width;
}

int XEVRecordAVI::videoHeight() const {
    return m_isColor ? m_height - 4 : m_height;
}

void XEVRecordAVI::onStart() {
    const int code = cv::VideoWriter::fourcc(m_codec[0], m_codec[1], m_codec[2], m_codec[3]);
    m_mismatchReported = false;
    bool opened = false;
    try {
        opened = m_writer->open(m_filePath, code, m_fps, cv::Size(videoWidth(), videoHeight()),
                                m_isColor);
    } catch (const cv::Exception& error) {
        XEVException::throwError("XEVRecordAVI: cannot open the video file " + m_filePath + ": " +
                                 error.what());
    }
    if (!opened)
        XEVException::throwError(XEVException::format(
            XEVException::DefaultBufferSize,
            "XEVRecordAVI: cannot open the video file %s (codec %s, %dx%d, %g fps).",
            m_filePath.c_str(), m_codec.c_str(), videoWidth(), videoHeight(), m_fps));
}

void XEVRecordAVI::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
    cv::Mat* out = lockFrameForWrite();
    try {
        frame.copyTo(*out);
        if (m_writer->isOpened()) {
            // The writer silently drops frames of another size or channel count.
            const bool fits = out->cols == videoWidth() && out->rows == videoHeight() &&
                              out->depth() == CV_8U && out->channels() == (m_isColor ? 3 : 1);
            if (fits) {
                m_writer->write(*out);
            } else if (!m_mismatchReported) {
                m_mismatchReported = true;
                detail::diagnosticf(detail::DiagnosticKind::Error,
                                    "XEVRecordAVI(%s): frames of %dx%d with %d channel(s) do not "
                                    "fit the video of %dx%d with %d channel(s); they are not "
                                    "recorded.",
                                    m_filePath.c_str(), out->cols, out->rows, out->channels(),
                                    videoWidth(), videoHeight(), m_isColor ? 3 : 1);
            }
        }
    } catch (...) {
        cancelWriting();
        throw;
    }
    unlockFrameForWrite(info);
}

void XEVRecordAVI::onStop() {
    m_writer->release();
}

} // namespace XEVToolBox
} // namespace XEVLibrary
