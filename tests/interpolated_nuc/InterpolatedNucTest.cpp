// The stage: which table it chooses for an exposure, how it interpolates and
// how it corrects frames and their windows. Every expected pixel is worked
// out by hand: out = trunc(max(in - dark, 0) x gain) + 1000, at most 16383.
#include "NucTestUtil.h"

#include "tests/toolbox_outputs/FrameCapture.h"

#include <cmath>
#include <thread>

using namespace XEVNucTest;

namespace {

/// Tables of 2 x 3 at 1000 and 2000 us, gains 1: a flat frame of 1000 shows
/// 2000 - dark in every pixel.
class TwoExposures : public ::testing::Test {
protected:
    void SetUp() override {
        tree.write("40MHz/NUCFactory_1000.yml",
                   singleTable(2, 3, "100, 200, 300, 400, 500, 600", "1., 1., 1., 1., 1., 1."));
        tree.write("40MHz/NUCFactory_2000.yml",
                   singleTable(2, 3, "201, 301, 401, 0, 1, 2", "1., 1., 1., 1., 1., 1."));
        stage = std::make_unique<XEVInterpolatedNuc>(device, tree.base().c_str(), 4);
    }
    std::vector<int> at(double exposure) {
        EXPECT_TRUE(device.announceNuc("40MHz", exposure)) << exposure;
        return corrected(*stage, flatFrame(2, 3, 1000));
    }

    TempTree tree;
    SignalDevice device;
    std::unique_ptr<XEVInterpolatedNuc> stage;
};

} // namespace

TEST_F(TwoExposures, ChoosesOrInterpolatesTheTableOfTheExposure) {
    const std::vector<int> first = {1900, 1800, 1700, 1600, 1500, 1400};
    const std::vector<int> second = {1799, 1699, 1599, 2000, 1999, 1998};
    EXPECT_EQ(at(1000.0), first);
    EXPECT_EQ(at(2000.0), second);
    EXPECT_EQ(at(10.0), first) << "below the first table";
    EXPECT_EQ(at(1e9), second) << "above the last table";
    // Halfway, each dark value is the mean of the two, truncated:
    // 150.5, 250.5, 350.5, 200, 250.5, 301.
    EXPECT_EQ(at(1500.0), (std::vector<int>{1850, 1750, 1650, 1800, 1750, 1699}));
    EXPECT_EQ(stage->currentExposure(), 1500.0);
    // A quarter of the way: 0.75 x 100 + 0.25 x 201 = 125.25 -> 125 ...
    // 0.75 x 600 + 0.25 x 2 = 450.5 -> 450.
    EXPECT_EQ(at(1250.0), (std::vector<int>{1875, 1775, 1675, 1700, 1625, 1550}));
}

TEST_F(TwoExposures, UnknownDirectoriesKeepTheCurrentTable) {
    EXPECT_EQ(at(2000.0)[0], 1799);
    EXPECT_FALSE(device.announceNuc("20MHz", 1000.0));
    EXPECT_FALSE(device.announceNuc("", 1000.0)) << "the root holds no table";
    EXPECT_EQ(stage->currentExposure(), 2000.0);
    EXPECT_EQ(corrected(*stage, flatFrame(2, 3, 1000))[0], 1799);
    // The same directory by another name is the same directory.
    EXPECT_TRUE(device.announceNuc("./40MHz/../40MHz/", 1000.0));
    EXPECT_EQ(stage->currentExposure(), 1000.0);
    EXPECT_EQ(stage->nucRoot(), tree.base() + "/NUC/");
}

TEST(InterpolatedNuc, GainsInterpolateAndTheProductIsTruncated) {
    TempTree tree;
    tree.write("a/NUCFactory_1000.yml", singleTable(1, 4, "0, 0, 0, 10", "1., 1., 1., 1."));
    tree.write("a/NUCFactory_2000.yml", singleTable(1, 4, "0, 0, 0, 10", "2., 2., 2., 2."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    ASSERT_TRUE(device.announceNuc("a", 1250.0)); // gains 1.25
    // 1001 x 1.25 = 1251.25; 0 stays 0; 13000 x 1.25 runs into 16383;
    // 5 - 10 is taken as 0, not as a negative difference.
    EXPECT_EQ(corrected(stage, frameOf(1, 4, {1001, 0, 13000, 5})),
              (std::vector<int>{2251, 1000, 16383, 1000}));
}

TEST(InterpolatedNuc, ExposuresSinglePrecisionCannotTellApartDoNotDivideByZero) {
    // 2e-300 - 1e-300 is 0 in single precision.
    TempTree tree;
    tree.write("a/NUCFactory_1e-300.yml", singleTable(1, 2, "100, 100", "1., 1."));
    tree.write("a/NUCFactory_2e-300.yml", singleTable(1, 2, "0, 1", "1., 2."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    ASSERT_TRUE(device.announceNuc("a", 1.5e-300));
    EXPECT_EQ(corrected(stage, flatFrame(1, 2, 1000)), (std::vector<int>{2000, 2998}))
        << "the upper table";
}

TEST(InterpolatedNuc, DoubleTablesPickTheSetByTheFirstPixel) {
    TempTree tree;
    tree.write("a/NUCFactory_1000.yml", doubleTable(1, 2, "10, 20", "30, 40", "1., 1.", "2., 2."));
    tree.write("a/NUCFactory_3000.yml", doubleTable(1, 2, "10, 20", "50, 60", "1., 1.", "4., 4."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    ASSERT_TRUE(device.announceNuc("a", 1000.0));
    // Even first pixel: even maps, (1000 - 30) x 2 and (1001 - 40) x 2.
    EXPECT_EQ(corrected(stage, frameOf(1, 2, {1000, 1001})), (std::vector<int>{2940, 2922}));
    // Odd first pixel: odd maps, whatever the other pixels are.
    EXPECT_EQ(corrected(stage, frameOf(1, 2, {1001, 1000})), (std::vector<int>{1991, 1980}));
    // Both sets interpolate: at 2000 the even set is dark {40, 50}, gain 3.
    ASSERT_TRUE(device.announceNuc("a", 2000.0));
    EXPECT_EQ(corrected(stage, frameOf(1, 2, {1000, 1000})), (std::vector<int>{3880, 3850}));
    EXPECT_EQ(corrected(stage, frameOf(1, 2, {1001, 1000})), (std::vector<int>{1991, 1980}));
}

TEST(InterpolatedNuc, TheFrameWindowSelectsThePartOfTheTable) {
    // A 4 x 4 sensor whose dark value is 10 x row + column, gains 1.
    TempTree tree;
    tree.write("a/NUCFactory_1000.yml",
               singleTable(4, 4, "0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33",
                           "1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1., 1."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    ASSERT_TRUE(device.announceNuc("a", 1000.0));
    const cv::Mat frame = frameOf(2, 2, {500, 600, 700, 800});
    // At the origin, then off it: the window at column 1, line 2 sees dark
    // values 21, 22, 31, 32.
    EXPECT_EQ(corrected(stage, frame, at(0, 0)), (std::vector<int>{1500, 1599, 1690, 1789}));
    EXPECT_EQ(corrected(stage, frame, at(1, 2)), (std::vector<int>{1479, 1578, 1669, 1768}));
    // Partly outside the table (column 3, line 3): only the pixel on dark 33
    // is corrected, the others pass unchanged, not left as the output was.
    EXPECT_EQ(corrected(stage, frame, at(3, 3)), (std::vector<int>{1467, 600, 700, 800}));
    const cv::Mat wide = frameOf(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(corrected(stage, wide, at(2, 2)),
              (std::vector<int>{1000, 1000, 3, 1000, 1000, 6, 7, 8, 9}));
    // Wholly outside, even at offsets beyond the int range: passed through.
    EXPECT_EQ(corrected(stage, frame, at(4, 0)), (std::vector<int>{500, 600, 700, 800}));
    EXPECT_EQ(corrected(stage, frame, at(0xFFFFFFFFu, 0xFFFFFFFFu)),
              (std::vector<int>{500, 600, 700, 800}));
    // A frame larger than the table in both directions.
    const cv::Mat big = flatFrame(5, 6, 40);
    const std::vector<int> out = corrected(stage, big, at(0, 0));
    EXPECT_EQ(out[0], 1040);
    EXPECT_EQ(out[3 * 6 + 3], 1007);
    EXPECT_EQ(out[3 * 6 + 4], 40);
    EXPECT_EQ(out[4 * 6 + 0], 40);
    // A frame that is a view into a larger image (rows not contiguous).
    const cv::Mat image = frameOf(3, 4, {0, 0, 0, 0, 0, 500, 600, 0, 0, 700, 800, 0});
    EXPECT_EQ(corrected(stage, image(cv::Rect(1, 1, 2, 2)), at(1, 2)),
              (std::vector<int>{1479, 1578, 1669, 1768}));
}

TEST(InterpolatedNuc, WithoutATableFramesPassUnchanged) {
    XEVInterpolatedNuc stage(4);
    EXPECT_EQ(stage.tableCount(), 0u);
    EXPECT_TRUE(std::isnan(stage.currentExposure()));
    std::string path = "40MHz";
    EXPECT_FALSE(stage.Update(path, 1000.0, 0.0));
    EXPECT_EQ(corrected(stage, frameOf(1, 3, {1, 16383, 65535})),
              (std::vector<int>{1, 16383, 65535}));

    // A tree that does not exist is a stage without tables too.
    SignalDevice device;
    XEVInterpolatedNuc missing(device, "/nonexistent/xev\\calibration", 4);
    EXPECT_EQ(missing.nucRoot(), "/nonexistent/xev/calibration/NUC/");
    EXPECT_EQ(missing.tableCount(), 0u);
    EXPECT_FALSE(device.announceNuc("40MHz", 1000.0));
}

TEST(InterpolatedNuc, OnlySixteenBitSingleChannelFramesProduceOutput) {
    XEVInterpolatedNuc stage(4);
    cv::Mat out;
    EXPECT_FALSE(stage.process(cv::Mat(2, 2, CV_8UC1, cv::Scalar(1)), out, XEVFrameInfo()));
    EXPECT_FALSE(stage.process(cv::Mat(2, 2, CV_16UC3, cv::Scalar(1)), out, XEVFrameInfo()));
    EXPECT_TRUE(out.empty());
    stage.onNewFrame(cv::Mat(2, 2, CV_8UC1, cv::Scalar(1)), XEVFrameInfo());
    stage.onNewFrame(cv::Mat(2, 2, CV_32FC1, cv::Scalar(1)), XEVFrameInfo());
    EXPECT_EQ(stage.writeCounter(), 0) << "frames of other types produce nothing";
    EXPECT_TRUE(stage.process(cv::Mat(0, 0, CV_16UC1), out, XEVFrameInfo()));
    EXPECT_TRUE(out.empty());
}

TEST(InterpolatedNuc, AChainDeliversCorrectedFramesWithTheirRecords) {
    // The stage between a producer and an observer, the table changing under
    // it: a frame is corrected with one table or the other, never a mixture.
    TempTree tree;
    tree.write("a/NUCFactory_1000.yml", singleTable(1, 2, "0, 0", "1., 1."));
    tree.write("a/NUCFactory_2000.yml", singleTable(1, 2, "0, 0", "3., 3."));
    SignalDevice device;
    XEVInterpolatedNuc stage(device, tree.base().c_str(), 4);
    XEVTest::FrameCapture capture;
    XEVFrameProducer source(8);
    source << stage << capture;
    ASSERT_TRUE(device.announceNuc("a", 1000.0));
    constexpr int Frames = 50;
    {
        XEVTest::ProductionGuard running(source);
        std::thread updates([&] {
            for (int i = 0; i < 400; ++i)
                device.announceNuc("a", i % 2 ? 1000.0 : 2000.0);
        });
        for (int n = 0; n < Frames; ++n) {
            XEVTest::writeFrame(source, frameOf(1, 2, {100, 200}), uint64_t(n + 1), 21.5f);
            if (!capture.waitForFrames(std::size_t(n + 1))) {
                ADD_FAILURE() << "frame " << n << " did not come through";
                break;
            }
        }
        updates.join();
    }
    ASSERT_EQ(capture.count(), std::size_t(Frames));
    for (int n = 0; n < Frames; ++n) {
        const std::vector<int> out = pixels(capture.frame(n));
        EXPECT_TRUE(out == (std::vector<int>{1100, 1200}) || out == (std::vector<int>{1300, 1600}))
            << n << ": " << out[0] << ", " << out[1];
        EXPECT_EQ(capture.info(n).frameNumber, uint64_t(n + 1));
        EXPECT_EQ(capture.info(n).temperature, 21.5f);
    }
    EXPECT_EQ(stage.lastErrorMessage(), "");
}
