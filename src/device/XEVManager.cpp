#include "XEVManager.h"

#include "XEVCatalog.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVDeviceUsb.h"
#include "XEVException.h"
#include "usb/XEVTransfert.h"

#include <boost/asio/ip/address_v4.hpp>

#include <cstdio>
#include <mutex>

namespace XEVLibrary {

bool XEVManager::useUsb = true;
bool XEVManager::useGige = false;
int XEVManager::gigeDiscoveryTimeInSeconds = 60;
int XEVManager::numberGigeDevicesToDiscover = 1;
XEVManager* XEVManager::s_inst = nullptr;
boost::mutex* XEVManager::s_mutex = new boost::mutex();

namespace {

/// Guards the manager pointer and the map of opened devices against the
/// capture threads that report a lost camera. Never held while a device is
/// destroyed, since destroying a device joins its capture thread.
std::mutex& lossLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

namespace {

constexpr std::size_t MessageSize = XEVException::ManagerBufferSize;

[[noreturn]] void throwNoSuchNumber(unsigned int n, std::size_t count) {
    XEVException::throwError(XEVException::format(
        MessageSize, "The device number(%d) does not exist, device count is %d.", int(n),
        int(count)));
}

[[noreturn]] void throwNoDevice() {
    XEVException::throwError(std::string("No device connected."));
}

[[noreturn]] void throwGigeUnavailable(const char* what) {
    XEVException::throwError(XEVException::format(
        MessageSize, "%s: GigE Vision cameras are not supported by this build.", what));
}

} // namespace

XEVManager::XEVManager() = default;

XEVManager::~XEVManager() {
    flushDevs();
    flushEnumeration();
}

XEVManager* XEVManager::getInstance() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (s_inst == nullptr) {
        static std::once_flag handlerInstalled;
        std::call_once(handlerInstalled,
                       [] { XEVTransfert::setDisconnectionHandler(&XEVManager::usbCameraLost); });
        XEVManager* manager = new XEVManager();
        try {
            manager->enumerate();
        } catch (...) {
            delete manager;
            throw;
        }
        std::lock_guard<std::mutex> loss(lossLock());
        s_inst = manager;
    }
    return s_inst;
}

void XEVManager::destroyInstance() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    XEVManager* manager = nullptr;
    {
        std::lock_guard<std::mutex> loss(lossLock());
        manager = s_inst;
        s_inst = nullptr;
    }
    delete manager;
}

void XEVManager::usbCameraLost(const XEVDeviceDescriptorUsb& descriptor) {
    std::lock_guard<std::mutex> loss(lossLock());
    if (s_inst == nullptr)
        return;
    try {
        s_inst->disconnectDevice(descriptor);
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
    }
}

std::string XEVManager::getSDKVersion() {
    return "2.4.0";
}

bool XEVManager::forceIP(const char*, const char*, const char*, const char*) {
    throwGigeUnavailable("forceIP");
}

void XEVManager::enumerate() {
    flushDevs();
    flushEnumeration();
    if (useUsb)
        enumerateUsb();
    if (useGige)
        enumerateGige();
}

void XEVManager::enumerateUsb() {
    std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>> found;
    enumerateUsbCameras(found);
    for (auto& descriptor : found)
        m_descriptors.push_back(std::move(descriptor));
}

void XEVManager::enumerateGige() {
    throwGigeUnavailable("GigE discovery");
}

unsigned int XEVManager::deviceCount() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    return static_cast<unsigned int>(m_descriptors.size());
}

XEVDeviceDescriptor* XEVManager::getDeviceDescriptor(unsigned int n) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (n >= m_descriptors.size())
        throwNoSuchNumber(n, m_descriptors.size());
    return m_descriptors[n].get();
}

void XEVManager::forceDeviceModel(unsigned int n, const std::string& modelId) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (n >= m_descriptors.size())
        throwNoSuchNumber(n, m_descriptors.size());
    if (!XEVCatalog::getInstance()->isModelId(modelId))
        XEVException::throwError(
            XEVException::format(MessageSize, "The model id(%s) does not exist.", modelId.c_str()));
    m_descriptors[n]->setModelId(modelId);
}

XEVDevice* XEVManager::openedDevice(const XEVDeviceDescriptor& descriptor) const {
    auto it = m_devices.find(&descriptor);
    return it == m_devices.end() ? nullptr : it->second.get();
}

XEVDevice* XEVManager::openDescriptor(XEVDeviceDescriptor& descriptor, unsigned short port,
                                      long fifoSize, bool announceGige) {
    if (XEVDevice* device = openedDevice(descriptor))
        return device;
    const XEVModelConfiguration& configuration =
        *XEVCatalog::getInstance()->selectModelConfiguration(descriptor);
    std::unique_ptr<XEVDevice> device;
    if (descriptor.connectorType() != GIGE) {
        device.reset(new XEVDeviceUsb(static_cast<const XEVDeviceDescriptorUsb*>(&descriptor),
                                      configuration, fifoSize));
    } else {
        (void)port;
        (void)announceGige;
        throwGigeUnavailable("openDevice");
    }
    XEVDevice* opened = device.get();
    std::lock_guard<std::mutex> loss(lossLock());
    m_devices.emplace(&descriptor, std::move(device));
    return opened;
}

XEVDevice* XEVManager::openDevice(unsigned int n, unsigned short port, long fifoSize) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (n >= m_descriptors.size())
        throwNoSuchNumber(n, m_descriptors.size());
    return openDescriptor(*m_descriptors[n], port, fifoSize, true);
}

XEVDevice* XEVManager::openOneDevice(unsigned short port, long fifoSize) {
    if (deviceCount() == 0)
        throwNoDevice();
    return openDevice(0, port, fifoSize);
}

XEVDevice* XEVManager::openDeviceBySerialNumber(const char* serial, unsigned short port,
                                                long fifoSize) {
    if (m_descriptors.empty())
        throwNoDevice();
    const std::string wanted = serial ? serial : "";
    for (auto& descriptor : m_descriptors) {
        if (descriptor->serialNumberAsString() == wanted)
            return openDescriptor(*descriptor, port, fifoSize, false);
    }
    XEVException::throwError(
        XEVException::format(MessageSize, "No device with serial number %s.", wanted.c_str()));
}

XEVDevice* XEVManager::openDeviceByMacAddress(const char* mac, unsigned short, long) {
    if (m_descriptors.empty())
        throwNoDevice();
    // No GigE camera is ever listed by this build, so no MAC address matches.
    XEVException::throwError(
        XEVException::format(MessageSize, "No device with mac_address %s.", mac ? mac : ""));
}

XEVDevice* XEVManager::openDeviceByIP(const char* ip, unsigned short, long) {
    if (m_descriptors.empty())
        throwNoDevice();
    // A text that is not an IPv4 address is the networking library's error.
    (void)boost::asio::ip::make_address_v4(ip ? ip : "");
    XEVException::throwError(
        XEVException::format(MessageSize, "No device with IP %s.", ip ? ip : ""));
}

void XEVManager::disconnectDevice(const XEVDeviceDescriptor& descriptor) {
    for (auto& entry : m_devices) {
        if (*entry.first == descriptor) {
            entry.second->signalDeviceDisconnected();
            return;
        }
    }
    XEVException::throwCriticalError(
        XEVException::format(256, "'%s' is not already opened, it cannot be disconnected.",
                             descriptor.toString().c_str()));
}

void XEVManager::flushDevs() {
    // Taken out of reach of the loss reports first, destroyed afterwards.
    std::map<const XEVDeviceDescriptor*, std::unique_ptr<XEVDevice>> devices;
    {
        std::lock_guard<std::mutex> loss(lossLock());
        devices.swap(m_devices);
    }
    devices.clear();
}

void XEVManager::flushEnumeration() {
    m_descriptors.clear();
}

XEVDevice* XEVManager::castVoidToDevicePointer(void* pointer) const {
    if (pointer == nullptr)
        return nullptr;
    for (const auto& entry : m_devices) {
        if (static_cast<void*>(entry.second.get()) == pointer)
            return entry.second.get();
    }
    return nullptr;
}

} // namespace XEVLibrary
