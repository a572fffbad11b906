#include "XEVCatalog.h"

#include "XEVDeviceDescriptor.h"
#include "XEVEnumParam.h"
#include "XEVException.h"
#include "XEVFrameProducer.h"
#include "XEVInertParam.h"
#include "XEVModelConfiguration.h"
#include "XEVMultiRangeEnumParam.h"
#include "XEVNumericParam.h"
#include "XEVTemperatureRegulationKestrelParam.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace XEVLibrary {

static_assert(XEVCatalog::FLAG_INFO_LINE == XEVFrameProducer::FLAG_INFO_LINE,
              "one info-line flag for descriptors and frame formats");

const std::string XEVCatalog::Bittern = "Bittern";
const std::string XEVCatalog::Fulmar = "Fulmar";
const std::string XEVCatalog::Dunlin = "Dunlin";
const std::string XEVCatalog::Curlew = "Curlew";
const std::string XEVCatalog::Auklet = "Auklet";
const std::string XEVCatalog::Gannet_HD = "Gannet_HD";
const std::string XEVCatalog::Gannet_BIN = "Gannet_BIN";
const std::string XEVCatalog::Gannet_ZOOM = "Gannet_ZOOM";
const std::string XEVCatalog::Heron = "Heron";
const std::string XEVCatalog::Ibis = "Ibis";
const std::string XEVCatalog::Jacana = "Jacana";
const std::string XEVCatalog::Lapwing = "Lapwing";
const std::string XEVCatalog::Kestrel = "Kestrel";
const std::string XEVCatalog::Merlin = "Merlin";
const std::string XEVCatalog::Egret = "Egret";
const std::string XEVCatalog::CurlewGigE = "CurlewGigE";
const std::string XEVCatalog::CurlewcGigE = "CurlewcGigE";
const std::string XEVCatalog::FulmarGigE = "FulmarGigE";
const std::string XEVCatalog::HeronGigE = "HeronGigE";
const std::string XEVCatalog::HeronGigE_SPOT = "HeronGigE-SPOT";
const std::string XEVCatalog::KestrelGigE = "KestrelGigE";

// ---------------------------------------------------------------------------
// Builders
// ---------------------------------------------------------------------------

namespace {

constexpr const char* MICRO_SECONDS = "\265s";

XEVEnumParam* enumParam(const char* name, unsigned address, unsigned shift, unsigned size) {
    return new XEVEnumParam(name, address, shift, size);
}

XEVNumericParam* numericParam(const char* name, unsigned address, unsigned shift, unsigned size,
                              double step, double offset, const char* unit = nullptr) {
    std::unique_ptr<XEVNumericParam> param(
        new XEVNumericParam(name, address, shift, size, step, offset));
    if (unit)
        param->setUnit(unit);
    return param.release();
}

} // namespace

XEVEnumParam* getModeParam(XEVCatalog::ModeType type) {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::MODE, 0, 0, 2));
    switch (type) {
    case XEVCatalog::MODE_SNAPSHOT_ROLLING:
        param->addLabel(0, XEVCatalog::SNAPSHOT);
        param->addLabel(1, XEVCatalog::ROLLING);
        param->addLabel(2, XEVCatalog::DIFFERENTIAL);
        break;
    case XEVCatalog::MODE_HD_BIN_ZOOM:
        param->addLabel(0, XEVCatalog::HD);
        param->addLabel(1, XEVCatalog::BIN);
        param->addLabel(2, XEVCatalog::ZOOM);
        break;
    case XEVCatalog::MODE_LOG_LIN:
        param->addLabel(0, XEVCatalog::LOG);
        param->addLabel(1, XEVCatalog::LIN);
        break;
    case XEVCatalog::MODE_GLOBAL_GATED:
        param->addLabel(0, XEVCatalog::GLOBALSHUTTER);
        param->addLabel(1, XEVCatalog::GATED);
        break;
    default:
        return nullptr;
    }
    return param.release();
}

XEVEnumParam* getTrigModeParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::TRIG_MODE, 0, 3, 2));
    param->addLabel(0, XEVCatalog::DISABLED);
    param->addLabel(1, XEVCatalog::INPUT);
    param->addLabel(2, XEVCatalog::OUTPUT);
    return param.release();
}

XEVEnumParam* getPixDepthParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::PIX_DEPTH, 0, 7, 1));
    param->addLabel(0, 14, XEVCatalog::_14BITS);
    param->addLabel(1, 8, XEVCatalog::_8BITS);
    return param.release();
}

XEVEnumParam* getFreqParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::FREQ, 1, 0, 4));
    param->addLabel(12, 12.5, "12.5MHz");
    param->addLabel(14, 16.666, "16.66MHz");
    param->addLabel(15, 20, "20MHz");
    param->addLabel(8, 25, "25MHz");
    param->addLabel(10, 33.333, "33.33MHz");
    param->addLabel(11, 40, "40MHz");
    param->addLabel(0, 50, "50MHz");
    param->addLabel(2, 66.666, "66.66MHz");
    param->addLabel(3, 80, "80MHz");
    return param.release();
}

XEVEnumParam* getFreqParamLapwing() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::FREQ, 1, 0, 8));
    param->addLabel(8, 40, "40MHz");
    param->addLabel(0, 80, "80MHz");
    return param.release();
}

XEVEnumParam* getIntegrationModeParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::INTEGRATION_MODE, 1, 5, 1));
    param->addLabel(0, XEVCatalog::ITR);
    param->addLabel(1, XEVCatalog::IWR);
    return param.release();
}

XEVEnumParam* getSensorResponseParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::SENSOR_RESPONSE, 2, 0, 1));
    param->addLabel(0, XEVCatalog::LOG);
    param->addLabel(1, XEVCatalog::LIN);
    return param.release();
}

XEVNumericParam* getGainParam() {
    std::unique_ptr<XEVNumericParam> param(numericParam(XEVCatalog::GAIN, 2, 0, 5, 0.25, 0));
    param->setUserRange(0, 7.75);
    param->setSpecificLabel(0, XEVCatalog::AGC);
    return param.release();
}

XEVEnumParam* getCDSMode() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::CDS_MODE, 2, 1, 1));
    param->addLabel(0, XEVCatalog::OFF);
    param->addLabel(1, XEVCatalog::ON);
    return param.release();
}

XEVEnumParam* getAnalogGain() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::ANALOG_GAIN, 2, 6, 2));
    param->addLabel(0, XEVCatalog::LOW_GAIN);
    param->addLabel(2, XEVCatalog::STANDARD_GAIN);
    param->addLabel(3, XEVCatalog::HIGH_GAIN);
    return param.release();
}

XEVNumericParam* getOffsetParam() {
    return numericParam(XEVCatalog::OFFSET, 3, 0, 8, 0.39, 0, "% full scale");
}

XEVNumericParam* getExposureParam() {
    return numericParam(XEVCatalog::EXPO_TIME, 4, 0, 8, 100, 100, MICRO_SECONDS);
}

XEVMultiRangeEnumParam* getExposureParamLapwing() {
    std::unique_ptr<XEVMultiRangeEnumParam> param(
        new XEVMultiRangeEnumParam(XEVCatalog::EXPO_TIME, 4, 0, 8));
    param->addRange(0, 100, 900, 100, "ns");
    param->addRange(9, 1, 9, 1, "us");
    param->addRange(18, 10, 90, 10, "us");
    param->addRange(27, 100, 900, 100, "us");
    param->addRange(36, 1, 220, 1, "ms");
    return param.release();
}

XEVEnumParam* getLowExposureParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::EXPO_GATED, 4, 0, 8));
    param->addLabel(0, 0.2, "0.2");
    param->addLabel(1, 0.4, "0.4");
    param->addLabel(2, 1, "1");
    param->addLabel(3, 2, "2");
    param->addLabel(4, 5, "5");
    param->addLabel(5, 10, "10");
    param->addLabel(6, 20, "20");
    param->addLabel(7, 40, "40");
    param->addLabel(8, 50, "Trigger Width");
    return param.release();
}

XEVNumericParam* getTriggerDelayInput() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_INPUT, 11, 0, 8, 0.08, 0.2, MICRO_SECONDS);
}

XEVNumericParam* getTriggerDelayOutput() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_OUTPUT, 11, 0, 8, 0.08, -10, MICRO_SECONDS);
}

XEVNumericParam* getTriggerDelayInputKestrel() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_INPUT, 11, 0, 8, 10, -1280, "us");
}

XEVNumericParam* getTriggerDelayOutputKestrel() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_OUTPUT, 11, 0, 8, 10, -1280, "us");
}

XEVNumericParam* getTriggerDelayInputGatedKestrel() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_INPUT_GATED, 11, 0, 8, 0.05, 0.1, "us");
}

XEVNumericParam* getTriggerDelayOutputGatedKestrel() {
    return numericParam(XEVCatalog::TRIGGER_DELAY_OUTPUT_GATED, 11, 0, 8, 0.05, -6.4, "us");
}

XEVEnumParam* getHistoTreshParam() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::HIST_THRESH, 12, 0, 2));
    param->addLabel(0, 0.025, "0.025%");
    param->addLabel(1, 0.1, "0.1%");
    param->addLabel(2, 0.4, "0.4%");
    param->addLabel(3, 1.6, "1.6%");
    return param.release();
}

XEVNumericParam* getTemperatureRegulation() {
    std::unique_ptr<XEVNumericParam> param(
        numericParam(XEVCatalog::TEMPERATURE_TEC, 15, 4, 4, 5, -5));
    param->setUserRange(-5, 70);
    return param.release();
}

XEVTemperatureRegulationKestrelParam* getTemperatureRegulationKestrel() {
    std::unique_ptr<XEVTemperatureRegulationKestrelParam> param(
        new XEVTemperatureRegulationKestrelParam(XEVCatalog::TEMPERATURE_TEC, 15, 0, 8, 1, -15));
    param->setUserRange(-15, 48);
    return param.release();
}

XEVEnumParam* getTECMode() {
    std::unique_ptr<XEVEnumParam> param(enumParam(XEVCatalog::TEC_MODE, 15, 2, 2));
    param->addLabel(0, XEVCatalog::NO_TEC);
    param->addLabel(1, XEVCatalog::LOW_CURRENT);
    param->addLabel(2, XEVCatalog::MEDIUM_CURRENT);
    param->addLabel(3, XEVCatalog::STRONG_CURRENT);
    return param.release();
}

XEVInertParam* getInertParam(const char* name, double value, const std::string& text) {
    return new XEVInertParam(name, value, text);
}

void resetRegistry(uint8_t* registry) {
    std::memset(registry, 0, XEVParam::RegistrySize);
}

namespace {

// Adds @p param to @p config (deleting it when refused) and returns it.
template <typename Param>
Param* add(XEVModelConfiguration& config, Param* param) {
    std::unique_ptr<Param> guard(param);
    config.addParam(param);
    return guard.release();
}

// One window axis: the first-coordinate and count parameters with their
// ranges and defaults.
void addWindowAxis(XEVModelConfiguration& config, uint8_t* registry, const char* firstName,
                   unsigned firstAddress, double firstMin, double firstMax, double firstDefault,
                   const char* countName, unsigned countAddress, double countMin, double countMax,
                   double countDefault) {
    XEVNumericParam* first = add(config, numericParam(firstName, firstAddress, 0, 8, 4, 0));
    first->setUserRange(firstMin, firstMax);
    first->setValue(firstDefault, registry);
    XEVNumericParam* count = add(config, numericParam(countName, countAddress, 0, 8, 8, 0));
    count->setUserRange(countMin, countMax);
    count->setValue(countDefault, registry);
}

void addAxis(XEVModelConfiguration& config, uint8_t* registry, bool columns, int first, int count,
             unsigned size) {
    const double n = count >= 0 ? count : size;
    const double f = std::max(0, first);
    addWindowAxis(config, registry, columns ? XEVCatalog::FIRST_COLUMN : XEVCatalog::FIRST_LINE,
                  columns ? 7 : 9, f, std::min(n - 8, 1020.0), f,
                  columns ? XEVCatalog::NUMBER_COLUMN : XEVCatalog::NUMBER_LINE, columns ? 8 : 10,
                  8 + f, n, n);
}

} // namespace

void addColumnParams(XEVModelConfiguration& config, uint8_t* registry, int first, int count) {
    addAxis(config, registry, true, first, count, config.width());
}

void addLineParams(XEVModelConfiguration& config, uint8_t* registry, int first, int count) {
    addAxis(config, registry, false, first, count, config.height());
}

void addColumnParamsLapwing(XEVModelConfiguration& config, uint8_t* registry, int, int) {
    addWindowAxis(config, registry, XEVCatalog::FIRST_COLUMN, 7, 4, 632, 4,
                  XEVCatalog::NUMBER_COLUMN, 8, 8, 640, 640);
}

void addLineParamsLapwing(XEVModelConfiguration& config, uint8_t* registry, int, int count) {
    const double h = count >= 0 ? count : config.height();
    addWindowAxis(config, registry, XEVCatalog::FIRST_LINE, 9, 4, std::min(h - 8, 1020.0), 4,
                  XEVCatalog::NUMBER_LINE, 10, 8, h, 480);
}

void addColumnParamsMerlin(XEVModelConfiguration& config, uint8_t* registry, int, int) {
    addWindowAxis(config, registry, XEVCatalog::FIRST_COLUMN, 7, 4, 1020, 4,
                  XEVCatalog::NUMBER_COLUMN, 8, 8, 1280, 1280);
}

void addLineParamsMerlin(XEVModelConfiguration& config, uint8_t* registry, int, int count) {
    const double h = count >= 0 ? count : 1032;
    addWindowAxis(config, registry, XEVCatalog::FIRST_LINE, 9, 4, std::min(h - 8, 1020.0), 4,
                  XEVCatalog::NUMBER_LINE, 10, 8, h, 1024);
}

// ---------------------------------------------------------------------------
// Catalog
// ---------------------------------------------------------------------------

namespace {

using LineTimes = double[XEVModelConfiguration::LineTimeCount];

// Microseconds per sensor line for the clock classes of getRefTLine. Entries
// 7 and 8 of sets A to D follow the complete sets (see XEVCatalog.h).
const LineTimes SET_A = {37.84, 31.0212, 27.75, 25.04, 21.4209, 19.75, 18.64, 10.71045, 9.875};
const LineTimes SET_B = {69.84, 54.0622, 46.15, 39.12, 31.0212, 26.95, 23.76, 15.5106, 13.475};
const LineTimes SET_C = {74.88, 56.162246, 46.8, 37.44, 28.080281, 23.4, 18.72, 14.0401405, 11.7};
const LineTimes SET_D = {30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 5.6250565, 4.6875};
const LineTimes SET_E = {72, 54.00216, 45, 36, 27.00027, 22.5, 18, 13.500135, 11.25};
const LineTimes SET_F = {108.08, 81.783271, 68.65, 56.56, 43.141726, 36.45, 30.8, 23.820953, 20.35};
const LineTimes SET_G = {104.64, 78.483139, 65.4, 52.32, 39.240392, 32.7, 26.16, 19.620196, 16.35};
const LineTimes SET_H = {107.84, 81.783271, 68.9, 56.64, 43.381735, 36.9, 31.04, 24.180967, 19.15};
const LineTimes SET_I = {56.64, 43.381735, 36.9, 31.04, 24.180967, 20.9, 18.24, 14.580583, 11.15};
const LineTimes SET_J = {58.8, 44.101764, 36.75, 29.4, 22.050221, 18.375, 14.7, 11.02511, 9.1875};
const LineTimes SET_J2 = {58.8, 44.101764, 36.75, 29.4, 22.050221, 18.375, 14.7, 11.026103, 9.1875};
const LineTimes SET_K = {108, 81.00324, 67.5, 54, 40.500405, 33.75, 27, 20.250203, 16.875};
const LineTimes SET_L = {35.0 / 12, 23.0 / 12, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35};
// Jacana on USB 3.0: set D with entries 7 and 8 of set J.
const LineTimes SET_D_J = {30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 11.02511, 9.1875};

// Builds one model into a working registry.
class ModelBuilder {
public:
    ModelBuilder(XEVModelConfiguration& config) : m_config(config) { resetRegistry(m_registry); }

    template <typename Param>
    Param* add(Param* param) {
        return XEVLibrary::add(m_config, param);
    }
    void add(XEVParam* param, const char* text) {
        add(param)->setValue(std::string(text), m_registry);
    }
    void add(XEVParam* param, double value) { add(param)->setValue(value, m_registry); }
    // A numeric default given as the parameter's own text for the value.
    void addAsText(XEVParam* param, double value) {
        add(param)->setValue(param->valueToStrValue(value), m_registry);
    }

    uint8_t* registry() { return m_registry; }
    XEVModelConfiguration& config() { return m_config; }
    void finish() { m_config.setDefaultRegistry(m_registry); }

private:
    XEVModelConfiguration& m_config;
    uint8_t m_registry[XEVParam::RegistrySize];
};

void addWindow(ModelBuilder& b) {
    addColumnParams(b.config(), b.registry(), -1, -1);
    addLineParams(b.config(), b.registry(), -1, -1);
}

// Set R (rolling models). A null clock text gives a fixed 20 MHz clock.
void addSetR(ModelBuilder& b, const char* modeText, const char* clock) {
    addWindow(b);
    b.add(getPixDepthParam(), XEVCatalog::_14BITS);
    b.add(getTrigModeParam(), XEVCatalog::DISABLED);
    b.add(getInertParam(XEVCatalog::MODE, 0, modeText));
    if (clock)
        b.add(getFreqParam(), clock);
    else
        b.add(getInertParam(XEVCatalog::FREQ, 20, "20MHz"));
    b.add(getGainParam(), "1.00");
    b.add(getOffsetParam(), 0.0);
    b.add(getHistoTreshParam(), "0.1%");
}

// Set G (global-shutter models).
void addSetG(ModelBuilder& b, const char* clock) {
    addWindow(b);
    b.add(getPixDepthParam(), XEVCatalog::_14BITS);
    b.add(getTrigModeParam(), XEVCatalog::DISABLED);
    b.add(getModeParam(XEVCatalog::MODE_GLOBAL_GATED), XEVCatalog::GLOBALSHUTTER);
    b.add(getFreqParam(), clock);
    b.add(getGainParam(), "1.00");
    b.add(getOffsetParam(), 0.0);
    b.addAsText(getExposureParam(), 2000);
    b.add(getLowExposureParam(), "0.2");
    b.add(getHistoTreshParam(), "0.1%");
}

// Set L (Lapwing and Merlin).
void addSetL(ModelBuilder& b, bool merlin, const char* modeText) {
    if (merlin) {
        addColumnParamsMerlin(b.config(), b.registry(), -1, -1);
        addLineParamsMerlin(b.config(), b.registry(), -1, -1);
    } else {
        addColumnParamsLapwing(b.config(), b.registry(), -1, -1);
        addLineParamsLapwing(b.config(), b.registry(), -1, -1);
    }
    b.add(getPixDepthParam(), XEVCatalog::_14BITS);
    b.add(getTrigModeParam(), XEVCatalog::DISABLED);
    b.add(getModeParam(XEVCatalog::MODE_SNAPSHOT_ROLLING), modeText);
    b.add(getFreqParamLapwing(), "40MHz");
    b.add(getInertParam(XEVCatalog::GAIN, 1, "1"));
    b.add(getExposureParamLapwing(), "2ms");
}

void addIbisTec(ModelBuilder& b) {
    b.add(getTemperatureRegulation(), 25.0);
    b.add(getTECMode(), XEVCatalog::NO_TEC);
}

std::mutex& instanceLock() {
    static std::mutex lock;
    return lock;
}

XEVCatalog* s_instance = nullptr;

} // namespace

XEVCatalog* XEVCatalog::getInstance() {
    // Serialised so that two first callers cannot build two catalogs.
    std::lock_guard<std::mutex> guard(instanceLock());
    if (!s_instance)
        s_instance = new XEVCatalog();
    return s_instance;
}

void XEVCatalog::destroyInstance() {
    std::lock_guard<std::mutex> guard(instanceLock());
    delete s_instance;
    s_instance = nullptr;
}

XEVCatalog::XEVCatalog() {
    try {
        initCatalog();
    } catch (...) {
        clear();
        throw;
    }
}

XEVCatalog::~XEVCatalog() {
    clear();
}

void XEVCatalog::clear() {
    // A parameter is deleted once even when it sits both in the list and in
    // the map, or twice in a list that a device adaptation extended.
    for (XEVModelConfiguration* config : m_configurations) {
        std::set<XEVParam*> params(config->m_params.begin(), config->m_params.end());
        for (const auto& entry : config->m_paramsByName)
            params.insert(entry.second);
        for (XEVParam* param : params)
            delete param;
        delete config;
    }
    m_configurations.clear();
    m_modelIdsByRefId.clear();
}

void XEVCatalog::initCatalog() {
    const std::pair<uint16_t, const std::string*> refIds[] = {
        {REFID_BITTERN, &Bittern},
        {REFID_FULMAR, &Fulmar},
        {REFID_DUNLIN, &Dunlin},
        {REFID_CURLEW, &Curlew},
        {REFID_AUKLET, &Auklet},
        {REFID_GANNET, &Gannet_HD},
        {REFID_GANNET, &Gannet_BIN},
        {REFID_GANNET, &Gannet_ZOOM},
        {REFID_HERON, &Heron},
        {REFID_IBIS, &Ibis},
        {REFID_JACANA, &Jacana},
        {REFID_LAPWING, &Lapwing},
        {REFID_KESTREL, &Kestrel},
        {REFID_MERLIN, &Merlin},
        {REFID_EGRET, &Egret},
        {REFID_CURLEW_GIGE, &CurlewGigE},
        {REFID_FULMAR_GIGE, &FulmarGigE},
        {REFID_HERON_GIGE, &HeronGigE},
    };
    for (const auto& entry : refIds)
        m_modelIdsByRefId.emplace(entry.first, *entry.second); // keeps the first id of a key

    auto model = [this](ConnectorType connector, const std::string& id, unsigned width,
                        unsigned height, const LineTimes* times) -> XEVModelConfiguration& {
        std::unique_ptr<XEVModelConfiguration> config(
            new XEVModelConfiguration(connector, id, width, height));
        if (times)
            config->setLineTime(*times);
        m_configurations.push_back(config.get());
        return *config.release();
    };

    {
        ModelBuilder b(model(USB2, Auklet, 320, 256, &SET_A));
        addSetR(b, ROLLING, nullptr);
        b.finish();
    }
    for (const std::string* id : {&Bittern, &Fulmar}) {
        ModelBuilder b(model(USB2, *id, 768, 576, &SET_B));
        addSetR(b, ROLLING, "25MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB2, Heron, 640, 512, &SET_C));
        addSetG(b, "25MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB2, Ibis, 640, 512, &SET_C));
        addSetG(b, "25MHz");
        addIbisTec(b);
        b.finish();
    }
    {
        ModelBuilder b(model(USB2, Jacana, 320, 256, &SET_D));
        addSetG(b, "12.5MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB2, Lapwing, 640, 480, &SET_E));
        addSetL(b, false, ROLLING);
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Dunlin, 1280, 720, &SET_F));
        addSetR(b, ROLLING, "50MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Curlew, 1280, 1024, &SET_G));
        addWindow(b);
        b.add(getPixDepthParam(), _14BITS);
        b.add(getTrigModeParam(), DISABLED);
        b.add(getModeParam(MODE_SNAPSHOT_ROLLING), ROLLING);
        b.add(getFreqParam(), "40MHz");
        b.add(getGainParam(), "1.00");
        b.add(getOffsetParam(), 0.0);
        b.addAsText(getExposureParam(), 20000);
        b.add(getHistoTreshParam(), "0.1%");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Gannet_HD, 1280, 1024, &SET_H));
        addSetR(b, HD, "50MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Gannet_BIN, 640, 512, &SET_I));
        addSetR(b, BIN, "50MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Gannet_ZOOM, 640, 480, &SET_I));
        addSetR(b, ZOOM, "50MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Heron, 640, 512, &SET_J));
        addSetG(b, "25MHz");
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Ibis, 640, 512, &SET_J2));
        addSetG(b, "25MHz");
        b.addAsText(getTriggerDelayInput(), 0.2);
        b.addAsText(getTriggerDelayOutput(), -10.0);
        addIbisTec(b);
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Lapwing, 648, 488, &SET_E));
        addSetL(b, false, SNAPSHOT);
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Merlin, 1288, 1032, &SET_K));
        addSetL(b, true, SNAPSHOT);
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Kestrel, 640, 512, &SET_L));
        addColumnParams(b.config(), b.registry(), 0, 640);
        addLineParams(b.config(), b.registry(), 0, 512);
        b.add(getPixDepthParam(), _14BITS);
        b.add(getTrigModeParam(), DISABLED);
        b.add(getTriggerDelayInputKestrel(), 0.0);
        b.add(getTriggerDelayOutputKestrel(), 0.0);
        b.add(getTriggerDelayInputGatedKestrel());
        b.add(getTriggerDelayOutputGatedKestrel());
        b.add(getInertParam(FREQ, 120, "120MHz"));
        b.add(getIntegrationModeParam(), ITR);
        b.add(getSensorResponseParam(), LOG);
        b.add(getAnalogGain(), STANDARD_GAIN);
        b.add(getTemperatureRegulationKestrel(), 15.0);
        b.add(getTECMode(), NO_TEC);
        b.add(getCDSMode(), OFF);
        b.finish();
    }
    {
        ModelBuilder b(model(USB3, Egret, 320, 256, &SET_J));
        addSetG(b, "25MHz");
        b.finish();
    }
    model(GIGE, CurlewcGigE, 1280, 1024, nullptr);
    model(GIGE, CurlewGigE, 1280, 1024, nullptr);
    model(GIGE, FulmarGigE, 768, 576, nullptr);
    model(GIGE, HeronGigE, 640, 512, nullptr);
    model(GIGE, HeronGigE_SPOT, 640, 512, nullptr);
    {
        ModelBuilder b(model(USB3, Jacana, 320, 256, &SET_D_J));
        addSetG(b, "12.5MHz");
        b.finish();
    }
    model(GIGE, KestrelGigE, 640, 512, nullptr);
}

unsigned XEVCatalog::modelCount() const {
    return static_cast<unsigned>(m_configurations.size());
}

XEVModelConfiguration* XEVCatalog::getModelConfiguration(unsigned index) const {
    if (index >= m_configurations.size())
        XEVException::throwError("Index (%d) out of array of XEVCatalog.", static_cast<int>(index));
    return m_configurations[index];
}

bool XEVCatalog::isModelId(const std::string& modelId) const {
    return std::any_of(m_configurations.begin(), m_configurations.end(),
                       [&](const XEVModelConfiguration* c) { return c->modelId() == modelId; });
}

XEVModelConfiguration*
XEVCatalog::selectModelConfiguration(const XEVDeviceDescriptor& descriptor) const {
    XEVModelConfiguration* selected = nullptr;
    std::string ids;
    unsigned count = 0;
    for (XEVModelConfiguration* config : m_configurations) {
        if (!descriptor.isCompatibleWith(*config))
            continue;
        if (count++ > 0)
            ids += "|";
        ids += config->modelId();
        if (!selected)
            selected = config;
    }
    if (count == 1)
        return selected;
    if (count > 1)
        XEVException::throwError("XEVDeviceDescriptor (%s) is compatible with more than one "
                                 "XEVModelConfiguration in XEVCatalog, (%s). Use "
                                 "forceDeviceModel of XEVManager to set it.",
                                 descriptor.toString().c_str(), ids.c_str());
    XEVException::throwCriticalError("XEVDeviceDescriptor (%s) is not compatible with any "
                                     "XEVModelConfiguration in XEVCatalog. Check XEVCatalog.",
                                     descriptor.toString().c_str());
}

std::string XEVCatalog::refIdToModelId(uint16_t refId) const {
    const auto found = m_modelIdsByRefId.find(refId);
    if (found == m_modelIdsByRefId.end())
        XEVException::throwCriticalError(
            "RefId (%d) is not corresponding to any ModelId in XEVCatalog.", refId);
    return found->second;
}

double XEVCatalog::getRefClk(double f) {
    if (f == 12.5 || f == 25 || f == 50)
        return 12.5;
    if (f == 16.666 || f == 33.333 || f == 66.666)
        return 16.666;
    if (f == 20 || f == 40 || f == 80)
        return 20;
    if (f == 120)
        return 120;
    XEVException::throwCriticalError("Pixel Clock val(%f) does not have RefClk, check XEVCatalog.",
                                     f);
}

unsigned XEVCatalog::getRefTLine(double f) {
    const double clocks[] = {12.5, 16.666, 20, 25, 33.333, 40, 50, 66.666, 80};
    for (unsigned i = 0; i < sizeof clocks / sizeof clocks[0]; ++i)
        if (f == clocks[i])
            return i;
    if (f == 120)
        return 0;
    XEVException::throwCriticalError(
        "Pixel Clock val(%f) does not have RefTLine, check XEVCatalog.", f);
}

} // namespace XEVLibrary
