#include "XEVUsbCameraEmulator.h"

#include "usb/UsbSeam.h"

#include <algorithm>
#include <cstring>

namespace XEVLibrary {
namespace Emulator {
namespace {

/// An open emulated camera. It belongs to one connection: after an unplug
/// every operation answers UsbError::NoDevice, as libusb does for a vanished device.
class EmulatedHandle : public UsbDeviceHandle {
public:
    EmulatedHandle(std::shared_ptr<XEVUsbEmulatedCamera> camera, uint64_t generation)
        : m_camera(std::move(camera)), m_generation(generation) {}

    int claimInterface(int interfaceNumber) override {
        if (gone())
            return UsbError::NoDevice;
        return m_camera->claimInterface(interfaceNumber);
    }
    int releaseInterface(int interfaceNumber) override {
        if (gone())
            return UsbError::NoDevice;
        return interfaceNumber == 0 ? UsbError::Success : UsbError::NotFound;
    }
    int getStringDescriptorAscii(uint8_t index, unsigned char* data, int length) override {
        if (!data || length <= 0)
            return UsbError::InvalidParam;
        data[0] = 0;
        if (index == 0)
            return UsbError::InvalidParam;
        if (gone())
            return UsbError::NoDevice;
        // The same two requests libusb sends: the language list, then the string.
        unsigned char buffer[255];
        int result = m_camera->controlTransfer(0x80, 0x06, 0x0300, 0, buffer, sizeof(buffer));
        if (result < 0)
            return result;
        if (result < 4)
            return UsbError::IO;
        const uint16_t language = uint16_t(buffer[2] | buffer[3] << 8);
        result = m_camera->controlTransfer(0x80, 0x06, uint16_t(0x0300 | index), language, buffer,
                                           sizeof(buffer));
        if (result < 0)
            return result;
        if (result < 2 || buffer[1] != 3)
            return UsbError::IO;
        if (buffer[0] > result)
            return UsbError::Overflow;
        int count = 0;
        for (int i = 2; i + 1 < buffer[0] && count < length - 1; i += 2)
            data[count++] = buffer[i + 1] ? '?' : buffer[i];
        data[count] = 0;
        return count;
    }
    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        unsigned char* data, uint16_t length, unsigned int) override {
        if (gone())
            return UsbError::NoDevice;
        return m_camera->controlTransfer(requestType, request, value, index, data, length);
    }
    int bulkTransfer(uint8_t endpoint, unsigned char* data, int length, int* transferred,
                     unsigned int timeoutMs) override {
        if (transferred)
            *transferred = 0;
        if (gone())
            return UsbError::NoDevice;
        if (!(endpoint & 0x80))
            return UsbError::IO; // the camera has no OUT endpoint
        return m_camera->bulkRead(endpoint, data, length, transferred, timeoutMs);
    }
    int resetDevice() override {
        if (gone())
            return UsbError::NoDevice;
        return m_camera->resetDevice();
    }
    int clearHalt(uint8_t endpoint) override {
        if (gone())
            return UsbError::NoDevice;
        return m_camera->clearHalt(endpoint);
    }

private:
    bool gone() const { return m_camera->generation() != m_generation || !m_camera->isPlugged(); }

    std::shared_ptr<XEVUsbEmulatedCamera> m_camera;
    uint64_t m_generation;
};

class EmulatedDevice : public UsbDevice {
public:
    EmulatedDevice(std::shared_ptr<XEVUsbEmulatedCamera> camera, uint64_t generation,
                   unsigned position)
        : m_camera(std::move(camera)), m_generation(generation), m_position(position) {
        const XEVUsbCameraConfig& config = m_camera->config();
        m_info.bcdUSB = config.bcdUSB;
        m_info.idVendor = config.vendorId;
        m_info.idProduct = config.productId;
        m_info.iManufacturer = 1;
        m_info.iProduct = 2;
        m_info.iSerialNumber = config.bridgeFirmware.empty() ? 0 : 3;
    }

    const UsbDeviceInfo& info() const override { return m_info; }
    int open(std::unique_ptr<UsbDeviceHandle>& handle) override {
        if (m_camera->generation() != m_generation || !m_camera->isPlugged())
            return UsbError::NoDevice;
        handle = std::make_unique<EmulatedHandle>(m_camera, m_generation);
        return UsbError::Success;
    }
    std::string location() const override { return "emulated " + std::to_string(m_position); }

private:
    std::shared_ptr<XEVUsbEmulatedCamera> m_camera;
    uint64_t m_generation;
    unsigned m_position;
    UsbDeviceInfo m_info;
};

} // namespace

class XEVUsbEmulatedBus::Backend : public UsbBackend {
public:
    UsbDeviceList listDevices() override {
        std::lock_guard<std::mutex> guard(lock);
        UsbDeviceList devices;
        for (const auto& slot : slots)
            devices.push_back(std::make_shared<EmulatedDevice>(
                slot.camera, slot.camera->generation(), slot.position));
        return devices;
    }

    struct Slot {
        std::shared_ptr<XEVUsbEmulatedCamera> camera;
        unsigned position;
    };
    mutable std::mutex lock;
    std::vector<Slot> slots;
    unsigned nextPosition = 0;
};

XEVUsbEmulatedBus::XEVUsbEmulatedBus() : m_backend(std::make_shared<Backend>()) {
    UsbBus::instance().registerBackend(m_backend);
}

XEVUsbEmulatedBus::~XEVUsbEmulatedBus() {
    UsbBus::instance().unregisterBackend(m_backend.get());
    unplugAll();
}

std::shared_ptr<XEVUsbEmulatedCamera> XEVUsbEmulatedBus::plug(const XEVUsbCameraConfig& config) {
    auto camera = std::make_shared<XEVUsbEmulatedCamera>(config);
    plug(camera);
    return camera;
}

void XEVUsbEmulatedBus::plug(const std::shared_ptr<XEVUsbEmulatedCamera>& camera) {
    if (!camera)
        return;
    std::lock_guard<std::mutex> guard(m_backend->lock);
    if (camera->isPlugged())
        return; // already on a bus
    camera->setPlugged(true);
    m_backend->slots.push_back({camera, m_backend->nextPosition++});
}

void XEVUsbEmulatedBus::unplug(const std::shared_ptr<XEVUsbEmulatedCamera>& camera) {
    std::lock_guard<std::mutex> guard(m_backend->lock);
    auto& slots = m_backend->slots;
    auto found = std::find_if(slots.begin(), slots.end(),
                              [&](const Backend::Slot& slot) { return slot.camera == camera; });
    if (found == slots.end())
        return;
    camera->setPlugged(false);
    slots.erase(found);
}

void XEVUsbEmulatedBus::unplugAll() {
    std::lock_guard<std::mutex> guard(m_backend->lock);
    for (auto& slot : m_backend->slots)
        slot.camera->setPlugged(false);
    m_backend->slots.clear();
}

std::vector<std::shared_ptr<XEVUsbEmulatedCamera>> XEVUsbEmulatedBus::cameras() const {
    std::lock_guard<std::mutex> guard(m_backend->lock);
    std::vector<std::shared_ptr<XEVUsbEmulatedCamera>> result;
    for (const auto& slot : m_backend->slots)
        result.push_back(slot.camera);
    return result;
}

} // namespace Emulator
} // namespace XEVLibrary
