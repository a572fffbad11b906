// The main job: captures from an emulated camera through the toolbox.
//
// Plugs an emulated Kestrel (USB 3.0) and an emulated Heron (old USB 2.0
// bridge), lists them, opens the Kestrel, calibrates a two-point NUC from two
// flat-field captures, then captures a few hundred frames through NUC
// correction and automatic gain control into snapshots, a video file and a
// false-colour image.

#include "FrameAverager.h"

#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <opencv2/core/persistence.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int CaptureFrames = 300;
constexpr int SnapshotEvery = 100;
constexpr int CalibrationFrames = 16;
constexpr double FrameRate = 100.0;

/// Counts raw frames, asks for a snapshot every few frames, draws a progress
/// bar and keeps the figures of the summary.
class Progress : public XEVObserver {
public:
    Progress(int total, XEVSnapshot& snapshot) : m_total(total), m_snapshot(snapshot) {}
    void onStart() override {
        m_start = Clock::now();
        m_frames = 0;
        m_lost = 0;
        m_last = 0;
    }
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        if (m_frames > 0 && info.frameNumber > m_last + 1)
            m_lost += info.frameNumber - m_last - 1;
        m_last = info.frameNumber;
        ++m_frames;
        m_temperature = info.temperature;
        m_elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (m_frames % SnapshotEvery == 1)
            m_snapshot.snap();
        // Redraw the bar now and then: the terminal is slower than the camera.
        if (m_frames % 5 != 0 && int64_t(m_frames) != m_total)
            return;
        const int width = 40;
        const int done = int(int64_t(m_frames) * width / m_total);
        std::printf("\r  [%s%s] %4llu/%d frames", std::string(done, '#').c_str(),
                    std::string(width - std::min(done, width), '.').c_str(),
                    static_cast<unsigned long long>(m_frames.load()), m_total);
        std::fflush(stdout);
    }
    std::atomic<uint64_t> m_frames{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<float> m_temperature{XEVFrameInfo::NoTemperature};
    std::atomic<double> m_elapsed{0};

private:
    int m_total;
    XEVSnapshot& m_snapshot;
    Clock::time_point m_start;
    uint64_t m_last = 0;
};

/// Keeps the last frame it receives.
class LastFrame : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) override {
        std::lock_guard<std::mutex> guard(m_lock);
        frame.copyTo(m_frame);
    }
    cv::Mat frame() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_frame.clone();
    }

private:
    mutable std::mutex m_lock;
    cv::Mat m_frame;
};

cv::Mat averageFlatField(XEVDevice& camera, XEVUsbEmulatedCamera& emulated, uint16_t level) {
    FrameAverager averager;
    camera << averager;
    emulated.setFlatField(level);
    camera.captureNFrames(CalibrationFrames);
    camera.waitEndCapture(-1);
    averager.disconnect();
    return averager.mean();
}

/// Two-point NUC maps that make both flat fields uniform:
/// (raw - dark) * gain + 1000 gives the same value for every pixel.
void writeNucMaps(const cv::Mat& low, const cv::Mat& high, const std::string& path) {
    const double meanLow = cv::mean(low)[0];
    const double meanHigh = cv::mean(high)[0];
    cv::Mat span = high - low;
    cv::max(span, 1.0, span);
    cv::Mat gain = (meanHigh - meanLow) / span;
    // The corrected low field sits 500 levels below its mean, which keeps the
    // dark map positive for the sensor's fixed-pattern offsets.
    cv::Mat dark = low - (meanLow - 500.0) / gain;
    cv::Mat dark16, gain32;
    dark.convertTo(dark16, CV_16UC1);
    gain.convertTo(gain32, CV_32FC1);
    cv::FileStorage storage(path, cv::FileStorage::WRITE);
    storage << "NUCDark" << dark16 << "GainMap" << gain32;
}

} // namespace

int run(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "xev-output";
    std::filesystem::create_directories(output);

    std::cout << "XEVLibrary " << XEVManager::getSDKVersion() << " capture demonstration\n\n";
    XEVUsbEmulatedBus bus;
    auto kestrel = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel, UsbLink::USB3));
    bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));

    XEVManager* manager = XEVManager::getInstance();
    std::cout << "Cameras found: " << manager->deviceCount() << "\n";
    int kestrelNumber = -1;
    for (unsigned int i = 0; i < manager->deviceCount(); ++i) {
        const XEVDeviceDescriptor* descriptor = manager->getDeviceDescriptor(i);
        std::cout << "  [" << i << "] " << descriptor->toString() << "\n";
        if (descriptor->modelId() == "Kestrel" && kestrelNumber < 0)
            kestrelNumber = int(i);
    }
    if (kestrelNumber < 0) {
        std::cerr << "No Kestrel camera found.\n";
        return 1;
    }

    XEVDevice* camera = manager->openDevice(unsigned(kestrelNumber), 0, 8);
    // The library writes the micro sign in Latin-1; terminals want UTF-8.
    std::cout << "\n" << XEVParam::toUtf8(camera->manual()) << "\n\n";
    camera->setParamValueOf("Exposure Time", "2ms", true);
    camera->setFps(FrameRate, true);
    std::cout << "Exposure time " << XEVParam::toUtf8(camera->paramStrValueOf("Exposure Time"))
              << ", frame rate " << camera->fpsAsDouble() << " fps (" << camera->minFps() << " to "
              << camera->maxFps() << ")\n";

    // Two-point NUC from two flat fields.
    std::cout << "Calibrating the NUC from two flat fields...\n";
    const cv::Mat low = averageFlatField(*camera, *kestrel, 3000);
    const cv::Mat high = averageFlatField(*camera, *kestrel, 9000);
    kestrel->clearFlatField();
    const std::string nucPath = output + "/nuc.yml";
    writeNucMaps(low, high, nucPath);
    std::cout << "  NUC maps: " << nucPath << "\n";

    // The processing chain.
    const int width = camera->width(), height = camera->height();
    XEVNUC2Points nuc(nucPath, width, height, 0, 0, 4);
    XEVAutomaticGainControl agc(14, 4);
    XEVSnapshot snapshot(output + "/snapshot", "jpg", 95);
    XEVRecordAVI recorder(output + "/capture.avi", width, height, FrameRate, false, 4);
    XEVColorMap colours(4, 2);
    LastFrame falseColour, raw;
    Progress progress(CaptureFrames, snapshot);
    *camera << nuc << agc << snapshot;
    agc << recorder << colours << falseColour;
    *camera << progress;
    *camera << raw;

    std::cout << "Capturing " << CaptureFrames << " frames:\n";
    camera->captureNFrames(CaptureFrames);
    const bool completed = camera->waitEndCapture(-1);
    std::cout << "\n\n";

    const std::string colourPath = output + "/false-colour.png";
    const std::string rawPath = output + "/raw-stretched.png";
    cv::imwrite(colourPath, falseColour.frame());
    cv::Mat rawFrame = raw.frame(), rawStretched;
    cv::normalize(rawFrame, rawStretched, 0, 255, cv::NORM_MINMAX, CV_8U);
    cv::imwrite(rawPath, rawStretched);

    const double seconds = progress.m_elapsed.load();
    std::printf("Summary\n");
    std::printf("  frames captured     : %llu\n",
                static_cast<unsigned long long>(progress.m_frames.load()));
    std::printf("  frames lost         : %llu\n",
                static_cast<unsigned long long>(progress.m_lost.load()));
    std::printf("  achieved frame rate : %.1f fps\n",
                seconds > 0 ? double(progress.m_frames.load() - 1) / seconds : 0.0);
    std::printf("  sensor temperature  : %.2f C\n", double(progress.m_temperature.load()));
    std::printf("  snapshots           : %s/snapshot_NNNN.jpg\n", output.c_str());
    std::printf("  video               : %s/capture.avi\n", output.c_str());
    std::printf("  false-colour image  : %s\n", colourPath.c_str());
    std::printf("  raw frame           : %s\n", rawPath.c_str());
    std::printf("  NUC maps            : %s\n", nucPath.c_str());

    XEVManager::destroyInstance();
    return completed && progress.m_frames.load() > 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "xev-capture-demo: " << XEVParam::toUtf8(error.what()) << "\n";
        return 1;
    }
}
