#include "FilterTestUtil.h"
#include "TestSupport.h"

#include "XEVAGCROI.h"
#include "XEVDemosaicing.h"
#include "XEVFrameProducer.h"
#include "XEVManualAGC.h"
#include "XEVNUC1Point.h"
#include "XEVObserver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVFilterTest;

namespace {

/// Keeps a copy of every frame it receives.
class Collector : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_frames.push_back(frame.clone());
        m_infos.push_back(info);
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames.size();
    }
    cv::Mat frame(std::size_t i) const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames.at(i);
    }
    XEVFrameInfo info(std::size_t i) const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_infos.at(i);
    }

private:
    mutable std::mutex m_lock;
    std::vector<cv::Mat> m_frames;
    std::vector<XEVFrameInfo> m_infos;
};

void writeFrame(XEVFrameProducer& source, const cv::Mat& frame, uint64_t number) {
    source.ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0u);
    cv::Mat* slot = source.lockFrameForWrite();
    frame.copyTo(*slot);
    XEVFrameInfo info;
    info.frameNumber = number;
    info.offsetX = 3;
    info.temperature = 21.5f;
    source.unlockFrameForWrite(info);
}

/// Stops the source however the test ends, so no reading thread outlives it.
struct StopOnExit {
    XEVFrameProducer& source;
    ~StopOnExit() { source.stopProduction(false); }
};

} // namespace

TEST(FilterChain, NucThenManualGainThroughRealFifos) {
    TempDir dir;
    const std::string path = dir.file("dark.yml");
    {
        cv::FileStorage file(path, cv::FileStorage::WRITE);
        file << "NUCDark" << cv::Mat(6, 8, CV_16UC1, cv::Scalar(500));
    }
    XEVFrameProducer source(4);
    XEVNUC1Point nuc(path, 8, 6, 0, 0, 4);
    XEVManualAGC agc(4, 1000, 2000);
    Collector collector;
    source << nuc << agc << collector;
    StopOnExit stop{source};
    source.startProduction();

    // in - 500 + 1000, then (v - 1000) / 1000 * 255.
    const int inputs[] = {500, 1000, 1500};
    const int outputs[] = {0, 128, 255};
    for (std::size_t i = 0; i < 3; ++i) {
        writeFrame(source, cv::Mat(6, 8, CV_16UC1, cv::Scalar(inputs[i])), 10 + i);
        ASSERT_TRUE(XEVTest::waitUntil([&] { return collector.count() == i + 1; })) << i;
        const cv::Mat out = collector.frame(i);
        ASSERT_EQ(out.type(), CV_8UC1);
        ASSERT_EQ(out.size(), cv::Size(8, 6));
        EXPECT_EQ(cv::countNonZero(out != outputs[i]), 0) << i;
        EXPECT_EQ(collector.info(i).frameNumber, 10 + i);
        EXPECT_EQ(collector.info(i).offsetX, 3u);
        EXPECT_EQ(collector.info(i).temperature, 21.5f);
    }

    // An 8-bit frame produces nothing at the NUC; the next raw frame follows.
    writeFrame(source, cv::Mat(6, 8, CV_8UC1, cv::Scalar(7)), 20);
    writeFrame(source, cv::Mat(6, 8, CV_16UC1, cv::Scalar(1000)), 21);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return collector.count() == 4; }));
    EXPECT_EQ(collector.info(3).frameNumber, 21u);
    source.stopProduction(false);
    EXPECT_EQ(collector.count(), 4u);
    EXPECT_EQ(nuc.lastErrorMessage(), "");
    EXPECT_EQ(agc.lastErrorMessage(), "");
    EXPECT_EQ(collector.lastErrorMessage(), "");
}

TEST(FilterChain, WindowGainControlAndDemosaicingThroughRealFifos) {
    XEVFrameProducer source(4);
    XEVAGCROI agc(0, 4);
    XEVDemosaicing demosaicing(48, 32, 1.0f, 4);
    Collector grey, colour;
    source << agc << grey;
    source << demosaicing << colour;
    StopOnExit stop{source};
    source.startProduction();

    const cv::Mat frame(32, 48, CV_16UC1, cv::Scalar(5000)); // window of 384 pixels
    for (uint64_t n = 1; n <= 2; ++n) {
        writeFrame(source, frame, n);
        ASSERT_TRUE(XEVTest::waitUntil([&] { return grey.count() == n && colour.count() == n; }));
    }
    // First frame over 0..16383, the second with the bounds of the first.
    EXPECT_EQ(grey.frame(0).at<uint8_t>(0, 0), 78);
    EXPECT_EQ(grey.frame(1).at<uint8_t>(0, 0), 0);
    EXPECT_EQ(colour.frame(0).size(), cv::Size(44, 28));
    EXPECT_EQ(colour.frame(0).type(), CV_8UC3);

    // A new frame size resets the window gain control; demosaicing drops it.
    // (A format change of the source drops what its readers have not read
    // yet, so each frame is awaited before the next change.)
    writeFrame(source, cv::Mat(34, 48, CV_16UC1, cv::Scalar(5000)), 3);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return grey.count() == 3; }));
    writeFrame(source, frame, 4);
    ASSERT_TRUE(XEVTest::waitUntil([&] { return grey.count() == 4 && colour.count() == 3; }));
    EXPECT_EQ(grey.frame(2).at<uint8_t>(0, 0), 78);
    EXPECT_EQ(grey.frame(3).at<uint8_t>(0, 0), 78) << "the size changed back";
    EXPECT_EQ(colour.info(2).frameNumber, 4u);
    source.stopProduction(false);
    EXPECT_EQ(agc.lastErrorMessage(), "");
    EXPECT_EQ(demosaicing.lastErrorMessage(), "");
}
