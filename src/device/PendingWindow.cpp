#include "device/PendingWindow.h"

#include "XEVDevice.h"
#include "XEVException.h"

#include <string>

namespace XEVLibrary {
namespace detail {

bool checkPendingWindow(const XEVDevice& device, bool infoLine,
                        const std::function<void()>& resetPending) {
    const double firstColumn = device.paramValueOf("First Column", false);
    const double columns = device.paramValueOf("Number of Column", false);
    const double firstLine = device.paramValueOf("First Line", false);
    const double lines = device.paramValueOf("Number of Line", false);
    const double minimumColumns = infoLine ? 56.0 : 8.0;
    const std::string model = device.modelId();
    const char* id = model.c_str();

    if (firstColumn + columns > device.Width()) {
        resetPending();
        XEVException::throwError("For XEVDevice(%s), FirstColumn(%f) + NumberOfColumn(%f) > "
                                 "SensorWidth(%d). Virtual Registry was reset.",
                                 id, firstColumn, columns, int(device.Width()));
    }
    if (columns < minimumColumns) {
        resetPending();
        XEVException::throwError("For XEVDevice(%s), NumberOfColumn(%f) < "
                                 "MinimumNumberOfColumn(%f). Virtual Registry was reset.",
                                 id, columns, minimumColumns);
    }
    if (firstLine + lines > device.Height()) {
        resetPending();
        XEVException::throwError("For XEVDevice(%s), FirstLine(%f) + NumberOfLine(%f) > "
                                 "SensorHeight(%d). Virtual Registry was reset.",
                                 id, firstLine, lines, int(device.Height()));
    }
    if (lines < 8) {
        resetPending();
        XEVException::throwError("For XEVDevice(%s), NumberOfLine(%f) < MinimumNumberOfLine(%f). "
                                 "Virtual Registry was reset.",
                                 id, lines, 8.0);
    }
    return true;
}

} // namespace detail
} // namespace XEVLibrary
