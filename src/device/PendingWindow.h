#pragma once

#include <functional>

namespace XEVLibrary {

class XEVDevice;

namespace detail {

/**
 * Checks the pending window of @p device ("First Column", "Number of
 * Column", "First Line", "Number of Line") against its sensor: the window
 * fits, with at least 8 lines and 8 columns (56 with an info line). On the
 * first violation it calls @p resetPending, then raises the XEVException that
 * names it; otherwise returns true.
 */
bool checkPendingWindow(const XEVDevice& device, bool infoLine,
                        const std::function<void()>& resetPending);

} // namespace detail
} // namespace XEVLibrary
