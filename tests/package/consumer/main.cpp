// A small application built against the installed library and its emulator,
// as a user builds one: with CMake or with pkg-config.
#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <atomic>
#include <filesystem>
#include <iostream>

namespace {

class Counter : public XEVLibrary::XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVLibrary::XEVFrameInfo&) override {
        if (!frame.empty())
            ++frames;
    }
    std::atomic<int> frames{0};
};

} // namespace

int main() {
    using namespace XEVLibrary;
    // C++17 in the application's own code: the package asks for it.
    if (std::filesystem::temp_directory_path().empty())
        return 2;
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::Quiet);
    Emulator::XEVUsbEmulatedBus bus;
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Heron));
    XEVDevice* camera = XEVManager::getInstance()->openDevice(0, 0, 8);
    Counter counter;
    *camera << counter;
    camera->captureNFrames(3);
    const bool complete = camera->waitEndCapture(10000);
    XEVManager::destroyInstance();
    std::cout << "consumer received " << counter.frames.load() << " frames" << std::endl;
    return complete && counter.frames.load() == 3 ? 0 : 1;
}
