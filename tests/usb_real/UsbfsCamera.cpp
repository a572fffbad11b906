#include "UsbfsCamera.h"

#include "usb/UsbSeam.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <stdexcept>

using XEVLibrary::UsbError::IO;
using XEVLibrary::UsbError::NoDevice;
using XEVLibrary::UsbError::Overflow;
using XEVLibrary::UsbError::Pipe;
using XEVLibrary::UsbError::Success;
using XEVLibrary::UsbError::Timeout;

namespace XEVTest {
namespace {

// URB status of a camera answer, as the kernel reports it.
int urbStatus(int result) {
    switch (result) {
    case NoDevice:
        return -ENODEV;
    case Pipe:
        return -EPIPE;
    case Overflow:
        return -EOVERFLOW;
    default:
        return -EPROTO;
    }
}

} // namespace

UsbfsCamera::UsbfsCamera(UMockdevTestbed* testbed,
                         std::shared_ptr<XEVLibrary::Emulator::XEVUsbEmulatedCamera> camera,
                         int busNumber, int deviceNumber)
    : m_camera(std::move(camera)), m_testbed(testbed) {
    char bus[24], dev[24], node[64], name[48], major[32];
    std::snprintf(bus, sizeof(bus), "%d\n", busNumber);
    std::snprintf(dev, sizeof(dev), "%d\n", deviceNumber);
    std::snprintf(node, sizeof(node), "/dev/bus/usb/%03d/%03d", busNumber, deviceNumber);
    std::snprintf(name, sizeof(name), "%d-%d", busNumber, deviceNumber);
    std::snprintf(major, sizeof(major), "189:%d\n", (busNumber - 1) * 128 + deviceNumber - 1);
    m_node = node;
    const bool usb3 = m_camera->config().bcdUSB > 0x02FF;
    gchar* syspath = umockdev_testbed_add_device(
        testbed, "usb", name, nullptr, "busnum", bus, "devnum", dev, "speed",
        usb3 ? "5000\n" : "480\n", "bConfigurationValue", "1\n", "dev", major, nullptr, "DEVTYPE",
        "usb_device", "DEVNAME", node, nullptr);
    if (!syspath)
        throw std::runtime_error("umockdev: cannot add the device");
    std::vector<uint8_t> descriptors = m_camera->descriptors();
    umockdev_testbed_set_attribute_binary(testbed, syspath, "descriptors", descriptors.data(),
                                          gssize(descriptors.size()));
    g_free(syspath);
    // add_device() makes no device node: libusb opens it, so create an empty file.
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    gchar* file = g_build_filename(root, node, nullptr);
    gchar* directory = g_path_get_dirname(file);
    g_mkdir_with_parents(directory, 0755);
    g_file_set_contents(file, "", 0, nullptr);
    g_free(directory);
    g_free(file);
    g_free(root);

    m_camera->setPlugged(true);
    m_worker = std::thread([this] { work(); });
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&UsbfsCamera::onIoctl), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, m_handler, &error)) {
        const std::string message = error ? error->message : "attach failed";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }
}

UsbfsCamera::~UsbfsCamera() {
    umockdev_testbed_detach_ioctl(m_testbed, m_node.c_str(), nullptr);
    m_camera->setPlugged(false);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_camera->wakeReaders();
    m_worker.join();
    auto release = [](const std::shared_ptr<Urb>& urb) {
        g_object_unref(urb->buffer);
        g_object_unref(urb->urb);
    };
    for (auto& urb : m_bulk)
        release(urb);
    for (auto& urb : m_stuck)
        release(urb);
    for (auto& urb : m_reap)
        release(urb);
    g_object_unref(m_handler);
}

gboolean UsbfsCamera::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<UsbfsCamera*>(self)->handle(client);
    return TRUE;
}

void UsbfsCamera::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* data = nullptr;
    GError* error = nullptr;
    if (request != USBDEVFS_DISCARDURB && size > 0) {
        data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
        if (!data) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    if (!m_camera->isPlugged() && request != USBDEVFS_DISCARDURB) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else {
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            // One URB per transfer, whatever its length.
            *reinterpret_cast<guint32*>(data->data) = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
            umockdev_ioctl_client_complete(client, *reinterpret_cast<guint32*>(data->data) ? -1 : 0,
                                           *reinterpret_cast<guint32*>(data->data) ? EINVAL : 0);
            break;
        case USBDEVFS_DISCONNECT_CLAIM: // claim, after detaching a driver if any
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL: // no kernel driver to talk to
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            break;
        case USBDEVFS_RESET: {
            const int result = m_camera->resetDevice();
            umockdev_ioctl_client_complete(client, result == Success ? 0 : -1,
                                           result == Success ? 0 : ENODEV);
            break;
        }
        case USBDEVFS_CLEAR_HALT: {
            const int result =
                m_camera->clearHalt(uint8_t(*reinterpret_cast<guint32*>(data->data)));
            umockdev_ioctl_client_complete(client, result == Success ? 0 : -1,
                                           result == Success ? 0 : ENOENT);
            break;
        }
        case USBDEVFS_SUBMITURB:
            submit(client, data);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            std::shared_ptr<Urb> urb;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (!m_reap.empty()) {
                    urb = m_reap.front();
                    m_reap.pop_front();
                }
            }
            if (urb) {
                umockdev_ioctl_data_set_ptr(data, 0, urb->urb);
                g_object_unref(urb->buffer);
                g_object_unref(urb->urb);
                umockdev_ioctl_client_complete(client, 0, 0);
            } else {
                umockdev_ioctl_client_complete(client, -1, EAGAIN);
            }
            break;
        }
        case USBDEVFS_DISCARDURB: {
            // The argument is the client's URB address itself.
            const unsigned long address = static_cast<unsigned long>(
                reinterpret_cast<uintptr_t>(*reinterpret_cast<gpointer*>(arg->data)));
            const bool found = discard(address);
            umockdev_ioctl_client_complete(client, found ? 0 : -1, found ? 0 : EINVAL);
            break;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }
    if (data)
        g_object_unref(data);
}

void UsbfsCamera::submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
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
        const uint16_t value = uint16_t(setup[2] | setup[3] << 8);
        const uint16_t index = uint16_t(setup[4] | setup[5] << 8);
        const uint16_t length = uint16_t(setup[6] | setup[7] << 8);
        const uint16_t room = uint16_t(std::min<int>(length, header->buffer_length - 8));
        const int result =
            m_camera->controlTransfer(setup[0], setup[1], value, index, setup + 8, room);
        if (result == Timeout) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stuck.push_back(urb); // the device never answers
        } else if (result < 0) {
            finish(urb, urbStatus(result), 0);
        } else {
            finish(urb, 0, result);
        }
    } else if (header->type == USBDEVFS_URB_TYPE_BULK && (header->endpoint & 0x80)) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bulk.push_back(urb);
        }
        m_changed.notify_all();
    } else {
        g_object_unref(urb->buffer);
        g_object_unref(urb->urb);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbfsCamera::finish(const std::shared_ptr<Urb>& urb, int status, int actual) {
    auto* header = reinterpret_cast<usbdevfs_urb*>(urb->urb->data);
    header->status = status;
    header->actual_length = actual;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_reap.push_back(urb);
    }
}

bool UsbfsCamera::discard(unsigned long address) {
    bool found = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto match = [address](const std::shared_ptr<Urb>& urb) {
            return urb->urb->client_addr == address;
        };
        auto cancelled = [this](const std::shared_ptr<Urb>& urb) {
            auto* header = reinterpret_cast<usbdevfs_urb*>(urb->urb->data);
            header->status = -ENOENT;
            header->actual_length = 0;
            m_reap.push_back(urb);
        };
        if (m_current && match(m_current)) {
            m_current->cancel = true; // the worker hands it back
            found = true;
        }
        for (auto it = m_bulk.begin(); !found && it != m_bulk.end(); ++it)
            if (match(*it)) {
                cancelled(*it);
                m_bulk.erase(it);
                found = true;
                break;
            }
        for (auto it = m_stuck.begin(); !found && it != m_stuck.end(); ++it)
            if (match(*it)) {
                cancelled(*it);
                m_stuck.erase(it);
                found = true;
                break;
            }
    }
    if (found)
        m_camera->wakeReaders();
    return found;
}

void UsbfsCamera::work() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait_for(lock, std::chrono::milliseconds(100),
                           [this] { return m_stopping || !m_bulk.empty(); });
        if (m_stopping)
            return;
        if (m_bulk.empty())
            continue;
        m_current = m_bulk.front();
        m_bulk.pop_front();
        std::shared_ptr<Urb> urb = m_current;
        lock.unlock();
        auto* header = reinterpret_cast<usbdevfs_urb*>(urb->urb->data);
        int moved = 0;
        const int result = m_camera->bulkRead(header->endpoint, urb->buffer->data,
                                              header->buffer_length, &moved, 0, &urb->cancel);
        lock.lock();
        m_current.reset();
        if (urb->cancel) {
            header->status = -ENOENT;
            header->actual_length = 0;
            m_reap.push_back(urb);
        } else if (result == Timeout) {
            m_stuck.push_back(urb); // unanswered until libusb gives up on it
        } else {
            header->status = result == Success ? 0 : urbStatus(result);
            header->actual_length = result == Success ? std::min(moved, header->buffer_length) : 0;
            m_reap.push_back(urb);
        }
    }
}

} // namespace XEVTest
