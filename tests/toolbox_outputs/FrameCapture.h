#pragma once

#include "TestSupport.h"
#include "XEVFrameProducer.h"
#include "XEVObserver.h"
#include "tests/toolbox_filters/FilterTestUtil.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace XEVTest {

/// Final observer that keeps a copy of every frame it receives.
class FrameCapture : public XEVLibrary::XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_frames.emplace_back(frame.clone(), info);
        m_changed.notify_all();
    }
    bool waitForFrames(std::size_t count, std::chrono::milliseconds deadline = DefaultDeadline) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, deadline, [&] { return m_frames.size() >= count; });
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames.size();
    }
    cv::Mat frame(std::size_t i) const { return at(i).first; }
    XEVLibrary::XEVFrameInfo info(std::size_t i) const { return at(i).second; }

private:
    std::pair<cv::Mat, XEVLibrary::XEVFrameInfo> at(std::size_t i) const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames.at(i);
    }
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<cv::Mat, XEVLibrary::XEVFrameInfo>> m_frames;
};

/// Writes @p image into @p producer's FIFO as frame @p frameNumber.
inline void writeFrame(XEVLibrary::XEVFrameProducer& producer, const cv::Mat& image,
                       uint64_t frameNumber, float temperature = 21.5f) {
    producer.ensureFrameFormat(image.cols, image.rows, image.type(), 0);
    image.copyTo(*producer.lockFrameForWrite());
    producer.unlockFrameForWrite({frameNumber, temperature, image.cols, image.rows});
}

/// A grey test frame with a gradient, so that shifted content shows.
inline cv::Mat gradientFrame(int cols, int rows, int seed = 0) {
    cv::Mat image(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image.at<uint8_t>(r, c) = static_cast<uint8_t>((r * 7 + c * 3 + seed) & 0xFF);
    return image;
}

/// Stops the producer when the test leaves, also on a failed assertion.
struct ProductionGuard {
    explicit ProductionGuard(XEVLibrary::XEVFrameProducer& producer) : producer(producer) {
        producer.startProduction();
    }
    ~ProductionGuard() { producer.stopProduction(true); }
    XEVLibrary::XEVFrameProducer& producer;
};

using XEVFilterTest::TempDir;

} // namespace XEVTest
