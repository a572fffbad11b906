#pragma once

#include <opencv2/core/mat.hpp>

#include <string>

namespace XEVTest {

/// Makes sure DISPLAY names a reachable X server for the whole test program:
/// the one already named, or a private Xvfb started for the run (stopped at
/// the end). Returns false, with the reason, when neither works.
bool ensureXServer(std::string& reason);

/// True when a viewable window titled @p title exists on the X server.
bool windowExists(const std::string& title);

/// The content of the window titled @p title as an 8-bit BGR image (empty
/// when the window does not exist or cannot be read).
cv::Mat grabWindow(const std::string& title);

} // namespace XEVTest
