#include "XEVManager.h"

#include "Gige/ByteOrder.h"
#include "Gige/GigeTransport.h"
#include "XEVCatalog.h"
#include "XEVDevice.h"
#include "XEVDeviceDescriptor.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVDeviceGige.h"
#include "XEVDeviceUsb.h"
#include "XEVException.h"
#include "device/Diagnostics.h"
#include "usb/XEVTransfert.h"

#include <boost/asio/ip/address_v4.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

namespace XEVLibrary {

bool XEVManager::useUsb = true;
bool XEVManager::useGige = false;
int XEVManager::gigeDiscoveryTimeInSeconds = 60;
int XEVManager::numberGigeDevicesToDiscover = 1;
std::vector<std::string> XEVManager::gigeCameraAddresses;
bool XEVManager::gigeBroadcast = true;
XEVManager* XEVManager::s_inst = nullptr;
boost::mutex* XEVManager::s_mutex = new boost::mutex();

namespace {

constexpr std::size_t MessageSize = XEVException::ManagerBufferSize;

/// Serialises the operations that destroy devices, which release the manager
/// lock while a device is destroyed. Taken before the manager lock.
boost::mutex& teardownLock() {
    static boost::mutex* lock = new boost::mutex();
    return *lock;
}

[[noreturn]] void throwNoSuchNumber(unsigned int n, std::size_t count) {
    XEVException::throwError(XEVException::format(
        MessageSize, "The device number(%d) does not exist, device count is %d.", int(n),
        int(count)));
}

[[noreturn]] void throwNoDevice() {
    XEVException::throwError(std::string("No device connected."));
}

/// The cameras to ask directly: the manager's list and XEV_GIGE_CAMERAS.
std::vector<uint32_t> unicastGigeCameras() {
    std::vector<std::string> texts = XEVManager::gigeCameraAddresses;
    if (const char* listed = std::getenv("XEV_GIGE_CAMERAS")) {
        std::string spaced(listed);
        std::replace(spaced.begin(), spaced.end(), ',', ' ');
        std::istringstream words(spaced);
        for (std::string word; words >> word;)
            texts.push_back(word);
    }
    std::vector<uint32_t> addresses;
    for (const std::string& text : texts) {
        boost::system::error_code invalid;
        const auto address = boost::asio::ip::make_address_v4(text, invalid);
        if (invalid)
            detail::diagnostic(detail::DiagnosticKind::Information,
                               "GigE camera address(" + text + ") is not an IPv4 address: ignored");
        else
            addresses.push_back(address.to_uint());
    }
    return addresses;
}

/// Runs @p action, turning every error that is not an XEVException into one
/// that names @p operation: only XEVExceptions leave the manager.
template <typename Action>
auto onlyXEVErrors(const char* operation, const Action& action) -> decltype(action()) {
    try {
        return action();
    } catch (const XEVException&) {
        throw;
    } catch (const std::exception& error) {
        XEVException::throwError(
            XEVException::format(MessageSize, "%s failed: %s", operation, error.what()));
    }
}

} // namespace

class XEVManager::Teardown {
public:
    /// For the operation @p operation of @p manager (null: the current instance).
    Teardown(const XEVManager* manager, const char* operation) {
        {
            boost::lock_guard<boost::mutex> guard(*s_mutex);
            if (const XEVManager* target = manager ? manager : s_inst)
                target->refuseOnOwnThread(operation);
        }
        m_teardown = boost::unique_lock<boost::mutex>(teardownLock());
        lock = boost::unique_lock<boost::mutex>(*s_mutex);
    }

private:
    boost::unique_lock<boost::mutex> m_teardown;

public:
    /// The manager lock, held from construction.
    boost::unique_lock<boost::mutex> lock;
};

XEVManager::XEVManager() = default;

XEVManager::~XEVManager() {
    // Devices use their descriptors until they are gone.
    m_devices.clear();
    m_descriptors.clear();
}

XEVManager* XEVManager::getInstance() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (s_inst == nullptr) {
        static std::once_flag handlerInstalled;
        std::call_once(handlerInstalled,
                       [] { XEVTransfert::setDisconnectionHandler(&XEVManager::usbCameraLost); });
        XEVManager* manager = new XEVManager();
        try {
            onlyXEVErrors("XEVManager::getInstance()", [&] { manager->enumerateLocked(); });
        } catch (...) {
            delete manager;
            throw;
        }
        s_inst = manager;
    }
    return s_inst;
}

void XEVManager::destroyInstance() {
    Teardown teardown(nullptr, "XEVManager::destroyInstance()");
    XEVManager* manager = s_inst;
    if (manager == nullptr)
        return;
    // The instance stays reachable while its devices stop: their callbacks
    // may still use it.
    manager->closeDevices(teardown.lock);
    s_inst = nullptr;
    teardown.lock.unlock();
    delete manager;
}

std::string XEVManager::getSDKVersion() {
    return XEV_SDK_VERSION; // the project's version, given by the build
}

bool XEVManager::forceIP(const char* mac, const char* ip, const char* mask, const char* gateway) {
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    return GigeTransport::ForceIp2(text(mac), text(ip), text(mask), text(gateway),
                                   unicastGigeCameras());
}

void XEVManager::refuseOnOwnThread(const char* operation) const {
    auto refuse = [&](const XEVDevice& device) {
        XEVException::throwError(XEVException::format(
            MessageSize, "%s cannot destroy XEVDevice(%s) from one of its own threads.", operation,
            device.modelId().c_str()));
    };
    for (const auto& entry : m_devices)
        if (entry.second->isOwnThread())
            refuse(*entry.second);
    for (const XEVDevice* device : m_closing)
        if (device->isOwnThread())
            refuse(*device);
}

void XEVManager::closeDevices(boost::unique_lock<boost::mutex>& lock) {
    // Devices opened meanwhile by other threads are closed too.
    while (!m_devices.empty()) {
        DeviceMap devices;
        devices.swap(m_devices);
        for (const auto& entry : devices)
            m_closing.push_back(entry.second.get());
        m_lossRelayed.wait(lock, [this] { return m_lossesInFlight == 0; });
        for (auto& entry : devices) {
            const XEVDevice* closing = entry.second.get();
            lock.unlock();
            entry.second.reset(); // stops the capture and joins the device's threads
            lock.lock();
            m_closing.erase(std::find(m_closing.begin(), m_closing.end(), closing));
        }
    }
}

void XEVManager::enumerate() {
    Teardown teardown(this, "XEVManager::enumerate()");
    closeDevices(teardown.lock);
    onlyXEVErrors("XEVManager::enumerate()", [this] { enumerateLocked(); });
}

void XEVManager::enumerateLocked() {
    m_descriptors.clear();
    if (useUsb) {
        std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>> found;
        enumerateUsbCameras(found);
        for (auto& descriptor : found)
            m_descriptors.push_back(std::move(descriptor));
    }
    if (useGige)
        enumerateGigeCameras();
}

void XEVManager::enumerateGigeCameras() {
    const std::vector<DeviceInfo> found =
        GigeTransport::Discover(gigeDiscoveryTimeInSeconds, numberGigeDevicesToDiscover,
                                unicastGigeCameras(), gigeBroadcast);
    for (const DeviceInfo& info : found) {
        const auto number = static_cast<unsigned char>(m_descriptors.size());
        m_descriptors.push_back(std::make_unique<XEVDeviceDescriptorGige>(
            info, number, GetBestIp(info.CurrentIp(), info.IfIndex())));
    }
}

void XEVManager::enumerateUsb() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    onlyXEVErrors("XEVManager::enumerateUsb()", [this] {
        std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>> found;
        enumerateUsbCameras(found);
        for (auto& descriptor : found)
            m_descriptors.push_back(std::move(descriptor));
    });
}

void XEVManager::enumerateGige() {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    onlyXEVErrors("XEVManager::enumerateGige()", [this] { enumerateGigeCameras(); });
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

XEVDevice* XEVManager::openDescriptor(XEVDeviceDescriptor& descriptor, unsigned short port,
                                      long fifoSize, bool announceGige) {
    if (XEVDevice* device = openedDevice(descriptor, false))
        return device;
    std::unique_ptr<XEVDevice> device = onlyXEVErrors("XEVManager: opening a device", [&] {
        const XEVModelConfiguration& configuration =
            *XEVCatalog::getInstance()->selectModelConfiguration(descriptor);
        if (descriptor.connectorType() == GIGE) {
            const auto& gige = static_cast<const XEVDeviceDescriptorGige&>(descriptor);
            const std::string ip = ByteOrder::Ipv4ToString(gige.CurrentIp());
            if (announceGige) {
                detail::diagnostic(detail::DiagnosticKind::Information,
                                   "Instantiating Device SN: " + gige.SerialNumber() +
                                       ", Ip : " + ip + ":" + std::to_string(port) + "\n");
                if (!gige.IsReachable())
                    XEVException::throwCriticalError("The Gige device at address: " + ip +
                                                     " is not reachable from this computer");
                if (!gige.IsXevCamera())
                    XEVException::throwCriticalError("The Gige device at address: " + ip +
                                                     " is not a XEV camera");
            }
            return std::unique_ptr<XEVDevice>(
                new XEVDeviceGige(&gige, configuration, port, fifoSize));
        }
        return std::unique_ptr<XEVDevice>(new XEVDeviceUsb(
            static_cast<const XEVDeviceDescriptorUsb*>(&descriptor), configuration, fifoSize));
    });
    XEVDevice* opened = device.get();
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
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (m_descriptors.empty())
        throwNoDevice();
    return openDescriptor(*m_descriptors[0], port, fifoSize, true);
}

XEVDevice* XEVManager::openDeviceBySerialNumber(const char* serial, unsigned short port,
                                                long fifoSize) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
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

XEVDevice* XEVManager::openDeviceByMacAddress(const char* mac, unsigned short port, long fifoSize) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (m_descriptors.empty())
        throwNoDevice();
    std::string wanted = mac ? mac : "";
    std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (auto& descriptor : m_descriptors) {
        if (descriptor->connectorType() == GIGE &&
            static_cast<const XEVDeviceDescriptorGige&>(*descriptor).MacAddress() == wanted)
            return openDescriptor(*descriptor, port, fifoSize, false);
    }
    XEVException::throwError(
        XEVException::format(MessageSize, "No device with mac_address %s.", mac ? mac : ""));
}

XEVDevice* XEVManager::openDeviceByIP(const char* ip, unsigned short port, long fifoSize) {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (m_descriptors.empty())
        throwNoDevice();
    const char* text = ip ? ip : "";
    boost::system::error_code invalid;
    const auto address = boost::asio::ip::make_address_v4(text, invalid);
    if (invalid)
        XEVException::throwError(XEVException::format(
            MessageSize, "The IP address(%s) is not a dotted-decimal IPv4 address.", text));
    for (auto& descriptor : m_descriptors) {
        if (descriptor->connectorType() == GIGE &&
            static_cast<const XEVDeviceDescriptorGige&>(*descriptor).CurrentIp() ==
                address.to_uint())
            return openDescriptor(*descriptor, port, fifoSize, false);
    }
    XEVException::throwError(XEVException::format(MessageSize, "No device with IP %s.", text));
}

void XEVManager::relayLoss(XEVDevice& device) {
    // Counted under the lock the device was found with: the devices are not
    // destroyed until every relay has returned.
    struct InFlight {
        XEVManager& manager;
        ~InFlight() {
            {
                boost::lock_guard<boost::mutex> guard(*s_mutex);
                --manager.m_lossesInFlight;
            }
            manager.m_lossRelayed.notify_all();
        }
    } inFlight{*this};
    device.signalDeviceDisconnected();
}

XEVDevice* XEVManager::openedDevice(const XEVDeviceDescriptor& descriptor, bool sameCamera) const {
    if (!sameCamera) {
        auto it = m_devices.find(&descriptor);
        return it == m_devices.end() ? nullptr : it->second.get();
    }
    for (const auto& entry : m_devices)
        if (*entry.first == descriptor)
            return entry.second.get();
    return nullptr;
}

void XEVManager::disconnectDevice(const XEVDeviceDescriptor& descriptor) {
    XEVDevice* device = nullptr;
    {
        boost::lock_guard<boost::mutex> guard(*s_mutex);
        device = openedDevice(descriptor, true);
        if (device == nullptr)
            XEVException::throwCriticalError(
                XEVException::format(256, "'%s' is not already opened, it cannot be disconnected.",
                                     descriptor.toString().c_str()));
        ++m_lossesInFlight;
    }
    // Config observers are told without the lock: their callbacks may call
    // the manager.
    relayLoss(*device);
}

void XEVManager::usbCameraLost(const XEVDeviceDescriptorUsb& descriptor) {
    XEVManager* manager = nullptr;
    XEVDevice* device = nullptr;
    {
        boost::lock_guard<boost::mutex> guard(*s_mutex);
        // A camera whose device is no longer listed (it is being destroyed,
        // which waits for the capture thread reporting this) has nobody left
        // to tell.
        manager = s_inst;
        device = manager ? manager->openedDevice(descriptor, true) : nullptr;
        if (device == nullptr)
            return;
        ++manager->m_lossesInFlight;
    }
    try {
        manager->relayLoss(*device);
    } catch (const std::exception& error) {
        detail::diagnostic(detail::DiagnosticKind::Information, error.what());
    }
}

void XEVManager::flushDevs() {
    Teardown teardown(this, "XEVManager::flushDevs()");
    closeDevices(teardown.lock);
}

void XEVManager::flushEnumeration() {
    Teardown teardown(this, "XEVManager::flushEnumeration()");
    closeDevices(teardown.lock);
    m_descriptors.clear();
}

XEVDevice* XEVManager::castVoidToDevicePointer(void* pointer) const {
    boost::lock_guard<boost::mutex> guard(*s_mutex);
    if (pointer == nullptr)
        return nullptr;
    for (const auto& entry : m_devices) {
        if (static_cast<void*>(entry.second.get()) == pointer)
            return entry.second.get();
    }
    return nullptr;
}

} // namespace XEVLibrary
