#pragma once

#include "XEVObserver.h"

#include <memory>
#include <string>

namespace XEVLibrary {
namespace XEVToolBox {

/**
 * Shows the frames it receives in an on-screen window.
 *
 * Every window of the process is served by one display thread, which makes
 * all window-system calls; onNewFrame() only hands a copy of the frame over.
 * When frames come faster than the window shows them, the window shows the
 * latest one and skips the others.
 *
 * Construction throws an XEVException when no display can be reached (no
 * DISPLAY, or the X server refuses the connection), instead of letting the
 * window system end the process. Destroying the player closes its window.
 */
class XEVPlayer : public XEVObserver {
public:
    /// Opens a window titled @p windowName; raises an XEVException when no
    /// display can be reached.
    explicit XEVPlayer(const char* windowName);
    ~XEVPlayer() override;

    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override;

    /// The window's number among all windows of the process.
    int windowNumber() const;
    /// The window's title.
    const std::string& windowName() const;

private:
    struct Window;
    std::unique_ptr<Window> m_window;
};

} // namespace XEVToolBox
} // namespace XEVLibrary
