#pragma once

#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace XEVTest {

// Serves an emulated camera behind a usbfs node of a umockdev testbed, for the
// real libusb. Control requests are answered at once; a worker answers bulk
// reads as frames come, and a read left unanswered stays pending until libusb
// discards it at its time-out.
class UsbfsCamera {
public:
    using Camera = XEVLibrary::Emulator::XEVUsbEmulatedCamera;

    UsbfsCamera(UMockdevTestbed* testbed, std::shared_ptr<Camera> camera, int bus, int number)
        : m_camera(std::move(camera)), m_testbed(testbed) {
        char text[512];
        std::snprintf(text, sizeof(text), "/dev/bus/usb/%03d/%03d", bus, number);
        m_node = text;
        // A usb_device as udev lists it; N: makes the (empty) node libusb opens.
        std::snprintf(text, sizeof(text),
                      "P: /devices/usb%d/%d-%d\nN: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                      "E: DEVNAME=%s\nA: busnum=%d\nA: devnum=%d\nA: speed=%d\n"
                      "A: bConfigurationValue=1\nA: dev=189:%d\nH: descriptors=",
                      bus, bus, number, m_node.c_str() + 5, m_node.c_str(), bus, number,
                      m_camera->config().bcdUSB > 0x02FF ? 5000 : 480,
                      (bus - 1) * 128 + number - 1);
        std::string device = text;
        for (uint8_t byte : m_camera->descriptors()) {
            std::snprintf(text, sizeof(text), "%02X", byte);
            device += text;
        }
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, (device + '\n').c_str(), &error))
            throw std::runtime_error(std::string("umockdev: ") + error->message);
        m_camera->setPlugged(true);
        m_handler = umockdev_ioctl_base_new();
        g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&UsbfsCamera::onIoctl), this);
        if (!umockdev_testbed_attach_ioctl(testbed, m_node.c_str(), m_handler, &error))
            throw std::runtime_error(std::string("umockdev: ") + error->message);
        m_worker = std::thread([this] { work(); });
    }
    ~UsbfsCamera() {
        umockdev_testbed_detach_ioctl(m_testbed, m_node.c_str(), nullptr);
        m_camera->setPlugged(false);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_camera->wakeReaders();
        m_worker.join();
        g_object_unref(m_handler);
    }

private:
    struct Urb {
        UMockdevIoctlData* urb;
        UMockdevIoctlData* buffer;
        std::atomic<bool> cancel{false};
        usbdevfs_urb* header() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
        ~Urb() {
            g_object_unref(buffer);
            g_object_unref(urb);
        }
    };
    using UrbPtr = std::shared_ptr<Urb>;
    using Data = std::unique_ptr<UMockdevIoctlData, void (*)(gpointer)>;

    // The URB status of a failed camera answer: a halt, or a protocol error.
    static int urbStatus(int result) {
        return result == XEVLibrary::UsbError::Pipe ? -EPIPE : -EPROTO;
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<UsbfsCamera*>(self)->handle(client);
        return TRUE;
    }

    // Caller holds the lock.
    void complete(const UrbPtr& urb, int status, int actual) {
        urb->header()->status = status;
        urb->header()->actual_length = actual;
        m_reap.push_back(urb);
    }

    void handle(UMockdevIoctlClient* client) {
        namespace UsbError = XEVLibrary::UsbError;
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        auto answer = [client](bool ok, int error) {
            umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : error);
        };
        if (request == USBDEVFS_DISCARDURB) // the argument is the client's URB address itself
            return answer(
                discard(reinterpret_cast<uintptr_t>(*reinterpret_cast<gpointer*>(arg->data))),
                EINVAL);
        Data data(nullptr, g_object_unref);
        if (_IOC_SIZE(request) > 0) {
            data.reset(umockdev_ioctl_data_resolve(arg, 0, _IOC_SIZE(request), nullptr));
            if (!data)
                return answer(false, EFAULT);
        }
        auto word = [&data] { return reinterpret_cast<guint32*>(data->data); };
        if (!m_camera->isPlugged())
            return answer(false, ENODEV);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: // one URB per transfer, whatever its length
            *word() = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            return answer(true, 0);
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
            return answer(*word() == 0, EINVAL);
        case USBDEVFS_DISCONNECT_CLAIM: // claim, after detaching a driver if any
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
            return answer(true, 0);
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL: // no kernel driver to talk to
            return answer(false, ENODATA);
        case USBDEVFS_RESET:
            return answer(m_camera->resetDevice() == UsbError::Success, ENODEV);
        case USBDEVFS_CLEAR_HALT:
            return answer(m_camera->clearHalt(uint8_t(*word())) == UsbError::Success, ENOENT);
        case USBDEVFS_SUBMITURB:
            return submit(client, data.get());
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_reap.empty())
                return answer(false, EAGAIN);
            umockdev_ioctl_data_set_ptr(data.get(), 0, m_reap.front()->urb);
            m_reap.pop_front();
            return answer(true, 0);
        }
        default:
            return answer(false, ENOTTY);
        }
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
        auto* header = reinterpret_cast<usbdevfs_urb*>(data->data);
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            data, offsetof(usbdevfs_urb, buffer), std::size_t(header->buffer_length), nullptr);
        const bool control =
            header->type == USBDEVFS_URB_TYPE_CONTROL && header->buffer_length >= 8;
        const bool bulkIn = header->type == USBDEVFS_URB_TYPE_BULK && (header->endpoint & 0x80);
        if (!buffer || !(control || bulkIn)) {
            if (buffer)
                g_object_unref(buffer);
            return umockdev_ioctl_client_complete(client, -1, buffer ? EINVAL : EFAULT);
        }
        auto urb = std::make_shared<Urb>();
        urb->urb = static_cast<UMockdevIoctlData*>(g_object_ref(data));
        urb->buffer = buffer;
        header->status = 0;
        header->actual_length = 0;
        if (control) {
            unsigned char* setup = buffer->data;
            const int length = std::min(setup[6] | setup[7] << 8, header->buffer_length - 8);
            const int result = m_camera->controlTransfer(
                setup[0], setup[1], uint16_t(setup[2] | setup[3] << 8),
                uint16_t(setup[4] | setup[5] << 8), setup + 8, uint16_t(length));
            std::lock_guard<std::mutex> guard(m_lock);
            complete(urb, result < 0 ? urbStatus(result) : 0, std::max(result, 0));
        } else {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bulk.push_back(urb);
            m_changed.notify_all();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    bool discard(uintptr_t address) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto match = [address](const UrbPtr& urb) { return urb->urb->client_addr == address; };
            auto found = std::find_if(m_bulk.begin(), m_bulk.end(), match);
            if (m_current && match(m_current)) {
                m_current->cancel = true; // the worker hands it back
            } else if (found != m_bulk.end()) {
                complete(*found, -ENOENT, 0);
                m_bulk.erase(found);
            } else {
                return false;
            }
        }
        m_changed.notify_all();
        m_camera->wakeReaders();
        return true;
    }

    void work() {
        namespace UsbError = XEVLibrary::UsbError;
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_changed.wait(guard, [this] { return m_stopping || !m_bulk.empty(); });
            if (m_stopping)
                return;
            const UrbPtr urb = m_current = m_bulk.front();
            m_bulk.pop_front();
            usbdevfs_urb* header = urb->header();
            guard.unlock();
            int moved = 0;
            const int result = m_camera->bulkRead(header->endpoint, urb->buffer->data,
                                                  header->buffer_length, &moved, 0, &urb->cancel);
            guard.lock();
            // A read the camera swallowed stays unanswered until libusb discards it.
            if (result == UsbError::Timeout)
                m_changed.wait(guard, [&] { return m_stopping || urb->cancel; });
            m_current.reset();
            if (result == UsbError::Timeout || urb->cancel)
                complete(urb, -ENOENT, 0);
            else if (result == UsbError::Success)
                complete(urb, 0, std::min(moved, header->buffer_length));
            else
                complete(urb, urbStatus(result), 0);
        }
    }

    std::shared_ptr<Camera> m_camera;
    UMockdevTestbed* m_testbed;
    UMockdevIoctlBase* m_handler = nullptr;
    std::string m_node;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<UrbPtr> m_bulk; // waiting for the worker
    UrbPtr m_current;          // in the worker's hands
    std::deque<UrbPtr> m_reap; // completed
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace XEVTest
