// The only translation unit that includes libusb.
#include "usb/UsbSeam.h"

#include <libusb.h>

#include <cstdio>

namespace XEVLibrary {
namespace {

class LibUsbHandle : public UsbDeviceHandle {
public:
    explicit LibUsbHandle(libusb_device_handle* handle) : m_handle(handle) {}
    ~LibUsbHandle() override { libusb_close(m_handle); }

    int claimInterface(int interfaceNumber) override {
        return libusb_claim_interface(m_handle, interfaceNumber);
    }
    int releaseInterface(int interfaceNumber) override {
        return libusb_release_interface(m_handle, interfaceNumber);
    }
    int getStringDescriptorAscii(uint8_t index, unsigned char* data, int length) override {
        if (!data || length <= 0)
            return UsbError::InvalidParam;
        const int result = libusb_get_string_descriptor_ascii(m_handle, index, data, length);
        // Always leave a terminated text, whatever the device sent.
        if (result >= 0 && result < length)
            data[result] = 0;
        else
            data[0] = 0;
        return result >= length ? UsbError::Overflow : result;
    }
    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        unsigned char* data, uint16_t length, unsigned int timeoutMs) override {
        return libusb_control_transfer(m_handle, requestType, request, value, index, data, length,
                                       timeoutMs);
    }
    int bulkTransfer(uint8_t endpoint, unsigned char* data, int length, int* transferred,
                     unsigned int timeoutMs) override {
        int moved = 0;
        const int result =
            libusb_bulk_transfer(m_handle, endpoint, data, length, &moved, timeoutMs);
        if (transferred)
            *transferred = moved;
        return result;
    }
    int resetDevice() override { return libusb_reset_device(m_handle); }
    int clearHalt(uint8_t endpoint) override { return libusb_clear_halt(m_handle, endpoint); }

private:
    libusb_device_handle* m_handle;
};

class LibUsbDevice : public UsbDevice {
public:
    LibUsbDevice(libusb_device* device, const UsbDeviceInfo& info)
        : m_device(libusb_ref_device(device)), m_info(info) {}
    ~LibUsbDevice() override { libusb_unref_device(m_device); }

    const UsbDeviceInfo& info() const override { return m_info; }
    int open(std::unique_ptr<UsbDeviceHandle>& handle) override {
        libusb_device_handle* raw = nullptr;
        const int result = libusb_open(m_device, &raw);
        if (result != LIBUSB_SUCCESS)
            return result;
        handle = std::make_unique<LibUsbHandle>(raw);
        return UsbError::Success;
    }
    std::string location() const override {
        char text[32];
        std::snprintf(text, sizeof(text), "usb %u-%u", libusb_get_bus_number(m_device),
                      libusb_get_device_address(m_device));
        return text;
    }

private:
    libusb_device* m_device;
    UsbDeviceInfo m_info;
};

class LibUsbBackend : public UsbBackend {
public:
    LibUsbBackend() : m_ready(libusb_init(nullptr) == LIBUSB_SUCCESS) {}
    // libusb is never shut down: devices may outlive every user of the backend.

    UsbDeviceList listDevices() override {
        UsbDeviceList devices;
        if (!m_ready)
            return devices;
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(nullptr, &list);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS)
                continue;
            UsbDeviceInfo info;
            info.bcdUSB = descriptor.bcdUSB;
            info.idVendor = descriptor.idVendor;
            info.idProduct = descriptor.idProduct;
            info.iManufacturer = descriptor.iManufacturer;
            info.iProduct = descriptor.iProduct;
            info.iSerialNumber = descriptor.iSerialNumber;
            devices.push_back(std::make_shared<LibUsbDevice>(list[i], info));
        }
        if (count >= 0)
            libusb_free_device_list(list, 1);
        return devices;
    }

private:
    bool m_ready;
};

} // namespace

std::shared_ptr<UsbBackend> libUsbBackend() {
    static std::shared_ptr<UsbBackend> backend = std::make_shared<LibUsbBackend>();
    return backend;
}

} // namespace XEVLibrary
