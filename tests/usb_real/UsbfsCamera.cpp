#include "UsbfsCamera.h"

#include "usb/UsbSeam.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace XEVTest {

namespace UsbError = XEVLibrary::UsbError;
using XEVLibrary::Emulator::XEVUsbEmulatedCamera;

struct UsbfsCamera::Server {
    struct Urb {
        UMockdevIoctlData* urb = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        std::atomic<bool> cancel{false};
        usbdevfs_urb* header() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
        ~Urb() {
            g_object_unref(buffer);
            g_object_unref(urb);
        }
    };
    using UrbPtr = std::shared_ptr<Urb>;

    std::shared_ptr<XEVUsbEmulatedCamera> camera;
    UMockdevTestbed* testbed;
    UMockdevIoctlBase* handler = nullptr;
    std::string node;

    std::mutex lock;
    std::condition_variable changed;
    std::deque<UrbPtr> bulk; // waiting for the worker
    UrbPtr current;          // in the worker's hands
    std::deque<UrbPtr> reap; // completed
    bool stopping = false;
    std::thread worker;

    // URB status of a camera answer, as the kernel reports it.
    static int urbStatus(int result) {
        switch (result) {
        case UsbError::NoDevice:
            return -ENODEV;
        case UsbError::Pipe:
            return -EPIPE;
        case UsbError::Overflow:
            return -EOVERFLOW;
        default:
            return -EPROTO;
        }
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Server*>(self)->handle(client);
        return TRUE;
    }

    // Caller holds the lock.
    void complete(const UrbPtr& urb, int status, int actual) {
        urb->header()->status = status;
        urb->header()->actual_length = actual;
        reap.push_back(urb);
    }

    void handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* data = nullptr;
        auto answer = [client](bool ok, int error) {
            umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : error);
        };
        GError* error = nullptr;
        if (request != USBDEVFS_DISCARDURB && _IOC_SIZE(request) > 0) {
            data = umockdev_ioctl_data_resolve(arg, 0, _IOC_SIZE(request), &error);
            if (!data) {
                g_clear_error(&error);
                return answer(false, EFAULT);
            }
        }
        auto word = [data] { return *reinterpret_cast<guint32*>(data->data); };
        if (!camera->isPlugged() && request != USBDEVFS_DISCARDURB) {
            answer(false, ENODEV);
        } else {
            switch (request) {
            case USBDEVFS_GET_CAPABILITIES: // one URB per transfer, whatever its length
                *reinterpret_cast<guint32*>(data->data) = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
                answer(true, 0);
                break;
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_RELEASEINTERFACE:
                answer(word() == 0, EINVAL);
                break;
            case USBDEVFS_DISCONNECT_CLAIM: // claim, after detaching a driver if any
            case USBDEVFS_SETCONFIGURATION:
            case USBDEVFS_SETINTERFACE:
                answer(true, 0);
                break;
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL: // no kernel driver to talk to
                answer(false, ENODATA);
                break;
            case USBDEVFS_RESET:
                answer(camera->resetDevice() == UsbError::Success, ENODEV);
                break;
            case USBDEVFS_CLEAR_HALT:
                answer(camera->clearHalt(uint8_t(word())) == UsbError::Success, ENOENT);
                break;
            case USBDEVFS_SUBMITURB:
                submit(client, data);
                break;
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY: {
                std::lock_guard<std::mutex> guard(lock);
                const bool ready = !reap.empty();
                if (ready) {
                    umockdev_ioctl_data_set_ptr(data, 0, reap.front()->urb);
                    reap.pop_front();
                }
                answer(ready, EAGAIN);
                break;
            }
            case USBDEVFS_DISCARDURB: // the argument is the client's URB address itself
                answer(discard(static_cast<unsigned long>(
                           reinterpret_cast<uintptr_t>(*reinterpret_cast<gpointer*>(arg->data)))),
                       EINVAL);
                break;
            default:
                answer(false, ENOTTY);
            }
        }
        if (data)
            g_object_unref(data);
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
        auto* header = reinterpret_cast<usbdevfs_urb*>(data->data);
        GError* error = nullptr;
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            data, offsetof(usbdevfs_urb, buffer), std::size_t(header->buffer_length), &error);
        if (!buffer) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        auto urb = std::make_shared<Urb>();
        urb->urb = static_cast<UMockdevIoctlData*>(g_object_ref(data));
        urb->buffer = buffer;
        header->status = 0;
        header->actual_length = 0;
        if (header->type == USBDEVFS_URB_TYPE_CONTROL && header->buffer_length >= 8) {
            unsigned char* setup = buffer->data;
            const uint16_t length = uint16_t(setup[6] | setup[7] << 8);
            const int result =
                camera->controlTransfer(setup[0], setup[1], uint16_t(setup[2] | setup[3] << 8),
                                        uint16_t(setup[4] | setup[5] << 8), setup + 8,
                                        uint16_t(std::min<int>(length, header->buffer_length - 8)));
            std::lock_guard<std::mutex> guard(lock);
            complete(urb, result < 0 ? urbStatus(result) : 0, result < 0 ? 0 : result);
        } else if (header->type == USBDEVFS_URB_TYPE_BULK && (header->endpoint & 0x80)) {
            {
                std::lock_guard<std::mutex> guard(lock);
                bulk.push_back(urb);
            }
            changed.notify_all();
        } else {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    bool discard(unsigned long address) {
        {
            std::lock_guard<std::mutex> guard(lock);
            auto match = [address](const UrbPtr& urb) { return urb->urb->client_addr == address; };
            if (current && match(current)) {
                current->cancel = true; // the worker hands it back
            } else {
                auto found = std::find_if(bulk.begin(), bulk.end(), match);
                if (found == bulk.end())
                    return false;
                complete(*found, -ENOENT, 0);
                bulk.erase(found);
            }
        }
        changed.notify_all();
        camera->wakeReaders();
        return true;
    }

    void work() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [this] { return stopping || !bulk.empty(); });
            if (stopping)
                return;
            current = bulk.front();
            bulk.pop_front();
            const UrbPtr urb = current;
            usbdevfs_urb* header = urb->header();
            guard.unlock();
            int moved = 0;
            const int result = camera->bulkRead(header->endpoint, urb->buffer->data,
                                                header->buffer_length, &moved, 0, &urb->cancel);
            guard.lock();
            // A read the camera swallowed stays unanswered until libusb discards it.
            if (result == UsbError::Timeout)
                changed.wait(guard, [&] { return stopping || urb->cancel; });
            current.reset();
            if (result == UsbError::Timeout || urb->cancel)
                complete(urb, -ENOENT, 0);
            else if (result == UsbError::Success)
                complete(urb, 0, std::min(moved, header->buffer_length));
            else
                complete(urb, urbStatus(result), 0);
        }
    }
};

UsbfsCamera::UsbfsCamera(UMockdevTestbed* testbed, std::shared_ptr<XEVUsbEmulatedCamera> camera,
                         int busNumber, int deviceNumber)
    : m_server(std::make_unique<Server>()) {
    Server& s = *m_server;
    s.camera = std::move(camera);
    s.testbed = testbed;
    char node[32], hex[4];
    std::snprintf(node, sizeof(node), "/dev/bus/usb/%03d/%03d", busNumber, deviceNumber);
    s.node = node;
    // A usb_device as udev lists it; N: makes the (empty) node libusb opens.
    std::ostringstream device;
    device << "P: /devices/usb" << busNumber << '/' << busNumber << '-' << deviceNumber
           << "\nN: " << (node + 5)
           << "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" << node
           << "\nA: busnum=" << busNumber << "\nA: devnum=" << deviceNumber
           << "\nA: speed=" << (s.camera->config().bcdUSB > 0x02FF ? 5000 : 480)
           << "\nA: bConfigurationValue=1\nA: dev=189:" << (busNumber - 1) * 128 + deviceNumber - 1
           << "\nH: descriptors=";
    for (uint8_t byte : s.camera->descriptors()) {
        std::snprintf(hex, sizeof(hex), "%02X", byte);
        device << hex;
    }
    device << "\n";
    GError* error = nullptr;
    auto check = [&error](bool done, const char* what) {
        if (done)
            return;
        const std::string message = error ? error->message : what;
        g_clear_error(&error);
        throw std::runtime_error(std::string("umockdev: ") + message);
    };
    check(umockdev_testbed_add_from_string(testbed, device.str().c_str(), &error),
          "cannot add the device");
    s.camera->setPlugged(true);
    s.handler = umockdev_ioctl_base_new();
    g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(&Server::onIoctl), &s);
    check(umockdev_testbed_attach_ioctl(testbed, node, s.handler, &error), "cannot attach");
    s.worker = std::thread([&s] { s.work(); });
}

UsbfsCamera::~UsbfsCamera() {
    Server& s = *m_server;
    umockdev_testbed_detach_ioctl(s.testbed, s.node.c_str(), nullptr);
    s.camera->setPlugged(false);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.stopping = true;
    }
    s.changed.notify_all();
    s.camera->wakeReaders();
    s.worker.join();
    g_object_unref(s.handler);
}

} // namespace XEVTest
