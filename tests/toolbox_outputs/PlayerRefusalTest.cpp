#include "XEVException.h"
#include "XEVPlayer.h"
#include "toolbox/MultiPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

// Runs in a child process (death test): changes the environment, tries a
// player and exits 0 when the expected refusal came, printing what came.
void tryPlayerWithout(const char* display, const std::string& expected) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    if (display == nullptr)
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", display, 1);
    try {
        XEVPlayer player("xev-no-display");
        std::fprintf(stderr, "no refusal\n");
    } catch (const XEVException& error) {
        std::fprintf(stderr, "refused: %s\n", error.what());
        std::exit(error.what() == expected ? 0 : 2);
    }
    std::exit(1);
}

} // namespace

const std::string Refused = "Error : XEVPlayer(xev-no-display): no display available: ";

TEST(PlayerRefusal, NoOrEmptyDisplayVariableIsRefusedWithoutEndingTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(tryPlayerWithout(nullptr, Refused + "DISPLAY is not set."),
                ::testing::ExitedWithCode(0), "refused");
    EXPECT_EXIT(tryPlayerWithout("", Refused + "DISPLAY is not set."), ::testing::ExitedWithCode(0),
                "refused");
}

TEST(PlayerRefusal, UnreachableXServerIsRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(tryPlayerWithout(":4711", Refused + "cannot connect to the X server :4711."),
                ::testing::ExitedWithCode(0), "refused");
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
        ::testing::ExitedWithCode(0),
        "the Wayland socket /nonexistent-xev/xev-no-such-socket does not exist");
}

TEST(PlayerRefusal, WindowNameMustNotBeEmpty) {
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        try {
            XEVPlayer player(name);
            ADD_FAILURE();
        } catch (const XEVException& error) {
            EXPECT_STREQ(error.what(), "Error : XEVPlayer: the window name cannot be empty.");
        }
    }
}
