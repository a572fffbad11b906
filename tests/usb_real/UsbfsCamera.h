#pragma once

#include "XEVUsbCameraEmulator.h"

#include <umockdev.h>

#include <memory>

namespace XEVTest {

/**
 * Serves an emulated camera behind a usbfs device node of a umockdev testbed,
 * so that the real libusb lists, opens and transfers to it. Control requests
 * are answered at once; bulk reads are answered by a worker thread as the
 * camera delivers frames, and a read the camera leaves unanswered stays
 * pending until libusb discards it at its time-out.
 */
class UsbfsCamera {
public:
    UsbfsCamera(UMockdevTestbed* testbed,
                std::shared_ptr<XEVLibrary::Emulator::XEVUsbEmulatedCamera> camera, int busNumber,
                int deviceNumber);
    ~UsbfsCamera();
    UsbfsCamera(const UsbfsCamera&) = delete;
    UsbfsCamera& operator=(const UsbfsCamera&) = delete;

private:
    struct Server;
    std::unique_ptr<Server> m_server;
};

} // namespace XEVTest
