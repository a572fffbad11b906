#include "FrameCapture.h"
#include "XEVException.h"
#include "XEVRecordAVI.h"

#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using XEVTest::FrameCapture;
using XEVTest::ProductionGuard;
using XEVTest::TempDir;
using XEVTest::writeFrame;

namespace {

struct ReadBack {
    int frames = 0;
    cv::Size size;
    std::vector<double> means;
};

ReadBack readVideo(const std::string& path) {
    ReadBack result;
    cv::VideoCapture video(path, cv::CAP_FFMPEG);
    EXPECT_TRUE(video.isOpened()) << path;
    cv::Mat frame;
    while (video.read(frame)) {
        ++result.frames;
        result.size = frame.size();
        result.means.push_back(cv::mean(frame)[0]);
    }
    return result;
}

// Writes @p frames (uniform grey levels) through @p recorder, waiting for each
// to come out behind it.
void record(XEVRecordAVI& recorder, const std::vector<cv::Mat>& frames) {
    XEVFrameProducer source(4);
    FrameCapture behind;
    source << recorder;
    recorder << behind;
    {
        ProductionGuard running(source);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            writeFrame(source, frames[i], i + 1);
            ASSERT_TRUE(behind.waitForFrames(i + 1));
        }
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(cv::norm(behind.frame(i), frames[i], cv::NORM_INF), 0);
            EXPECT_EQ(behind.info(i).frameNumber, i + 1);
        }
    }
    EXPECT_EQ(recorder.lastError(), nullptr) << recorder.lastErrorMessage();
}

} // namespace

TEST(RecordAVI, CodecMustHaveFourCharacters) {
    for (const char* codec : {"", "FMP", "FMP42"}) {
        try {
            XEVRecordAVI recorder("/tmp/unused.avi", codec, 64, 48, 25.0, false, 4);
            ADD_FAILURE() << codec;
        } catch (const XEVException& error) {
            EXPECT_EQ(std::string(error.what()), std::string("Error : XEVRecordAVI: the codec must "
                                                             "have four characters: '") +
                                                     codec + "' provided.");
        }
    }
}

TEST(RecordAVI, ColourVideoHoldsEveryFrameWritten) {
    TempDir dir;
    const std::string path = dir.path() + "/colour.avi";
    XEVRecordAVI recorder(path, 640, 512, 25.0, true, 4);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 8; ++i)
        frames.emplace_back(508, 636, CV_8UC3, cv::Scalar::all(20 + 25 * i));
    record(recorder, frames);
    const ReadBack video = readVideo(path);
    EXPECT_EQ(video.frames, 8);
    EXPECT_EQ(video.size, cv::Size(636, 508));
    for (std::size_t i = 0; i < video.means.size(); ++i)
        EXPECT_NEAR(video.means[i], 20 + 25 * int(i), 6.0) << i;
}

TEST(RecordAVI, GreyVideoHoldsEveryFrameWrittenWithTheGivenCodec) {
    TempDir dir;
    const std::string path = dir.path() + "/grey.avi";
    XEVRecordAVI recorder(path, "MJPG", 320, 256, 30.0, false, 4);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i)
        frames.emplace_back(256, 320, CV_8UC1, cv::Scalar(200 - 30 * i));
    record(recorder, frames);
    const ReadBack video = readVideo(path);
    EXPECT_EQ(video.frames, 5);
    EXPECT_EQ(video.size, cv::Size(320, 256));
    for (std::size_t i = 0; i < video.means.size(); ++i)
        EXPECT_NEAR(video.means[i], 200 - 30 * int(i), 6.0) << i;
}

TEST(RecordAVI, FramesThatDoNotFitArePassedOnButNotRecorded) {
    TempDir dir;
    const std::string path = dir.path() + "/mixed.avi";
    XEVRecordAVI recorder(path, 640, 512, 25.0, true, 4);
    const std::vector<cv::Mat> frames = {
        cv::Mat(508, 636, CV_8UC3, cv::Scalar::all(60)),
        cv::Mat(512, 640, CV_8UC3, cv::Scalar::all(90)), // sensor size: does not fit
        cv::Mat(508, 636, CV_8UC1, cv::Scalar(120)),     // grey: does not fit
        cv::Mat(508, 636, CV_8UC3, cv::Scalar::all(150)),
    };
    record(recorder, frames);
    const ReadBack video = readVideo(path);
    ASSERT_EQ(video.frames, 2);
    EXPECT_NEAR(video.means[0], 60, 6.0);
    EXPECT_NEAR(video.means[1], 150, 6.0);
}

TEST(RecordAVI, UnopenableFileEndsTheReadingWithAnError) {
    XEVRecordAVI recorder("/nonexistent-xev/video.avi", 64, 48, 25.0, false, 4);
    XEVFrameProducer source(4);
    source << recorder;
    ProductionGuard running(source);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return recorder.lastError() != nullptr; }));
    EXPECT_EQ(recorder.lastErrorMessage(),
              "Error : XEVRecordAVI: cannot open the video file "
              "/nonexistent-xev/video.avi (codec FMP4, 64x48, 25 fps).");
}
