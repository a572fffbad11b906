#pragma once

#include "XEVUsbCameraEmulator.h"

#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

    const std::string& deviceNode() const { return m_node; }

private:
    struct Urb {
        UMockdevIoctlData* urb = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        std::atomic<bool> cancel{false};
    };

    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    void handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* data);
    bool discard(unsigned long address);
    void finish(const std::shared_ptr<Urb>& urb, int status, int actual);
    void work();

    std::shared_ptr<XEVLibrary::Emulator::XEVUsbEmulatedCamera> m_camera;
    UMockdevTestbed* m_testbed;
    UMockdevIoctlBase* m_handler = nullptr;
    std::string m_node;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Urb>> m_bulk;   // waiting for the worker
    std::shared_ptr<Urb> m_current;            // in the worker's hands
    std::vector<std::shared_ptr<Urb>> m_stuck; // unanswered until discarded
    std::deque<std::shared_ptr<Urb>> m_reap;   // completed
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace XEVTest
