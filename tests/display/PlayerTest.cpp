#include "TestSupport.h"
#include "XEVFrameProducer.h"
#include "XEVPlayer.h"
#include "XServer.h"
#include "toolbox/MultiPlayer.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <memory>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

class Player : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!XEVTest::ensureXServer(reason))
            GTEST_SKIP() << "no X server for the display tests: " << reason;
    }
};

void writeFrame(XEVFrameProducer& producer, const cv::Mat& image, uint64_t number) {
    producer.ensureFrameFormat(image.cols, image.rows, image.type(), 0);
    image.copyTo(*producer.lockFrameForWrite());
    XEVFrameInfo info;
    info.frameNumber = number;
    producer.unlockFrameForWrite(info);
}

// Pixels of the window that have exactly the grey level @p level.
int pixelsOf(const std::string& title, int level) {
    const cv::Mat window = XEVTest::grabWindow(title);
    if (window.empty())
        return 0;
    cv::Mat mask;
    cv::inRange(window, cv::Scalar::all(level), cv::Scalar::all(level), mask);
    return cv::countNonZero(mask);
}

// Feeds uniform frames of @p level to @p player until its window showed
// @p frames of them.
void feed(XEVPlayer& player, uint8_t level, uint64_t frames) {
    XEVFrameProducer source(4);
    source << player;
    source.startProduction();
    MultiPlayer& display = MultiPlayer::Instance();
    const uint64_t before = display.shownFrameCount(player.windowNumber());
    const cv::Mat image(120, 160, CV_8UC1, cv::Scalar(level));
    uint64_t number = 0;
    const bool shown = XEVTest::waitUntil([&] {
        writeFrame(source, image, ++number);
        return display.shownFrameCount(player.windowNumber()) >= before + frames;
    });
    source.stopProduction(true);
    EXPECT_TRUE(shown) << "frames shown: "
                       << display.shownFrameCount(player.windowNumber()) - before;
}

} // namespace

TEST_F(Player, ShowsFramesInARealWindowAndClosesIt) {
    MultiPlayer& display = MultiPlayer::Instance();
    const int openBefore = display.openWindowCount();
    {
        XEVPlayer player("xev-display-shows");
        ASSERT_TRUE(XEVTest::waitUntil([] { return XEVTest::windowExists("xev-display-shows"); }));
        EXPECT_TRUE(
            XEVTest::waitUntil([&] { return display.openWindowCount() == openBefore + 1; }));
        feed(player, 201, 5);
        // The window's content is the frame: a 160 x 120 area of grey 201.
        EXPECT_TRUE(XEVTest::waitUntil([] {
            return pixelsOf("xev-display-shows", 201) >= 160 * 120;
        })) << pixelsOf("xev-display-shows", 201);
        feed(player, 37, 2);
        EXPECT_TRUE(
            XEVTest::waitUntil([] { return pixelsOf("xev-display-shows", 37) >= 160 * 120; }));
        // The old frame is gone (a few toolbar pixels may share its level).
        EXPECT_LT(pixelsOf("xev-display-shows", 201), 1000);
    }
    // Destroying the player closed the window before returning.
    EXPECT_EQ(display.openWindowCount(), openBefore);
    EXPECT_TRUE(XEVTest::waitUntil([] { return !XEVTest::windowExists("xev-display-shows"); }));
}

TEST_F(Player, PlayerAfterTheLastWindowClosedIsServed) {
    MultiPlayer& display = MultiPlayer::Instance();
    {
        XEVPlayer first("xev-display-first");
        feed(first, 90, 2);
    }
    ASSERT_EQ(display.openWindowCount(), 0);
    XEVPlayer second("xev-display-second");
    feed(second, 150, 3);
    EXPECT_TRUE(XEVTest::waitUntil([] { return pixelsOf("xev-display-second", 150) > 0; }));
    EXPECT_EQ(display.openWindowCount(), 1);
}

TEST_F(Player, TwoPlayersShowTheirOwnFrames) {
    auto left = std::make_unique<XEVPlayer>("xev-display-left");
    auto right = std::make_unique<XEVPlayer>("xev-display-right");
    EXPECT_NE(left->windowNumber(), right->windowNumber());
    XEVFrameProducer source(5);
    source << *left;
    source << *right;
    source.startProduction();
    MultiPlayer& display = MultiPlayer::Instance();
    const cv::Mat image(64, 80, CV_8UC1, cv::Scalar(77));
    uint64_t number = 0;
    const bool shown = XEVTest::waitUntil([&] {
        writeFrame(source, image, ++number);
        return display.shownFrameCount(left->windowNumber()) >= 3 &&
               display.shownFrameCount(right->windowNumber()) >= 3;
    });
    source.stopProduction(true);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(XEVTest::waitUntil([] {
        return XEVTest::windowExists("xev-display-left") &&
               XEVTest::windowExists("xev-display-right");
    }));
    left.reset();
    EXPECT_TRUE(XEVTest::windowExists("xev-display-right"));
    EXPECT_TRUE(XEVTest::waitUntil([] { return !XEVTest::windowExists("xev-display-left"); }));
}
