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

} // namespace

TEST(SyntheticScene, NucMapsFlattenTheFixedPattern) {
    const XEVSyntheticScene scene = smallScene();
    XEVTest::TempDir dir;
    const std::string path = dir.path() + "/maps.yml";
    scene.writeNucMaps(path);
    cv::FileStorage file(path, cv::FileStorage::READ);
    cv::Mat dark, gain;
    file["NUCDark"] >> dark;
    file["GainMap"] >> gain;
    ASSERT_EQ(dark.type(), CV_16UC1);
    ASSERT_EQ(gain.type(), CV_32FC1);
    ASSERT_EQ(dark.size(), cv::Size(96, 64));

    const cv::Mat raw = scene.renderRaw();
    std::set<std::pair<int, int>> defects;
    for (const cv::Point& p : scene.deadPixels()) {
        EXPECT_EQ(raw.at<uint16_t>(p), 20);
        defects.insert({p.x, p.y});
    }
    for (const cv::Point& p : scene.hotPixels()) {
        EXPECT_EQ(raw.at<uint16_t>(p), 16383);
        defects.insert({p.x, p.y});
    }
    EXPECT_FALSE(scene.deadPixels().empty());
    EXPECT_FALSE(scene.hotPixels().empty());

    // Two-point correction of a good pixel gives the scene back, to rounding.
    double worst = 0;
    for (int y = 0; y < raw.rows; ++y)
        for (int x = 0; x < raw.cols; ++x) {
            if (defects.count({x, y}))
                continue;
            const double corrected =
                (raw.at<uint16_t>(y, x) - dark.at<uint16_t>(y, x)) * gain.at<float>(y, x);
            worst = std::max(worst, std::abs(corrected - scene.radiance().at<float>(y, x)));
        }
    EXPECT_LT(worst, 1.5);
    // ... while the raw frame itself is far from flat.
    cv::Mat rawFloat;
    raw.convertTo(rawFloat, CV_32F);
    EXPECT_GT(cv::norm(rawFloat - scene.radiance(), cv::NORM_INF), 300.0);
}

TEST(SyntheticScene, BadPixelMapNamesGoodNeighbours) {
    const XEVSyntheticScene scene = smallScene();
    XEVTest::TempDir dir;
    const std::string path = dir.path() + "/bad.yml";
    scene.writeBadPixelMap(path);
    cv::FileStorage file(path, cv::FileStorage::READ);
    cv::Mat map;
    file["BPmap"] >> map;
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
    cv::Mat mosaic, bgr, reference = scene.colourScene();
    bayer.convertTo(mosaic, CV_8U, 1.0 / 56, -400.0 / 56);
    cv::cvtColor(mosaic, bgr, cv::COLOR_BayerBG2BGR);
    // Away from the border, the demosaiced mosaic is the colour scene again.
    const cv::Rect inner(4, 4, 88, 56);
    cv::Mat difference;
    cv::absdiff(bgr(inner), reference(inner), difference);
    const cv::Scalar mean = cv::mean(difference);
    for (int c = 0; c < 3; ++c)
        EXPECT_LT(mean[c], 6.0) << c;
    EXPECT_EQ(scene.renderRaw().size(), cv::Size(96, 64));
}
