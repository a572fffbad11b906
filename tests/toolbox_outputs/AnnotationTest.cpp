#include "FrameCapture.h"
#include "XEVAddText.h"
#include "XEVImageOverlay.h"
#include "XEVTimestamp.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <ctime>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVTest;
using XEVFilterTest::differences;

namespace {

// Runs @p inputs through @p filter (frame numbers 1, 2 ...) and returns the
// one frame that must come out of it (an empty one when none did).
std::pair<cv::Mat, XEVFrameInfo> runThrough(XEVFilter& filter, const std::vector<cv::Mat>& inputs) {
    FrameCapture capture;
    XEVFrameProducer source(4);
    source << filter;
    filter << capture;
    {
        ProductionGuard running(source);
        for (std::size_t i = 0; i < inputs.size(); ++i)
            writeFrame(source, inputs[i], i + 1);
        EXPECT_TRUE(capture.waitForFrames(1));
    }
    EXPECT_EQ(capture.count(), 1u);
    return capture.count() ? std::make_pair(capture.frame(0), capture.info(0))
                           : std::make_pair(cv::Mat(), XEVFrameInfo());
}

// @p when ("2026-12-05 08:03:07") in the local time zone.
std::time_t localTime(const char* when) {
    std::tm tm{};
    EXPECT_NE(strptime(when, "%Y-%m-%d %H:%M:%S", &tm), nullptr) << when;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

cv::Mat withText(const cv::Mat& input, const std::string& text, int x, int y, double scale) {
    cv::Mat expected = input.clone();
    cv::putText(expected, text, cv::Point(x, y), cv::FONT_HERSHEY_DUPLEX | cv::FONT_ITALIC, scale,
                cv::Scalar(255, 255, 255, 255), 2, cv::LINE_8);
    return expected;
}

} // namespace

TEST(Timestamp, TextFormatLeavesMinutesUnpadded) {
    const std::pair<const char*, const char*> cases[] = {
        {"2026-12-05 08:03:07", "Day : 5/12/2026; Time : 08:3:07"},
        {"2027-01-31 23:59:00", "Day : 31/1/2027; Time : 23:59:00"},
        {"2000-02-29 00:00:09", "Day : 29/2/2000; Time : 00:0:09"}};
    for (const auto& [when, text] : cases)
        EXPECT_EQ(XEVTimestamp::text(localTime(when)), text);
}

TEST(Timestamp, DrawsTheInjectedTimeOnACopy) {
    XEVTimestamp stamp(10, 40, 0.8, 4);
    const std::time_t when = localTime("2026-12-05 08:03:07");
    stamp.setClock([when] { return when; });
    const cv::Mat input = gradientFrame(320, 64), original = input.clone();
    const auto [out, info] = runThrough(stamp, {input});
    EXPECT_EQ(differences(out, withText(original, "Day : 5/12/2026; Time : 08:3:07", 10, 40, 0.8)),
              0);
    EXPECT_GT(differences(out, original), 0);
    EXPECT_EQ(differences(input, original), 0);
    EXPECT_EQ(info.frameNumber, 1u);
    EXPECT_FLOAT_EQ(info.temperature, 21.5f);
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
        const cv::Mat input = gradientFrame(160, 64, c.x);
        const cv::Mat out = runThrough(text, {input}).first;
        const cv::Mat expected = c.visible ? withText(input, "XEV 42", c.x, c.y, 1.0) : input;
        EXPECT_EQ(differences(out, expected), 0);
        EXPECT_EQ(differences(out, input) > 0, c.visible);
    }
}

TEST(Annotation, FramesThatAreNotGreyBytesYieldNothing) {
    TempDir dir;
    ASSERT_TRUE(cv::imwrite(dir.file("picture.png"), cv::Mat(8, 8, CV_8UC1, cv::Scalar(255))));
    const std::function<std::unique_ptr<XEVFilter>()> factories[] = {
        [] { return std::make_unique<XEVTimestamp>(0, 20, 1.0, 4); },
        [] { return std::make_unique<XEVAddText>("abc", 0, 20, 1.0, 4); },
        [&] { return std::make_unique<XEVImageOverlay>(dir.file("picture.png"), 0, 0, 1.0, 4); },
    };
    for (const auto& make : factories) {
        for (int type : {CV_16UC1, CV_8UC3, CV_32FC1, CV_8SC1}) {
            SCOPED_TRACE(type);
            auto filter = make();
            // A wrong frame, then a good one: only the good one comes out.
            const auto [out, info] = runThrough(
                *filter, {cv::Mat(48, 64, type, cv::Scalar::all(7)), gradientFrame(64, 48)});
            EXPECT_EQ(info.frameNumber, 2u);
            EXPECT_EQ(out.type(), CV_8UC1);
        }
    }
}

class Overlay : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(cv::imwrite(m_dir.file("picture.png"), m_picture)); }
    cv::Mat run(int x, int y, double alpha, const cv::Mat& input) {
        XEVImageOverlay overlay(m_dir.file("picture.png"), x, y, alpha, 4);
        EXPECT_TRUE(overlay.hasPicture());
        return runThrough(overlay, {input}).first;
    }
    TempDir m_dir;
    const cv::Mat m_picture = gradientFrame(10, 6, 200); // 200 at its top left
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
        cv::Mat expected = gradientFrame(32, 16);
        if (!c.covered.empty())
            m_picture(c.covered - cv::Point(c.x, c.y)).copyTo(expected(c.covered));
        EXPECT_EQ(differences(run(c.x, c.y, c.alpha, gradientFrame(32, 16)), expected), 0);
    }
}

TEST_F(Overlay, BlendTruncatesTowardZero) {
    const cv::Mat out = run(5, 3, 0.5, cv::Mat(16, 32, CV_8UC1, cv::Scalar(101)));
    cv::Mat expected(16, 32, CV_8UC1, cv::Scalar(101));
    for (int r = 0; r < m_picture.rows; ++r)
        for (int c = 0; c < m_picture.cols; ++c) // (p + 101) / 2, fraction dropped
            expected.at<uint8_t>(3 + r, 5 + c) =
                static_cast<uint8_t>((m_picture.at<uint8_t>(r, c) + 101) / 2);
    EXPECT_EQ(out.at<uint8_t>(3, 5), 150); // 200 * 0.5 + 101 * 0.5 = 150.5
    EXPECT_EQ(differences(out, expected), 0);
}

TEST(OverlayFile, UnreadablePictureDrawsNothing) {
    XEVImageOverlay overlay("/nonexistent/xev-picture.png", 0, 0, 1.0, 4);
    EXPECT_FALSE(overlay.hasPicture());
    const cv::Mat input = gradientFrame(16, 8);
    EXPECT_EQ(differences(runThrough(overlay, {input}).first, input), 0);
}
