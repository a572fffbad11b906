#pragma once

#include <opencv2/core/mat.hpp>

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

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
