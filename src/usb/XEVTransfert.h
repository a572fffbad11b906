#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace XEVLibrary {

class UsbDeviceHandle;
class XEVDeviceDescriptorUsb;

/// The eight header words of an info line (word 0 is not checked).
extern const uint16_t InfoLineHeader[8];

/// The first position p in [begin, end) whose seven following words are the
/// info line header words 1 to 7 (the word at p may hold anything), or null.
const uint16_t* FindInfoLine(const uint16_t* begin, const uint16_t* end);

/// True when words 1 to 7 of @p line are the header words 1 to 7.
bool InfoLineValid(const uint16_t* line);
/// The same, false when fewer than 8 words are available.
bool InfoLineValid(const uint16_t* line, std::size_t words);

/**
 * The transfer layer of the USB cameras: their vendor control requests on
 * endpoint 0, the bulk reads of whole frames with their recovery, and the
 * recognition of a camera from the info line of a short frame.
 *
 * Handles come from open() and go back through close(). Register writes may
 * run on one thread while another waits in transfertFrame(): only frame
 * transfers are serialised (by the transfer lock), with their recovery steps.
 */
class XEVTransfert {
public:
    /// Bulk reads of frames wait at most this long.
    static constexpr unsigned FrameTimeoutMs = 5000;
    /// Control requests wait at most this long (never without limit).
    static constexpr unsigned ControlTimeoutMs = 1000;
    /// The recognition reads this many bytes per attempt, waiting at most 1500 ms.
    static constexpr int RecognitionBytes = 1024;
    static constexpr unsigned RecognitionTimeoutMs = 1500;
    static constexpr int RecognitionAttempts = 50;

    XEVTransfert();
    ~XEVTransfert();
    XEVTransfert(const XEVTransfert&) = delete;
    XEVTransfert& operator=(const XEVTransfert&) = delete;

    /// Opens the descriptor's USB device and claims interface 0. Throws
    /// "Device {%s} cannot be opened." with the descriptor's text on failure.
    std::unique_ptr<UsbDeviceHandle> open(const XEVDeviceDescriptorUsb& descriptor);
    /// Releases interface 0 and closes the handle.
    void close(const XEVDeviceDescriptorUsb& descriptor, std::unique_ptr<UsbDeviceHandle> handle);

    /// Request 0xD0: stream frames on the bulk endpoint.
    void start(UsbDeviceHandle* handle);
    /// Request 0xD1: stop streaming.
    void stop(UsbDeviceHandle* handle);
    /// Stop; with @p restart, 75 ms later start again.
    void synchronize(UsbDeviceHandle* handle, bool restart);
    /// Request 0xD3 writing @p value to register @p address; always followed by
    /// a 100 ms pause. True when the request succeeded.
    bool setRegVal(const XEVDeviceDescriptorUsb& descriptor, UsbDeviceHandle* handle,
                   uint32_t address, uint8_t value);
    /// Request 0xD6 carrying @p words (address x 256 + value, little-endian);
    /// returns the USB result (bytes sent or a UsbError code).
    int setMultipleRegVals(const XEVDeviceDescriptorUsb& descriptor, UsbDeviceHandle* handle,
                           const std::vector<uint16_t>& words);
    /// The bytes of a frame of @p columns x @p lines pixels of OpenCV type
    /// @p pixelType plus its info line; on the older bridge also programs the
    /// line format (0xD5 for 8-bit pixels, 0xD4 otherwise).
    int64_t setFrameFormat(const XEVDeviceDescriptorUsb& descriptor, UsbDeviceHandle* handle,
                           unsigned columns, unsigned lines, int pixelType);
    /**
     * Reads one frame of @p length bytes into @p buffer (at most that many:
     * @p length receives the count, or -1 when nothing came). When @p started
     * is given, sets it under @p flagLock and notifies @p startedCondition
     * before the read. Recovers the link after a failure (reset, restart,
     * clear halt) and reports a vanished camera to the disconnection handler.
     * True when a non-empty frame was received.
     */
    bool transfertFrame(const XEVDeviceDescriptorUsb& descriptor, UsbDeviceHandle* handle,
                        uint8_t* buffer, int64_t& length,
                        boost::condition_variable* startedCondition = nullptr,
                        bool* started = nullptr, boost::mutex* flagLock = nullptr);
    /// Identifies the camera behind @p handle from the info line of a short
    /// frame and fills @p descriptor; false (descriptor untouched) after 50
    /// attempts without an info line.
    bool autoRecognition(UsbDeviceHandle* handle, XEVDeviceDescriptorUsb& descriptor);

    /// Not implemented: print a line and return 0.
    int deviceCount();
    int getProductID();
    int getVendorID();
    int getFX3Device();

    /// The process-wide count of consecutive failed frame transfers (time-outs excluded).
    static int32_t bulkErrorCount();
    static void resetBulkErrorCount();

    /// Receives the cameras found gone by a transfer (the device manager
    /// installs it); without one the report is dropped.
    using DisconnectionHandler = std::function<void(const XEVDeviceDescriptorUsb&)>;
    static void setDisconnectionHandler(DisconnectionHandler handler);

private:
    int vendorRequest(UsbDeviceHandle* handle, uint8_t request, uint16_t value);
    void reportDisconnection(const XEVDeviceDescriptorUsb& descriptor);

    boost::mutex m_transferLock;
};

/// The USB enumeration pass: appends one descriptor per camera found on the
/// USB bus (real devices, then emulated ones), each recognised from its info
/// line when it answers. A device that cannot be opened is skipped.
void enumerateUsbCameras(std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>>& descriptors);

} // namespace XEVLibrary
