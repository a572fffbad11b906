#include "FrameCapture.h"
#include "XEVSyntheticScene.h"

#include <gtest/gtest.h>
#include <opencv2/core/persistence.hpp>
#include <opencv2/imgproc.hpp>

#include <set>

using XEVLibrary::Emulator::XEVSyntheticScene;

namespace {

XEVSyntheticScene smallScene() {
    XEVSyntheticScene::Options options;
    options.width = 96;
    options.height = 64;
    options.seed = 3;
    options.offsetSpread = 200.0;
    options.gainSpread = 0.08;
    options.deadFraction = options.hotFraction = 0.004;
    return XEVSyntheticScene(options);
}

// The node @p name of the OpenCV persistence file @p path.
cv::Mat readNode(const std::string& path, const char* name) {
    cv::Mat node;
    cv::FileStorage(path, cv::FileStorage::READ)[name] >> node;
    return node;
}

} // namespace

TEST(SyntheticScene, NucMapsFlattenTheFixedPattern) {
    const XEVSyntheticScene scene = smallScene();
    XEVTest::TempDir dir;
    scene.writeNucMaps(dir.file("maps.yml"));
    const cv::Mat dark = readNode(dir.file("maps.yml"), "NUCDark"),
                  gain = readNode(dir.file("maps.yml"), "GainMap");
    ASSERT_EQ(dark.type(), CV_16UC1);
    ASSERT_EQ(gain.type(), CV_32FC1);
    ASSERT_EQ(dark.size(), cv::Size(96, 64));
    const cv::Mat raw = scene.renderRaw();
    cv::Mat good(raw.size(), CV_8UC1, cv::Scalar(255)), rawFloat, darkFloat;
    for (const auto& [defects, level] :
         {std::make_pair(scene.deadPixels(), 20), std::make_pair(scene.hotPixels(), 16383)}) {
        EXPECT_FALSE(defects.empty());
        for (const cv::Point& p : defects) {
            EXPECT_EQ(raw.at<uint16_t>(p), level);
            good.at<uint8_t>(p) = 0;
        }
    }
    raw.convertTo(rawFloat, CV_32F);
    dark.convertTo(darkFloat, CV_32F);
    // Two-point correction of the good pixels gives the scene back, to
    // rounding, while the raw frame itself is far from flat.
    EXPECT_LT(cv::norm((rawFloat - darkFloat).mul(gain), scene.radiance(), cv::NORM_INF, good),
              1.5);
    EXPECT_GT(cv::norm(rawFloat, scene.radiance(), cv::NORM_INF), 300.0);
}

TEST(SyntheticScene, BadPixelMapNamesGoodNeighbours) {
    const XEVSyntheticScene scene = smallScene();
    XEVTest::TempDir dir;
    scene.writeBadPixelMap(dir.file("bad.yml"));
    const cv::Mat map = readNode(dir.file("bad.yml"), "BPmap");
    ASSERT_EQ(map.cols, 6);
    ASSERT_EQ(std::size_t(map.rows), scene.deadPixels().size() + scene.hotPixels().size());
    std::set<std::pair<int, int>> defects;
    for (int i = 0; i < map.rows; ++i)
        defects.insert({map.at<int>(i, 0), map.at<int>(i, 1)});
    for (int i = 0; i < map.rows; ++i)
        for (int n : {2, 4}) {
            const int x = map.at<int>(i, n), y = map.at<int>(i, n + 1);
            EXPECT_TRUE(x >= 0 && x < 96 && y >= 0 && y < 64);
            EXPECT_EQ(defects.count({x, y}), 0u) << x << "," << y;
        }
}

TEST(SyntheticScene, BayerMosaicFollowsTheBgCode) {
    const XEVSyntheticScene scene = smallScene();
    const cv::Mat bayer = scene.renderBayer();
    ASSERT_EQ(bayer.type(), CV_16UC1);
    cv::Mat mosaic, bgr, difference;
    bayer.convertTo(mosaic, CV_8U, 1.0 / 56, -400.0 / 56);
    cv::cvtColor(mosaic, bgr, cv::COLOR_BayerBG2BGR);
    // Away from the border, the demosaiced mosaic is the colour scene again.
    const cv::Rect inner(4, 4, 88, 56);
    cv::absdiff(bgr(inner), scene.colourScene()(inner), difference);
    EXPECT_LT(cv::norm(cv::mean(difference), cv::NORM_INF), 6.0); // largest channel mean
}
