// Enumerate, open, configure, chain two stages, capture, save an image.
#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <iostream>

using namespace XEVLibrary;

int main() {
    // No camera on this computer? An emulated one, plugged before the
    // manager enumerates, behaves as a real one does.
    Emulator::XEVUsbEmulatedBus bus;
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Kestrel));

    XEVManager* manager = XEVManager::getInstance(); // enumerates the cameras
    if (manager->deviceCount() == 0) {
        std::cerr << "No camera found.\n";
        return 1;
    }
    XEVDevice* camera = manager->openDevice(0, 0, 8); // number, GigE port, FIFO size
    camera->setParamValueOf("Exposure Time", "2ms", true);

    XEVToolBox::XEVAutomaticGainControl agc(14, 4);            // 14-bit frames to 8 bits
    XEVToolBox::XEVSnapshot snapshot("quick-start", "png", 0); // quick-start_<frame>.png
    *camera << agc << snapshot;                                // chain the stages

    camera->captureNFrames(10); // or start() / stop()
    snapshot.snap();            // saves the next frame that reaches it
    camera->waitEndCapture(-1);
    std::cout << "Captured 10 frames from a " << camera->modelId()
              << "; one of them is in quick-start_<frame number>.png\n";
    XEVManager::destroyInstance();
    return 0;
}
