#include "usb/XEVTransfert.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "device/Diagnostics.h"
#include "pipeline/FrameFormat.h"
#include "usb/UsbSeam.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace XEVLibrary {

const uint16_t InfoLineHeader[8] = {0x0555, 0x0AAA, 0x0555, 0x0AAA, 0x0555, 0x0AAA, 0x0000, 0x0FFF};

namespace {

constexpr uint8_t VendorOut = 0x40;
constexpr uint8_t RequestStart = 0xD0;
constexpr uint8_t RequestStop = 0xD1;
constexpr uint8_t RequestRegister = 0xD3;
constexpr uint8_t RequestLineFormat = 0xD4;
constexpr uint8_t RequestLineFormat8 = 0xD5;
constexpr uint8_t RequestRegisterBlock = 0xD6;
constexpr uint8_t RequestRecognition = 0xD7;
// Words of the info line read by the recognition; the line must hold them all.
constexpr std::size_t RecognitionWords = 55;

// Consecutive failed frame transfers of every device of the process: the
// capture threads of several cameras update it at once.
std::atomic<int32_t> bulkErrors{0};

std::mutex handlerLock;
XEVTransfert::DisconnectionHandler& disconnectionHandler() {
    static XEVTransfert::DisconnectionHandler* handler = new XEVTransfert::DisconnectionHandler();
    return *handler;
}

uint8_t bulkEndpoint(const XEVDeviceDescriptorUsb& descriptor) {
    return descriptor.fxType() == FX3 ? 0x83 : 0x82;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

/// Why a USB operation failed, in words a user can act on.
std::string usbFailureCause(int code) {
    switch (code) {
    case UsbError::Busy:
        return "the camera is in use by another program";
    case UsbError::Access:
        return "access to the camera is denied";
    case UsbError::NoDevice:
        return "the camera is gone";
    case UsbError::NotFound:
        return "the camera has no such interface";
    default:
        return "USB error " + std::to_string(code);
    }
}

} // namespace

const uint16_t* FindInfoLine(const uint16_t* begin, const uint16_t* end) {
    if (!begin || !end || end - begin < 8)
        return nullptr;
    for (const uint16_t* p = begin; end - p >= 8; ++p)
        if (std::memcmp(p + 1, InfoLineHeader + 1, 7 * sizeof(uint16_t)) == 0)
            return p;
    return nullptr;
}

bool InfoLineValid(const uint16_t* line) {
    return line && std::memcmp(line + 1, InfoLineHeader + 1, 7 * sizeof(uint16_t)) == 0;
}

bool InfoLineValid(const uint16_t* line, std::size_t words) {
    return words >= 8 && InfoLineValid(line);
}

XEVTransfert::XEVTransfert() = default;
XEVTransfert::~XEVTransfert() = default;

std::unique_ptr<UsbDeviceHandle> XEVTransfert::open(const XEVDeviceDescriptorUsb& descriptor) {
    std::unique_ptr<UsbDeviceHandle> handle;
    const auto& device = descriptor.usbDevice();
    if (!device || device->open(handle) != UsbError::Success || !handle)
        XEVException::throwError(XEVException::format(512, "Device {%s} cannot be opened.",
                                                      descriptor.toString().c_str()));
    // Without the interface every transfer would fail: a camera held by
    // another program cannot be opened.
    const int claimed = handle->claimInterface(0);
    if (claimed != UsbError::Success)
        XEVException::throwError(
            XEVException::format(512,
                                 "Device {%s} cannot be opened: interface 0 cannot be "
                                 "claimed (%s).",
                                 descriptor.toString().c_str(), usbFailureCause(claimed).c_str()));
    return handle;
}

void XEVTransfert::close(const XEVDeviceDescriptorUsb&, std::unique_ptr<UsbDeviceHandle> handle) {
    if (!handle)
        return;
    handle->releaseInterface(0);
    handle.reset();
}

int XEVTransfert::vendorRequest(UsbDeviceHandle* handle, uint8_t request, uint16_t value) {
    if (!handle)
        return UsbError::InvalidParam;
    unsigned char zero = 0;
    return handle->controlTransfer(VendorOut, request, value, 0, &zero, 0, ControlTimeoutMs);
}

void XEVTransfert::start(UsbDeviceHandle* handle) {
    vendorRequest(handle, RequestStart, 0);
}

void XEVTransfert::stop(UsbDeviceHandle* handle) {
    vendorRequest(handle, RequestStop, 0);
}

void XEVTransfert::synchronize(UsbDeviceHandle* handle, bool restart) {
    stop(handle);
    if (restart) {
        sleepMs(75);
        start(handle);
    }
}

bool XEVTransfert::setRegVal(const XEVDeviceDescriptorUsb&, UsbDeviceHandle* handle,
                             uint32_t address, uint8_t value) {
    const auto word = uint16_t((address & 0xFF) * 256 + value);
    const int result = vendorRequest(handle, RequestRegister, word);
    // The camera needs the pause after every single write, failed or not.
    sleepMs(100);
    return result >= 0;
}

int XEVTransfert::setMultipleRegVals(const XEVDeviceDescriptorUsb&, UsbDeviceHandle* handle,
                                     const std::vector<uint16_t>& words) {
    if (!handle)
        return UsbError::InvalidParam;
    if (words.size() > 0x7FFF)
        return UsbError::InvalidParam; // wLength is 16 bits
    std::vector<unsigned char> block(words.size() * 2 + 1, 0);
    for (std::size_t i = 0; i < words.size(); ++i) {
        block[2 * i] = uint8_t(words[i] & 0xFF);
        block[2 * i + 1] = uint8_t(words[i] >> 8);
    }
    return handle->controlTransfer(VendorOut, RequestRegisterBlock, 0, 0, block.data(),
                                   uint16_t(words.size() * 2), ControlTimeoutMs);
}

int64_t XEVTransfert::setFrameFormat(const XEVDeviceDescriptorUsb& descriptor,
                                     UsbDeviceHandle* handle, unsigned columns, unsigned lines,
                                     int pixelType) {
    const int64_t lineBytes = int64_t(columns) * int64_t(detail::elementSize(pixelType));
    const int64_t size = lineBytes * int64_t(lines) + lineBytes;
    if (descriptor.fxType() == FX3)
        return size;
    const double d = 4096.0 - double(lineBytes);
    const double q = std::floor(d / 1024.0);
    const double r = d - 1024.0 * q;
    const auto word = uint16_t(int64_t(r + 8 + (q + 16) * 2048) & 0xFFFF);
    vendorRequest(handle, pixelType == 0 ? RequestLineFormat8 : RequestLineFormat, word);
    return size;
}

bool XEVTransfert::transfertFrame(const XEVDeviceDescriptorUsb& descriptor, UsbDeviceHandle* handle,
                                  uint8_t* buffer, int64_t& length,
                                  boost::condition_variable* startedCondition, bool* started,
                                  boost::mutex* flagLock) {
    boost::lock_guard<boost::mutex> transferGuard(m_transferLock);
    const int64_t requested = length;
    if (!handle || !buffer || requested <= 0 || requested > INT_MAX) {
        length = -1;
        return false;
    }
    if (startedCondition && started && flagLock) {
        {
            boost::lock_guard<boost::mutex> flagGuard(*flagLock);
            *started = true;
        }
        startedCondition->notify_one();
    }
    int received = 0;
    const int result = handle->bulkTransfer(bulkEndpoint(descriptor), buffer, int(requested),
                                            &received, FrameTimeoutMs);
    length = received;
    if (result == UsbError::Success) {
        if (received >= 0 && received <= requested) {
            bulkErrors.store(0);
            if (received == 0) {
                length = -1;
                return false;
            }
            return true;
        }
        // A count the buffer cannot hold: nothing of it may be used.
        length = -1;
        reportDisconnection(descriptor);
        return false;
    }
    if (result == UsbError::NoDevice) {
        // Gone for good: resets and restarts cannot bring it back.
        reportDisconnection(descriptor);
        return false;
    }
    if (result == UsbError::Timeout) {
        handle->resetDevice();
        synchronize(handle, true);
        return false;
    }
    if (bulkErrors.fetch_add(1) + 1 <= 9)
        handle->resetDevice();
    if (descriptor.fxType() == FX2)
        handle->clearHalt(0x82);
    else
        synchronize(handle, true);
    return false;
}

void XEVTransfert::reportDisconnection(const XEVDeviceDescriptorUsb& descriptor) {
    detail::diagnostic(detail::DiagnosticKind::Information, "Receive Ko: Device disconnection");
    DisconnectionHandler handler;
    {
        std::lock_guard<std::mutex> guard(handlerLock);
        handler = disconnectionHandler();
    }
    if (handler)
        handler(descriptor);
}

bool XEVTransfert::autoRecognition(UsbDeviceHandle* handle, XEVDeviceDescriptorUsb& descriptor) {
    if (!handle)
        return false;
    // A camera another program holds is left alone: its transfers would fail
    // and the resets would disturb that program.
    const int claimed = handle->claimInterface(0);
    if (claimed != UsbError::Success) {
        detail::diagnosticf(detail::DiagnosticKind::Information,
                            "Camera {%s} not identified: interface 0 cannot be claimed (%s)",
                            descriptor.toString().c_str(), usbFailureCause(claimed).c_str());
        return false;
    }
    vendorRequest(handle, RequestLineFormat, 0);
    stop(handle);
    if (descriptor.usbFirmwareVersion() > 0x1FFFF)
        vendorRequest(handle, RequestRecognition, 0);
    static constexpr uint8_t setup[5][2] = {{5, 0x80}, {6, 0x80}, {8, 0x08}, {10, 0x08}, {0, 0x60}};
    for (const auto& r : setup)
        setRegVal(descriptor, handle, r[0], r[1]);

    uint16_t words[RecognitionBytes / 2];
    const uint16_t* line = nullptr;
    for (int attempt = 0; attempt < RecognitionAttempts && !line; ++attempt) {
        stop(handle);
        start(handle);
        int received = 0;
        const int result =
            handle->bulkTransfer(bulkEndpoint(descriptor), reinterpret_cast<unsigned char*>(words),
                                 RecognitionBytes, &received, RecognitionTimeoutMs);
        if (result == UsbError::Success && received == RecognitionBytes) {
            const uint16_t* found = FindInfoLine(words, words + RecognitionBytes / 2);
            // Only a line whose words all arrived identifies the camera.
            if (found && std::size_t(words + RecognitionBytes / 2 - found) >= RecognitionWords)
                line = found;
        } else if (result == UsbError::NoDevice) {
            break;
        } else if (received < RecognitionBytes && result != UsbError::Success) {
            handle->resetDevice();
        }
    }
    stop(handle);
    setRegVal(descriptor, handle, 0, 0);
    if (!line)
        return false;

    const uint16_t w53 = line[53];
    const uint16_t w54 = line[54];
    const Capacity capacity = (w53 & 0x80) ? Capacity((w53 & 0xFF) * 256 + (w54 & 0xFF)) : 0;
    // May throw for an unknown reference id: the descriptor is then left as it was.
    const std::string modelId = XEVCatalog::getInstance()->refIdToModelId(line[8]);
    descriptor.setCapacity(capacity);
    descriptor.setModelId(modelId);
    descriptor.setFirmwareVersion(line[11]);
    descriptor.setSerialNumber((uint32_t(line[50]) * 256u + line[51]) * 256u + line[52]);
    descriptor.setFlags(XEVCatalog::FLAG_INFO_LINE);
    descriptor.SetSensorWidth(line[9]);
    descriptor.SetSensorHeight(line[10]);
    return true;
}

int XEVTransfert::deviceCount() {
    detail::diagnostic(detail::DiagnosticKind::Information,
                       "XEVTransfert::deviceCount() not implemented");
    return 0;
}

int XEVTransfert::getProductID() {
    detail::diagnostic(detail::DiagnosticKind::Information,
                       "XEVTransfert::getProductID() not implemented");
    return 0;
}

int XEVTransfert::getVendorID() {
    detail::diagnostic(detail::DiagnosticKind::Information,
                       "XEVTransfert::getVendorID() not implemented");
    return 0;
}

int XEVTransfert::getFX3Device() {
    detail::diagnostic(detail::DiagnosticKind::Information,
                       "XEVTransfert::getFX3Device() not implemented");
    return 0;
}

int32_t XEVTransfert::bulkErrorCount() {
    return bulkErrors.load();
}

void XEVTransfert::resetBulkErrorCount() {
    bulkErrors.store(0);
}

void XEVTransfert::setDisconnectionHandler(DisconnectionHandler handler) {
    std::lock_guard<std::mutex> guard(handlerLock);
    disconnectionHandler() = std::move(handler);
}

void enumerateUsbCameras(std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>>& descriptors) {
    const UsbDeviceList devices = UsbBus::instance().listDevices();
    XEVTransfert transfer;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::shared_ptr<UsbDevice>& device = devices[i];
        const UsbDeviceInfo& info = device->info();
        if (info.idVendor != 0x04B4 ||
            (info.idProduct != 0x1003 && info.idProduct != 0x1004 && info.idProduct != 0x00F1))
            continue;
        auto descriptor = std::make_unique<XEVDeviceDescriptorUsb>(
            info.bcdUSB > 0x02FF ? USB3 : USB2, uint8_t(i));
        std::unique_ptr<UsbDeviceHandle> handle;
        if (device->open(handle) != UsbError::Success || !handle) {
            detail::diagnosticf(detail::DiagnosticKind::Information,
                                "USB camera at %s cannot be opened: skipped",
                                device->location().c_str());
            continue;
        }
        unsigned char text[512];
        auto readString = [&](uint8_t index) {
            const int count = handle->getStringDescriptorAscii(index, text, sizeof(text));
            // Only the characters received, whatever the terminator.
            return count > 0 ? std::string(reinterpret_cast<char*>(text),
                                           std::size_t(std::min<int>(count, sizeof(text) - 1)))
                             : std::string();
        };
        const std::string serial = readString(info.iSerialNumber);
        bool wellFormed = true;
        uint32_t usbFirmware = 0x10000;
        if (!serial.empty() && serial[0] == 'v') {
            try {
                usbFirmware = FormatUsbFwToInt(serial);
            } catch (const std::exception&) {
                // One odd bridge must not hide the other cameras.
                wellFormed = false;
            }
        }
        descriptor->setUsbFirmwareVersion(usbFirmware);
        const std::string product = readString(info.iProduct);
        descriptor->setFxType(product == "FX3" || product == "USB3" ? FX3 : FX2);
        descriptor->setBcdUSB(info.bcdUSB);
        descriptor->setUsbDevice(device);
        descriptors.push_back(std::move(descriptor));
        if (!wellFormed) {
            detail::diagnosticf(detail::DiagnosticKind::Information,
                                "USB camera at %s: malformed bridge firmware \"%s\": listed "
                                "unidentified",
                                device->location().c_str(), serial.c_str());
        } else {
            try {
                transfer.autoRecognition(handle.get(), *descriptors.back());
            } catch (const XEVException& error) {
                // An unknown model stays listed, unidentified; the others are still found.
                detail::diagnostic(detail::DiagnosticKind::Information, error.what());
            }
        }
        transfer.close(*descriptors.back(), std::move(handle));
    }
}

} // namespace XEVLibrary
