#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace XEVLibrary {

/// Result codes of the USB operations, with the values libusb uses, so that
/// callers never need libusb's header.
namespace UsbError {
constexpr int Success = 0;
constexpr int IO = -1;
constexpr int InvalidParam = -2;
constexpr int Access = -3;
constexpr int NoDevice = -4;
constexpr int NotFound = -5;
constexpr int Busy = -6;
constexpr int Timeout = -7;
constexpr int Overflow = -8;
constexpr int Pipe = -9;
constexpr int Interrupted = -10;
constexpr int NoMem = -11;
constexpr int NotSupported = -12;
constexpr int Other = -99;
} // namespace UsbError

/// The fields of a standard USB device descriptor that the transfer layer reads.
struct UsbDeviceInfo {
    uint16_t bcdUSB = 0;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint8_t iManufacturer = 0;
    uint8_t iProduct = 0;
    uint8_t iSerialNumber = 0;
};

/**
 * An open USB device. Every operation returns a libusb-compatible code
 * (UsbError); destroying the handle closes the device. Operations may be
 * called from several threads at once (control requests beside a pending
 * bulk read), as libusb allows.
 */
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;

    virtual int claimInterface(int interfaceNumber) = 0;
    virtual int releaseInterface(int interfaceNumber) = 0;
    /// Reads string descriptor @p index as ASCII into @p data (at most
    /// @p length bytes, terminator included); returns the number of
    /// characters (without terminator) or an error code.
    virtual int getStringDescriptorAscii(uint8_t index, unsigned char* data, int length) = 0;
    /// A control transfer; returns the number of bytes of the data stage or
    /// an error code. @p timeoutMs 0 waits without limit (avoid it).
    virtual int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                uint16_t index, unsigned char* data, uint16_t length,
                                unsigned int timeoutMs) = 0;
    /// A bulk transfer of at most @p length bytes; @p transferred receives the
    /// count moved, also when an error is returned.
    virtual int bulkTransfer(uint8_t endpoint, unsigned char* data, int length, int* transferred,
                             unsigned int timeoutMs) = 0;
    virtual int resetDevice() = 0;
    virtual int clearHalt(uint8_t endpoint) = 0;
};

/// A listed USB device: its descriptor, and the way to open it.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    virtual const UsbDeviceInfo& info() const = 0;
    /// Opens the device into @p handle; returns UsbError::Success or an error code.
    virtual int open(std::unique_ptr<UsbDeviceHandle>& handle) = 0;
    /// Where the device sits, for diagnostics ("usb 1-2", "emulated 3").
    virtual std::string location() const = 0;
};

using UsbDeviceList = std::vector<std::shared_ptr<UsbDevice>>;

/// A source of USB devices: the libusb implementation or an emulated bus.
class UsbBackend {
public:
    virtual ~UsbBackend() = default;
    /// The devices present now, in a stable order.
    virtual UsbDeviceList listDevices() = 0;
};

/**
 * The process-wide view of USB: the devices of the real libusb backend
 * first, then those of every emulated bus registered by code, in the order
 * of registration.
 */
class UsbBus {
public:
    static UsbBus& instance();

    UsbDeviceList listDevices();

    /// Adds @p backend after the ones registered before; registering the same
    /// backend twice has no effect.
    void registerBackend(const std::shared_ptr<UsbBackend>& backend);
    void unregisterBackend(const UsbBackend* backend);

private:
    UsbBus() = default;

    std::mutex m_lock;
    std::vector<std::shared_ptr<UsbBackend>> m_backends;
};

/// The libusb implementation (default context, initialised on first use and
/// never shut down); an empty list when libusb cannot be initialised.
std::shared_ptr<UsbBackend> libUsbBackend();

} // namespace XEVLibrary
