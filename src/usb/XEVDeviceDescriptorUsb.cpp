#include "XEVDeviceDescriptorUsb.h"

#include "XEVCatalog.h"
#include "XEVEnumParam.h"
#include "XEVException.h"
#include "XEVExposureParamKestrel.h"
#include "XEVModelConfiguration.h"
#include "XEVNumericParam.h"
#include "device/DeviceImpl.h"
#include "usb/UsbSeam.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <tuple>

namespace XEVLibrary {

XEVDeviceDescriptorUsb::XEVDeviceDescriptorUsb() = default;

XEVDeviceDescriptorUsb::XEVDeviceDescriptorUsb(ConnectorType type, uint8_t number)
    : m_connectorType(type), m_connectorNumber(number) {}

XEVDeviceDescriptorUsb::XEVDeviceDescriptorUsb(const XEVDeviceDescriptorUsb& other) = default;

XEVDeviceDescriptorUsb&
XEVDeviceDescriptorUsb::operator=(const XEVDeviceDescriptorUsb& other) = default;

XEVDeviceDescriptorUsb::~XEVDeviceDescriptorUsb() = default;

std::string XEVDeviceDescriptorUsb::usbFirmwareVersionStr() const {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u", (m_usbFirmwareVersion >> 16) & 0xFF,
                  (m_usbFirmwareVersion >> 8) & 0xFF, m_usbFirmwareVersion & 0xFF);
    return text;
}

std::string XEVDeviceDescriptorUsb::StrFirmwareVersion() const {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u", unsigned(m_firmwareVersion >> 6),
                  unsigned(m_firmwareVersion & 63));
    return text;
}

std::string XEVDeviceDescriptorUsb::GetStrSerialNumber() const {
    return std::to_string(m_serialNumber);
}

std::string XEVDeviceDescriptorUsb::ToString() const {
    std::ostringstream text;
    text << connectorTypeToString(m_connectorType) << " (" << unsigned(m_connectorNumber)
         << ") -- [Model:" << (m_modelId.empty() ? "Unknown" : m_modelId) << "]";
    if (m_firmwareVersion != 0)
        text << " [FWVer:" << StrFirmwareVersion() << "]";
    if (m_serialNumber != 0)
        text << " [SerNum:" << std::hex << m_serialNumber << std::dec << "] ["
             << (m_fxType == FX3 ? "FX3" : "FX2") << "; " << (m_bcdUSB < 0x0300 ? "USB2" : "USB3")
             << "; USB FW: " << usbFirmwareVersionStr() << "]";
    return text.str();
}

bool XEVDeviceDescriptorUsb::operator<(const XEVDeviceDescriptorUsb& other) const {
    return std::tie(m_connectorType, m_connectorNumber, m_modelId, m_serialNumber, m_flags) <
           std::tie(other.m_connectorType, other.m_connectorNumber, other.m_modelId,
                    other.m_serialNumber, other.m_flags);
}

uint32_t FormatUsbFwToInt(const std::string& text) {
    const int a = std::stoi(text.substr(1, 3));
    const int b = std::stoi(text.substr(5, 3));
    const int c = std::stoi(text.substr(9, 3));
    return (uint32_t(a) << 16) | (uint32_t(b) << 8) | uint32_t(c);
}

namespace {

// Copies of catalog parameters: the catalog's objects are shared by every
// configuration copied from it, so one camera's limits must not reach them.
std::shared_ptr<XEVNumericParam> cloneNumeric(const XEVParam* source) {
    const auto* numeric = dynamic_cast<const XEVNumericParam*>(source);
    if (!numeric)
        throw std::out_of_range("map::at");
    auto copy = std::make_shared<XEVNumericParam>(numeric->name().c_str(), numeric->regAddr(),
                                                  numeric->shift(), numeric->size(),
                                                  numeric->userStep(), numeric->offset());
    try {
        copy->setUserRange(numeric->userMin(), numeric->userMax());
    } catch (const XEVException&) {
        copy->setMaxVal(numeric->userMax()); // a maximum set off the register grid
    }
    copy->setUnit(numeric->unit());
    if (!numeric->specificLabel().empty())
        copy->setSpecificLabel(numeric->specificValue(), numeric->specificLabel());
    return copy;
}

std::shared_ptr<XEVEnumParam> cloneEnum(const XEVParam* source) {
    const auto* labelled = dynamic_cast<const XEVEnumParam*>(source);
    if (!labelled)
        throw std::out_of_range("map::at");
    auto copy = std::make_shared<XEVEnumParam>(labelled->name().c_str(), labelled->regAddr(),
                                               labelled->shift(), labelled->size());
    for (const auto& entry : labelled->labelsByValue())
        copy->addLabel(labelled->valueToRegVal(entry.first), entry.first, entry.second.c_str());
    return copy;
}

} // namespace

void XEVDeviceDescriptorUsb::adaptConfiguration(
    DeviceImpl* impl, XEVModelConfiguration& configuration,
    std::vector<std::shared_ptr<XEVParam>>& created) const {
    auto& params = Params(configuration);
    auto& list = ListParams(configuration);
    // Puts @p param under @p name: in the place of the one it replaces in the
    // list, or at its end.
    auto install = [&](const std::shared_ptr<XEVParam>& param, const char* name, bool inPlace) {
        auto existing = params.find(name);
        auto position = list.end();
        if (existing != params.end())
            position = std::find(list.begin(), list.end(), existing->second);
        if (position != list.end() && inPlace) {
            *position = param.get();
        } else {
            if (position != list.end())
                list.erase(position);
            list.push_back(param.get());
        }
        params[name] = param.get();
        created.push_back(param);
    };

    if (m_modelId == XEVCatalog::Jacana && m_fxType == FX3) {
        uint8_t registry[XEVModelConfiguration::RegistrySize];
        std::copy_n(configuration.defaultRegistry(), XEVModelConfiguration::RegistrySize, registry);
        auto limit = [&](const char* name, double max) {
            auto copy = cloneNumeric(params.at(name));
            copy->setMaxVal(max);
            install(copy, name, true);
        };
        limit(XEVCatalog::NUMBER_COLUMN, m_sensorWidth);
        registry[8] = uint8_t(m_sensorWidth >> 3);
        limit(XEVCatalog::FIRST_COLUMN, double(m_sensorWidth) - 8);
        limit(XEVCatalog::NUMBER_LINE, m_sensorHeight);
        registry[10] = uint8_t(m_sensorHeight >> 3);
        limit(XEVCatalog::FIRST_LINE, double(m_sensorHeight) - 8);
        configuration.setDefaultRegistry(registry);
    }

    if ((m_modelId == XEVCatalog::Heron || m_modelId == XEVCatalog::Ibis) && m_fxType == FX3 &&
        m_connectorType == USB2) {
        params.at(XEVCatalog::FREQ); // the catalog's must exist
        auto clock = std::make_shared<XEVEnumParam>(XEVCatalog::FREQ, 1, 0, 4);
        clock->addLabel(12, 12.5, "12.5MHz");
        clock->addLabel(14, 16.666, "16.66MHz");
        clock->addLabel(15, 20.0, "20MHz");
        clock->addLabel(8, 25.0, "25MHz");
        install(clock, XEVCatalog::FREQ, false);
    }

    if (m_modelId == XEVCatalog::Kestrel) {
        const bool fineStep = StrFirmwareVersion() >= "3.4";
        auto exposure = std::make_shared<XEVExposureParamKestrel>(
            false, fineStep, hasLongExposure(), false, false, false);
        if (impl) {
            // The connections end when the parameter is destroyed.
            using Slot = boost::signals2::signal<void(bool)>::slot_type;
            XEVExposureParamKestrel* target = exposure.get();
            impl->modeSignal.connect(
                Slot([target](bool on) { target->ModeChange(on); }).track_foreign(exposure));
            impl->gainSignal.connect(
                Slot([target](bool on) { target->GainChange(on); }).track_foreign(exposure));
            impl->sensorResponseSignal.connect(
                Slot([target](bool on) { target->LinLogChange(on); }).track_foreign(exposure));
            impl->triggerSignal.connect(
                Slot([target](bool on) { target->TriggerChange(on); }).track_foreign(exposure));
        }
        install(exposure, XEVCatalog::EXPO_TIME, false);

        auto mode = std::make_shared<XEVEnumParam>(XEVCatalog::MODE, 0, 0, 2);
        mode->addLabel(0, XEVCatalog::GLOBALSHUTTER);
        if (hasGated())
            mode->addLabel(1, XEVCatalog::GATED);
        install(mode, XEVCatalog::MODE, false);

        if (hasSoftTrigger()) {
            auto trigger = cloneEnum(params.at(XEVCatalog::TRIG_MODE));
            trigger->addLabel(3, XEVCatalog::SOFT);
            install(trigger, XEVCatalog::TRIG_MODE, true);
        }
    }
}

} // namespace XEVLibrary
