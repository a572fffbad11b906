#pragma once

#include "TestSupport.h"
#include "XEVFilter.h"
#include "XEVFrameProducer.h"
#include "XEVObserver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace XEVTest {

/// Writes one frame into @p producer: the first pixel holds @p value, the
/// record carries it as frame number.
inline void writeFrame(XEVLibrary::XEVFrameProducer& producer, uint64_t value) {
    cv::Mat* image = producer.lockFrameForWrite();
    image->setTo(cv::Scalar::all(double(value & 0xFFFF)));
    XEVLibrary::XEVFrameInfo info;
    info.frameNumber = value;
    producer.unlockFrameForWrite(info);
}

/// An observer that records the frame numbers it receives and can be held
/// inside onNewFrame until released.
class RecordingObserver : public XEVLibrary::XEVObserver {
public:
    ~RecordingObserver() override { release(); }

    void onStart() override { ++starts; }
    void onStop() override {
        ++stops;
        stopOrder = orderCounter ? orderCounter->fetch_add(1) : 0;
    }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_frames.push_back(info.frameNumber);
            m_pixels.push_back(frame.empty() ? -1 : int(frame.at<uint16_t>(0, 0)));
            m_inside = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, DefaultDeadline, [this] { return !m_holding; });
            m_inside = false;
        }
        if (throwOnFrame != 0 && info.frameNumber == throwOnFrame)
            throw std::runtime_error("frame rejected");
    }

    /// Makes the next frames wait inside onNewFrame until release().
    void hold() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_holding = true;
    }
    void release() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_holding = false;
        }
        m_changed.notify_all();
    }
    /// Waits until the thread is inside onNewFrame.
    bool waitInside() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, DefaultDeadline, [this] { return m_inside; });
    }
    bool waitFrames(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, DefaultDeadline, [&] { return m_frames.size() >= count; });
    }
    std::vector<uint64_t> frames() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames;
    }
    std::vector<int> pixels() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pixels;
    }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> stopOrder{-1};
    std::atomic<int>* orderCounter = nullptr;
    uint64_t throwOnFrame = 0;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uint64_t> m_frames;
    std::vector<int> m_pixels;
    bool m_holding = false;
    bool m_inside = false;
};

/// A running producer of 8 x 8 frames with one recording observer.
struct RunningProducer {
    explicit RunningProducer(unsigned int fifoSize = 3) : producer(fifoSize) {
        producer << observer;
        producer.ensureFrameFormat(8, 8, CV_16UC1, 0);
        producer.startProduction();
    }
    ~RunningProducer() { observer.release(); } // before the producer joins it
    RecordingObserver observer;
    XEVLibrary::XEVFrameProducer producer;
};

/// A filter that copies its input into its own FIFO.
class PassThroughFilter : public XEVLibrary::XEVFilter {
public:
    explicit PassThroughFilter(unsigned int fifoSize = 4) : XEVFilter(fifoSize) {}
    void onStop() override { stopOrder = orderCounter ? orderCounter->fetch_add(1) : 0; }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
        cv::Mat* out = lockFrameForWrite();
        frame.copyTo(*out);
        unlockFrameForWrite(info);
    }
    std::atomic<int> stopOrder{-1};
    std::atomic<int>* orderCounter = nullptr;
};

/// Counts emissions of an observer's done signal.
class DoneCounter {
public:
    explicit DoneCounter(XEVLibrary::XEVObserver& observer) {
        observer.Impl()->connect([this] { m_count.fetch_add(1); });
    }
    int count() const { return m_count.load(); }
    bool waitCount(int count) {
        return waitUntil([&] { return m_count.load() >= count; });
    }

private:
    std::atomic<int> m_count{0};
};

} // namespace XEVTest
