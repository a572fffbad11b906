// The main job over GigE Vision: captures from an emulated GigE camera
// through the toolbox.
//
// Finds the camera at the address given (a unicast discovery, as for a
// camera on a routed network), opens it, prints its manual, sets exposure and
// frame rate, calibrates a one-point NUC from a dark capture, then captures a
// few hundred frames through NUC correction and automatic gain control into
// snapshots and a video file, and reports the stream's statistics.
//
//   xev-gige-demo <camera address> <output folder>

#include <XEVLibrary.h>

#include <opencv2/core/persistence.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>

using namespace XEVLibrary;
using namespace XEVLibrary::XEVToolBox;

namespace {

constexpr int CaptureFrames = 300;
constexpr int SnapshotEvery = 100;
constexpr int DarkFrames = 16;
constexpr double FrameRate = 50.0;

/// Sums raw frames (for the dark map), counts them and asks for snapshots.
class RawTap : public XEVObserver {
public:
    explicit RawTap(XEVSnapshot* snapshot = nullptr) : m_snapshot(snapshot) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) override {
        const uint64_t n = ++m_frames;
        if (m_snapshot) {
            if (n % SnapshotEvery == 1)
                m_snapshot->snap();
            return;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_sum.empty())
            m_sum = cv::Mat::zeros(frame.size(), CV_64FC1);
        cv::accumulate(frame, m_sum);
    }
    cv::Mat mean() const {
        std::lock_guard<std::mutex> guard(m_lock);
        cv::Mat result;
        m_sum.convertTo(result, CV_64FC1, m_frames ? 1.0 / double(m_frames) : 0.0);
        return result;
    }
    std::atomic<uint64_t> m_frames{0};

private:
    XEVSnapshot* m_snapshot;
    mutable std::mutex m_lock;
    cv::Mat m_sum;
};

} // namespace

int run(const std::string& address, const std::string& output) {
    std::filesystem::create_directories(output);
    std::cout << "XEVLibrary " << XEVManager::getSDKVersion() << " GigE Vision demonstration\n\n";

    // Cameras on loopback or behind routers are asked directly, not by
    // broadcast.
    XEVManager::useUsb = false;
    XEVManager::useGige = true;
    XEVManager::gigeBroadcast = false;
    XEVManager::gigeCameraAddresses = {address};
    XEVManager::gigeDiscoveryTimeInSeconds = 2;
    XEVManager* manager = XEVManager::getInstance();
    std::cout << "Cameras found: " << manager->deviceCount() << "\n";
    for (unsigned int i = 0; i < manager->deviceCount(); ++i)
        std::cout << "  [" << i << "] " << manager->getDeviceDescriptor(i)->toString() << "\n";
    if (manager->deviceCount() == 0) {
        std::cerr << "No GigE camera answered at " << address << ".\n";
        return 1;
    }

    auto* camera = dynamic_cast<XEVDeviceGige*>(manager->openDevice(0, 0, 8));
    std::cout << "\n" << camera->manual() << "\n";
    camera->setParamValueOf("ExposureTime", 2000.0, true);
    camera->setFps(FrameRate, true);
    std::cout << "Exposure time " << camera->paramStrValueOf("ExposureTime") << " us, frame rate "
              << camera->fpsAsDouble() << " fps (at most " << camera->maxFpsAsDouble()
              << "), packet size " << camera->packetSize() << " bytes\n";

    // One-point NUC: the dark map flattens the mean of a dark capture.
    std::cout << "Calibrating the NUC from " << DarkFrames << " frames...\n";
    RawTap dark;
    *camera << dark;
    camera->captureNFrames(DarkFrames);
    camera->waitEndCapture(-1);
    dark.disconnect();
    const cv::Mat mean = dark.mean();
    cv::Mat darkMap;
    cv::Mat(mean - cv::mean(mean)[0] + 500.0).convertTo(darkMap, CV_16UC1);
    const std::string nucPath = output + "/nuc-dark.yml";
    {
        cv::FileStorage storage(nucPath, cv::FileStorage::WRITE);
        storage << "NUCDark" << darkMap;
    }

    const int width = camera->width(), height = camera->height();
    XEVNUC1Point nuc(nucPath, width, height, 0, 0, 4);
    XEVAutomaticGainControl agc(14, 4);
    XEVSnapshot snapshot(output + "/snapshot", "jpg", 95);
    XEVRecordAVI recorder(output + "/capture.avi", width, height, FrameRate, false, 4);
    RawTap counter(&snapshot);
    *camera << nuc << agc << snapshot;
    agc << recorder;
    *camera << counter;

    std::cout << "Capturing " << CaptureFrames << " frames...\n";
    const auto start = std::chrono::steady_clock::now();
    camera->captureNFrames(CaptureFrames);
    const bool completed = camera->waitEndCapture(-1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const XEVGigeStreamStatistics stream = camera->streamStatistics();
    std::printf("\nSummary\n");
    std::printf("  frames captured      : %llu in %.2f s (%.1f fps)\n",
                static_cast<unsigned long long>(counter.m_frames.load()), seconds,
                seconds > 0 ? double(counter.m_frames.load()) / seconds : 0.0);
    std::printf("  stream               : %llu frames completed, %llu dropped incomplete\n",
                static_cast<unsigned long long>(stream.framesCompleted),
                static_cast<unsigned long long>(stream.framesDroppedIncomplete));
    std::printf("  packets              : %llu received, %llu missing, %llu duplicated, "
                "%llu out of order\n",
                static_cast<unsigned long long>(stream.packetsReceived),
                static_cast<unsigned long long>(stream.packetsMissing),
                static_cast<unsigned long long>(stream.packetsDuplicated),
                static_cast<unsigned long long>(stream.packetsOutOfOrder));
    std::printf("  snapshots            : %s/snapshot_NNNN.jpg\n", output.c_str());
    std::printf("  video                : %s/capture.avi\n", output.c_str());
    std::printf("  NUC dark map         : %s\n", nucPath.c_str());

    XEVManager::destroyInstance();
    return completed && counter.m_frames.load() > 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: xev-gige-demo <camera address> <output folder>\n";
        return 2;
    }
    try {
        return run(argv[1], argv[2]);
    } catch (const std::exception& error) {
        std::cerr << "xev-gige-demo: " << error.what() << "\n";
        return 1;
    }
}
