#pragma once

#include <boost/thread/mutex.hpp>

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
 * next enumerate(), flushDevs() or destroyInstance(), and opening the same
 * camera twice returns the same device.
 *
 * Configuration is by code: set useUsb, useGige, gigeDiscoveryTimeInSeconds
 * and numberGigeDevicesToDiscover before getInstance() or enumerate().
 * Emulated USB cameras plugged by code before the enumeration are listed
 * after the real ones.
 */
class XEVManager {
public:
    static bool useUsb;
    static bool useGige;
    static int gigeDiscoveryTimeInSeconds;
    static int numberGigeDevicesToDiscover;

    /// Creates the manager on first call (enumerating at once) and returns it.
    static XEVManager* getInstance();
    /// Destroys the opened devices, the descriptors, then the manager.
    static void destroyInstance();
    /// "2.4.0".
    static std::string getSDKVersion();
    /// Gives the GigE camera of MAC address @p mac a static IP configuration.
    static bool forceIP(const char* mac, const char* ip, const char* mask, const char* gateway);

    /// Destroys every opened device and descriptor, then lists the cameras.
    void enumerate();
    void enumerateUsb();
    void enumerateGige();

    unsigned int deviceCount();
    /// Descriptor @p n, still owned by the manager.
    XEVDeviceDescriptor* getDeviceDescriptor(unsigned int n);
    /// Makes descriptor @p n select model @p modelId from the catalog.
    void forceDeviceModel(unsigned int n, const std::string& modelId);

    /// Opens descriptor @p n; @p port is the GigE stream port (unused for USB)
    /// and @p fifoSize the FIFO size of the device (at least 3).
    XEVDevice* openDevice(unsigned int n, unsigned short port, long fifoSize);
    XEVDevice* openOneDevice(unsigned short port, long fifoSize);
    XEVDevice* openDeviceBySerialNumber(const char* serial, unsigned short port, long fifoSize);
    XEVDevice* openDeviceByMacAddress(const char* mac, unsigned short port, long fifoSize);
    XEVDevice* openDeviceByIP(const char* ip, unsigned short port, long fifoSize);

    /// Tells the opened device of that camera that the camera is gone.
    void disconnectDevice(const XEVDeviceDescriptor& descriptor);
    /// Destroys every opened device.
    void flushDevs();
    /// Destroys every descriptor; call only when no device is open.
    void flushEnumeration();
    /// @p pointer as a device when it is one of the opened devices, else null.
    XEVDevice* castVoidToDevicePointer(void* pointer) const;

private:
    XEVManager();
    ~XEVManager();
    XEVManager(const XEVManager&) = delete;
    XEVManager& operator=(const XEVManager&) = delete;

    XEVDevice* openDescriptor(XEVDeviceDescriptor& descriptor, unsigned short port, long fifoSize,
                              bool announceGige);
    XEVDevice* openedDevice(const XEVDeviceDescriptor& descriptor) const;
    /// Receives the transfer layer's report of a vanished USB camera.
    static void usbCameraLost(const XEVDeviceDescriptorUsb& descriptor);

    static XEVManager* s_inst;
    static boost::mutex* s_mutex;

    std::vector<std::unique_ptr<XEVDeviceDescriptor>> m_descriptors;
    std::map<const XEVDeviceDescriptor*, std::unique_ptr<XEVDevice>> m_devices;
};

} // namespace XEVLibrary
