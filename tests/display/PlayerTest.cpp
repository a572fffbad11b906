#include "XEVPlayer.h"
#include "tests/toolbox_outputs/FrameCapture.h"
#include "toolbox/MultiPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

// Last: Xlib's macros (None, Bool ...) break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVTest;

namespace {

using Connection = std::unique_ptr<Display, int (*)(Display*)>;

// A server that resets after its last client left refuses for a moment.
Connection connect(std::chrono::milliseconds patience = {}) {
    Connection display(nullptr, XCloseDisplay);
    waitUntil([&] { return (display.reset(XOpenDisplay(nullptr)), display != nullptr); }, patience);
    return display;
}

// Held for the run: an X server whose last client leaves resets itself and
// refuses connections meanwhile.
Connection g_keepAlive(nullptr, XCloseDisplay);

// Starts a private Xvfb and names it in DISPLAY once it accepts connections.
bool startXvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        // Quiet, and ended with the test program even when that is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0",
               "1280x1024x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    for (char c; child > 0 && poll(&ready, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';)
        number += c;
    close(fds[0]);
    return !number.empty() && setenv("DISPLAY", (":" + number).c_str(), 1) == 0;
}

// The first viewable window titled @p title at or under @p window: Qt keeps
// hidden helper windows with the same title.
Window findWindow(Display* display, Window window, const std::string& title) {
    XTextProperty name;
    XWindowAttributes attributes;
    if (XGetWMName(display, window, &name) != 0 && name.value != nullptr) {
        const bool same = std::string(reinterpret_cast<char*>(name.value), name.nitems) == title;
        XFree(name.value);
        if (same && XGetWindowAttributes(display, window, &attributes) != 0 &&
            attributes.map_state == IsViewable)
            return window;
    }
    Window root, parent, found = 0, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display, window, &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && found == 0; ++i)
        found = findWindow(display, children[i], title);
    if (children != nullptr)
        XFree(children);
    return found;
}

// Pixels of the window titled @p title (of its part on the screen) whose
// three colour channels all equal @p level; -1 when there is no such window.
int pixelsOf(const std::string& title, uint8_t level) {
    const Connection x = connect();
    const Window window = x ? findWindow(x.get(), DefaultRootWindow(x.get()), title) : 0;
    XWindowAttributes attributes;
    int left = 0, top = 0;
    Window child;
    if (window == 0 || XGetWindowAttributes(x.get(), window, &attributes) == 0 ||
        XTranslateCoordinates(x.get(), window, DefaultRootWindow(x.get()), 0, 0, &left, &top,
                              &child) == 0)
        return -1;
    // Only the part on the screen can be read (the toolbar may be wider).
    const int width = std::min(attributes.width, DisplayWidth(x.get(), 0) - left);
    const int height = std::min(attributes.height, DisplayHeight(x.get(), 0) - top);
    XImage* image = width > 0 && height > 0 && left >= 0 && top >= 0
                        ? XGetImage(x.get(), window, 0, 0, width, height, AllPlanes, ZPixmap)
                        : nullptr;
    int count = 0;
    for (int y = 0; image != nullptr && y < height; ++y)
        for (int xx = 0; xx < width; ++xx)
            count += (XGetPixel(image, xx, y) & 0xFFFFFF) == level * 0x010101ul;
    if (image != nullptr)
        XDestroyImage(image);
    return count;
}

bool windowExists(const std::string& title) {
    return pixelsOf(title, 0) >= 0;
}

class Player : public ::testing::Test {
protected:
    // DISPLAY names a reachable X server for the whole test program: the one
    // already named, or a private Xvfb started for the run.
    void SetUp() override {
        if (!g_keepAlive)
            g_keepAlive = connect(std::chrono::milliseconds(250));
        if (!g_keepAlive && startXvfb())
            g_keepAlive = connect(std::chrono::milliseconds(250));
        if (!g_keepAlive)
            GTEST_SKIP() << "no X server can be reached, and Xvfb did not start (installed?)";
    }
};

uint64_t shown(const XEVPlayer& player) {
    return MultiPlayer::Instance().shownFrameCount(player.windowNumber());
}

// Writes @p image into @p source (started here) until @p done holds.
bool writeUntil(XEVFrameProducer& source, const cv::Mat& image, const std::function<bool()>& done) {
    ProductionGuard running(source);
    uint64_t number = 0;
    return waitUntil([&] {
        writeFrame(source, image, ++number);
        return done();
    });
}

// Feeds 160 x 120 frames of grey @p level to @p player until it showed
// @p frames of them.
void feed(XEVPlayer& player, uint8_t level, uint64_t frames) {
    XEVFrameProducer source(4);
    source << player;
    const uint64_t before = shown(player);
    EXPECT_TRUE(writeUntil(source, cv::Mat(120, 160, CV_8UC1, cv::Scalar(level)),
                           [&] { return shown(player) >= before + frames; }))
        << "frames shown: " << shown(player) - before;
}

} // namespace

TEST_F(Player, ShowsFramesInARealWindowAndClosesIt) {
    MultiPlayer& display = MultiPlayer::Instance();
    const int openBefore = display.openWindowCount();
    {
        XEVPlayer player("xev-display-shows");
        ASSERT_TRUE(waitUntil([] { return windowExists("xev-display-shows"); }));
        EXPECT_TRUE(waitUntil([&] { return display.openWindowCount() == openBefore + 1; }));
        // The window's content is the frame: a 160 x 120 area of its grey.
        feed(player, 201, 5);
        EXPECT_TRUE(waitUntil([] { return pixelsOf("xev-display-shows", 201) >= 160 * 120; }))
            << pixelsOf("xev-display-shows", 201);
        feed(player, 37, 2);
        EXPECT_TRUE(waitUntil([] { return pixelsOf("xev-display-shows", 37) >= 160 * 120; }));
        // The old frame is gone (a few toolbar pixels may share its level).
        EXPECT_LT(pixelsOf("xev-display-shows", 201), 1000);
    }
    // Destroying the player closed the window before returning.
    EXPECT_EQ(display.openWindowCount(), openBefore);
    EXPECT_TRUE(waitUntil([] { return !windowExists("xev-display-shows"); }));
}

TEST_F(Player, PlayerAfterTheLastWindowClosedIsServed) {
    {
        XEVPlayer first("xev-display-first");
        feed(first, 90, 2);
    }
    ASSERT_EQ(MultiPlayer::Instance().openWindowCount(), 0);
    XEVPlayer second("xev-display-second");
    feed(second, 150, 3);
    EXPECT_TRUE(waitUntil([] { return pixelsOf("xev-display-second", 150) > 0; }));
    EXPECT_EQ(MultiPlayer::Instance().openWindowCount(), 1);
}

TEST_F(Player, TwoPlayersShowTheirOwnFrames) {
    auto left = std::make_unique<XEVPlayer>("xev-display-left");
    XEVPlayer right("xev-display-right");
    EXPECT_NE(left->windowNumber(), right.windowNumber());
    XEVFrameProducer source(5);
    source << *left;
    source << right;
    EXPECT_TRUE(writeUntil(source, cv::Mat(64, 80, CV_8UC1, cv::Scalar(77)),
                           [&] { return shown(*left) >= 3 && shown(right) >= 3; }));
    EXPECT_TRUE(waitUntil(
        [] { return windowExists("xev-display-left") && windowExists("xev-display-right"); }));
    left.reset();
    EXPECT_TRUE(windowExists("xev-display-right"));
    EXPECT_TRUE(waitUntil([] { return !windowExists("xev-display-left"); }));
}

// The window system's libraries keep a few allocations until exit and run
// threads of their own, built without the sanitizers.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libQt5\n";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt5Core.so\nrace:libQt5Gui.so\nrace:libQt5Widgets.so\n"
           "race:libQt5XcbQpa.so\nrace:libglib-2.0.so\ncalled_from_lib:libdbus-1.so\n"
           "called_from_lib:libgdal.so\ndeadlock:libgdal.so\n";
}
