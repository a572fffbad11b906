#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace XEVLibrary {

class XEVDevice;

namespace XEVToolBox {

/**
 * Non-uniformity correction whose tables follow the camera's exposure time.
 *
 * A calibration tree below `<basePath>/NUC/` holds one directory per camera
 * configuration (the NUC path a device announces, such as "40MHz/Lin/Low")
 * with text tables "NUCFactory_<exposure>.yml" measured at several exposure
 * times. The stage loads them all at construction (from binary caches below
 * NUC/Bin/ when they are sound and up to date, writing them otherwise) and
 * follows the device's NUC signal: for each announced path and exposure it
 * takes the table at that exposure, or interpolates between the two around
 * it (below the first, the first; above the last, the last).
 *
 * Per frame, for the pixels of the frame window (offsetX, offsetY of the
 * XEVFrameInfo, the frame's size) that the table covers:
 * out = min(trunc(max(in - dark, 0) x gain + 1000), 16383), the product in
 * single precision; a double table uses its even maps for a frame whose first
 * pixel is even and its odd maps otherwise. Pixels outside the table, and
 * every pixel while no table is chosen, are passed on unchanged. Only 16-bit
 * single-channel frames are handled; any other frame produces nothing. The
 * input's XEVFrameInfo is passed on unchanged.
 *
 * Threads: Update() runs on the thread that raises the device's signal,
 * frames on the stage's reading thread; a table is never replaced while a
 * frame is corrected with it. Destroying the stage disconnects it from the
 * device.
 */
class XEVInterpolatedNuc : public XEVFilter {
public:
    /// Loads the tree below @p basePath and follows @p device's NUC signal.
    /// A bad text table refuses the construction with an XEVException naming
    /// the file and the line.
    XEVInterpolatedNuc(XEVDevice& device, const char* basePath, unsigned int fifoSize);
    /// A stage without tables: frames pass through unchanged.
    explicit XEVInterpolatedNuc(unsigned int fifoSize);
    ~XEVInterpolatedNuc() override;

    /// Chooses the table of @p nucPath (relative to the NUC root) at
    /// @p exposure. Returns false, keeping the current table, when the tree
    /// has no such directory. @p minExposure is not used.
    bool Update(std::string& nucPath, double exposure, double minExposure);

    /// Corrects one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The correction of one frame into @p out (created when its size or
    /// type differ). Returns false, leaving @p out untouched, for a frame
    /// this stage does not handle.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// The NUC root: the base path with "/" separators, then "NUC/".
    const std::string& nucRoot() const;
    /// Number of tables loaded, over all directories.
    std::size_t tableCount() const;
    /// Exposure of the table in use (NaN while none is chosen).
    double currentExposure() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
