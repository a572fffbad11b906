// Live view with a window (ROI) change while frames arrive: the pipeline
// follows the new frame size by itself.
#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

using namespace XEVLibrary;

namespace {

/// Remembers the size of the last frame; a display would show it instead.
class LastSize : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) override {
        m_width.store(frame.cols);
        m_height.store(frame.rows);
        m_frames.fetch_add(1);
    }
    int width() const { return m_width.load(); }
    int height() const { return m_height.load(); }
    long frames() const { return m_frames.load(); }

private:
    std::atomic<int> m_width{0}, m_height{0};
    std::atomic<long> m_frames{0};
};

/// Waits, at most two seconds, until @p ready holds.
template <typename Ready>
bool waitFor(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

int main() {
    Emulator::XEVUsbEmulatedBus bus; // an emulated camera stands in for a real one
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Kestrel));

    XEVManager* manager = XEVManager::getInstance();
    if (manager->deviceCount() == 0)
        return 1;
    XEVDevice* camera = manager->openDevice(0, 0, 8);
    LastSize view;
    *camera << view;
    camera->start();

    bool followed = waitFor([&] { return view.frames() > 5; });
    std::cout << "full frame  : " << view.width() << " x " << view.height() << "\n";

    // A centred window of 320 x 256: new geometry, applied in one write. A
    // frame read across the change is dropped, which the library reports
    // with an ": Invalid infoLine" line (see XEVManager::setDiagnosticsOutput).
    camera->setParamValueOf("Number of Column", 320, false);
    camera->setParamValueOf("Number of Line", 256, false);
    camera->setParamValueOf("First Column", 160, false);
    camera->setParamValueOf("First Line", 128, false);
    camera->updateConfig();
    followed = followed && waitFor([&] { return view.width() == 320 && view.height() == 256; });
    std::cout << "window      : " << view.width() << " x " << view.height() << " from ("
              << camera->paramValueOf("First Column") << ", " << camera->paramValueOf("First Line")
              << ")\n";

    camera->stop();
    std::cout << view.frames() << " frames shown\n";
    XEVManager::destroyInstance();
    return followed ? 0 : 1;
}
