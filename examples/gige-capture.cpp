// Captures 200 frames from a GigE Vision camera through automatic
// gain control into snapshots and a video file.
//
// The camera is emulated here: an XEVGigeEmulatedCamera on a loopback
// address. With a real camera, drop the emulator and give its address (or
// leave gigeCameraAddresses empty to find cameras by broadcast).

#include <XEVGigeCameraEmulator.h>
#include <XEVLibrary.h>

#include <cstdio>
#include <iostream>

using namespace XEVLibrary;

int main() {
    Emulator::XEVGigeEmulatedCamera heron(
        Emulator::XEVGigeCameraConfig::forModel(Emulator::GigeModel::HeronGigE, "127.0.0.5"));
    try {
        XEVManager::useUsb = false;
        XEVManager::useGige = true;
        XEVManager::gigeBroadcast = false;
        XEVManager::gigeCameraAddresses = {"127.0.0.5"};
        XEVManager* manager = XEVManager::getInstance();
        if (manager->deviceCount() == 0) {
            std::cerr << "no camera found\n";
            return 1;
        }
        auto* camera = dynamic_cast<XEVDeviceGige*>(manager->openDeviceByIP("127.0.0.5", 0, 8));
        std::cout << camera->manual() << "\n";
        camera->setParamValueOf("ExposureTime", 1500.0);
        camera->setFps(50.0);

        XEVToolBox::XEVAutomaticGainControl agc(14, 4);
        XEVToolBox::XEVSnapshot snapshot("gige-snapshot", "png", 0);
        XEVToolBox::XEVRecordAVI video("gige-capture.avi", camera->width(), camera->height(), 50.0,
                                       false, 4);
        *camera << agc << snapshot;
        agc << video;

        camera->captureNFrames(200);
        snapshot.snap();
        const bool completed = camera->waitEndCapture(10000);
        const XEVGigeStreamStatistics stream = camera->streamStatistics();
        std::printf("%s: %llu frames completed, %llu dropped, %llu packets missing\n",
                    completed ? "done" : "timed out",
                    static_cast<unsigned long long>(stream.framesCompleted),
                    static_cast<unsigned long long>(stream.framesDroppedIncomplete),
                    static_cast<unsigned long long>(stream.packetsMissing));
        XEVManager::destroyInstance();
        return completed ? 0 : 1;
    } catch (const XEVException& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}
