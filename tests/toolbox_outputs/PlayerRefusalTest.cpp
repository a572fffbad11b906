#include "TestSupport.h"
#include "XEVPlayer.h"
#include "toolbox/MultiPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

// Runs in a child process (death test): sets DISPLAY (unsets it for null),
// tries a player and exits 0 when it was refused with @p expected.
void tryPlayerWith(const char* display, const std::string& expected) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
    const std::string got = XEVTest::messageOf([] { XEVPlayer player("xev-no-display"); });
    std::fprintf(stderr, "refused: %s\n", got.c_str());
    const std::string refusal = "Error : XEVPlayer(xev-no-display): no display available: ";
    std::exit(got == refusal + expected ? 0 : 1);
}

} // namespace

TEST(PlayerRefusal, NoOrEmptyOrUnreachableDisplayIsRefusedWithoutEndingTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(tryPlayerWith(nullptr, "DISPLAY is not set."), testing::ExitedWithCode(0),
                "refused");
    EXPECT_EXIT(tryPlayerWith("", "DISPLAY is not set."), testing::ExitedWithCode(0), "refused");
    EXPECT_EXIT(tryPlayerWith(":4711", "cannot connect to the X server :4711."),
                testing::ExitedWithCode(0), "refused");
}

TEST(PlayerRefusal, ProbeFollowsTheQtPlatform) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("QT_QPA_PLATFORM", "wayland", 1);
            setenv("WAYLAND_DISPLAY", "xev-no-such-socket", 1);
            setenv("XDG_RUNTIME_DIR", "/nonexistent-xev", 1);
            std::string reason;
            const bool wayland = probeDisplay(reason);
            std::fprintf(stderr, "%s\n", reason.c_str());
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::exit(!wayland && probeDisplay(reason) ? 0 : 1);
        },
        testing::ExitedWithCode(0),
        "the Wayland socket /nonexistent-xev/xev-no-such-socket does not exist");
}

TEST(PlayerRefusal, WindowNameMustNotBeEmpty) {
    for (const char* name : {static_cast<const char*>(nullptr), ""})
        EXPECT_EQ(XEVTest::messageOf([name] { XEVPlayer player(name); }),
                  "Error : XEVPlayer: the window name cannot be empty.");
}
