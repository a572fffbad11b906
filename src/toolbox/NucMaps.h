#pragma once

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

/// One map of a NUC stage: the node it is read from, its element type and
/// where it is stored.
struct NucMapRequest {
    const char* node;
    int type;
    cv::Mat* map;
};

/**
 * Loads the maps of a NUC stage. Every map starts as zeros of the window size;
 * when the file opens, each node replaces its map by the node's window
 * rectangle (converted to the map's element type). A file that does not open
 * leaves the zero maps. A node that is missing, has more than one channel or
 * does not hold the window raises an XEVException naming @p stage and @p path,
 * as does a file the persistence reader rejects.
 */
void loadNucMaps(const char* stage, const std::string& path, const cv::Rect& window,
                 std::initializer_list<NucMapRequest> maps);

/// True when a NUC stage corrects @p frame with maps of @p mapSize: 16-bit
/// single-channel frames of the map size, or empty 16-bit frames.
bool nucHandles(const cv::Mat& frame, const cv::Size& mapSize);

/// True when the first pixel of @p frame (not empty) is odd: the double NUC
/// stages then use their "Odd" maps.
inline bool firstPixelOdd(const cv::Mat& frame) {
    return (frame.at<uint16_t>(0, 0) & 1u) != 0;
}

/**
 * The frame walk shared by the NUC stages: returns false for a frame the
 * stage does not correct (see nucHandles); otherwise sizes @p out as a 16-bit
 * frame like @p frame and calls @p correct(span, count) for each stretch of
 * pixels: the whole frame at once when frame and output are continuous, else
 * row by row. The maps are continuous, so span s of a map starts at its row s
 * either way.
 */
template <class Correct>
bool correctNucFrame(const cv::Mat& frame, const cv::Size& mapSize, cv::Mat& out,
                     Correct&& correct) {
    if (!nucHandles(frame, mapSize))
        return false;
    out.create(frame.rows, frame.cols, CV_16UC1);
    if (frame.empty())
        return true;
    const int spans = (frame.isContinuous() && out.isContinuous()) ? 1 : frame.rows;
    const std::size_t count = frame.total() / std::size_t(spans);
    for (int span = 0; span < spans; ++span)
        correct(span, count);
    return true;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
