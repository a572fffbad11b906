#include "FrameCapture.h"
#include "XEVSnapshot.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVTest;
namespace fs = std::filesystem;

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

/// Asks @p snapshot for one snap and feeds it @p frame as number @p number;
/// returns once the snapshot handled it.
void snapOne(CountingSnapshot& snapshot, const cv::Mat& frame, uint64_t number) {
    XEVFrameProducer source(4);
    source << snapshot;
    ProductionGuard running(source);
    snapshot.snap();
    writeFrame(source, frame, number);
    EXPECT_TRUE(waitUntil([&] { return snapshot.handled.load() == 1; }));
}

// Pixels of the image file @p path that differ from @p frame; -1 when it
// cannot be read or is not of the frame's size and type.
int differsFrom(const std::string& path, const cv::Mat& frame) {
    return XEVFilterTest::differences(cv::imread(path, cv::IMREAD_UNCHANGED), frame);
}

} // namespace

TEST(Snapshot, ConstructionRefusalsComeInOrder) {
    TempDir dir;
    const std::string file = dir.file("plain"), shot = dir.file("shot");
    std::ofstream(file) << "x";
    const std::string ok = "<no exception>", refused = "CriticalError : XEVSnapshot";
    const std::string empty = refused + ": file_path and extension params cannot be empty.";
    const std::string slash = "CriticalError : XEVSnapshot: file_path must end with the prefix of "
                              "the filename.\nRefer documentation.";
    const std::string accepted = "CriticalError : XEVSnapshot accept '.jpeg', '.jpg', '.bmp', "
                                 "'.png', '.tif' or '.tiff' as file extension: '";
    const std::string range = refused + ": jpeg_quality must be in the range [0,100]. ";
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
        {"/nonexistent-xev/shot", "gif", 101, accepted + ".gif' provided."},
        {"/tmp/shot", ".GIF", 90, accepted + ".gif' provided."},
        {"/tmp/shot", "tga", 90, accepted + ".tga' provided."},
        {"/nonexistent-xev/shot", "JPG", 101, range + "101 provided."},
        {"/tmp/shot", ".jpeg", 4294967295u, range + "4294967295 provided."},
        {"/nonexistent-xev/shot", "jpg", 100,
         refused + ": The directory /nonexistent-xev is not accessible."},
        {file + "/shot", "bmp", 500, refused + ": The directory " + file + " is not accessible."},
        {shot, "BMP", 500, ok}, // bmp, png and tiff ignore the quality
        {shot, ".PNG", 500, ok},
        {shot, "tif", 500, ok},
        {shot, "tiff", 0, ok},
        {shot, "jpeg", 0, ok},
        {"shot", "jpg", 100, ok}, // in the current directory
    };
    for (const auto& c : cases)
        EXPECT_EQ(messageOf([&] { XEVSnapshot(c.path, c.extension, c.quality); }), c.message)
            << c.path << c.extension;
}

TEST(Snapshot, PngAndTiffKeepSixteenBitFramesWhole) {
    TempDir dir;
    const cv::Mat frame = XEVFilterTest::randomWords(24, 32, 0, 16383, 5); // 14-bit camera values
    for (const char* extension : {"png", "tiff"}) {
        CountingSnapshot snapshot(dir.file("raw"), extension, 0);
        snapOne(snapshot, frame, 3);
        EXPECT_EQ(differsFrom(snapshot.fileNameFor(3), frame), 0) << extension;
    }
}

TEST(Snapshot, FileNamesPadTheFrameNumberToFourDigits) {
    const XEVSnapshot jpg("/tmp/shot", "JPG", 90), bmp("/tmp/cam", ".Bmp", 0);
    EXPECT_EQ(jpg.fileNameFor(7), "/tmp/shot_0007.jpg");
    EXPECT_EQ(bmp.fileNameFor(0), "/tmp/cam_0000.bmp");
    EXPECT_EQ(bmp.fileNameFor(12345), "/tmp/cam_12345.bmp");
    EXPECT_EQ(bmp.fileNameFor(18446744073709551615ull), "/tmp/cam_18446744073709551615.bmp");
}

TEST(Snapshot, ThreeSnapsSaveTheNextThreeFrames) {
    TempDir dir;
    CountingSnapshot snapshot(dir.file("shot"), "bmp", 0);
    XEVFrameProducer source(4);
    source << snapshot;
    snapshot.snap(); // before the start: dropped
    ProductionGuard running(source);
    EXPECT_EQ(snapshot.pendingSnaps(), 0);
    for (int i = 0; i < 3; ++i)
        snapshot.snap();
    for (int i = 0; i < 5; ++i) {
        writeFrame(source, gradientFrame(40, 30, i * 50), 7 + i);
        ASSERT_TRUE(waitUntil([&] { return snapshot.handled.load() == i + 1; }));
    }
    EXPECT_EQ(snapshot.pendingSnaps(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(differsFrom(snapshot.fileNameFor(7 + i), gradientFrame(40, 30, i * 50)), 0);
    EXPECT_TRUE(fs::exists(dir.file("shot_0007.bmp")));
    EXPECT_FALSE(fs::exists(snapshot.fileNameFor(10)));
    EXPECT_FALSE(fs::exists(snapshot.fileNameFor(11)));
}

TEST(Snapshot, JpegQualityReachesTheWriter) {
    TempDir dir;
    std::uintmax_t sizes[2] = {0, 0};
    for (unsigned quality : {5u, 100u}) {
        CountingSnapshot snapshot(dir.file("q" + std::to_string(quality)), "jpg", quality);
        snapOne(snapshot, XEVFilterTest::randomBytes(64, 64, 1), 7);
        ASSERT_TRUE(fs::exists(snapshot.fileNameFor(7)));
        sizes[quality == 100] = fs::file_size(snapshot.fileNameFor(7));
    }
    EXPECT_LT(sizes[0] * 2, sizes[1]);
}

TEST(Snapshot, WriteFailureEndsTheReadingWithAnError) {
    TempDir dir;
    const std::string sub = dir.file("gone");
    fs::create_directory(sub);
    CountingSnapshot snapshot(sub + "/shot", "jpg", 90);
    fs::remove(sub);
    snapOne(snapshot, gradientFrame(16, 16), 3);
    EXPECT_EQ(snapshot.lastErrorMessage(),
              "Error : XEVSnapshot: cannot write the file " + sub + "/shot_0003.jpg.");
}
