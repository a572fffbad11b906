#pragma once

#include "XEVFilter.h"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Bad-pixel replacement for raw 16-bit frames. The map file is an OpenCV
 * persistence file holding, under "BPmap", one row per bad pixel with six
 * columns (x, y, x1, y1, x2, y2) in sensor coordinates: the bad pixel and the
 * two neighbours it is replaced with. A file that does not open gives an empty
 * map; a map that does not have six columns raises an XEVException.
 *
 * The frame is the window of width x height at (offsetX, offsetY) on the
 * sensor. Each frame is copied; then every bad pixel inside the window becomes
 * the truncated mean (in1 + in2) * 0.5 of its two neighbours, read from the
 * input frame. A map row whose pixel or neighbours fall outside the frame is
 * skipped. Output frames are 16-bit single-channel of the input's size with
 * the input's XEVFrameInfo; frames of any other type are dropped.
 */
class XEVBPR : public XEVFilter {
public:
    /// Reads the map file @p path for the window of @p width x @p height at
    /// (@p offsetX, @p offsetY) on the sensor; the filter's FIFO holds
    /// @p fifoSize frames.
    XEVBPR(std::string path, int width, int height, int offsetX, int offsetY,
           unsigned int fifoSize);

    /// Repairs one frame into its own FIFO.
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The work of one frame into @p out (created when its size or type
    /// differ). Returns false, leaving @p out untouched, for a frame that is
    /// not 16-bit single-channel.
    bool process(const cv::Mat& frame, cv::Mat& out, const XEVFrameInfo& info);

    /// The map as read from the file (32-bit signed, six columns).
    const cv::Mat& map() const { return m_map; }

private:
    /// One repair inside a frame: pixel indexes, row-major.
    struct Repair {
        int32_t target;
        int32_t first;
        int32_t second;
    };

    void prepareRepairs(int cols, int rows);

    std::string m_path;
    int m_width;
    int m_height;
    int m_offsetX;
    int m_offsetY;
    cv::Mat m_map;
    /// Repairs for frames of m_cols x m_rows, rebuilt when the size changes.
    std::vector<Repair> m_repairs;
    int m_cols = -1;
    int m_rows = -1;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
