// The settings side of the GigE device: library names and GenICam features,
// the pending and applied register values, UpdateConfig, frame-rate limits,
// commands, persistent IP settings and the manual.

#include "XEVDeviceGige.h"

#include "Gige/ByteOrder.h"
#include "Gige/GenicamEnumeration.h"
#include "Gige/GenicamStringFeature.h"
#include "Gige/GvcpChannel.h"
#include "XEVCatalog.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVException.h"
#include "XEVGigeParam.h"
#include "device/Diagnostics.h"
#include "device/PendingWindow.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace XEVLibrary {

namespace {

using Guard = boost::lock_guard<boost::recursive_mutex>;

constexpr const char* DebugCategory = "DebugControl";
constexpr const char* FrameRate = "AcquisitionFrameRate";
constexpr const char* Exposure = "ExposureTime";
constexpr const char* MaxExposure = "MaxExposureTime";
constexpr const char* MaxFps = "MaxFPS";
constexpr const char* Temperature = "CamBoardTemperature";
constexpr const char* UserName = "GevUserDefinedName";
constexpr unsigned UserNameLimit = 15;
constexpr unsigned PersistentWriteTimeoutMs = 1200;

bool isText(const Feature& feature) {
    return dynamic_cast<const StringFeature*>(&feature) != nullptr;
}

/// Writes that change the frame timing, after which the camera's limits
/// are read again.
bool changesTiming(const std::string& featureName) {
    return featureName == "Height" || featureName == Exposure || featureName == FrameRate ||
           featureName == "GatedExposureTime";
}

/// The text of an error without the severity prefix of an XEVException.
std::string textOf(const std::exception& error) {
    std::string text = error.what();
    if (const auto* raised = dynamic_cast<const XEVException*>(&error)) {
        const std::string prefix = XEVException::prefix(raised->severity());
        if (text.compare(0, prefix.size(), prefix) == 0)
            text.erase(0, prefix.size());
    }
    return text;
}

/// @p value as an int for a message; values no int holds are clamped.
int asInt(double value) {
    if (!(value == value))
        return 0;
    const double clamped = std::max<double>(
        std::numeric_limits<int>::min(), std::min<double>(std::numeric_limits<int>::max(), value));
    return static_cast<int>(clamped);
}

bool hasCategory(const GenicamXml& xml, const std::string& name) {
    for (auto it = xml.CategoriesBegin(); it != xml.CategoriesEnd(); ++it)
        if (it->first == name)
            return true;
    return false;
}

std::vector<std::string> categoryNames(const GenicamXml& xml, const std::string& name) {
    return hasCategory(xml, name) ? xml.GetCategory(name)->FeatureNames()
                                  : std::vector<std::string>();
}

/// A frame rate the camera reports: the Hz of an entry named "Hz<rate>" for
/// cameras that offer fixed rates, the value itself otherwise.
double rateOf(const Feature& feature, uint32_t raw) {
    if (dynamic_cast<const Enumeration*>(&feature)) {
        const std::string entry = feature.FeatureValueAsString(raw);
        if (entry.compare(0, 2, "Hz") == 0)
            return std::strtod(entry.c_str() + 2, nullptr);
    }
    return feature.FeatureValueAsDouble(raw);
}

/// A frame-rate limit read from the camera, when it is one.
bool isRate(double value) {
    return std::isfinite(value) && value > 0;
}

} // namespace

std::atomic<unsigned> XEVDeviceGige::persistentSettleMs{1500};

std::string XEVDeviceGige::Xev2GigeName(const std::string& name) {
    static const std::map<std::string, std::string> translations{
        {"Exposure Time", "CamIntegrationTime"},
        {"Number of Line", "Height"},
        {"Number of Column", "Width"},
        {"First Line", "OffsetY"},
        {"First Column", "OffsetX"},
        {"Pixel Depth", "PixelFormat"},
    };
    const auto found = translations.find(name);
    return found == translations.end() ? name : found->second;
}

// --- Description ---------------------------------------------------------------

const GenicamXml& XEVDeviceGige::Genicam() const {
    return m_gvcp->Genicam();
}

GvcpChannel& XEVDeviceGige::Control() const {
    return *m_gvcp;
}

const XEVDeviceDescriptor* XEVDeviceGige::GetDeviceDescriptor() const {
    return m_descriptor;
}

void XEVDeviceGige::throwIfDisconnected() const {
    if (!m_connected.load())
        XEVException::throwError("XEVDevice(%s) is disconnected.", modelId().c_str());
}

bool XEVDeviceGige::firmwareAtLeast(const char* version) const {
    return m_firmware >= version;
}

bool XEVDeviceGige::hasExposureCap() const {
    const std::string model = modelId();
    return model == XEVCatalog::HeronGigE_SPOT || model == XEVCatalog::KestrelGigE ||
           (model == XEVCatalog::HeronGigE && firmwareAtLeast("01.04")) ||
           ((model == XEVCatalog::CurlewGigE || model == XEVCatalog::CurlewcGigE) &&
            firmwareAtLeast("02.00"));
}

const Feature& XEVDeviceGige::featureOf(const std::string& name,
                                        const std::string& featureName) const {
    const GenicamXml& xml = Genicam();
    if (!xml.FeatureExist(featureName))
        XEVException::throwError(
            "For XEVDevice(%s), param(%s) does not exist or as no equivalent in GEV.",
            modelId().c_str(), name.c_str());
    return *xml.GetFeature(featureName);
}

const Feature& XEVDeviceGige::writableFeature(const std::string& name,
                                              const std::string& featureName) const {
    const Feature& feature = featureOf(name, featureName);
    if (!feature.IsMutable())
        XEVException::throwError("For XEVDevice(%s), param(%s) is read-only.", modelId().c_str(),
                                 name.c_str());
    return feature;
}

void XEVDeviceGige::readAllRegisters() {
    if (m_firmware.empty())
        m_firmware = m_descriptor->firmwareVersionAsString();
    const GenicamXml& xml = Genicam();
    Guard guard(m_configLock);

    // Several features may view one register: each gets its value.
    std::map<uint32_t, std::vector<std::string>> integers;
    std::map<uint32_t, std::vector<std::pair<std::string, std::size_t>>> texts;
    for (auto it = xml.FeaturesBegin(); it != xml.FeaturesEnd(); ++it) {
        const std::string& name = it->first;
        if (xml.CommandExist(name))
            continue;
        const IntRegFeature* reg = xml.GetFeatureRegister(name);
        if (!getParam(name)) {
            auto param = std::make_shared<XEVGigeParam>(it->second.get());
            m_ownedParams.push_back(param);
            addParam(param.get());
        }
        const auto address = static_cast<uint32_t>(reg->Address());
        if (isText(*it->second))
            texts[address].emplace_back(name, static_cast<std::size_t>(reg->Length()));
        else
            integers[address].push_back(name);
    }

    std::vector<uint32_t> addresses;
    for (const auto& entry : integers)
        addresses.push_back(entry.first);
    for (const auto& [address, value] : m_gvcp->ReadRegisters(addresses))
        for (const std::string& name : integers[address])
            m_appliedRegistry[name] = value;
    addresses.clear();
    for (const auto& entry : texts)
        addresses.push_back(entry.first);
    for (const auto& [address, value] : m_gvcp->ReadStringRegisters(addresses))
        for (const auto& [name, length] : texts[address])
            // A text filling its register has no zero byte: cut at its end.
            m_stringValues[name] = length ? value.substr(0, length) : value;
    m_pendingRegistry = m_appliedRegistry;
    refreshFrameOrigin();

    // What the camera runs at is applied, and nothing is pending yet.
    if (xml.FeatureExist(FrameRate)) {
        const auto raw = m_appliedRegistry.find(FrameRate);
        if (raw != m_appliedRegistry.end()) {
            const double rate = rateOf(*xml.GetFeature(FrameRate), raw->second);
            if (isRate(rate))
                m_pending.fps = rate;
        }
    }
    adjustFPS();
    m_applied = m_pending;
}

// --- Reading -------------------------------------------------------------------------

uint32_t XEVDeviceGige::registryValue(const std::string& featureName, bool applied) const {
    Guard guard(m_configLock);
    const auto& registry = applied ? m_appliedRegistry : m_pendingRegistry;
    const auto found = registry.find(featureName);
    if (found == registry.end())
        XEVException::throwError("For XEVDevice(%s), param(%s) has no value.", modelId().c_str(),
                                 featureName.c_str());
    return found->second;
}

double XEVDeviceGige::registryDouble(const std::string& featureName, bool applied) const {
    const GenicamXml& xml = Genicam();
    if (!xml.FeatureExist(featureName))
        return 0.0;
    Guard guard(m_configLock);
    const auto& registry = applied ? m_appliedRegistry : m_pendingRegistry;
    const auto found = registry.find(featureName);
    return found == registry.end()
               ? 0.0
               : xml.GetFeature(featureName)->FeatureValueAsDouble(found->second);
}

unsigned XEVDeviceGige::GetParamValueFromCamera(const std::string& name) {
    const std::string featureName = Xev2GigeName(name);
    if (isText(featureOf(name, featureName)))
        XEVException::throwError("For XEVDevice(%s), param(%s) can only be represented as string.",
                                 modelId().c_str(), name.c_str());
    throwIfDisconnected();
    const uint32_t raw = m_gvcp->ReadRegister(featureName);
    Guard guard(m_configLock);
    m_pendingRegistry[featureName] = raw;
    m_appliedRegistry[featureName] = raw;
    refreshFrameOrigin();
    return raw;
}

void XEVDeviceGige::refreshFrameOrigin() {
    const auto x = m_appliedRegistry.find("OffsetX");
    const auto y = m_appliedRegistry.find("OffsetY");
    m_frameOffsetX.store(x != m_appliedRegistry.end() ? x->second : 0, std::memory_order_relaxed);
    m_frameOffsetY.store(y != m_appliedRegistry.end() ? y->second : 0, std::memory_order_relaxed);
}

double XEVDeviceGige::GetParamValueOf(const std::string& name, bool applied) const {
    const std::string featureName = Xev2GigeName(name);
    const Feature& feature = featureOf(name, featureName);
    if (isText(feature))
        XEVException::throwError("For XEVDevice(%s), param(%s) can only be represented as string.",
                                 modelId().c_str(), name.c_str());
    // The board temperature is read at each request. Devices are never
    // created const: storing the reading through a const view is sound.
    if (featureName == Temperature)
        const_cast<XEVDeviceGige*>(this)->GetParamValueFromCamera(featureName);
    return feature.FeatureValueAsDouble(registryValue(featureName, applied));
}

std::string XEVDeviceGige::GetParamStrValueOf(const std::string& name, bool applied) const {
    const std::string featureName = Xev2GigeName(name);
    const Feature& feature = featureOf(name, featureName);
    if (isText(feature)) {
        Guard guard(m_configLock);
        const auto found = m_stringValues.find(featureName);
        if (found == m_stringValues.end())
            XEVException::throwError("For XEVDevice(%s), param(%s) has no value.",
                                     modelId().c_str(), name.c_str());
        return found->second;
    }
    if (featureName == Temperature)
        const_cast<XEVDeviceGige*>(this)->GetParamValueFromCamera(featureName);
    return feature.FeatureValueAsString(registryValue(featureName, applied));
}

// --- Writing -------------------------------------------------------------------------

void XEVDeviceGige::throwParamError(const std::string& name, const std::exception& error) const {
    XEVException::throwError("For XEVDevice(" + modelId() + "), param(" + name +
                             ") : " + textOf(error));
}

void XEVDeviceGige::throwWritesRefused() const {
    XEVException::throwError(
        "For XEVDevice(%s), the camera refused the register writes; the settings stay pending.",
        modelId().c_str());
}

uint32_t XEVDeviceGige::cappedExposure(uint32_t raw) const {
    const GenicamXml& xml = Genicam();
    if (!xml.FeatureExist(MaxExposure) || !xml.FeatureExist(Exposure))
        return raw;
    Guard guard(m_configLock);
    if (m_appliedRegistry.count(MaxExposure) == 0)
        return raw;
    const Feature& exposure = *xml.GetFeature(Exposure);
    const double maximum = registryDouble(MaxExposure, true);
    // Compared as the single-precision values the camera holds.
    if (static_cast<float>(exposure.FeatureValueAsDouble(raw)) <= static_cast<float>(maximum))
        return raw;
    return exposure.FeatureValueFromDouble(maximum);
}

void XEVDeviceGige::CheckDimensionParams(const std::string& featureName, uint32_t raw) const {
    const bool vertical = featureName == "Height" || featureName == "OffsetY";
    if ((!vertical && featureName != "Width" && featureName != "OffsetX") ||
        !Genicam().FeatureExist(featureName))
        return;
    const std::string firstName = vertical ? "OffsetY" : "OffsetX";
    const std::string countName = vertical ? "Height" : "Width";
    const double value = Genicam().GetFeature(featureName)->FeatureValueAsDouble(raw);
    Guard guard(m_configLock);
    const double first = featureName == firstName ? value : registryDouble(firstName, false);
    const double count = featureName == countName ? value : registryDouble(countName, false);
    const unsigned limit = vertical ? Height() : Width();
    if (first + count <= limit)
        return;
    if (vertical)
        XEVException::throwError(
            "For XEVDevice(%s), FirstLine(%f) + NumberOfLine(%f) > SensorHeight(%d)",
            modelId().c_str(), first, count, static_cast<int>(limit));
    XEVException::throwError(
        "For XEVDevice(%s), FirstColumn(%f) + NumberOfColumn(%f) > SensorWidth(%d)",
        modelId().c_str(), first, count, static_cast<int>(limit));
}

void XEVDeviceGige::storePending(const std::string& name, const std::string& featureName,
                                 uint32_t raw, const std::string& text, bool apply) {
    Guard guard(m_configLock);
    const auto previous = m_pendingRegistry.find(featureName);
    const bool had = previous != m_pendingRegistry.end();
    const uint32_t before = had ? previous->second : 0;
    const FrameRates rates = m_pending;
    m_pendingRegistry[featureName] = raw;
    try {
        adjustFPS();
    } catch (const std::exception& error) {
        // Refused: the pending settings stay as they were.
        if (had)
            m_pendingRegistry[featureName] = before;
        else
            m_pendingRegistry.erase(featureName);
        m_pending = rates;
        throwParamError(name, error);
    }
    notifyParamChanged(featureName, text, false);
    if (!apply)
        return;
    // From here the value is pending: a write the camera refuses or misses
    // leaves it so, for the next UpdateConfig.
    bool taken = false;
    try {
        taken = UpdateConfig(false);
    } catch (const std::exception& error) {
        throwParamError(name, error);
    }
    if (!taken)
        throwWritesRefused();
}

void XEVDeviceGige::SetParamValueOf(const std::string& name, double value, bool apply) {
    const std::string featureName = Xev2GigeName(name);
    const Feature& feature = writableFeature(name, featureName);
    if (apply)
        throwIfDisconnected();
    Guard guard(m_configLock);
    uint32_t raw = 0;
    try {
        raw = feature.FeatureValueFromDouble(value);
        if (featureName == Exposure && hasExposureCap())
            raw = cappedExposure(raw);
        CheckDimensionParams(featureName, raw);
    } catch (const std::exception& error) {
        throwParamError(name, error);
    } catch (...) {
        XEVException::throwError("For XEVDevice(%s), value(%d) does not exist for param(%s).",
                                 modelId().c_str(), asInt(value), name.c_str());
    }
    std::string text = feature.FeatureValueAsString(raw);
    if (text.empty())
        text = std::to_string(raw);
    storePending(name, featureName, raw, text, apply);
}

void XEVDeviceGige::SetParamValueOf(const std::string& name, const std::string& value, bool apply) {
    const std::string featureName = Xev2GigeName(name);
    const Feature& feature = writableFeature(name, featureName);
    const std::string model = modelId();

    if (isText(feature)) {
        // Texts go to the camera at once, never pending. A text longer than
        // its register would run into the next one.
        const std::size_t length = Genicam().GetFeatureRegister(featureName)->Length();
        if (featureName == UserName && value.size() > UserNameLimit)
            throwParamError(name,
                            std::length_error("GevUserDefinedName is limited to 15 caracters"));
        if (length > 0 && value.size() >= length)
            throwParamError(name, std::length_error(featureName + " is limited to " +
                                                    std::to_string(length - 1) + " caracters"));
        throwIfDisconnected();
        Guard guard(m_configLock);
        bool written = false;
        std::string taken;
        try {
            written = m_gvcp->SendMemRegister(featureName, value);
            // The acknowledge of a memory write does not tell whether the
            // camera took it: the text is read back.
            if (written)
                taken = m_gvcp->ReadStringRegister(featureName);
        } catch (const std::exception& error) {
            throwParamError(name, error);
        }
        if (!written)
            throwParamError(name, std::runtime_error("the camera did not answer the writing"));
        if (length > 0)
            taken = taken.substr(0, length);
        if (taken != value) {
            m_stringValues[featureName] = taken;
            throwParamError(name, std::runtime_error("the camera did not take the text"));
        }
        m_stringValues[featureName] = value;
        notifyParamChanged(featureName, value, false);
        return;
    }

    if (apply)
        throwIfDisconnected();
    // Older Kestrels take no exposure while busy; waited for without holding
    // the configuration.
    if (featureName == Exposure && model == XEVCatalog::KestrelGigE && !firmwareAtLeast("01.03")) {
        throwIfDisconnected();
        try {
            m_gvcp->WaitNiosNotBusy();
        } catch (const std::exception& error) {
            throwParamError(name, error);
        }
    }
    Guard guard(m_configLock);
    uint32_t raw = 0;
    try {
        raw = feature.FeatureValueFromString(value);
        if (featureName == Exposure && hasExposureCap())
            raw = cappedExposure(raw);
        CheckDimensionParams(featureName, raw);
    } catch (const std::exception& error) {
        throwParamError(name, error);
    }
    storePending(name, featureName, raw, value, apply);
}

bool XEVDeviceGige::UpdateConfig(bool force) {
    throwIfDisconnected();
    Guard guard(m_configLock);
    const GenicamXml& xml = Genicam();

    std::vector<std::string> changed;
    bool timingChanged = false;
    bool allTaken = true;
    for (const auto& [featureName, raw] : m_pendingRegistry) {
        const auto applied = m_appliedRegistry.find(featureName);
        if (!force && applied != m_appliedRegistry.end() && applied->second == raw)
            continue;
        // Read-only registers hold what the camera reports: never written.
        if (!xml.FeatureExist(featureName) || !xml.GetFeature(featureName)->IsMutable())
            continue;
        // A refused write stays pending, to be sent again.
        if (!m_gvcp->SendRegister(featureName, raw)) {
            allTaken = false;
            continue;
        }
        m_appliedRegistry[featureName] = raw;
        changed.push_back(featureName);
        timingChanged = timingChanged || changesTiming(featureName);
    }
    refreshFrameOrigin();

    // These cameras compute their limits themselves: read them back.
    if (hasExposureCap() && (modelId() == XEVCatalog::KestrelGigE || timingChanged)) {
        if (xml.FeatureExist(MaxFps)) {
            const double maximum =
                xml.GetFeature(MaxFps)->FeatureValueAsDouble(GetParamValueFromCamera(MaxFps));
            if (isRate(maximum))
                m_pending.max = std::floor(maximum);
        }
        if (xml.FeatureExist(MaxExposure)) {
            const auto held = m_appliedRegistry.find(MaxExposure);
            const bool known = held != m_appliedRegistry.end();
            const uint32_t before = known ? held->second : 0;
            if (GetParamValueFromCamera(MaxExposure) != before || !known)
                changed.push_back(MaxExposure);
        }
    }

    const FrameRates old = m_applied;
    m_applied.min = m_pending.min;
    m_applied.max = m_pending.max;
    // The rate goes with its register: not while the camera refuses it.
    const auto rate = m_pendingRegistry.find(FrameRate);
    const auto appliedRate = m_appliedRegistry.find(FrameRate);
    if (rate == m_pendingRegistry.end() ||
        (appliedRate != m_appliedRegistry.end() && appliedRate->second == rate->second))
        m_applied.fps = m_pending.fps;

    for (const std::string& featureName : changed)
        notifyParamChanged(
            featureName,
            xml.GetFeature(featureName)->FeatureValueAsString(m_appliedRegistry[featureName]),
            true);
    notifyFpsChanged(m_applied.fps != old.fps ? m_applied.fps : 0.0,
                     m_applied.min != old.min ? m_applied.min : 0.0,
                     m_applied.max != old.max ? m_applied.max : 0.0, false);
    return allTaken;
}

// --- Window ------------------------------------------------------------------------

bool XEVDeviceGige::checkParams() {
    Guard guard(m_configLock);
    return detail::checkPendingWindow(*this, m_descriptor->hasFlag(XEVCatalog::FLAG_INFO_LINE),
                                      [this] { resetVirtualRegistry(); });
}

void XEVDeviceGige::resetVirtualRegistry() {
    Guard guard(m_configLock);
    const GenicamXml& xml = Genicam();
    std::vector<std::string> reset;
    for (const auto& [featureName, raw] : m_pendingRegistry) {
        const auto applied = m_appliedRegistry.find(featureName);
        if (applied != m_appliedRegistry.end() && applied->second != raw)
            reset.push_back(featureName);
    }
    m_pendingRegistry = m_appliedRegistry;
    const FrameRates old = m_pending;
    m_pending = m_applied;
    for (const std::string& featureName : reset)
        notifyParamChanged(
            featureName,
            xml.GetFeature(featureName)->FeatureValueAsString(m_pendingRegistry[featureName]),
            false);
    notifyFpsChanged(m_pending.fps != old.fps ? m_pending.fps : 0.0,
                     m_pending.min != old.min ? m_pending.min : 0.0,
                     m_pending.max != old.max ? m_pending.max : 0.0, false);
}

// --- Frame rate ----------------------------------------------------------------------

double XEVDeviceGige::GetFps(bool applied) const {
    Guard guard(m_configLock);
    return applied ? m_applied.fps : m_pending.fps;
}

double XEVDeviceGige::GetMinFps(bool applied) const {
    Guard guard(m_configLock);
    return applied ? m_applied.min : m_pending.min;
}

double XEVDeviceGige::GetMaxFps(bool applied) const {
    Guard guard(m_configLock);
    return applied ? m_applied.max : m_pending.max;
}

bool XEVDeviceGige::refreshFPS(double fps) {
    Guard guard(m_configLock);
    if (fps < m_pending.min) {
        m_pending.fps = m_pending.min;
        return true;
    }
    // A maximum of 0 sets no limit.
    if (m_pending.max > 0 && fps > m_pending.max) {
        m_pending.fps = m_pending.max;
        return true;
    }
    if (fps == m_pending.fps)
        return false;
    m_pending.fps = fps;
    return true;
}

void XEVDeviceGige::SetFps(double fps, bool apply) {
    if (apply)
        throwIfDisconnected();
    const std::string model = modelId();
    Guard guard(m_configLock);
    if (!std::isfinite(fps))
        XEVException::throwError("For XEVDevice(%s), value(%f) does not exist for fps.",
                                 model.c_str(), fps);
    const FrameRates before = m_pending;
    if (!refreshFPS(fps))
        return;
    uint32_t raw = 0;
    try {
        adjustFPS();
    } catch (...) {
        m_pending = before;
        throw;
    }
    try {
        const Feature& rate = *Genicam().GetFeature(FrameRate);
        if (model == XEVCatalog::FulmarGigE) {
            // Its rates are the entries of an enumeration, named after them.
            char entry[64];
            std::snprintf(entry, sizeof entry, "Hz%f", m_pending.fps);
            raw = rate.FeatureValueFromString(entry);
        } else {
            raw = rate.FeatureValueFromDouble(m_pending.fps);
        }
    } catch (const std::exception&) {
        const double refused = m_pending.fps;
        m_pending = before;
        XEVException::throwError("For XEVDevice(%s), value(%f) does not exist for fps.",
                                 model.c_str(), refused);
    }
    m_pendingRegistry[FrameRate] = raw;
    notifyFpsChanged(m_pending.fps, 0.0, 0.0, false);
    if (apply && !UpdateConfig(false))
        throwWritesRefused();
}

void XEVDeviceGige::adjustFPS() {
    Guard guard(m_configLock);
    const std::string model = modelId();
    const FrameRates old = m_pending;
    if (model == XEVCatalog::CurlewGigE && !firmwareAtLeast("02.00")) {
        // Exposure then readout of (H + 26) lines, or the transfer of the
        // frame, whichever is slower; from the applied window and exposure.
        const auto width = static_cast<uint64_t>(registryDouble("Width", true));
        const auto height = static_cast<uint64_t>(registryDouble("Height", true));
        double exposure = std::trunc(registryDouble(Exposure, true));
        if (!(exposure >= 0 && exposure < 1e9))
            exposure = 0;
        const double byExposure = 1000000.0 / (double(height + 26) * 1308 / 80 + exposure);
        const uint64_t transfer = (width * height + (height + 1) * 1500 + 100) / 80;
        const double byTransfer = 1000000.0 / double(transfer);
        m_pending.max = std::floor(std::min(byExposure, byTransfer));
        m_pending.min = 1.0;
    } else if (hasExposureCap()) {
        // The camera computes its own limit; a lost camera keeps the last one.
        if (m_connected.load() && Genicam().FeatureExist(MaxFps)) {
            const double maximum =
                Genicam().GetFeature(MaxFps)->FeatureValueAsDouble(GetParamValueFromCamera(MaxFps));
            if (isRate(maximum))
                m_pending.max = std::floor(maximum);
        }
    } else if (model == XEVCatalog::FulmarGigE) {
        m_pending.max = 200.0;
        m_pending.min = 1.0;
    } else {
        return;
    }
    const bool rateChanged = refreshFPS(m_pending.fps);
    notifyFpsChanged(rateChanged ? m_pending.fps : 0.0,
                     m_pending.min != old.min ? m_pending.min : 0.0,
                     m_pending.max != old.max ? m_pending.max : 0.0, false);
}

// --- Commands, names, manual -------------------------------------------------------

void XEVDeviceGige::SendCommand(const std::string& name, uint32_t value) {
    const std::string commandName = Xev2GigeName(name);
    if (!Genicam().CommandExist(commandName))
        XEVException::throwError(
            "For XEVDevice(%s), command(%s) does not exist or as no equivalent in GEV.",
            modelId().c_str(), name.c_str());
    throwIfDisconnected();
    if (!m_gvcp->SendCommand(commandName, value))
        XEVException::throwError("For XEVDevice(%s), command(%s) was refused by the camera.",
                                 modelId().c_str(), name.c_str());
}

std::vector<std::string> XEVDeviceGige::ParamNames() const {
    const GenicamXml& xml = Genicam();
    const std::vector<std::string> debug = categoryNames(xml, DebugCategory);
    std::vector<std::string> names;
    for (auto it = xml.FeaturesBegin(); it != xml.FeaturesEnd(); ++it) {
        if (xml.CommandExist(it->first) || it->second->Visibility() == Feature::Invisible ||
            std::find(debug.begin(), debug.end(), it->first) != debug.end())
            continue;
        names.push_back(it->first);
    }
    return names;
}

std::vector<std::string> XEVDeviceGige::ParamNames(const std::string& group) const {
    return Genicam().GetCategory(group)->FeatureNames();
}

std::vector<std::string> XEVDeviceGige::GroupNames() const {
    std::vector<std::string> groups = categoryNames(Genicam(), "Root");
    groups.erase(std::remove(groups.begin(), groups.end(), DebugCategory), groups.end());
    return groups;
}

std::string XEVDeviceGige::GetManual() const {
    const GenicamXml& xml = Genicam();
    std::ostringstream text;
    const std::string rule(26, '-');
    auto line = [&text](const char* label, const std::string& value) {
        text << std::left << std::setw(21) << label << value << '\n';
    };
    text << rule << '\n';
    line("Connector", connectorTypeToString(m_descriptor->connectorType()));
    line("Model", modelId());
    line("Firmware Version", m_descriptor->firmwareVersionAsString());
    line("Serial Number", m_descriptor->serialNumberAsString());
    text << rule << '\n';
    for (const std::string& group : GroupNames()) {
        if (!hasCategory(xml, group))
            continue;
        text << group << " :\n";
        for (const std::string& name : xml.GetCategory(group)->FeatureNames()) {
            std::ostringstream manual;
            xml.FeatureManual(name, manual);
            // Invisible features and names the description lacks have none.
            if (!manual.str().empty())
                text << '\t' << name << " : " << manual.str() << '\n';
        }
    }
    return text.str();
}

// --- Persistent IP -------------------------------------------------------------------

void XEVDeviceGige::SetPersistentIp(const std::string& ip, const std::string& mask,
                                    const std::string& gateway) {
    // Every text is checked before the first write.
    const uint32_t values[] = {ByteOrder::Ipv4FromString(ip), ByteOrder::Ipv4FromString(mask),
                               ByteOrder::Ipv4FromString(gateway), 7};
    static const char* const features[] = {"GevPersistentIPAddress", "GevPersistentSubnetMask",
                                           "GevPersistentDefaultGateway",
                                           "GevNetworkConfiguration"};
    throwIfDisconnected();
    for (std::size_t i = 0; i < 4; ++i) {
        if (m_gvcp->SendRegisterWithTimeout(features[i], values[i], PersistentWriteTimeoutMs)) {
            Guard guard(m_configLock);
            m_pendingRegistry[features[i]] = values[i];
            m_appliedRegistry[features[i]] = values[i];
        } else {
            detail::inform(std::string("XEVDeviceGige: the camera refused ") + features[i]);
        }
        // The camera stores each setting in its flash meanwhile; no lock is
        // held, so the device stays usable.
        std::this_thread::sleep_for(std::chrono::milliseconds(persistentSettleMs.load()));
    }
}

} // namespace XEVLibrary
