#pragma once

#include "TestSupport.h"
#include "XEVFilter.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace XEVTest {

/// Writes frame @p value: every pixel holds it, and so does the record's frame number.
inline void writeFrame(XEVLibrary::XEVFrameProducer& producer, uint64_t value) {
    producer.lockFrameForWrite()->setTo(cv::Scalar::all(double(value & 0xFFFF)));
    XEVLibrary::XEVFrameInfo info;
    info.frameNumber = value;
    producer.unlockFrameForWrite(info);
}

/// Numbers the onStop calls of every stage below, in the order they come.
inline std::atomic<int> stopClock{0};

/// Records the number of each frame it receives, or 0 when its pixels are not
/// those writeFrame wrote; hold() keeps the next one inside onNewFrame until release().
class RecordingObserver : public XEVLibrary::XEVObserver {
public:
    ~RecordingObserver() override { release(); }
    void onStart() override { ++starts; }
    void onStop() override {
        ++stops;
        stoppedAt = stopClock++;
    }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            const bool whole = frame.at<uint16_t>(0, 0) == (info.frameNumber & 0xFFFF);
            m_frames.push_back(whole ? info.frameNumber : 0);
            m_inside = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, DefaultDeadline, [this] { return !m_holding; });
            m_inside = false;
        }
        if (throwOnFrame != 0 && info.frameNumber == throwOnFrame)
            throw std::runtime_error("frame rejected");
    }
    void hold() { set(m_holding, true); }
    void release() { set(m_holding, false); }
    bool waitInside() {
        return wait([this] { return m_inside; });
    }
    bool waitFrames(std::size_t count) {
        return wait([&] { return m_frames.size() >= count; });
    }
    std::vector<uint64_t> frames() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frames;
    }

    std::atomic<int> starts{0}, stops{0}, stoppedAt{-1};
    uint64_t throwOnFrame = 0;

private:
    void set(bool& flag, bool value) {
        std::lock_guard<std::mutex> guard(m_lock);
        flag = value;
        m_changed.notify_all();
    }
    template <typename Condition>
    bool wait(Condition condition) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, DefaultDeadline, condition);
    }
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uint64_t> m_frames;
    bool m_holding = false, m_inside = false;
};

/// A producer of 8 x 8 frames of 16 bits.
struct Producer : XEVLibrary::XEVFrameProducer {
    explicit Producer(unsigned int fifoSize = 4) : XEVFrameProducer(fifoSize) {
        ensureFrameFormat(8, 8, CV_16UC1, 0);
    }
};

/// A running producer with one recording observer.
struct RunningProducer {
    explicit RunningProducer(unsigned int fifoSize = 3) : producer(fifoSize) {
        producer << observer;
        producer.startProduction();
    }
    ~RunningProducer() { observer.release(); } // before the producer joins it
    RecordingObserver observer;
    Producer producer;
};

/// A filter that copies its input into its own FIFO.
class PassThroughFilter : public XEVLibrary::XEVFilter {
public:
    explicit PassThroughFilter(unsigned int fifoSize = 4) : XEVFilter(fifoSize) {}
    void onStop() override { stoppedAt = stopClock++; }
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
        frame.copyTo(*lockFrameForWrite());
        unlockFrameForWrite(info);
    }
    std::atomic<int> stoppedAt{-1};
};

/// Counts the emissions of an observer's done signal.
struct DoneCounter {
    explicit DoneCounter(XEVLibrary::XEVObserver& observer) {
        observer.Impl()->connect([this] { ++count; });
    }
    bool waitCount(int n) {
        return waitUntil([&] { return count.load() >= n; });
    }
    std::atomic<int> count{0};
};

} // namespace XEVTest
