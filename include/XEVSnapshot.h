#pragma once

#include "XEVObserver.h"

#include <atomic>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Saves one frame to an image file each time snap() is called.
 *
 * A frame numbered n is written to `<filePath>_<n, at least 4 digits><ext>`,
 * for example /tmp/shot_0007.jpg. The extension is one of ".jpeg", ".jpg",
 * ".bmp", ".png", ".tif" or ".tiff" (a leading dot is added and case is
 * ignored); JPEG files use the given quality, which the others ignore. PNG
 * and TIFF files keep 16-bit frames whole (raw camera frames); JPEG and BMP
 * hold 8-bit frames.
 *
 * snap() may be called from any thread; each call saves exactly one later
 * frame. Requests still pending when reading starts are dropped. A file that
 * cannot be written ends the reading thread with an XEVException, available
 * from lastError().
 */
class XEVSnapshot : public XEVObserver {
public:
    /// Throws a critical XEVException when the path, the extension, the
    /// quality or the directory is not usable.
    XEVSnapshot(const std::string& filePath, const std::string& extension,
                unsigned int jpegQuality);

    /// Asks for one more frame to be saved.
    void snap();
    /// Requests not served yet.
    int pendingSnaps() const { return m_pending.load(); }

    /// Drops the requests left over from before the start, then starts.
    void startReading() override;
    void onStart() override;
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The file a frame numbered @p frameNumber is saved to.
    std::string fileNameFor(uint64_t frameNumber) const;

private:
    std::atomic<int32_t> m_pending{0};
    std::vector<int> m_writerParams;
    std::string m_prefix;
    std::string m_extension;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
