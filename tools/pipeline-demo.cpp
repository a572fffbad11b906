// Pushes synthetic 14-bit frames through a chain of two processing stages to
// a final observer, then prints what it measured and writes the last frame as
// a PNG image.

#include <XEVLibrary.h>

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

using namespace XEVLibrary;
using Clock = std::chrono::steady_clock;

namespace {

/// Subtracts a fixed offset pattern from each raw frame (a stand-in for a
/// non-uniformity correction).
class OffsetCorrection : public XEVFilter {
public:
    explicit OffsetCorrection(const cv::Mat& offsets) : XEVFilter(4), m_offsets(offsets) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, CV_16UC1, 0);
        cv::Mat* out = lockFrameForWrite();
        cv::subtract(frame, m_offsets, *out);
        unlockFrameForWrite(info);
    }

private:
    cv::Mat m_offsets;
};

/// Stretches 14-bit frames to 8 bits between the frame's minimum and maximum.
class Stretch : public XEVFilter {
public:
    Stretch() : XEVFilter(4) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        double low = 0, high = 0;
        cv::minMaxLoc(frame, &low, &high);
        ensureFrameFormat(frame.cols, frame.rows, CV_8UC1, 0);
        cv::Mat* out = lockFrameForWrite();
        const double scale = high > low ? 255.0 / (high - low) : 0.0;
        frame.convertTo(*out, CV_8U, scale, -low * scale);
        unlockFrameForWrite(info);
    }
};

/// Measures what reaches the end of the chain.
class Meter : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (received > 0 && info.frameNumber > lastFrame + 1)
            lost += info.frameNumber - lastFrame - 1;
        lastFrame = info.frameNumber;
        ++received;
        frame.copyTo(last);
    }
    std::mutex m_lock;
    uint64_t received = 0;
    uint64_t lost = 0;
    uint64_t lastFrame = 0;
    cv::Mat last;
};

/// A synthetic short-wave infrared scene: a gradient, a warm disc that moves
/// from frame to frame, and a fixed pattern offset per pixel.
void renderScene(cv::Mat& frame, const cv::Mat& offsets, uint64_t n) {
    const double cx = frame.cols * (0.5 + 0.3 * std::sin(n * 0.05));
    const double cy = frame.rows * 0.5;
    for (int y = 0; y < frame.rows; ++y) {
        auto* row = frame.ptr<uint16_t>(y);
        const auto* offset = offsets.ptr<uint16_t>(y);
        for (int x = 0; x < frame.cols; ++x) {
            double value = 3000.0 + 4000.0 * x / frame.cols;
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            value += 6000.0 * std::exp(-d2 / 2000.0);
            row[x] = static_cast<uint16_t>(std::min(16383.0, value + offset[x]));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "pipeline-demo.png";
    const int width = 640, height = 512, frames = 600;
    const double rate = 200.0;

    cv::Mat offsets(height, width, CV_16UC1);
    cv::randu(offsets, 0, 400);

    XEVFrameProducer camera(8);
    OffsetCorrection correction(offsets);
    Stretch stretch;
    Meter meter;
    camera << correction << stretch << meter;

    camera.ensureFrameFormat(width, height, CV_16UC1, 0);
    camera.startProduction();
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(1.0 / rate);
    for (int n = 1; n <= frames; ++n) {
        cv::Mat* image = camera.lockFrameForWrite();
        renderScene(*image, offsets, n);
        XEVFrameInfo info;
        info.frameNumber = n;
        info.temperature = 21.5f;
        camera.unlockFrameForWrite(info);
        std::this_thread::sleep_until(start +
                                      n * std::chrono::duration_cast<Clock::duration>(period));
    }
    camera.signalEndOfStream();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(meter.m_lock);
            if (meter.lastFrame == uint64_t(frames) || Clock::now() > deadline)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    camera.stopProduction(false);

    std::lock_guard<std::mutex> guard(meter.m_lock);
    std::printf("XEVLibrary pipeline demo\n");
    std::printf("  frames written      : %d (%dx%d, 14-bit)\n", frames, width, height);
    std::printf("  frames received     : %llu\n", (unsigned long long)meter.received);
    std::printf("  frames lost         : %llu\n", (unsigned long long)meter.lost);
    std::printf("  achieved frame rate : %.1f fps\n", meter.received / seconds);
    if (!meter.last.empty() && cv::imwrite(output, meter.last))
        std::printf("  last frame          : %s\n", output.c_str());
    return meter.received > 0 ? 0 : 1;
}
