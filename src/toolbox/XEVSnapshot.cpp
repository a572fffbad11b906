#include "XEVSnapshot.h"

#include "XEVException.h"

#include <boost/filesystem.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace XEVLibrary {
namespace XEVToolBox {

XEVSnapshot::XEVSnapshot(const std::string& filePath, const std::string& extension,
                         unsigned int jpegQuality) {
    if (filePath.empty() || extension.empty())
        XEVException::throwCriticalError(
            std::string("XEVSnapshot: file_path and extension params cannot be empty."));
    const char last = filePath.back();
    if (last == '\\' || last == '/')
        XEVException::throwCriticalError(
            std::string("XEVSnapshot: file_path must end with the prefix of the filename.\nRefer "
                        "documentation."));

    std::string ext = (extension[0] == '.') ? extension : "." + extension;
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // PNG and TIFF keep 16-bit frames whole; JPEG and BMP hold 8 bits.
    const bool jpeg = ext == ".jpeg" || ext == ".jpg";
    if (!jpeg && ext != ".bmp" && ext != ".png" && ext != ".tif" && ext != ".tiff")
        XEVException::throwCriticalError("XEVSnapshot accept '.jpeg', '.jpg', '.bmp', '.png', "
                                         "'.tif' or '.tiff' as file extension: '" +
                                         ext + "' provided.");
    if (jpeg) {
        if (jpegQuality > 100)
            XEVException::throwCriticalError(
                "XEVSnapshot: jpeg_quality must be in the range [0,100]. " +
                std::to_string(jpegQuality) + " provided.");
        m_writerParams = {cv::IMWRITE_JPEG_QUALITY, static_cast<int>(jpegQuality)};
    }

    // A bare file name lives in the current directory.
    const boost::filesystem::path parent = boost::filesystem::path(filePath).parent_path();
    const boost::filesystem::path directory =
        parent.empty() ? boost::filesystem::path(".") : parent;
    boost::system::error_code error;
    const boost::filesystem::file_status status = boost::filesystem::status(directory, error);
    if (error || status.type() != boost::filesystem::directory_file)
        XEVException::throwCriticalError("XEVSnapshot: The directory " + directory.string() +
                                         " is not accessible.");

    m_extension = ext;
    m_prefix = filePath + "_";
}

void XEVSnapshot::snap() {
    m_pending.fetch_add(1);
}

void XEVSnapshot::startReading() {
    // Cleared here, before the thread exists, rather than in onStart() on the
    // thread: a snap() made right after the start must not be lost.
    m_pending.store(0);
    XEVObserver::startReading();
}

void XEVSnapshot::onStart() {}

std::string XEVSnapshot::fileNameFor(uint64_t frameNumber) const {
    char number[24];
    std::snprintf(number, sizeof(number), "%04" PRIu64, frameNumber);
    return m_prefix + number + m_extension;
}

void XEVSnapshot::onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) {
    int32_t pending = m_pending.load();
    do {
        if (pending <= 0)
            return;
    } while (!m_pending.compare_exchange_weak(pending, pending - 1));

    const std::string name = fileNameFor(info.frameNumber);
    bool written = false;
    try {
        written = cv::imwrite(name, frame, m_writerParams);
    } catch (const cv::Exception& error) {
        XEVException::throwError("XEVSnapshot: cannot write the file " + name + ": " +
                                 error.what());
    }
    if (!written)
        XEVException::throwError("XEVSnapshot: cannot write the file " + name + ".");
}

} // namespace XEVToolBox
} // namespace XEVLibrary
