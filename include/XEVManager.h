#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace XEVLibrary {

class XEVDevice;
class XEVDeviceDescriptor;
class XEVDeviceDescriptorUsb;

/**
 * The entry point of the library: a process-wide singleton that enumerates
 * the connected cameras, keeps one descriptor per camera found, and opens
 * cameras as devices.
 *
 * The index of a descriptor is the device number the application uses. The
 * manager owns every descriptor and every opened device: they live until the
 * next enumerate(), flushDevs(), flushEnumeration() or destroyInstance(), and
 * opening the same camera twice, from any thread, returns the same device.
 *
 * Configuration is by code: set useUsb, useGige, gigeDiscoveryTimeInSeconds,
 * numberGigeDevicesToDiscover, gigeCameraAddresses and gigeBroadcast before
 * getInstance() or enumerate().
 * Emulated USB cameras plugged by code before the enumeration are listed
 * after the real ones.
 *
 * Threads. Every public operation may be called from any thread; the manager
 * lock serialises them. Enumeration holds it while the cameras are listed
 * and recognised (a camera that never shows a frame costs up to 75 s; with
 * GigE, discovery lasts up to gigeDiscoveryTimeInSeconds), and opening holds
 * it while the camera is configured (before USB bridge firmware 2.0.0, about
 * 100 ms per register); other callers wait meanwhile. Devices are destroyed
 * without the lock, since destroying a device stops its capture and joins its
 * threads, whose callbacks may call the manager. From a device's own threads
 * (its frame callbacks and config observer callbacks, XEVDevice::isOwnThread)
 * every operation is allowed except those that would destroy that device:
 * enumerate(), flushDevs(), flushEnumeration() and destroyInstance() are
 * refused there with an XEVException. Errors of every operation are
 * XEVExceptions.
 *
 * Diagnostics. The library reports what it meets on its own threads in
 * single text lines: transfer faults and enumeration steps (": Invalid
 * infoLine 0", "Receive Ko: Device disconnection") on standard output, errors
 * that ended one of its threads on standard error. setDiagnosticsOutput()
 * silences them or sends them all to one stream; setDiagnosticsHandler()
 * hands them to the application. The environment variable XEV_LOG (quiet,
 * stdout, stderr or default) sets the output before any code does.
 */
class XEVManager {
public:
    /// Enumerate USB cameras (default true).
    static bool useUsb;
    /// Enumerate GigE cameras (default false).
    static bool useGige;
    /// How long a GigE discovery lasts at most, in seconds (default 60).
    static int gigeDiscoveryTimeInSeconds;
    /// GigE discovery ends early once this many cameras answered (default 1).
    static int numberGigeDevicesToDiscover;
    /// GigE cameras that broadcast cannot reach (on loopback, behind a
    /// router), asked directly in every discovery cycle: IPv4 addresses, to
    /// which those of the environment variable XEV_GIGE_CAMERAS (separated
    /// by commas or blanks) are added.
    static std::vector<std::string> gigeCameraAddresses;
    /// Broadcast discovery and ForceIP on the local interfaces (default
    /// true); false asks only the listed cameras.
    static bool gigeBroadcast;

    /// Creates the manager on first call (enumerating at once) and returns it.
    static XEVManager* getInstance();
    /// Destroys the opened devices, the descriptors, then the manager.
    static void destroyInstance();
    /// "2.4.0".
    static std::string getSDKVersion();

    /// Where the library's diagnostic lines go.
    enum class DiagnosticsOutput {
        Default,        ///< information on standard output, errors on standard error
        Quiet,          ///< nowhere
        StandardOutput, ///< all on standard output
        StandardError,  ///< all on standard error
    };
    /// Receives each diagnostic line, without line end, on the thread that
    /// wrote it (several threads may call it at once). It must not change
    /// the diagnostics settings.
    using DiagnosticsHandler = std::function<void(const std::string& line)>;
    /// Sends the diagnostic lines to @p output (and drops a handler).
    static void setDiagnosticsOutput(DiagnosticsOutput output);
    /// Sends every diagnostic line to @p handler instead of an output; an
    /// empty handler goes back to the output.
    static void setDiagnosticsHandler(DiagnosticsHandler handler);
    /// Gives the GigE camera of MAC address @p mac a static IP configuration.
    static bool forceIP(const char* mac, const char* ip, const char* mask, const char* gateway);

    /// Destroys every opened device and descriptor, then lists the cameras.
    void enumerate();
    /// Appends the descriptors of the USB cameras found.
    void enumerateUsb();
    /// Appends the descriptors of the GigE cameras found.
    void enumerateGige();

    /// Number of cameras found by the last enumeration.
    unsigned int deviceCount();
    /// Descriptor @p n, still owned by the manager.
    XEVDeviceDescriptor* getDeviceDescriptor(unsigned int n);
    /// Makes descriptor @p n select model @p modelId from the catalog.
    void forceDeviceModel(unsigned int n, const std::string& modelId);

    /// Opens descriptor @p n; @p port is the GigE stream port (unused for USB)
    /// and @p fifoSize the FIFO size of the device (at least 3).
    XEVDevice* openDevice(unsigned int n, unsigned short port, long fifoSize);
    /// Opens the first camera found. Errors as openDevice(), and when none was found.
    XEVDevice* openOneDevice(unsigned short port, long fifoSize);
    /// Opens the camera whose serialNumberAsString() is @p serial; error when none is.
    XEVDevice* openDeviceBySerialNumber(const char* serial, unsigned short port, long fifoSize);
    /// Opens the GigE camera of MAC address @p mac ("00:0c:0a:00:00:02", any case); error when none
    /// is.
    XEVDevice* openDeviceByMacAddress(const char* mac, unsigned short port, long fifoSize);
    /// Opens the GigE camera at IPv4 address @p ip; error for a malformed address or when none is
    /// there.
    XEVDevice* openDeviceByIP(const char* ip, unsigned short port, long fifoSize);

    /// Tells the opened device of that camera that the camera is gone; its
    /// config observers are told on the calling thread.
    void disconnectDevice(const XEVDeviceDescriptor& descriptor);
    /// Destroys every opened device.
    void flushDevs();
    /// Destroys every opened device, then every descriptor.
    void flushEnumeration();
    /// @p pointer as a device when it is one of the opened devices, else null.
    XEVDevice* castVoidToDevicePointer(void* pointer) const;

private:
    using DeviceMap = std::map<const XEVDeviceDescriptor*, std::unique_ptr<XEVDevice>>;

    XEVManager();
    ~XEVManager();
    XEVManager(const XEVManager&) = delete;
    XEVManager& operator=(const XEVManager&) = delete;

    // Called with the manager lock held.
    void enumerateLocked();
    /// Appends the GigE cameras discovery finds (manager lock held).
    void enumerateGigeCameras();
    XEVDevice* openDescriptor(XEVDeviceDescriptor& descriptor, unsigned short port, long fifoSize,
                              bool announceGige);
    /// The device opened from @p descriptor itself or, with @p sameCamera,
    /// from any descriptor of the same camera; null when none is open.
    XEVDevice* openedDevice(const XEVDeviceDescriptor& descriptor, bool sameCamera) const;
    /// Refuses @p operation, which destroys devices, on a thread of one of them.
    void refuseOnOwnThread(const char* operation) const;
    /// Destroys every opened device, releasing @p lock while it does.
    void closeDevices(boost::unique_lock<boost::mutex>& lock);

    /// Takes the teardown lock, then the manager lock, after refusing
    /// @p operation on a thread of a device it would destroy.
    class Teardown;

    /// Tells @p device, found and counted in flight under the lock, that its
    /// camera is gone; the devices are not destroyed until it returns.
    void relayLoss(XEVDevice& device);
    /// Receives the transfer layer's report of a vanished USB camera.
    static void usbCameraLost(const XEVDeviceDescriptorUsb& descriptor);

    static XEVManager* s_inst;
    static boost::mutex* s_mutex;

    std::vector<std::unique_ptr<XEVDeviceDescriptor>> m_descriptors;
    DeviceMap m_devices;
    /// Devices being destroyed with the lock released.
    std::vector<const XEVDevice*> m_closing;
    /// Losses being relayed with the lock released.
    unsigned m_lossesInFlight = 0;
    boost::condition_variable m_lossRelayed;
};

} // namespace XEVLibrary
