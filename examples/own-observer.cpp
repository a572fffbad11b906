// A capture into an observer of one's own: frame numbers, temperature and the
// mean level of each frame, computed on the observer's own thread.
#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <opencv2/core.hpp>

#include <iomanip>
#include <iostream>
#include <mutex>
#include <vector>

using namespace XEVLibrary;

namespace {

/// Keeps a line per frame; onNewFrame runs on the observer's reading thread,
/// and the frame is valid only during the call.
class FrameStatistics : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        const double mean = cv::mean(frame)[0];
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back({info.frameNumber, info.temperature, mean});
    }

    void print() const {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const Line& line : m_lines)
            std::cout << "frame " << std::setw(3) << line.number << "  " << std::fixed
                      << std::setprecision(2) << line.temperature << " C  mean level "
                      << std::setprecision(1) << line.mean << "\n";
        std::cout << m_lines.size() << " frames received\n";
    }

private:
    struct Line {
        uint64_t number;
        float temperature;
        double mean;
    };
    mutable std::mutex m_lock;
    std::vector<Line> m_lines;
};

} // namespace

int main() {
    Emulator::XEVUsbEmulatedBus bus; // an emulated camera stands in for a real one
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Heron));

    XEVManager* manager = XEVManager::getInstance();
    if (manager->deviceCount() == 0)
        return 1;
    XEVDevice* camera = manager->openDevice(0, 0, 8);
    camera->setParamValueOf("Exposure Time", "5ms", true);
    camera->setFps(50.0, true);

    FrameStatistics statistics;
    *camera << statistics;
    camera->captureNFrames(20);
    const bool complete = camera->waitEndCapture(5000);
    statistics.print();
    XEVManager::destroyInstance(); // stops and destroys the camera first
    return complete ? 0 : 1;
}
