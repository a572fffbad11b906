#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// The USB camera families of the catalog, with their reference ids.
enum class UsbModel : uint16_t {
    Auklet = 101,
    Bittern = 102,
    Fulmar = 103,
    Heron = 104,
    Ibis = 105,
    Jacana = 106,
    Lapwing = 107,
    Dunlin = 108,
    Curlew = 109,
    Gannet = 110,
    Kestrel = 111,
    Merlin = 112,
    Egret = 113,
};

/// The link a camera is plugged with (decides bcdUSB, bridge and product id defaults).
enum class UsbLink { USB2, USB3 };

/// Capability bits of the info line (word 53/54).
namespace UsbCapacity {
///@{
/// One capability.
constexpr uint16_t SoftTrigger = 1u << 2;
constexpr uint16_t LongExposure = 1u << 3;
constexpr uint16_t Gated = 1u << 5;
constexpr uint16_t ExtendedFps = 1u << 9;
constexpr uint16_t Tec = 1u << 10;
///@}
/// Set in every capacity word a camera sends.
constexpr uint16_t Present = 1u << 15;
} // namespace UsbCapacity

/**
 * Identity and power-on state of an emulated USB camera. Every field may be
 * changed before the camera is built; forModel() gives the defaults of each
 * catalog model.
 */
struct XEVUsbCameraConfig {
    // USB identity.
    ///@{
    /// USB identity: vendor id, product id and USB version of the device descriptor.
    uint16_t vendorId = 0x04B4;
    uint16_t productId = 0x00F1;
    uint16_t bcdUSB = 0x0300;
    ///@}
    /// Product string descriptor: "FX3"/"USB3" select the new bridge.
    std::string productString = "FX3";
    /// Serial-number string descriptor: the bridge firmware "vAAA.BBB.CCC"
    /// (empty: the device has no serial string).
    std::string bridgeFirmware = "v002.001.010";
    // Info line identity.
    ///@{
    /// Info line identity: reference id (UsbModel) and sensor size.
    uint16_t referenceId = static_cast<uint16_t>(UsbModel::Heron);
    uint16_t sensorWidth = 640;
    uint16_t sensorHeight = 512;
    ///@}
    /// Camera firmware: major << 6 | minor.
    uint16_t firmwareVersion = 0x0082;
    /// Serial number of the info line.
    uint32_t serialNumber = 0x001234;
    /// Capability bits; UsbCapacity::Present is set in every real camera.
    uint16_t capacity = UsbCapacity::Present;
    /// Word 0 of the info line header (0x0555 or 0x0000).
    uint16_t infoLineWord0 = 0x0555;
    // Run-time state at power-on.
    /// Raw temperature word of the info line at power-on.
    uint16_t rawTemperature = 400;
    /// 24-bit camera frame counter of the first frame; it counts up and
    /// wraps from 0xFFFFFF to 1 (0 never comes back) or, with
    /// counterWrapsToZero, to 0.
    uint32_t initialFrameCounter = 0;
    /// Wrap the frame counter to 0 rather than to 1.
    bool counterWrapsToZero = false;
    /// Seed of the scene and of its fixed-pattern noise.
    uint32_t sceneSeed = 1;

    /// True for the new bridge (bulk endpoint 0x83, no line format).
    bool newBridge() const { return productString == "FX3" || productString == "USB3"; }
    /// The bulk IN endpoint frames come from (0x83 new bridge, 0x82 old).
    uint8_t bulkEndpoint() const { return newBridge() ? 0x83 : 0x82; }

    /// The defaults of a catalog model on a link: USB 2.0 gives the old bridge
    /// ("FX2", bcdUSB 0x0200, product 0x1003, bridge firmware v001.003.000),
    /// USB 3.0 the new one ("FX3", bcdUSB 0x0300, product 0x00F1, v002.001.010).
    /// Sensor size, firmware, serial, capacity and temperature follow the model.
    static XEVUsbCameraConfig forModel(UsbModel model, UsbLink link);
    /// The model's usual link (USB 2.0 for Auklet, Bittern, Fulmar; USB 3.0 otherwise).
    static XEVUsbCameraConfig forModel(UsbModel model);
};

/// One request seen by an emulated camera, for tests that check the bytes sent.
struct XEVUsbCameraEvent {
    /// The kinds of request: vendor or standard control, port reset, halt clearing.
    enum class Kind { Control, Reset, ClearHalt };
    /// What kind of request it was.
    Kind kind = Kind::Control;
    ///@{
    /// The setup packet of a control request (0 for the other kinds).
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    ///@}
    /// Data stage of a host-to-device request; the endpoint for ClearHalt.
    std::vector<uint8_t> data;
    /// What the camera answered (byte count or UsbError code).
    int result = 0;
};

/// Thrown by an emulated camera's bulk read on request (injectBulkExceptions):
/// an exception that is not a std::exception, as a faulty USB stack might raise.
struct XEVUsbEmulatorFault {};

/// How an emulated camera paces its frames.
enum class XEVUsbPacing {
    /// At the frame period that registers 5 and 6 program (the camera's own timing).
    Registers,
    /// Each read gets a frame at once (benchmarks).
    Fastest,
};

/**
 * An emulated USB camera: its standard and vendor control requests, its 16
 * registers, its bulk stream of frames with info line, its synthetic scene and
 * faults on demand.
 *
 * Registers: 0 = mode (bits 0-1), trigger mode (bits 3-4: 1 input, 3 soft),
 * bits 5 and 6 both set for the identification stream (info line only),
 * pixel depth (bit 7: 8 bits); 1 = pixel clock (and integration mode, bit 5);
 * 3, 4 = exposure; 5, 6 = coarse and fine frame period (12 = its high bits on
 * cameras with extended frame rates); 7, 8, 9, 10 = first column / 4, columns
 * / 8, first line / 4, lines / 8. In soft trigger mode, writing 0 to register
 * 13 fires a burst of ((register 12 >> 5) + 1) frames. Frames stream from
 * request 0xD0 to 0xD1 (in trigger modes, only on triggers): each bulk read of
 * S bytes returns the image, the info line (header, reference id, sensor
 * size, firmware, raw temperature, 24-bit counter, serial words 50-52,
 * capacity words 53-54) and zero padding up to S, never more. Plug it on an XEVUsbEmulatedBus to
 * make it visible to the library, or drive it directly (controlTransfer / bulkRead) from a usbfs
 * emulation. All members are thread-safe.
 */
class XEVUsbEmulatedCamera {
public:
    /// A camera with @p config's identity and power-on state, not plugged yet.
    explicit XEVUsbEmulatedCamera(const XEVUsbCameraConfig& config);
    ~XEVUsbEmulatedCamera();
    XEVUsbEmulatedCamera(const XEVUsbEmulatedCamera&) = delete;
    XEVUsbEmulatedCamera& operator=(const XEVUsbEmulatedCamera&) = delete;

    /// The configuration the camera was built with.
    const XEVUsbCameraConfig& config() const;

    // --- Scene and timing -------------------------------------------------
    /// The raw temperature word the next info lines carry.
    void setRawTemperature(uint16_t raw);
    /// The 24-bit counter the next frame carries (wraps from 0xFFFFFF to 1).
    void setFrameCounter(uint32_t counter);
    /// Uniform illumination at @p level (14-bit DN of an ideal pixel); the
    /// fixed-pattern offset and gain of every pixel still apply.
    void setFlatField(uint16_t level);
    /// Back to the scene, whose brightness follows the exposure time.
    void clearFlatField();
    /// How frames are paced (default: as the registers program).
    void setPacing(XEVUsbPacing pacing);
    /// Frame period in microseconds that the registers program now.
    double framePeriodMicroseconds() const;
    /// Exposure time in microseconds that the registers program now.
    double exposureMicroseconds() const;
    /// Pulses the external trigger input: @p frames frames when "Trigger Mode" is Input.
    void fireExternalTrigger(unsigned frames = 1);

    // --- Faults on demand -------------------------------------------------
    /// The next @p count bulk reads fail with @p code (UsbError value). A
    /// time-out returns after min(read time-out, setTimeoutFaultDelay).
    void injectBulkErrors(unsigned count, int code);
    /// Bounds how long an injected time-out takes.
    void setTimeoutFaultDelay(std::chrono::milliseconds delay);
    /// The next @p count bulk reads deliver only the first @p bytes of a frame.
    void injectShortReads(unsigned count, int bytes);
    /// The next @p count bulk reads succeed with no data (no frame consumed).
    void injectEmptyReads(unsigned count);
    /// The next @p count bulk reads report one byte more than asked (the
    /// buffer itself is never written past its length).
    void injectOverlongReports(unsigned count);
    /// The @p n-th frame delivered from now (1: the next) has a broken info line header.
    void breakInfoLineInFrame(unsigned n);
    /// The next @p count vendor control requests fail with @p code.
    void injectControlErrors(unsigned count, int code);
    /// The bulk endpoint answers UsbError::Pipe until its halt is cleared.
    void haltBulkEndpoint();
    /// The @p count frames after the next one carry the next one's frame
    /// counter again, as a frame sent several times would.
    void repeatFrameCounter(unsigned count);
    /// While held, claiming interface 0 answers UsbError::Busy, as when
    /// another program has the camera open.
    void holdInterface(bool held);
    /// The next @p count bulk reads throw XEVUsbEmulatorFault instead of
    /// returning. For tests of the host's error handling through the emulated
    /// bus; a usbfs emulation must not use it.
    void injectBulkExceptions(unsigned count);

    // --- Observation --------------------------------------------------------
    /// The 16 configuration registers as the camera holds them.
    std::array<uint8_t, 16> registers() const;
    /// Register @p address (0..15).
    uint8_t registerValue(unsigned address) const;
    /// True while the camera streams frames.
    bool isStreaming() const;
    /// True while the camera is plugged.
    bool isPlugged() const;
    /// Last line format word (0xD4 or 0xD5) and whether it was for 8-bit pixels.
    ///@{
    uint16_t lineFormatWord() const;
    bool lineFormatIs8Bit() const;
    ///@}
    /// Frames delivered by bulk reads since construction.
    uint64_t deliveredFrames() const;
    /// The 24-bit counter the next frame carries.
    uint32_t frameCounter() const;
    /// Requests seen (the last 4096), oldest first.
    std::vector<XEVUsbCameraEvent> events() const;
    /// Empties the log of events().
    void clearEvents();
    /// Vendor control requests seen (events of kind Control with a vendor request type).
    std::vector<XEVUsbCameraEvent> vendorRequests() const;

    // --- Device side of the transfers (UsbError codes) -----------------------
    /// A control transfer as the device sees it; returns the data stage length or an error.
    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        unsigned char* data, uint16_t length);
    /// A bulk IN read of at most @p length bytes. Waits at most @p timeoutMs
    /// (0: until data, unplug or @p cancel), and wakes when @p cancel turns true
    /// after wakeReaders().
    int bulkRead(uint8_t endpoint, unsigned char* data, int length, int* transferred,
                 unsigned int timeoutMs, const std::atomic<bool>* cancel = nullptr);
    /// Wakes the bulk reads waiting, so that they look at their cancel flag.
    void wakeReaders();
    /// Claims interface @p interfaceNumber for the host (the only one is 0).
    int claimInterface(int interfaceNumber);
    /// A USB port reset, as the device sees it; 0 or a UsbError code.
    int resetDevice();
    /// Clears the halt of @p endpoint; 0 or a UsbError code.
    int clearHalt(uint8_t endpoint);
    /// The device descriptor followed by the configuration descriptor (usbfs "descriptors").
    std::vector<uint8_t> descriptors() const;
    /// Standard string descriptor @p index as text (empty when absent).
    std::string stringDescriptor(uint8_t index) const;

    /// Connection generation: changes at every plug and unplug.
    uint64_t generation() const;
    /// Powers the camera up (true) or cuts it off (false). The bus does this on
    /// plug and unplug; a usbfs emulation that serves the camera itself calls it.
    void setPlugged(bool plugged);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/**
 * A USB bus of emulated cameras. Building it registers it with the library's
 * USB bus (after the real devices); destroying it unplugs its cameras and
 * removes it. Cameras are listed in the order they were plugged.
 */
class XEVUsbEmulatedBus {
public:
    XEVUsbEmulatedBus();
    ~XEVUsbEmulatedBus();
    XEVUsbEmulatedBus(const XEVUsbEmulatedBus&) = delete;
    XEVUsbEmulatedBus& operator=(const XEVUsbEmulatedBus&) = delete;

    /// Builds a camera from @p config and plugs it.
    std::shared_ptr<XEVUsbEmulatedCamera> plug(const XEVUsbCameraConfig& config);
    /// Plugs an existing camera (unplugged elsewhere before); open handles of
    /// an earlier connection stay dead.
    void plug(const std::shared_ptr<XEVUsbEmulatedCamera>& camera);
    /// Unplugs: its transfers fail as for a vanished device, pending reads wake.
    void unplug(const std::shared_ptr<XEVUsbEmulatedCamera>& camera);
    /// Unplugs every camera of the bus.
    void unplugAll();
    /// The cameras plugged, in plug order.
    std::vector<std::shared_ptr<XEVUsbEmulatedCamera>> cameras() const;

private:
    class Backend;
    std::shared_ptr<Backend> m_backend;
};

} // namespace Emulator
} // namespace XEVLibrary
