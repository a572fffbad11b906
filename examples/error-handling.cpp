// What goes wrong, and how the library says it: every error is an
// XEVException whose text names what was refused and why.
#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <iostream>
#include <stdexcept>

using namespace XEVLibrary;

namespace {

/// Runs @p action and prints the error it raises, if any.
template <typename Action>
void attempt(const char* what, Action action) {
    try {
        action();
        std::cout << what << ": done\n";
    } catch (const XEVException& error) {
        // Unit texts use the Latin-1 micro sign; terminals want UTF-8.
        std::cout << what << ": " << XEVParam::toUtf8(error.what()) << "\n";
    }
}

/// An observer that fails on its third frame: its reading thread stops and
/// keeps the error, the capture still ends.
class Fragile : public XEVObserver {
public:
    void onNewFrame(const cv::Mat&, const XEVFrameInfo& info) override {
        if (info.frameNumber == 3)
            throw std::runtime_error("frame 3 could not be processed");
    }
};

} // namespace

int main() {
    XEVManager::setDiagnosticsOutput(XEVManager::DiagnosticsOutput::Quiet);
    Emulator::XEVUsbEmulatedBus bus; // an emulated camera stands in for a real one
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Heron));
    XEVManager* manager = XEVManager::getInstance();

    attempt("open camera 5", [&] { manager->openDevice(5, 0, 8); });
    XEVDevice* camera = manager->openDevice(0, 0, 8);
    attempt("unknown parameter", [&] { camera->setParamValueOf("Shutter Speed", 10); });
    attempt("exposure of 50 us", [&] { camera->setParamValueOf("Exposure Time", "50us"); });
    attempt("exposure of 2 ms", [&] { camera->setParamValueOf("Exposure Time", "2ms"); });
    attempt("window past the sensor", [&] { camera->setParamValueOf("First Column", 600); });
    attempt("capture of 0 frames", [&] { camera->captureNFrames(0); });

    Fragile fragile;
    *camera << fragile;
    camera->captureNFrames(5);
    const bool complete = camera->waitEndCapture(5000);
    std::cout << "capture of 5 frames " << (complete ? "completed" : "did not complete")
              << "; the observer stopped with: " << fragile.lastErrorMessage() << "\n";

    XEVManager::destroyInstance();
    return complete && !fragile.lastErrorMessage().empty() ? 0 : 1;
}
