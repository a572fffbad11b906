// The README's quick start, as a program: enumerate, open, chain, capture.
// With no camera attached it plugs an emulated one first.

#include <XEVLibrary.h>
#include <XEVUsbCameraEmulator.h>

#include <filesystem>

#include <iostream>

using namespace XEVLibrary;

int main() {
    Emulator::XEVUsbEmulatedBus bus;
    bus.plug(Emulator::XEVUsbCameraConfig::forModel(Emulator::UsbModel::Heron));

    XEVManager* manager = XEVManager::getInstance(); // enumerates the cameras
    if (manager->deviceCount() == 0)
        return 1;
    XEVDevice* camera = manager->openDevice(0, 0, 8); // number, GigE port, FIFO size
    camera->setParamValueOf("Exposure Time", "2ms", true);

    const std::string folder = std::filesystem::temp_directory_path().string();
    XEVToolBox::XEVNUC2Points nuc("nuc.yml", 640, 512, 0, 0, 4); // no file: flat pedestal
    XEVToolBox::XEVAutomaticGainControl agc(14, 4);
    XEVToolBox::XEVSnapshot snapshot(folder + "/frame", "jpg", 95);
    *camera << nuc << agc << snapshot; // chain the stages

    snapshot.snap();
    camera->captureNFrames(100); // or start() / stop()
    camera->waitEndCapture(-1);
    std::cout << "captured 100 frames from " << camera->modelId() << std::endl;
    XEVManager::destroyInstance();
}
