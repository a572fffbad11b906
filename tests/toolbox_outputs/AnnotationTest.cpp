#include "FrameCapture.h"
#include "XEVAddText.h"
#include "XEVImageOverlay.h"
#include "XEVTimestamp.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <functional>
#include <memory>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using XEVTest::FrameCapture;
using XEVTest::ProductionGuard;
using XEVTest::writeFrame;

namespace {

// Runs @p inputs through @p filter (frame numbers 1, 2 ...), waits until a
// frame came out of it and stops: exactly one must have come out (frame(0)
// throws when none did).
std::unique_ptr<FrameCapture> runThrough(XEVFilter& filter, const std::vector<cv::Mat>& inputs) {
    auto capture = std::make_unique<FrameCapture>();
    XEVFrameProducer source(4);
    source << filter;
    filter << *capture;
    {
        ProductionGuard running(source);
        uint64_t number = 1;
        for (const cv::Mat& input : inputs)
            writeFrame(source, input, number++);
        EXPECT_TRUE(capture->waitForFrames(1));
    }
    EXPECT_EQ(capture->count(), 1u);
    return capture;
}

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

cv::Mat withText(const cv::Mat& input, const std::string& text, int x, int y, double scale) {
    cv::Mat expected = input.clone();
    cv::putText(expected, text, cv::Point(x, y), cv::FONT_HERSHEY_DUPLEX | cv::FONT_ITALIC, scale,
                cv::Scalar(255, 255, 255, 255), 2, cv::LINE_8);
    return expected;
}

bool equal(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

TEST(Timestamp, TextFormatLeavesMinutesUnpadded) {
    const struct {
        std::time_t when;
        const char* text;
    } cases[] = {
        {localTime(2026, 12, 5, 8, 3, 7), "Day : 5/12/2026; Time : 08:3:07"},
        {localTime(2027, 1, 31, 23, 59, 0), "Day : 31/1/2027; Time : 23:59:00"},
        {localTime(2000, 2, 29, 0, 0, 9), "Day : 29/2/2000; Time : 00:0:09"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(XEVTimestamp::text(c.when), c.text);
}

TEST(Timestamp, DrawsTheInjectedTimeOnACopy) {
    XEVTimestamp stamp(10, 40, 0.8, 4);
    const std::time_t when = localTime(2026, 12, 5, 8, 3, 7);
    stamp.setClock([when] { return when; });
    const cv::Mat input = XEVTest::gradientFrame(320, 64);
    const cv::Mat original = input.clone();
    const auto capture = runThrough(stamp, {input});
    EXPECT_TRUE(equal(capture->frame(0),
                      withText(original, "Day : 5/12/2026; Time : 08:3:07", 10, 40, 0.8)));
    EXPECT_FALSE(equal(capture->frame(0), original));
    EXPECT_TRUE(equal(input, original));
    EXPECT_EQ(capture->info(0).frameNumber, 1u);
    EXPECT_FLOAT_EQ(capture->info(0).temperature, 21.5f);
}

TEST(AddText, DrawsTheTextAndClipsAtTheBorder) {
    const struct {
        int x, y;
        bool visible;
    } cases[] = {{5, 30, true},
                 {-20, 5, true},
                 {150, 70, true},
                 {INT_MIN / 2, 30, false},
                 {5, INT_MAX / 2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        XEVAddText text("XEV 42", c.x, c.y, 1.0, 4);
        const cv::Mat input = XEVTest::gradientFrame(160, 64, c.x);
        const auto capture = runThrough(text, {input});
        EXPECT_TRUE(
            equal(capture->frame(0), c.visible ? withText(input, "XEV 42", c.x, c.y, 1.0) : input));
        EXPECT_EQ(!equal(capture->frame(0), input), c.visible);
    }
}

TEST(Annotation, FramesThatAreNotGreyBytesYieldNothing) {
    XEVTest::TempDir dir;
    const std::string picture = dir.path() + "/picture.png";
    ASSERT_TRUE(cv::imwrite(picture, cv::Mat(8, 8, CV_8UC1, cv::Scalar(255))));
    using Factory = std::function<std::unique_ptr<XEVFilter>()>;
    const Factory factories[] = {
        [] { return std::unique_ptr<XEVFilter>(new XEVTimestamp(0, 20, 1.0, 4)); },
        [] { return std::unique_ptr<XEVFilter>(new XEVAddText("abc", 0, 20, 1.0, 4)); },
        [&] { return std::unique_ptr<XEVFilter>(new XEVImageOverlay(picture, 0, 0, 1.0, 4)); },
    };
    const int badTypes[] = {CV_16UC1, CV_8UC3, CV_32FC1, CV_8SC1};
    for (const Factory& make : factories) {
        for (int type : badTypes) {
            SCOPED_TRACE(type);
            auto filter = make();
            // A wrong frame, then a good one: only the good one comes out.
            const auto capture = runThrough(*filter, {cv::Mat(48, 64, type, cv::Scalar::all(7)),
                                                      XEVTest::gradientFrame(64, 48)});
            EXPECT_EQ(capture->info(0).frameNumber, 2u);
            EXPECT_EQ(capture->frame(0).type(), CV_8UC1);
        }
    }
}

class Overlay : public ::testing::Test {
protected:
    void SetUp() override {
        m_picture = cv::Mat(6, 10, CV_8UC1);
        for (int r = 0; r < m_picture.rows; ++r)
            for (int c = 0; c < m_picture.cols; ++c)
                m_picture.at<uint8_t>(r, c) = static_cast<uint8_t>(200 + r * 10 + c);
        ASSERT_TRUE(cv::imwrite(m_dir.path() + "/picture.png", m_picture));
    }
    cv::Mat run(int x, int y, double alpha, const cv::Mat& input) {
        XEVImageOverlay overlay(m_dir.path() + "/picture.png", x, y, alpha, 4);
        EXPECT_TRUE(overlay.hasPicture());
        const auto capture = runThrough(overlay, {input});
        return capture->count() ? capture->frame(0) : cv::Mat();
    }
    XEVTest::TempDir m_dir;
    cv::Mat m_picture;
};

TEST_F(Overlay, CopiesTheVisiblePartAndNeverDrawsOutsideTheFrame) {
    const struct {
        int x, y;
        double alpha;
        cv::Rect covered; // frame area covered by the picture
    } cases[] = {
        {-3, -2, 1.0, cv::Rect(0, 0, 7, 4)}, // from its first visible row and column
        {4, 4, 0.0, cv::Rect()},             // alpha 0 leaves the frame unchanged
        {28, 13, 1.0, cv::Rect(28, 13, 4, 3)},
        {-9, -5, 1.0, cv::Rect(0, 0, 1, 1)},
        {-10, 0, 1.0, cv::Rect()},
        {32, 0, 1.0, cv::Rect()},
        {0, 16, 1.0, cv::Rect()},
        {INT_MIN, INT_MIN, 1.0, cv::Rect()},
        {INT_MAX, INT_MAX, 1.0, cv::Rect()},
        {INT_MAX - 5, 0, 1.0, cv::Rect()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        const cv::Mat input = XEVTest::gradientFrame(32, 16);
        cv::Mat expected = input.clone();
        if (!c.covered.empty())
            m_picture(c.covered - cv::Point(c.x, c.y)).copyTo(expected(c.covered));
        EXPECT_TRUE(equal(run(c.x, c.y, c.alpha, input), expected));
    }
}

TEST_F(Overlay, BlendTruncatesTowardZero) {
    const cv::Mat input(16, 32, CV_8UC1, cv::Scalar(101));
    const cv::Mat out = run(5, 3, 0.5, input);
    cv::Mat expected = input.clone();
    for (int r = 0; r < m_picture.rows; ++r)
        for (int c = 0; c < m_picture.cols; ++c) // (p + 101) / 2, fraction dropped
            expected.at<uint8_t>(3 + r, 5 + c) =
                static_cast<uint8_t>((m_picture.at<uint8_t>(r, c) + 101) / 2);
    EXPECT_EQ(out.at<uint8_t>(3, 5), 150); // 200 * 0.5 + 101 * 0.5 = 150.5
    EXPECT_TRUE(equal(out, expected));
}

TEST(OverlayFile, UnreadablePictureDrawsNothing) {
    XEVImageOverlay overlay("/nonexistent/xev-picture.png", 0, 0, 1.0, 4);
    EXPECT_FALSE(overlay.hasPicture());
    const cv::Mat input = XEVTest::gradientFrame(16, 8);
    const auto capture = runThrough(overlay, {input});
    EXPECT_TRUE(equal(capture->frame(0), input));
}
