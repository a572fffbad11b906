#pragma once

#include "XEVDeviceDescriptor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace XEVLibrary {

class UsbDevice;
class XEVParam;
struct DeviceImpl;

/// The USB bridge generation of a camera.
enum FxType : int32_t {
    FX2 = 0, ///< the older bridge: bulk endpoint 0x82, line format programmed
    FX3 = 1, ///< the USB 3.0 bridge ("FX3" or "USB3"): bulk endpoint 0x83
};

/// Capability bits a USB camera reports in its info line.
using Capacity = uint16_t;

/**
 * The descriptor of a USB camera: where it is plugged (connector kind and
 * position in the enumeration), what it is (model id, sensor size,
 * capabilities, from the info line of a short frame), which firmware it and
 * its bridge run, and the USB device to open.
 *
 * Filled by the USB enumeration pass; when the camera is opened,
 * adaptConfiguration() fits the catalog's configuration to this very camera.
 */
class XEVDeviceDescriptorUsb : public XEVDeviceDescriptor {
public:
    /// Capacity bits.
    ///@{
    static constexpr Capacity CAPACITY_SOFT_TRIGGER = 1u << 2;
    static constexpr Capacity CAPACITY_LONG_EXPOSURE = 1u << 3;
    static constexpr Capacity CAPACITY_GATED = 1u << 5;
    static constexpr Capacity CAPACITY_EXTENDED_FPS = 1u << 9;
    static constexpr Capacity CAPACITY_TEC = 1u << 10;
    ///@}

    /// USB 2.0, connector number 255, everything else 0 or empty.
    XEVDeviceDescriptorUsb();
    /// @p type and @p number, everything else 0 or empty.
    XEVDeviceDescriptorUsb(ConnectorType type, uint8_t number);
    ///@{
    /// Copies every field, the USB device included.
    XEVDeviceDescriptorUsb(const XEVDeviceDescriptorUsb& other);
    XEVDeviceDescriptorUsb& operator=(const XEVDeviceDescriptorUsb& other);
    ///@}
    ~XEVDeviceDescriptorUsb() override;

    ///@{
    /// The bridge kind of the camera.
    FxType fxType() const { return m_fxType; }
    void setFxType(FxType type) { m_fxType = type; }
    ///@}
    ///@{
    /// The capacity bits (CAPACITY_...) the camera reports.
    Capacity capacity() const { return m_capacity; }
    void setCapacity(Capacity capacity) { m_capacity = capacity; }
    ///@}
    /// (major << 16) | (minor << 8) | patch of the bridge firmware.
    ///@{
    uint32_t usbFirmwareVersion() const { return m_usbFirmwareVersion; }
    void setUsbFirmwareVersion(uint32_t version) { m_usbFirmwareVersion = version; }
    ///@}
    /// "a.b.c" in decimal.
    std::string usbFirmwareVersionStr() const;
    ///@{
    /// The USB version of the port the camera runs on (0x0300, 0x0200 ...).
    uint16_t bcdUSB() const { return m_bcdUSB; }
    void setBcdUSB(uint16_t bcd) { m_bcdUSB = bcd; }
    ///@}
    ///@{
    /// Sensor width and height in pixels, from the info line.
    uint16_t SensorWidth() const { return m_sensorWidth; }
    void SetSensorWidth(uint16_t width) { m_sensorWidth = width; }
    uint16_t SensorHeight() const { return m_sensorHeight; }
    void SetSensorHeight(uint16_t height) { m_sensorHeight = height; }
    ///@}

    ///@{
    /// True when the capacity bits hold the capability.
    bool hasSoftTrigger() const { return (m_capacity & CAPACITY_SOFT_TRIGGER) != 0; }
    bool hasLongExposure() const { return (m_capacity & CAPACITY_LONG_EXPOSURE) != 0; }
    bool hasGated() const { return (m_capacity & CAPACITY_GATED) != 0; }
    bool hasExtendedFPS() const { return (m_capacity & CAPACITY_EXTENDED_FPS) != 0; }
    bool hasTEC() const { return (m_capacity & CAPACITY_TEC) != 0; }
    ///@}

    /// The USB device this descriptor opens (null until enumeration stores it).
    ///@{
    const std::shared_ptr<UsbDevice>& usbDevice() const { return m_usbDevice; }
    void setUsbDevice(std::shared_ptr<UsbDevice> device) { m_usbDevice = std::move(device); }
    ///@}

    /// By connector type, connector number, model id, serial number, flags.
    bool operator<(const XEVDeviceDescriptorUsb& other) const;

    /**
     * Fits @p configuration (a device's copy of the catalog's) to this camera:
     * the Jacana window limits of the sensor it reported, the pixel clocks of
     * a Heron or Ibis on the new bridge behind a USB 2.0 link, and the Kestrel
     * exposure and mode parameters built from its capabilities, whose option
     * handlers are connected to the signals of @p impl (when not null).
     *
     * The parameters created here are appended to @p created: the caller
     * owns them and keeps them as long as @p configuration uses them (their
     * signal connections end with them). A parameter taken out of the
     * configuration is not destroyed: the catalog owns it. A missing catalog
     * parameter throws std::out_of_range ("map::at"); adjustments made before
     * stay, with their parameters in @p created.
     */
    void adaptConfiguration(DeviceImpl* impl, XEVModelConfiguration& configuration,
                            std::vector<std::shared_ptr<XEVParam>>& created) const;

protected:
    ConnectorType GetConnectorType() const override { return m_connectorType; }
    uint8_t ConnectorNumber() const override { return m_connectorNumber; }
    std::string GetModelId() const override { return m_modelId; }
    uint16_t FirmwareVersion() const override { return m_firmwareVersion; }
    /// "major.minor" with major = version >> 6, minor = version & 63.
    std::string StrFirmwareVersion() const override;
    uint32_t GetSerialNumber() const override { return m_serialNumber; }
    /// The serial number in decimal.
    std::string GetStrSerialNumber() const override;
    uint32_t Flags() const override { return m_flags; }
    void ConnectorNumber(unsigned int number) override { m_connectorNumber = uint8_t(number); }
    void SetModelId(const std::string& modelId) override { m_modelId = modelId; }
    void FirmwareVersion(const unsigned short& version) override { m_firmwareVersion = version; }
    void SetSerialNumber(const unsigned int& serial) override { m_serialNumber = serial; }
    void Flags(unsigned int flags) override { m_flags = flags; }
    /// For example "USB 3.0 (0) -- [Model:Kestrel] [FWVer:3.5] [SerNum:1234]
    /// [FX3; USB3; USB FW: 1.2.3]".
    std::string ToString() const override;

private:
    ConnectorType m_connectorType = USB2;
    uint8_t m_connectorNumber = 255;
    std::string m_modelId;
    uint16_t m_firmwareVersion = 0;
    uint32_t m_usbFirmwareVersion = 0;
    uint32_t m_serialNumber = 0;
    uint32_t m_flags = 0;
    FxType m_fxType = FX2;
    Capacity m_capacity = 0;
    uint16_t m_bcdUSB = 0;
    uint16_t m_sensorWidth = 0;
    uint16_t m_sensorHeight = 0;
    std::shared_ptr<UsbDevice> m_usbDevice;
};

/// Parses the bridge firmware text "vAAA.BBB.CCC" into (a << 16) | (b << 8) | c.
/// Throws std::out_of_range ("basic_string::substr") when a field starts past
/// the end of the text and std::invalid_argument ("stoi") when a field holds
/// no number.
uint32_t FormatUsbFwToInt(const std::string& text);

} // namespace XEVLibrary
