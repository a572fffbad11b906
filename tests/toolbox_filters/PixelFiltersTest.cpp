#include "FilterTestUtil.h"

#include "XEVBPR.h"
#include "XEVColorMap.h"
#include "XEVException.h"
#include "XEVFlipH.h"
#include "XEVFlipV.h"
#include "XEVGamma.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

TEST(Flips, MirrorRowsOrColumnsOfByteFrames) {
    const cv::Mat frame = (cv::Mat_<uint8_t>(2, 3) << 1, 2, 3, 4, 5, 6);
    XEVFlipH flipH(4);
    XEVFlipV flipV(4);
    cv::Mat out;
    ASSERT_TRUE(flipH.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, (cv::Mat_<uint8_t>(2, 3) << 4, 5, 6, 1, 2, 3)), 0) << out;
    ASSERT_TRUE(flipV.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, (cv::Mat_<uint8_t>(2, 3) << 3, 2, 1, 6, 5, 4)), 0) << out;
    cv::Mat none;
    EXPECT_FALSE(flipH.process(cv::Mat(2, 3, CV_16UC1, cv::Scalar(1)), none, XEVFrameInfo()));
    EXPECT_FALSE(flipV.process(cv::Mat(2, 3, CV_8UC3, cv::Scalar::all(1)), none, XEVFrameInfo()));
    EXPECT_TRUE(none.empty());
}

TEST(Gamma, Tables) {
    struct Case {
        double gamma;
        int threshold;
        std::vector<std::pair<int, int>> entries;
    };
    const Case cases[] = {
        // Two segments around 128: (i/128)^2 * 128 below, the mirrored curve above.
        {2.0,
         128,
         {{0, 0},
          {1, 0},
          {64, 32},
          {127, 126},
          {128, 128},
          {129, 130},
          {192, 224},
          {254, 255},
          {255, 255}}},
        // Threshold 255: the plain curve (i/255)^gamma * 255.
        {0.5, 255, {{0, 0}, {1, 16}, {64, 128}, {100, 160}, {200, 226}, {255, 255}}},
        // Threshold 0: level 0 has no defined value and gives 0.
        {2.0, 0, {{0, 0}, {255, 255}}},
    };
    for (const Case& c : cases) {
        XEVGamma gamma(c.gamma, c.threshold, 4);
        for (const auto& entry : c.entries)
            EXPECT_EQ(int(gamma.table()[std::size_t(entry.first)]), entry.second)
                << c.gamma << "/" << c.threshold << " at " << entry.first;
    }
    // Gamma 1 is the identity whatever the threshold.
    for (int threshold : {1, 77, 128, 255}) {
        XEVGamma identity(1.0, threshold, 4);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(int(identity.table()[std::size_t(i)]), i) << threshold;
    }
    // Threshold 255 matches the plain curve at every level.
    XEVGamma plain(1.7, 255, 4);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(int(plain.table()[std::size_t(i)]),
                  int(std::rint(std::pow(i / 255.0, 1.7) * 255)));
}

TEST(Gamma, FramesGoThroughTheTable) {
    XEVGamma gamma(2.2, 100, 4);
    const cv::Mat frame = randomBytes(29, 41, 9);
    cv::Mat expected;
    cv::LUT(frame, cv::Mat(1, 256, CV_8UC1, const_cast<uint8_t*>(gamma.table().data())), expected);
    cv::Mat out;
    ASSERT_TRUE(gamma.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, expected), 0);
    cv::Mat none;
    EXPECT_FALSE(gamma.process(cv::Mat(2, 2, CV_16UC1, cv::Scalar(9)), none, XEVFrameInfo()));
}

TEST(ColorMap, BlurIsTheImageLibrarysAtEverySizeAndEdge) {
    // Single rows and columns, tiny frames, a camera-sized frame, saturated
    // levels (the rounding of 255 everywhere) and a window of a larger frame.
    const cv::Mat large = randomBytes(512, 640, 8);
    std::vector<cv::Mat> frames = {
        randomBytes(1, 1, 1),           randomBytes(1, 29, 2),
        randomBytes(31, 1, 3),          randomBytes(2, 2, 4),
        randomBytes(3, 5, 5),           large,
        large(cv::Rect(3, 7, 101, 77)), cv::Mat(6, 9, CV_8UC1, cv::Scalar(255))};
    XEVColorMap none(4, 0);
    for (const cv::Mat& frame : frames) {
        cv::Mat blurred, sharpened, expected, out;
        // A window is blurred on its own, as a frame: its edges mirror rather
        // than reach into the frame around it.
        cv::GaussianBlur(frame, blurred, cv::Size(3, 3), 1.0, 0.0,
                         cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED);
        cv::addWeighted(frame, 2.0, blurred, -1.0, 0.0, sharpened);
        cv::cvtColor(sharpened, expected, cv::COLOR_GRAY2BGR);
        ASSERT_TRUE(none.process(frame, out, XEVFrameInfo()));
        EXPECT_EQ(differences(out, expected), 0) << frame.size();
    }
}

TEST(ColorMap, SharpenedFrameInEachColourMap) {
    const cv::Mat frame = randomBytes(37, 53, 21);
    cv::Mat blurred, sharpened;
    cv::GaussianBlur(frame, blurred, cv::Size(3, 3), 1.0, 1.0, cv::BORDER_REFLECT_101);
    cv::addWeighted(frame, 2.0, blurred, -1.0, 0.0, sharpened);
    const int maps[] = {cv::COLORMAP_RAINBOW, cv::COLORMAP_JET,    cv::COLORMAP_HSV,
                        cv::COLORMAP_HOT,     cv::COLORMAP_SUMMER, cv::COLORMAP_WINTER,
                        cv::COLORMAP_COOL,    cv::COLORMAP_BONE,   cv::COLORMAP_SPRING,
                        cv::COLORMAP_AUTUMN,  cv::COLORMAP_OCEAN};
    for (int mode = 1; mode <= 11; ++mode) {
        XEVColorMap colours(4, mode);
        cv::Mat expected, out;
        cv::applyColorMap(sharpened, expected, maps[mode - 1]);
        ASSERT_TRUE(colours.process(frame, out, XEVFrameInfo()));
        EXPECT_EQ(out.type(), CV_8UC3);
        EXPECT_EQ(differences(out, expected), 0) << "mode " << mode;
    }
    // Mode 2 is jet: level 0 of a uniform frame is dark blue.
    XEVColorMap jet(4, 2);
    cv::Mat out;
    ASSERT_TRUE(jet.process(cv::Mat(4, 4, CV_8UC1, cv::Scalar(0)), out, XEVFrameInfo()));
    EXPECT_EQ(out.at<cv::Vec3b>(1, 1), cv::Vec3b(128, 0, 0));
    // No colour map: the sharpened image in grey.
    XEVColorMap none(4, 12);
    ASSERT_TRUE(none.process(frame, out, XEVFrameInfo()));
    cv::Mat grey;
    cv::cvtColor(sharpened, grey, cv::COLOR_GRAY2BGR);
    EXPECT_EQ(differences(out, grey), 0);
    cv::Mat dropped;
    EXPECT_FALSE(none.process(cv::Mat(4, 4, CV_16UC1, cv::Scalar(1)), dropped, XEVFrameInfo()));
}

namespace {

void writeBadPixels(const std::string& path, const cv::Mat& map) {
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    file << "BPmap" << map;
}

cv::Mat badPixelRows(std::initializer_list<std::initializer_list<int>> rows) {
    cv::Mat m(int(rows.size()), 6, CV_16UC1);
    int r = 0;
    for (const auto& row : rows) {
        int c = 0;
        for (int v : row)
            m.at<uint16_t>(r, c++) = uint16_t(v);
        ++r;
    }
    return m;
}

} // namespace

TEST(BPR, ReplacesBadPixelsInsideTheWindowOnly) {
    TempDir dir;
    const std::string path = dir.file("bp.yml");
    // Window 6 x 4 at (10, 20) on the sensor.
    writeBadPixels(path, badPixelRows({
                             {12, 21, 11, 21, 13, 21}, // inside: frame (2, 1)
                             {9, 21, 10, 21, 11, 21},  // left of the window
                             {16, 21, 14, 21, 15, 21}, // right of the window
                             {12, 24, 12, 23, 13, 23}, // below the window
                             {10, 20, 9, 20, 11, 20},  // neighbour left of the frame
                             {15, 23, 14, 23, 15, 24}, // neighbour below the frame
                             {14, 22, 14, 21, 14, 23}, // inside: frame (4, 2)
                         }));
    XEVBPR bpr(path, 6, 4, 10, 20, 4);
    EXPECT_EQ(bpr.map().rows, 7);
    cv::Mat frame(4, 6, CV_16UC1);
    for (int i = 0; i < 24; ++i)
        frame.at<uint16_t>(i / 6, i % 6) = uint16_t(100 + 3 * i);
    cv::Mat out;
    ASSERT_TRUE(bpr.process(frame, out, XEVFrameInfo()));
    cv::Mat expected = frame.clone();
    // (1,1)=121 and (1,3)=127 -> 124; (1,4)=130 and (3,4)=166 -> 148.
    expected.at<uint16_t>(1, 2) = 124;
    expected.at<uint16_t>(2, 4) = 148;
    EXPECT_EQ(differences(out, expected), 0) << out;
    // Odd sums truncate.
    frame.at<uint16_t>(1, 3) = 128;
    ASSERT_TRUE(bpr.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(out.at<uint16_t>(1, 2), 124); // 124.5
    // A smaller frame: the rows whose pixels fall outside it are skipped.
    cv::Mat small(2, 3, CV_16UC1, cv::Scalar(50));
    small.at<uint16_t>(1, 1) = 60;
    ASSERT_TRUE(bpr.process(small, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, small), 0);
    cv::Mat none;
    EXPECT_FALSE(bpr.process(cv::Mat(4, 6, CV_8UC1, cv::Scalar(1)), none, XEVFrameInfo()));
}

TEST(BPR, RandomMapMatchesTheFormula) {
    TempDir dir;
    const int cols = 64, rows = 48, offsetX = 5, offsetY = 7;
    std::mt19937 random(77);
    std::uniform_int_distribution<int> x(offsetX - 2, offsetX + cols + 1),
        y(offsetY - 2, offsetY + rows + 1);
    cv::Mat map(cols * rows / 100, 6, CV_16UC1);
    for (int i = 0; i < map.rows; ++i)
        for (int c = 0; c < 6; c += 2) {
            map.at<uint16_t>(i, c) = uint16_t(x(random));
            map.at<uint16_t>(i, c + 1) = uint16_t(y(random));
        }
    const std::string path = dir.file("random.yml");
    writeBadPixels(path, map);
    XEVBPR bpr(path, cols, rows, offsetX, offsetY, 4);
    const cv::Mat frame = randomWords(rows, cols, 0, 16383, 3);
    cv::Mat expected = frame.clone();
    int replaced = 0;
    for (int i = 0; i < map.rows; ++i) {
        int v[6];
        for (int c = 0; c < 6; ++c)
            v[c] = map.at<uint16_t>(i, c) - (c % 2 == 0 ? offsetX : offsetY);
        bool inside = true;
        for (int c = 0; c < 6; c += 2)
            inside = inside && v[c] >= 0 && v[c] < cols && v[c + 1] >= 0 && v[c + 1] < rows;
        if (!inside)
            continue;
        expected.at<uint16_t>(v[1], v[0]) = uint16_t(
            std::trunc((frame.at<uint16_t>(v[3], v[2]) + frame.at<uint16_t>(v[5], v[4])) * 0.5));
        ++replaced;
    }
    EXPECT_GT(replaced, 5);
    cv::Mat out;
    ASSERT_TRUE(bpr.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, expected), 0);
}

TEST(BPR, MissingFileCopiesAndMalformedMapIsRefused) {
    TempDir dir;
    XEVBPR none(dir.file("missing.yml"), 4, 4, 0, 0, 4);
    const cv::Mat frame = randomWords(4, 4, 0, 16383, 1);
    cv::Mat out;
    ASSERT_TRUE(none.process(frame, out, XEVFrameInfo()));
    EXPECT_EQ(differences(out, frame), 0);

    const std::string path = dir.file("five.yml");
    writeBadPixels(path, cv::Mat(3, 5, CV_16UC1, cv::Scalar(1)));
    try {
        XEVBPR bad(path, 4, 4, 0, 0, 4);
        ADD_FAILURE() << "no exception";
    } catch (const XEVException& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Error : For XEVBPR(" + path + "), BPmap must have 6 columns, not 5.");
    }
}
