#include "FrameCapture.h"
#include "XEVException.h"
#include "XEVSnapshot.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using XEVTest::ProductionGuard;
using XEVTest::TempDir;
using XEVTest::writeFrame;

namespace {

/// Counts the frames the snapshot has handled, so that tests can wait.
class CountingSnapshot : public XEVSnapshot {
public:
    using XEVSnapshot::XEVSnapshot;
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        struct Count {
            std::atomic<int>& n;
            ~Count() { ++n; } // also when the frame could not be saved
        } count{handled};
        XEVSnapshot::onNewFrame(frame, info);
    }
    std::atomic<int> handled{0};
};

std::string refusal(const std::string& path, const std::string& extension, unsigned quality) {
    try {
        XEVSnapshot snapshot(path, extension, quality);
    } catch (const XEVException& error) {
        EXPECT_EQ(error.severity(), XEVException::Severity::CriticalError);
        return error.what();
    }
    return "";
}

/// Starts a producer feeding @p snapshot, asks for one snap and writes
/// @p frame as number @p number; returns once the snapshot handled it.
void snapOne(CountingSnapshot& snapshot, const cv::Mat& frame, uint64_t number) {
    XEVFrameProducer source(4);
    source << snapshot;
    ProductionGuard running(source);
    snapshot.snap();
    writeFrame(source, frame, number);
    EXPECT_TRUE(XEVTest::waitUntil([&] { return snapshot.handled.load() == 1; }));
}

} // namespace

TEST(Snapshot, ConstructionRefusalsComeInOrder) {
    TempDir dir;
    const std::string file = dir.path() + "/plain";
    std::ofstream(file) << "x";
    const std::string empty =
        "CriticalError : XEVSnapshot: file_path and extension params cannot be empty.";
    const std::string slash = "CriticalError : XEVSnapshot: file_path must end with the prefix of "
                              "the filename.\nRefer documentation.";
    const std::string gif = "CriticalError : XEVSnapshot accept '.jpeg', '.jpg', '.bmp', '.png', "
                            "'.tif' or '.tiff' as file extension: '.gif' provided.";
    const std::string quality =
        "CriticalError : XEVSnapshot: jpeg_quality must be in the range [0,100]. 101 provided.";
    const struct {
        std::string path, extension;
        unsigned quality;
        std::string message;
    } cases[] = {
        {"", "jpg", 90, empty},
        {"/tmp/shot", "", 90, empty},
        {"/tmp/", "", 101, empty},
        {"/tmp/", "gif", 101, slash},
        {"C:\\shots\\", "jpg", 90, slash},
        {"/nonexistent-xev/shot", "gif", 101, gif},
        {"/tmp/shot", ".GIF", 90, gif},
        {"/tmp/shot", "tga", 90,
         "CriticalError : XEVSnapshot accept '.jpeg', '.jpg', '.bmp', '.png', '.tif' or '.tiff' "
         "as file extension: '.tga' provided."},
        {"/nonexistent-xev/shot", "JPG", 101, quality},
        {"/tmp/shot", ".jpeg", 4294967295u,
         "CriticalError : XEVSnapshot: jpeg_quality must be in the range [0,100]. 4294967295 "
         "provided."},
        {"/nonexistent-xev/shot", "jpg", 100,
         "CriticalError : XEVSnapshot: The directory /nonexistent-xev is not accessible."},
        {file + "/shot", "bmp", 500,
         "CriticalError : XEVSnapshot: The directory " + file + " is not accessible."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusal(c.path, c.extension, c.quality), c.message) << c.path << c.extension;
    // Accepted: bmp, png and tiff ignore the quality; a bare name is in the
    // current directory.
    EXPECT_EQ(refusal(dir.path() + "/shot", "BMP", 500), "");
    EXPECT_EQ(refusal(dir.path() + "/shot", ".PNG", 500), "");
    EXPECT_EQ(refusal(dir.path() + "/shot", "tif", 500), "");
    EXPECT_EQ(refusal(dir.path() + "/shot", "tiff", 0), "");
    EXPECT_EQ(refusal(dir.path() + "/shot", "jpeg", 0), "");
    EXPECT_EQ(refusal("shot", "jpg", 100), "");
}

TEST(Snapshot, PngAndTiffKeepSixteenBitFramesWhole) {
    TempDir dir;
    cv::Mat frame(24, 32, CV_16UC1);
    cv::randu(frame, 0, 16384); // 14-bit camera values
    for (const char* extension : {"png", "tiff"}) {
        CountingSnapshot snapshot(dir.path() + "/raw", extension, 0);
        snapOne(snapshot, frame, 3);
        const cv::Mat saved = cv::imread(snapshot.fileNameFor(3), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(saved.type(), CV_16UC1) << extension;
        EXPECT_EQ(cv::norm(saved, frame, cv::NORM_INF), 0) << extension;
    }
}

TEST(Snapshot, FileNamesPadTheFrameNumberToFourDigits) {
    EXPECT_EQ(XEVSnapshot("/tmp/shot", "JPG", 90).fileNameFor(7), "/tmp/shot_0007.jpg");
    TempDir dir;
    const XEVSnapshot snapshot(dir.path() + "/cam", ".Bmp", 0);
    EXPECT_EQ(snapshot.fileNameFor(0), dir.path() + "/cam_0000.bmp");
    EXPECT_EQ(snapshot.fileNameFor(12345), dir.path() + "/cam_12345.bmp");
    EXPECT_EQ(snapshot.fileNameFor(18446744073709551615ull),
              dir.path() + "/cam_18446744073709551615.bmp");
}

TEST(Snapshot, ThreeSnapsSaveTheNextThreeFrames) {
    TempDir dir;
    CountingSnapshot snapshot(dir.path() + "/shot", "bmp", 0);
    XEVFrameProducer source(4);
    source << snapshot;
    snapshot.snap(); // before the start: dropped
    ProductionGuard running(source);
    EXPECT_EQ(snapshot.pendingSnaps(), 0);
    snapshot.snap();
    snapshot.snap();
    snapshot.snap();
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(XEVTest::gradientFrame(40, 30, i * 50));
        writeFrame(source, frames.back(), 7 + i);
        ASSERT_TRUE(XEVTest::waitUntil([&] { return snapshot.handled.load() == i + 1; }));
    }
    EXPECT_EQ(snapshot.pendingSnaps(), 0);
    for (int i = 0; i < 3; ++i) {
        const cv::Mat saved = cv::imread(snapshot.fileNameFor(7 + i), cv::IMREAD_GRAYSCALE);
        ASSERT_FALSE(saved.empty()) << i;
        EXPECT_EQ(cv::norm(saved, frames[i], cv::NORM_INF), 0) << i;
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/shot_0007.bmp"));
    EXPECT_FALSE(std::filesystem::exists(snapshot.fileNameFor(10)));
    EXPECT_FALSE(std::filesystem::exists(snapshot.fileNameFor(11)));
}

TEST(Snapshot, JpegQualityReachesTheWriter) {
    TempDir dir;
    cv::Mat noise(64, 64, CV_8UC1);
    cv::randu(noise, 0, 256);
    std::uintmax_t sizes[2] = {0, 0};
    const unsigned qualities[2] = {5, 100};
    for (int i = 0; i < 2; ++i) {
        CountingSnapshot snapshot(dir.path() + "/q" + std::to_string(qualities[i]), "jpg",
                                  qualities[i]);
        snapOne(snapshot, noise, 7);
        ASSERT_TRUE(std::filesystem::exists(snapshot.fileNameFor(7)));
        sizes[i] = std::filesystem::file_size(snapshot.fileNameFor(7));
    }
    EXPECT_LT(sizes[0] * 2, sizes[1]);
}

TEST(Snapshot, WriteFailureEndsTheReadingWithAnError) {
    TempDir dir;
    const std::string sub = dir.path() + "/gone";
    std::filesystem::create_directory(sub);
    CountingSnapshot snapshot(sub + "/shot", "jpg", 90);
    std::filesystem::remove(sub);
    snapOne(snapshot, XEVTest::gradientFrame(16, 16), 3);
    EXPECT_EQ(snapshot.lastErrorMessage(),
              "Error : XEVSnapshot: cannot write the file " + sub + "/shot_0003.jpg.");
}
