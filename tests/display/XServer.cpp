#include "XServer.h"

// gtest before Xlib: Xlib's macros (None, Bool ...) break gtest's headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace XEVTest {

namespace {

pid_t g_xvfb = -1;
Display* g_keepAlive = nullptr;

Display* connect() {
    // A server that resets after its last client left refuses for a moment.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr))
            return display;
        usleep(50000);
    }
    return nullptr;
}

bool startXvfb(std::string& reason) {
    int fds[2];
    if (pipe(fds) != 0) {
        reason = "pipe failed";
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        reason = "fork failed";
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        // Quiet, and gone with the test program even when it is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    g_xvfb = child;
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (poll(&ready, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        reason = "Xvfb did not start (is it installed?)";
        return false;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

class XServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        if (g_keepAlive != nullptr) {
            XCloseDisplay(g_keepAlive);
            g_keepAlive = nullptr;
        }
        if (g_xvfb > 0) {
            kill(g_xvfb, SIGTERM);
            int status = 0;
            waitpid(g_xvfb, &status, 0);
            g_xvfb = -1;
        }
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new XServerEnvironment);

bool titleOf(Display* display, Window window, const std::string& title) {
    XTextProperty name;
    if (XGetWMName(display, window, &name) == 0 || name.value == nullptr)
        return false;
    const bool same = std::string(reinterpret_cast<const char*>(name.value), name.nitems) == title;
    XFree(name.value);
    return same;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

// The first viewable window titled @p title: Qt keeps hidden helper windows
// with the same title.
Window findWindow(Display* display, Window root, const std::string& title) {
    if (titleOf(display, root, title) && viewable(display, root))
        return root;
    Window parent, rootReturn;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) == 0)
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i)
        found = findWindow(display, children[i], title);
    if (children != nullptr)
        XFree(children);
    return found;
}

} // namespace

bool ensureXServer(std::string& reason) {
    if (g_keepAlive != nullptr)
        return true;
    // Held for the run: an X server whose last client leaves resets itself
    // and refuses connections meanwhile.
    g_keepAlive = connect();
    if (g_keepAlive == nullptr && startXvfb(reason))
        g_keepAlive = connect();
    if (g_keepAlive == nullptr && reason.empty())
        reason = "the X server cannot be reached";
    return g_keepAlive != nullptr;
}

bool windowExists(const std::string& title) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    const bool found = findWindow(display, DefaultRootWindow(display), title) != 0;
    XCloseDisplay(display);
    return found;
}

cv::Mat grabWindow(const std::string& title) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return cv::Mat();
    cv::Mat result;
    const Window window = findWindow(display, DefaultRootWindow(display), title);
    XWindowAttributes attributes;
    int left = 0, top = 0;
    Window child;
    if (window != 0 && XGetWindowAttributes(display, window, &attributes) != 0 &&
        attributes.map_state == IsViewable &&
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &left, &top,
                              &child) != 0) {
        // Only the part on the screen can be read (the toolbar may be wider).
        const int width = std::min(attributes.width, DisplayWidth(display, 0) - left);
        const int height = std::min(attributes.height, DisplayHeight(display, 0) - top);
        XImage* image = (width > 0 && height > 0 && left >= 0 && top >= 0)
                            ? XGetImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap)
                            : nullptr;
        if (image != nullptr) {
            result.create(height, width, CV_8UC3);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const unsigned long pixel = XGetPixel(image, x, y);
                    result.at<cv::Vec3b>(y, x) =
                        cv::Vec3b(pixel & 0xFF, (pixel >> 8) & 0xFF, (pixel >> 16) & 0xFF);
                }
            }
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return result;
}

} // namespace XEVTest

// The window system's own libraries keep a few allocations until exit; they
// are not the library's leaks. Read by LeakSanitizer when it is linked in.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libQt5\n";
}

// The same libraries run their own threads, built without ThreadSanitizer.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt5Core.so\nrace:libQt5Gui.so\nrace:libQt5Widgets.so\n"
           "race:libQt5XcbQpa.so\nrace:libglib-2.0.so\ncalled_from_lib:libdbus-1.so\n"
           "called_from_lib:libgdal.so\ndeadlock:libgdal.so\n";
}
