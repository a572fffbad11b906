#include "FrameCapture.h"
#include "XEVRecordAVI.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVTest;
using testing::DoubleNear;
using testing::Pointwise;

namespace {

// Writes frames of @p levels (@p type, @p size; @p misfits after the first)
// through @p recorder, checks that each came out behind it unchanged, and
// returns the mean level of each frame of the video @p path (all of @p size).
std::vector<double> record(XEVRecordAVI& recorder, const std::string& path, int type, cv::Size size,
                           const std::vector<double>& levels,
                           const std::vector<cv::Mat>& misfits = {}) {
    std::vector<cv::Mat> frames;
    for (double level : levels)
        frames.emplace_back(size, type, cv::Scalar::all(level));
    frames.insert(frames.begin() + 1, misfits.begin(), misfits.end());
    XEVFrameProducer source(4);
    FrameCapture behind;
    source << recorder;
    recorder << behind;
    {
        ProductionGuard running(source);
        for (std::size_t i = 0; i < frames.size() && !testing::Test::HasFailure(); ++i) {
            writeFrame(source, frames[i], i + 1);
            EXPECT_TRUE(behind.waitForFrames(i + 1));
        }
    }
    for (std::size_t i = 0; i < behind.count(); ++i) {
        EXPECT_EQ(cv::norm(behind.frame(i), frames.at(i), cv::NORM_INF), 0);
        EXPECT_EQ(behind.info(i).frameNumber, i + 1);
    }
    EXPECT_EQ(recorder.lastError(), nullptr) << recorder.lastErrorMessage();
    std::vector<double> means;
    cv::VideoCapture video(path, cv::CAP_FFMPEG);
    EXPECT_TRUE(video.isOpened());
    for (cv::Mat frame; video.read(frame); means.push_back(cv::mean(frame)[0]))
        EXPECT_EQ(frame.size(), size);
    return means;
}

} // namespace

TEST(RecordAVI, CodecMustHaveFourCharacters) {
    for (const std::string codec : {"", "FMP", "FMP42"})
        EXPECT_EQ(messageOf([&] { XEVRecordAVI("/tmp/unused.avi", codec, 64, 48, 25, false, 4); }),
                  "Error : XEVRecordAVI: the codec must have four characters: '" + codec +
                      "' provided.");
}

TEST(RecordAVI, ColourAndGreyVideosHoldEveryFrameWritten) {
    TempDir dir;
    XEVRecordAVI colour(dir.file("colour.avi"), 640, 512, 25.0, true, 4); // default codec
    XEVRecordAVI grey(dir.file("grey.avi"), "MJPG", 320, 256, 30.0, false, 4);
    const std::vector<double> levels = {20, 45, 70, 95, 120, 145, 170, 195};
    EXPECT_THAT(record(colour, dir.file("colour.avi"), CV_8UC3, {636, 508}, levels),
                Pointwise(DoubleNear(6.0), levels));
    EXPECT_THAT(record(grey, dir.file("grey.avi"), CV_8UC1, {320, 256}, levels),
                Pointwise(DoubleNear(6.0), levels));
}

TEST(RecordAVI, FramesThatDoNotFitArePassedOnButNotRecorded) {
    TempDir dir;
    XEVRecordAVI recorder(dir.file("mixed.avi"), 640, 512, 25.0, true, 4);
    // A colour frame of the sensor's size and a grey one do not fit.
    const std::vector<cv::Mat> misfits = {cv::Mat(512, 640, CV_8UC3, cv::Scalar::all(90)),
                                          cv::Mat(508, 636, CV_8UC1, cv::Scalar(120))};
    EXPECT_THAT(record(recorder, dir.file("mixed.avi"), CV_8UC3, {636, 508}, {60, 150}, misfits),
                Pointwise(DoubleNear(6.0), std::vector<double>{60, 150}));
}

TEST(RecordAVI, UnopenableFileEndsTheReadingWithAnError) {
    XEVRecordAVI recorder("/nonexistent-xev/video.avi", 64, 48, 25.0, false, 4);
    XEVFrameProducer source(4);
    source << recorder;
    ProductionGuard running(source);
    ASSERT_TRUE(waitUntil([&] { return recorder.lastError() != nullptr; }));
    EXPECT_EQ(recorder.lastErrorMessage(),
              "Error : XEVRecordAVI: cannot open the video file "
              "/nonexistent-xev/video.avi (codec FMP4, 64x48, 25 fps).");
}
