#include "toolbox/NucMaps.h"

#include "XEVException.h"

#include <opencv2/core.hpp>

#include <fstream>

namespace XEVLibrary {
namespace XEVToolBox {
namespace detail {

void loadNucMaps(const char* stage, const std::string& path, const cv::Rect& window,
                 std::initializer_list<NucMapRequest> maps) {
    if (window.width < 0 || window.height < 0)
        XEVException::throwError("For %s(%s), window %dx%d at (%d,%d) is not a rectangle.", stage,
                                 path.c_str(), window.width, window.height, window.x, window.y);
    for (const NucMapRequest& request : maps)
        *request.map = cv::Mat::zeros(window.height, window.width, request.type);

    cv::FileStorage file;
    try {
        // No calibration: the zero maps apply. Checked first so that the
        // persistence reader does not log the missing file.
        if (!std::ifstream(path).good() || !file.open(path, cv::FileStorage::READ))
            return;
        for (const NucMapRequest& request : maps) {
            cv::Mat loaded;
            file[request.node] >> loaded;
            const cv::Rect whole(0, 0, loaded.cols, loaded.rows);
            if (loaded.channels() != 1 || (window & whole) != window)
                XEVException::throwError(
                    "For %s(%s), map %s of %dx%d does not hold the window %dx%d at (%d,%d).", stage,
                    path.c_str(), request.node, loaded.cols, loaded.rows, window.width,
                    window.height, window.x, window.y);
            // A private, continuous copy of the window in the map's own type.
            loaded(window).convertTo(*request.map, request.type);
        }
    } catch (const cv::Exception& error) {
        XEVException::throwError("For %s(%s), the map file cannot be read: %s", stage, path.c_str(),
                                 error.what());
    }
}

bool nucHandles(const cv::Mat& frame, const cv::Size& mapSize) {
    if (frame.type() != CV_16UC1 || frame.dims != 2)
        return false;
    return frame.empty() || frame.size() == mapSize;
}

} // namespace detail
} // namespace XEVToolBox
} // namespace XEVLibrary
