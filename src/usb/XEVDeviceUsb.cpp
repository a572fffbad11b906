// The settings side of the USB device: register images, parameter writes,
// the Kestrel coupling rules, UpdateConfig, frame rate limits and the texts.

#include "XEVDeviceUsb.h"

#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVParam.h"
#include "device/CaptureLifecycle.h"
#include "device/DeviceImpl.h"
#include "device/Diagnostics.h"
#include "device/PendingWindow.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>

namespace XEVLibrary {

namespace {

constexpr const char* Kestrel = "Kestrel";

/// Low 8 bits of a register value computed in floating point; values that do
/// not fit an integer are clamped first so that the conversion is defined.
uint8_t lowByte(double value) {
    if (!(value > -1e15 && value < 1e15))
        value = 0;
    return static_cast<uint8_t>(static_cast<int64_t>(value) & 0xFF);
}

int64_t truncated(double value) {
    if (!(value > -1e15 && value < 1e15))
        return 0;
    return static_cast<int64_t>(value);
}

} // namespace

XEVDeviceUsb::XEVDeviceUsb(const XEVDeviceDescriptorUsb* descriptor,
                           const XEVModelConfiguration& configuration, long fifoSize)
    : XEVDevice(configuration, fifoSize), m_descriptor(descriptor), m_family([&] {
          const std::string& id = configuration.modelId();
          if (id == "Heron")
              return Family::Heron;
          if (id == "Ibis")
              return Family::Ibis;
          if (id == "Egret")
              return Family::Egret;
          if (id == "Jacana")
              return Family::Jacana;
          if (id == Kestrel)
              return Family::Kestrel;
          if (id == "Lapwing")
              return Family::Lapwing;
          if (id == "Merlin")
              return Family::Merlin;
          if (id == "Bittern")
              return Family::Bittern;
          if (id == "Fulmar")
              return Family::Fulmar;
          return Family::Other;
      }()) {
    m_pending.fps = 25.0;
    m_capture = std::make_unique<CaptureLifecycle>(*this, m_lastError, "XEVDeviceUsb",
                                                   CaptureLifecycle::Hooks{});

    // The descriptor adapts this device's copy of the configuration; the
    // parameters it creates belong to this device.
    m_descriptor->adaptConfiguration(impl(), *this, m_ownedParams);

    try {
        m_transfert.reset(new XEVTransfert());
        m_handle = m_transfert->open(*m_descriptor);
        m_connected.store(true);

        if (!XEVDevice::Fastest)
            startThreads();

        std::copy(defaultRegistry(), defaultRegistry() + 16, m_virtualRegistry);
        std::fill(std::begin(m_appliedRegistry), std::end(m_appliedRegistry), 0);
        std::fill(std::begin(m_registerUsed), std::end(m_registerUsed), false);
        m_registerUsed[0] = m_registerUsed[5] = m_registerUsed[6] = true;
        for (XEVParam* param : *this)
            if (param->regAddr() < 16)
                m_registerUsed[param->regAddr()] = true;

        if (m_family == Family::Lapwing) {
            m_registerUsed[2] = true;
            m_virtualRegistry[2] = 0x80;
        } else if (m_family == Family::Kestrel) {
            m_registerUsed[3] = m_registerUsed[13] = m_registerUsed[14] = true;
            if (m_descriptor->hasExtendedFPS())
                m_registerUsed[12] = true;
            m_virtualRegistry[13] = 0xC2;
            m_virtualRegistry[14] = 0x00;
            getParam("Mode")->setValue(0.0, m_virtualRegistry);
            getParam("Exposure Time")->setValue(2000.0, m_virtualRegistry);
        }

        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        checkParams();
        adjustFPS();
        if (!updateConfig(true))
            XEVException::throwError("For XEVDevice(%s), the camera refused its configuration.",
                                     modelId().c_str());
    } catch (...) {
        stopThreads();
        if (m_handle)
            m_transfert->close(*m_descriptor, std::move(m_handle));
        throw;
    }
}

XEVDeviceUsb::~XEVDeviceUsb() {
    try {
        // Stop as Stop(false) would, also for a camera that is gone.
        m_capture->end(false);
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceUsb: stopping on destruction failed: %s", error.what());
    }
    stopThreads();
    if (m_handle)
        m_transfert->close(*m_descriptor, std::move(m_handle));
    // The producer part stops its observers before the parameters go.
    try {
        stopProduction(false);
    } catch (const std::exception& error) {
        detail::diagnosticf(detail::DiagnosticKind::Error,
                            "XEVDeviceUsb: stopping on destruction failed: %s", error.what());
    }
}

uint32_t XEVDeviceUsb::Width() const {
    if (m_family == Family::Jacana && m_descriptor->fxType() == FX3)
        return m_descriptor->SensorWidth();
    return XEVModelConfiguration::Width();
}

uint32_t XEVDeviceUsb::Height() const {
    if (m_family == Family::Jacana && m_descriptor->fxType() == FX3)
        return m_descriptor->SensorHeight();
    return XEVModelConfiguration::Height();
}

const XEVDeviceDescriptor* XEVDeviceUsb::GetDeviceDescriptor() const {
    return m_descriptor;
}

void XEVDeviceUsb::throwIfDisconnected() const {
    if (!m_connected.load())
        XEVException::throwError("XEVDevice(%s) is disconnected.", modelId().c_str());
}

XEVParam* XEVDeviceUsb::GetParam(const std::string& name, bool allowInert) const {
    XEVParam* param = getParam(name);
    if (param == nullptr)
        XEVException::throwError("For XEVDevice(%s), param(%s) does not exist.", modelId().c_str(),
                                 name.c_str());
    if (param->isInert() && !allowInert)
        XEVException::throwError("For XEVDevice(%s), param(%s) is inert.", modelId().c_str(),
                                 name.c_str());
    return param;
}

bool XEVDeviceUsb::hasParam(const std::string& name) const {
    return getParam(name) != nullptr;
}

double XEVDeviceUsb::registryValue(const std::string& name, const uint8_t* registry) const {
    return GetParam(name, true)->value(registry);
}

std::string XEVDeviceUsb::registryText(const std::string& name, const uint8_t* registry) const {
    return GetParam(name, true)->strValue(registry);
}

double XEVDeviceUsb::GetParamValueOf(const std::string& name, bool applied) const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return registryValue(name, applied ? m_appliedRegistry : m_virtualRegistry);
}

std::string XEVDeviceUsb::GetParamStrValueOf(const std::string& name, bool applied) const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return registryText(name, applied ? m_appliedRegistry : m_virtualRegistry);
}

std::vector<uint8_t> XEVDeviceUsb::virtualRegistry() const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return std::vector<uint8_t>(m_virtualRegistry, m_virtualRegistry + 16);
}

std::vector<uint8_t> XEVDeviceUsb::appliedRegistry() const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return std::vector<uint8_t>(m_appliedRegistry, m_appliedRegistry + 16);
}

void XEVDeviceUsb::SetParamValueOf(const std::string& name, double value, bool apply) {
    SetParamValueOf(GetParam(name, false), value, apply);
}

void XEVDeviceUsb::SetParamValueOf(const std::string& name, const std::string& value, bool apply) {
    const XEVParam* param = GetParam(name, false);
    SetParamValueOf(param, param->strValueToValue(value), apply);
}

void XEVDeviceUsb::reapplyExposure(double exposure) {
    SetParamValueOf("Exposure Time", exposure, false);
}

void XEVDeviceUsb::applyKestrelCouplings(const std::string& name, double value) {
    const std::string modelName = modelId();
    const char* id = modelName.c_str();
    auto exposure = [&](bool applied) {
        return registryValue("Exposure Time", applied ? m_appliedRegistry : m_virtualRegistry);
    };
    auto text = [&](const char* param) { return registryText(param, m_virtualRegistry); };
    auto registerValue = [&](const char* param) { return registryValue(param, m_virtualRegistry); };
    DeviceImpl& signals = *impl();

    if (name == "Mode") {
        const double before = exposure(false);
        if (value != 0) {
            m_virtualRegistry[1] &= 0xFE;
            SetParamValueOf("Temperature TEC", 35.0, false);
            SetParamValueOf("TEC Mode", std::string("Medium current"), false);
            if (registerValue("Sensor Response") == 0) {
                m_virtualRegistry[2] = (m_virtualRegistry[2] & 0xFD) | 0xC0;
                signals.gainSignal(false);
            }
        }
        signals.modeSignal(value != 0);
        reapplyExposure(before);
    } else if (name == "Analog Gain") {
        const double before = exposure(true);
        if (registerValue("Sensor Response") == 0) {
            if (value != 2)
                XEVException::throwError(
                    "For XEVDevice(%s), param(%s) Log Sensor Response accept only 'Standard' gain",
                    id, name.c_str());
        } else if (value != 0 && value != 3) {
            XEVException::throwError("For XEVDevice(%s), param(%s) Lin Sensor Response accept only "
                                     "'Low' or 'High' gain.",
                                     id, name.c_str());
        }
        if (value != 3)
            m_virtualRegistry[2] &= 0xFD;
        signals.gainSignal(value == 0);
        reapplyExposure(before);
    } else if (name == "Sensor Response") {
        const double before = exposure(true);
        const std::string gain = text("Analog Gain");
        if (value == 0 && gain != "Standard") {
            m_virtualRegistry[2] = (m_virtualRegistry[2] & 0x3D) | 0x80;
            signals.gainSignal(false);
        } else if (value == 1 && gain != "Low" && gain != "High") {
            m_virtualRegistry[2] &= 0x3D;
            signals.gainSignal(false);
        }
        signals.sensorResponseSignal(value != 0);
        reapplyExposure(before);
    } else if (name == "Trigger Mode") {
        m_softTriggerSelected.store(value == 3);
        const double before = exposure(false);
        if (value == 1)
            m_virtualRegistry[1] &= 0xFE;
        signals.triggerSignal(value == 1);
        reapplyExposure(before);
    } else if (name == "Trigger Delay Input Gated" || name == "Trigger Delay Output Gated") {
        if (exposure(false) > 10.0)
            XEVException::throwError(
                "For XEVDevice(%s), param(%s) can only be used in Gated mode(exposure <= 10us).",
                id, name.c_str());
    } else if (name == "Trigger Delay Input" || name == "Trigger Delay Output") {
        if (exposure(false) <= 10.0)
            XEVException::throwError("For XEVDevice(%s), param(%s) can only be used in Global "
                                     "Shutter mode(exposure > 10us).",
                                     id, name.c_str());
    } else if (name == "CDS" && value == 1) {
        if (text("Sensor Response") != "Lin" || text("Analog Gain") != "High")
            XEVException::throwError(
                "For XEVDevice(%s), param(%s): can be 'on' only in Lin Mode and High Gain.", id,
                name.c_str());
    } else if (name == "Integration Mode" && value == 1) {
        const double before = exposure(true);
        m_virtualRegistry[1] &= 0xFE;
        if (text("Trigger Mode") == "Input")
            XEVException::throwError(
                "For XEVDevice(%s), param(%s): IWR is incompatible with external trigger.", id,
                name.c_str());
        reapplyExposure(before);
    }
}

void XEVDeviceUsb::SetParamValueOf(const XEVParam* param, double value, bool apply) {
    const std::string name = param->name();
    if (m_family == Family::Kestrel) {
        // The coupling rules edit the Virtual Registry: they run under the
        // (recursive) parameter lock too, so that no other thread sees half
        // of a rule.
        boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
        applyKestrelCouplings(name, value);
    }

    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    if (m_family == Family::Kestrel && name == "Exposure Time" && value < 100.0 &&
        registryText("Integration Mode", m_virtualRegistry) == "IWR")
        m_virtualRegistry[1] &= 0xFE;
    param->setValue(value, m_virtualRegistry);
    checkParams();
    adjustFPS();
    notifyParamChanged(name, param->strValue(m_virtualRegistry), false);
    if (apply && !UpdateConfig(false))
        throwWritesRefused();
}

void XEVDeviceUsb::throwWritesRefused() const {
    XEVException::throwError(
        "For XEVDevice(%s), the camera refused the register writes; the settings stay pending.",
        modelId().c_str());
}

bool XEVDeviceUsb::checkParams() {
    return detail::checkPendingWindow(*this, m_descriptor->hasFlag(XEVCatalog::FLAG_INFO_LINE),
                                      [this] { resetVirtualRegistry(); });
}

std::vector<std::pair<std::string, std::string>>
XEVDeviceUsb::changedParamTexts(const bool* changed, const uint8_t* registry) const {
    std::vector<std::pair<std::string, std::string>> texts;
    for (XEVParam* param : *this) {
        if (param->isInert() || param->regAddr() >= 16 || !changed[param->regAddr()])
            continue;
        // Parameters may share a register, each meaningful in its own mode
        // (a Heron's "Exposure Time" and "Low exposure time"): one that
        // cannot read the new value has not changed to anything.
        try {
            texts.emplace_back(param->name(), param->strValue(registry));
        } catch (const XEVException&) {
        }
    }
    return texts;
}

void XEVDeviceUsb::resetVirtualRegistry() {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    bool changed[16];
    for (int i = 0; i < 16; ++i) {
        changed[i] = m_virtualRegistry[i] != m_appliedRegistry[i];
        m_virtualRegistry[i] = m_appliedRegistry[i];
    }
    const FrameRates old = m_pending;
    m_pending = m_applied;
    for (const auto& [name, text] : changedParamTexts(changed, m_virtualRegistry)) {
        notifyParamChanged(name, text, true);
        notifyParamChanged(name, text, false);
    }
    notifyFpsChanged(m_pending.fps != old.fps ? m_pending.fps : 0.0,
                     m_pending.min != old.min ? m_pending.min : 0.0,
                     m_pending.max != old.max ? m_pending.max : 0.0, false);
}

bool XEVDeviceUsb::UpdateConfig(bool force) {
    throwIfDisconnected();
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    if (XEVDevice::Fastest)
        return true;

    // A register the camera refused stays pending, to be sent again.
    bool written[16] = {};
    bool anyWritten = false;
    bool result = true;
    auto applyRegister = [&](int i) {
        m_appliedRegistry[i] = m_virtualRegistry[i];
        m_configurationWritten = true;
        written[i] = anyWritten = true;
    };
    auto toWrite = [&](int i) {
        return m_registerUsed[i] && (force || m_virtualRegistry[i] != m_appliedRegistry[i]);
    };
    if (m_descriptor->usbFirmwareVersion() < 0x20000) {
        for (int i = 0; i < 16; ++i) {
            if (!toWrite(i))
                continue;
            if (m_transfert->setRegVal(*m_descriptor, m_handle.get(), i, m_virtualRegistry[i]))
                applyRegister(i);
            else
                result = false;
        }
    } else {
        std::vector<uint16_t> words;
        for (int i = 0; i < 16; ++i)
            if (toWrite(i))
                words.push_back(static_cast<uint16_t>(i * 256 + m_virtualRegistry[i]));
        if (!words.empty()) {
            const int sent = m_transfert->setMultipleRegVals(*m_descriptor, m_handle.get(), words);
            if (sent == int(words.size() * 2)) {
                for (uint16_t word : words)
                    applyRegister(word >> 8);
            } else {
                result = false;
            }
        }
    }
    if (!anyWritten)
        return result;

    m_exposureRegistersWritten = written[3] || written[4];
    // The frame rates go with the frame period registers: applied only when
    // the camera took every register.
    const FrameRates old = m_applied;
    if (result)
        m_applied = m_pending;
    for (const auto& [name, text] : changedParamTexts(written, m_appliedRegistry))
        notifyParamChanged(name, text, true);
    notifyFpsChanged(m_applied.fps != old.fps ? m_applied.fps : 0.0,
                     m_applied.min != old.min ? m_applied.min : 0.0,
                     m_applied.max != old.max ? m_applied.max : 0.0, false);

    const std::string path = MakeNucPath();
    if (path != m_nucPath || m_exposureRegistersWritten) {
        m_nucPath = path;
        raiseNucSignal(MinExposureTime());
    }
    return result;
}

void XEVDeviceUsb::raiseNucSignal(double secondValue) {
    std::string path = m_nucPath;
    const double exposure =
        hasParam("Exposure Time") ? registryValue("Exposure Time", m_virtualRegistry) : 0.0;
    impl()->nucSignal(path, exposure, secondValue);
}

double XEVDeviceUsb::MinExposureTime() const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    const bool gated = hasParam("Mode") && registryText("Mode", m_virtualRegistry) == "Gated";
    if (m_family == Family::Kestrel) {
        if (gated)
            return 0.1;
        return registryText("Sensor Response", m_virtualRegistry) == "Lin" ? 10.0 : 100.0;
    }
    const char* name = gated ? "Low exposure time" : "Exposure Time";
    if (!hasParam(name))
        return 0.0;
    const std::string first = *getParam(name)->begin();
    return std::strtod(first.c_str(), nullptr);
}

std::string XEVDeviceUsb::MakeNucPath() const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    std::ostringstream path;
    auto clock = [&] { return registryValue("Pixel Clock", m_virtualRegistry); };
    switch (m_family) {
    case Family::Jacana:
    case Family::Heron:
    case Family::Egret:
        path << clock() << "MHz/";
        break;
    case Family::Ibis:
        path << clock() << "MHz/T_" << registryValue("Temperature TEC", m_virtualRegistry) << "/";
        break;
    case Family::Kestrel:
        path << clock() << "MHz/" << registryText("Sensor Response", m_virtualRegistry) << "/"
             << registryText("Analog Gain", m_virtualRegistry);
        if (registryValue("CDS", m_virtualRegistry) != 0)
            path << "-CDS";
        if (m_descriptor->hasTEC())
            path << "/T_" << registryValue("Temperature TEC", m_virtualRegistry) << "/";
        break;
    default:
        break;
    }
    return path.str();
}

std::string XEVDeviceUsb::GetManual() const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    std::ostringstream text;
    const std::string rule(26, '-');
    auto label = [&](const char* name) { text << std::left << std::setw(21) << name; };
    text << rule << "\n";
    label("Connector");
    text << connectorTypeToString(m_descriptor->connectorType()) << "\n";
    label("Model");
    text << modelId() << "\n";
    label("Firmware Version");
    const unsigned firmware = m_descriptor->firmwareVersion();
    if (firmware == 0)
        text << "/\n";
    else
        text << (firmware >> 6) << "." << (firmware & 63) << "\n";
    label("Serial Number");
    if (m_descriptor->serialNumber() == 0)
        text << "/\n";
    else
        text << std::hex << m_descriptor->serialNumber() << std::dec << "\n";
    text << rule << "\n";
    for (const XEVParam* param : *this)
        param->manual(text, 16);
    text << rule;
    return text.str();
}

// --- frame rate -------------------------------------------------------------

double XEVDeviceUsb::GetFps(bool applied) const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return applied ? m_applied.fps : m_pending.fps;
}

double XEVDeviceUsb::GetMinFps(bool applied) const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return applied ? m_applied.min : m_pending.min;
}

double XEVDeviceUsb::GetMaxFps(bool applied) const {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    return applied ? m_applied.max : m_pending.max;
}

bool XEVDeviceUsb::refreshFPS(double fps) {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    if (fps < m_pending.min) {
        m_pending.fps = m_pending.min;
        return true;
    }
    if (fps > m_pending.max) {
        m_pending.fps = m_pending.max;
        return true;
    }
    if (fps != m_pending.fps) {
        m_pending.fps = fps;
        return true;
    }
    return false;
}

void XEVDeviceUsb::SetFps(double fps, bool apply) {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    if (!refreshFPS(fps))
        return;
    adjustFPS();
    notifyFpsChanged(m_pending.fps, 0.0, 0.0, false);
    if (apply && !UpdateConfig(false))
        throwWritesRefused();
}

void XEVDeviceUsb::adjustFPS() {
    boost::lock_guard<boost::recursive_mutex> guard(m_paramLock);
    const uint8_t* vr = m_virtualRegistry;
    auto value = [&](const char* name) { return registryValue(name, vr); };
    auto text = [&](const char* name) { return registryText(name, vr); };

    const double F = value("Pixel Clock");
    const double R = XEVCatalog::getRefClk(F);
    const double tableT = lineTime()[XEVCatalog::getRefTLine(F)];
    const int64_t N = truncated(value("Number of Line"));
    const bool iwr = m_family == Family::Kestrel && text("Integration Mode") == "IWR";
    const bool heronLike =
        m_family == Family::Heron || m_family == Family::Egret || m_family == Family::Ibis;

    // 1. Lines, extra lines and line time.
    double L = double(N + 1), X = 1020, T = tableT;
    if (heronLike) {
        L = double(N + 4);
        if (m_descriptor->fxType() == FX3 && connectorType() == USB2)
            T = 735.0 / F;
    } else if (m_family == Family::Jacana) {
        L = double(N + 4093);
        X = 0;
    } else if (m_family == Family::Kestrel) {
        L = double(iwr ? N + 4 : N + 2);
        X = (iwr || !m_descriptor->hasExtendedFPS()) ? 2040 : 32760;
        const double C = double(truncated(value("Number of Column")));
        if (m_descriptor->firmwareVersionAsString() < "3.4")
            T = tableT + double(truncated(C / F));
        else
            T = std::max(C + 200.0, 8.0 * double(truncated(((C + 16) * F / 80 + 8) * 0.125))) / F;
    }

    // 2. Exposure term. Modes and models without a rule of their own
    // (rolling and the like, an Ibis in global shutter) add nothing, as the
    // camera's own timing expects.
    std::string mode = hasParam("Mode") ? text("Mode") : std::string();
    if (!mode.empty() && mode.front() == '[')
        mode.erase(0, 1);
    double E = 0;
    if (mode.compare(0, 14, "Global Shutter") == 0) {
        if (m_family == Family::Heron || m_family == Family::Egret)
            E = double(truncated(value("Exposure Time"))) + 1400;
        else if (m_family == Family::Jacana)
            E = 300;
        else if (m_family == Family::Kestrel) {
            const double exposure = value("Exposure Time");
            if (iwr)
                E = exposure <= L * T ? 143.5 : exposure - L * T - 7.5 + 143.5;
            else
                E = exposure + 122;
        }
    } else if (mode.compare(0, 5, "Gated") == 0) {
        if (m_family == Family::Kestrel)
            E = double(truncated(value("Exposure Time"))) +
                (m_descriptor->firmwareVersionAsString() < "3.3" ? 204 : 34);
        else if (m_family == Family::Jacana)
            E = 300;
        else if (hasParam("Low exposure time"))
            E = double(truncated(value("Low exposure time")));
    } else if (mode.compare(0, 8, "Snapshot") == 0) {
        E = double(truncated(value("Exposure Time")));
    }

    // 3. and 4. Frame period and limits.
    double P = L * T + E;
    if (m_family == Family::Jacana) {
        P = double(N + 4) * T + E;
        if (mode.compare(0, 14, "Global Shutter") == 0)
            P = std::max(P, double(truncated(value("Exposure Time"))) + 300);
    }
    const FrameRates old = m_pending;
    m_pending.max = 1000000.0 / P;
    m_pending.min = 1000000.0 / ((X + L) * T + E);
    const bool rateChanged = refreshFPS(m_pending.fps);
    const double Pf = 1000000.0 / m_pending.fps;

    // 5. Frame period registers.
    uint8_t* out = m_virtualRegistry;
    switch (m_family) {
    case Family::Heron:
    case Family::Egret: {
        const double d = double(truncated(Pf - (L * T + E)));
        const int64_t q = truncated(d / T);
        out[5] = lowByte(double(q / 4));
        out[6] = lowByte(double(truncated((d - 4 * (q / 4) * T) * F) / 16));
        break;
    }
    case Family::Jacana: {
        const double d = double(truncated(Pf - (double(N + 4) * T + E)));
        const int64_t q = truncated(d / T);
        out[5] = lowByte(double(q / 16));
        out[6] = lowByte(double(truncated((d - 16 * (q / 16) * T) * R) / 32));
        break;
    }
    case Family::Lapwing:
    case Family::Merlin: {
        const double d = double(truncated(Pf - (L * T + E + 13)));
        const int64_t q = truncated(d / T);
        out[5] = lowByte(double(m_family == Family::Lapwing ? q / 8 : q / 4));
        out[6] = lowByte(double(truncated((d - 8 * (q / 8) * T) * R) / 32));
        break;
    }
    case Family::Kestrel: {
        const double d = double(truncated(Pf - (L * T + E)));
        const int64_t q = truncated(d / T);
        const int64_t v = (q / 8 == 0) ? 1 : q / 8;
        out[5] = lowByte(double(v));
        if (m_descriptor->hasExtendedFPS())
            out[12] = static_cast<uint8_t>((v >> 8) & 0x0F);
        out[6] = lowByte(double(truncated((d - (8 * (q / 8) - 1) * T) * R) / 36));
        break;
    }
    default: {
        const double k = std::floor(((Pf - E) / T - L) * 0.25);
        out[5] = (lowByte(k) == 0) ? 1 : lowByte(k);
        const double D = (m_family == Family::Bittern || m_family == Family::Fulmar) ? 16 : 32;
        out[6] = lowByte(std::floor(R * (Pf - ((L + 4 * k) * T + E)) / D));
        break;
    }
    }

    // 6.
    notifyFpsChanged(rateChanged ? m_pending.fps : 0.0,
                     m_pending.min != old.min ? m_pending.min : 0.0,
                     m_pending.max != old.max ? m_pending.max : 0.0, false);
}

} // namespace XEVLibrary
