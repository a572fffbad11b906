#pragma once

#include "XEVConnectorType.h"
#include "XEVEnumParam.h"
#include "XEVInertParam.h"
#include "XEVMultiRangeEnumParam.h"
#include "XEVNumericParam.h"
#include "XEVTemperatureRegulationKestrelParam.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace XEVLibrary {

class XEVDeviceDescriptor;
class XEVModelConfiguration;

/**
 * The process-wide table of every camera model the library knows: one
 * XEVModelConfiguration per model and connector, in a fixed catalog order
 * (which decides selection ties), each with its parameters, line times and
 * default registry. It maps the reference id a USB camera reports to a model
 * id, picks the configuration that fits an enumerated camera, and answers
 * the pixel-clock lookups of the frame-rate computation. It also holds the
 * parameter-name and label texts the whole library uses.
 *
 * Reference ids (16 bits, one per model family; a GigE variant's id is its
 * family's plus 10000): Auklet 101, Bittern 102, Fulmar 103, Heron 104, Ibis
 * 105, Jacana 106, Lapwing 107, Dunlin 108, Curlew 109, the Gannet family 110
 * (Gannet_HD, Gannet_BIN and Gannet_ZOOM share it; it maps to "Gannet_HD"),
 * Kestrel 111, Merlin 112, Egret 113; CurlewGigE 10109, FulmarGigE 10103,
 * HeronGigE 10104.
 *
 * Line times of the models on line-time sets A to D (Auklet, Bittern,
 * Fulmar, Heron and Ibis on USB 2.0, Jacana): their pixel-clock enumeration
 * offers 66.66 and 80 MHz, so entries 7 and 8 are filled as in the complete
 * sets, where a clock class's line time is inversely proportional to the
 * clock (entry 7 = entry 4 / 2, entry 8 = entry 5 / 2): A 10.71045 and
 * 9.875, B 15.5106 and 13.475, C 14.0401405 and 11.7, D 5.6250565 and
 * 4.6875. GigE models carry zero line times (their frame rate does not use
 * them).
 *
 * getInstance() and destroyInstance() are serialised by a lock of their own;
 * after construction the catalog is only read. destroyInstance() deletes the
 * configurations and their parameters, so it may only be called when no
 * device built from the catalog remains.
 */
class XEVCatalog {
public:
    /// Selects the label set of a "Mode" enumeration.
    enum ModeType {
        MODE_SNAPSHOT_ROLLING = 0, ///< "Snapshot", "Rolling", "Differential"
        MODE_HD_BIN_ZOOM = 1,      ///< "HD", "BIN", "ZOOM"
        MODE_LOG_LIN = 2,          ///< "Log", "Lin"
        MODE_GLOBAL_GATED = 3,     ///< "Global Shutter", "Gated"
    };

    /// A parameter name, as devices' getters and setters take it.
    ///@{
    static constexpr const char* MODE = "Mode";
    static constexpr const char* TRIG_MODE = "Trigger Mode";
    static constexpr const char* PIX_DEPTH = "Pixel Depth";
    static constexpr const char* FREQ = "Pixel Clock";
    static constexpr const char* EXPO_TIME = "Exposure Time";
    static constexpr const char* EXPO_GATED = "Low exposure time";
    static constexpr const char* GAIN = "Gain";
    static constexpr const char* OFFSET = "Offset";
    static constexpr const char* ANALOG_GAIN = "Analog Gain";
    static constexpr const char* FIRST_COLUMN = "First Column";
    static constexpr const char* NUMBER_COLUMN = "Number of Column";
    static constexpr const char* FIRST_LINE = "First Line";
    static constexpr const char* NUMBER_LINE = "Number of Line";
    static constexpr const char* HIST_THRESH = "Histogram Threshold";
    static constexpr const char* FPS = "Fps";
    static constexpr const char* SENSOR = "Sensor Name";
    static constexpr const char* TEC_MODE = "TEC Mode";
    static constexpr const char* TEMPERATURE_TEC = "Temperature TEC";
    static constexpr const char* TRANSFER_SIZE = "Transfer Size";
    static constexpr const char* INTEGRATION_MODE = "Integration Mode";
    static constexpr const char* SENSOR_RESPONSE = "Sensor Response";
    static constexpr const char* CDS_MODE = "CDS";
    static constexpr const char* AS_MODE = "ASM";
    static constexpr const char* TRIGGER_DELAY_INPUT = "Trigger Delay Input";
    static constexpr const char* TRIGGER_DELAY_OUTPUT = "Trigger Delay Output";
    static constexpr const char* TRIGGER_DELAY_INPUT_GATED = "Trigger Delay Input Gated";
    static constexpr const char* TRIGGER_DELAY_OUTPUT_GATED = "Trigger Delay Output Gated";

    ///@}

    /// A text value of an enumerated parameter ("8bits", "Snapshot" ...).
    ///@{
    static constexpr const char* SNAPSHOT = "Snapshot";
    static constexpr const char* ROLLING = "Rolling";
    static constexpr const char* DIFFERENTIAL = "Differential";
    static constexpr const char* GLOBALSHUTTER = "Global Shutter";
    static constexpr const char* GATED = "Gated";
    static constexpr const char* HD = "HD";
    static constexpr const char* BIN = "BIN";
    static constexpr const char* ZOOM = "ZOOM";
    static constexpr const char* LOG = "Log";
    static constexpr const char* LIN = "Lin";
    static constexpr const char* DISABLED = "Disabled";
    static constexpr const char* INPUT = "Input";
    static constexpr const char* OUTPUT = "Output";
    static constexpr const char* SOFT = "Soft";
    static constexpr const char* _14BITS = "14bits";
    static constexpr const char* _8BITS = "8bits";
    static constexpr const char* _1PIXEL = "1pixel";
    static constexpr const char* _2PIXELS = "2pixels";
    static constexpr const char* ITR = "ITR";
    static constexpr const char* IWR = "IWR";
    static constexpr const char* CTIA = "CTIA";
    static constexpr const char* G0 = "G0";
    static constexpr const char* G1 = "G1";
    static constexpr const char* G2 = "G2";
    static constexpr const char* G3 = "G3";
    static constexpr const char* LOW_GAIN = "Low";
    static constexpr const char* HIGH_GAIN = "High";
    static constexpr const char* STANDARD_GAIN = "Standard";
    static constexpr const char* AGC = "AGC";
    static constexpr const char* NO_TEC = "No current";
    static constexpr const char* LOW_CURRENT = "Low current";
    static constexpr const char* MEDIUM_CURRENT = "Medium current";
    static constexpr const char* STRONG_CURRENT = "Strong current";
    static constexpr const char* ON = "On";
    static constexpr const char* OFF = "Off";
    ///@}

    /// Descriptor flag: the camera sends an info line after each frame.
    static constexpr uint32_t FLAG_INFO_LINE = 1;

    /// A model id, as descriptors and configurations report it.
    ///@{
    static const std::string Bittern;
    static const std::string Fulmar;
    static const std::string Dunlin;
    static const std::string Curlew;
    static const std::string Auklet;
    static const std::string Gannet_HD;
    static const std::string Gannet_BIN;
    static const std::string Gannet_ZOOM;
    static const std::string Heron;
    static const std::string Ibis;
    static const std::string Jacana;
    static const std::string Lapwing;
    static const std::string Kestrel;
    static const std::string Merlin;
    static const std::string Egret;
    static const std::string CurlewGigE;
    static const std::string CurlewcGigE;
    static const std::string FulmarGigE;
    static const std::string HeronGigE;
    static const std::string HeronGigE_SPOT; ///< "HeronGigE-SPOT"
    static const std::string KestrelGigE;
    ///@}

    /// A reference id reported by the cameras (see the class comment).
    ///@{
    static constexpr uint16_t REFID_AUKLET = 101;
    static constexpr uint16_t REFID_BITTERN = 102;
    static constexpr uint16_t REFID_FULMAR = 103;
    static constexpr uint16_t REFID_HERON = 104;
    static constexpr uint16_t REFID_IBIS = 105;
    static constexpr uint16_t REFID_JACANA = 106;
    static constexpr uint16_t REFID_LAPWING = 107;
    static constexpr uint16_t REFID_DUNLIN = 108;
    static constexpr uint16_t REFID_CURLEW = 109;
    static constexpr uint16_t REFID_GANNET = 110;
    static constexpr uint16_t REFID_KESTREL = 111;
    static constexpr uint16_t REFID_MERLIN = 112;
    static constexpr uint16_t REFID_EGRET = 113;
    ///@}
    /// Added to a family's reference id for its GigE variant.
    static constexpr uint16_t REFID_GIGE_OFFSET = 10000;
    /// The reference id of a GigE variant.
    ///@{
    static constexpr uint16_t REFID_CURLEW_GIGE = REFID_CURLEW + REFID_GIGE_OFFSET;
    static constexpr uint16_t REFID_FULMAR_GIGE = REFID_FULMAR + REFID_GIGE_OFFSET;
    static constexpr uint16_t REFID_HERON_GIGE = REFID_HERON + REFID_GIGE_OFFSET;
    ///@}

    /// The catalog, built on the first call. A failure while building it
    /// propagates and leaves no instance.
    static XEVCatalog* getInstance();
    /// Deletes the catalog, its configurations and their parameters; a later
    /// getInstance() builds a new one.
    static void destroyInstance();

    XEVCatalog(const XEVCatalog&) = delete;
    XEVCatalog& operator=(const XEVCatalog&) = delete;

    /// Number of configurations (25).
    unsigned modelCount() const;
    /// The configuration at @p index in catalog order; error "Index (%d) out
    /// of array of XEVCatalog." past the end.
    XEVModelConfiguration* getModelConfiguration(unsigned index) const;
    /// Some configuration has exactly this model id.
    bool isModelId(const std::string& modelId) const;
    /// The one configuration @p descriptor is compatible with. Error when
    /// several are (listing their ids in catalog order), critical error when
    /// none is.
    XEVModelConfiguration* selectModelConfiguration(const XEVDeviceDescriptor& descriptor) const;
    /// The model id of a reported reference id; critical error when unknown.
    std::string refIdToModelId(uint16_t refId) const;

    /// Reference clock of a pixel clock in MHz (compared exactly): 12.5 for
    /// 12.5/25/50, 16.666 for 16.666/33.333/66.666, 20 for 20/40/80, 120 for
    /// 120. Critical error for any other value.
    static double getRefClk(double pixelClock);
    /// Index 0-8 of a pixel clock's line time (12.5, 16.666, 20, 25, 33.333,
    /// 40, 50, 66.666, 80 MHz; 120 MHz uses 0). Critical error otherwise.
    static unsigned getRefTLine(double pixelClock);

private:
    XEVCatalog();
    ~XEVCatalog();
    void initCatalog();
    void clear();

    std::vector<XEVModelConfiguration*> m_configurations;
    std::map<uint16_t, std::string> m_modelIdsByRefId;
};

// Builders of the catalog's parameters. Each returns a new parameter owned by
// the caller.

/// "Mode" (byte 0, bits 0-1) with the labels of @p type; null for another type.
XEVEnumParam* getModeParam(XEVCatalog::ModeType type);
/// "Trigger Mode" (byte 0, bits 3-4): "Disabled", "Input", "Output".
XEVEnumParam* getTrigModeParam();
/// "Pixel Depth" (byte 0, bit 7): 14 "14bits", 8 "8bits".
XEVEnumParam* getPixDepthParam();
/// "Pixel Clock" (byte 1, bits 0-3), nine clocks from 12.5 to 80 MHz.
XEVEnumParam* getFreqParam();
/// "Pixel Clock" of Lapwing and Merlin (byte 1): 40 and 80 MHz.
XEVEnumParam* getFreqParamLapwing();
/// "Integration Mode" (byte 1, bit 5): "ITR", "IWR".
XEVEnumParam* getIntegrationModeParam();
/// "Sensor Response" (byte 2, bit 0): "Log", "Lin".
XEVEnumParam* getSensorResponseParam();
/// "Gain" (byte 2, bits 0-4): 0 ... 7.75 by 0.25, 0 shown as "AGC".
XEVNumericParam* getGainParam();
/// "CDS" (byte 2, bit 1): "Off", "On".
XEVEnumParam* getCDSMode();
/// "Analog Gain" (byte 2, bits 6-7): "Low", "Standard", "High".
XEVEnumParam* getAnalogGain();
/// "Offset" (byte 3) by 0.39 "% full scale".
XEVNumericParam* getOffsetParam();
/// "Exposure Time" (byte 4): 100 ... 25600 us by 100.
XEVNumericParam* getExposureParam();
/// "Exposure Time" of Lapwing and Merlin (byte 4): ns, us and ms ranges.
XEVMultiRangeEnumParam* getExposureParamLapwing();
/// "Low exposure time" (byte 4): 0.2 ... 40, and "Trigger Width".
XEVEnumParam* getLowExposureParam();
/// "Trigger Delay Input" (byte 11): 0.2 us + 0.08 us steps.
XEVNumericParam* getTriggerDelayInput();
/// "Trigger Delay Output" (byte 11): -10 us + 0.08 us steps.
XEVNumericParam* getTriggerDelayOutput();
/// Kestrel trigger delays (byte 11): -1280 us + 10 us steps.
XEVNumericParam* getTriggerDelayInputKestrel();
XEVNumericParam* getTriggerDelayOutputKestrel();
/// Kestrel gated trigger delays (byte 11): 0.1 us or -6.4 us + 0.05 us steps.
XEVNumericParam* getTriggerDelayInputGatedKestrel();
XEVNumericParam* getTriggerDelayOutputGatedKestrel();
/// "Histogram Threshold" (byte 12, bits 0-1): 0.025 % ... 1.6 %.
XEVEnumParam* getHistoTreshParam();
/// "Temperature TEC" (byte 15, bits 4-7): -5 ... 70 by 5.
XEVNumericParam* getTemperatureRegulation();
/// "Temperature TEC" of Kestrel (byte 15, spread): -15 ... 48.
XEVTemperatureRegulationKestrelParam* getTemperatureRegulationKestrel();
/// "TEC Mode" (byte 15, bits 2-3): four current levels.
XEVEnumParam* getTECMode();
/// A constant @p value shown as "[" + @p text + "]".
XEVInertParam* getInertParam(const char* name, double value, const std::string& text);

/// Window builders: add the first and count parameters of one axis to
/// @p config with their ranges, and write their defaults into @p registry. A
/// negative @p first means 0, a negative @p count the configuration's size.
void addColumnParams(XEVModelConfiguration& config, uint8_t* registry, int first, int count);
void addLineParams(XEVModelConfiguration& config, uint8_t* registry, int first, int count);
void addColumnParamsLapwing(XEVModelConfiguration& config, uint8_t* registry, int first, int count);
void addLineParamsLapwing(XEVModelConfiguration& config, uint8_t* registry, int first, int count);
void addColumnParamsMerlin(XEVModelConfiguration& config, uint8_t* registry, int first, int count);
void addLineParamsMerlin(XEVModelConfiguration& config, uint8_t* registry, int first, int count);

/// Sets the 16 registry bytes to 0.
void resetRegistry(uint8_t* registry);

} // namespace XEVLibrary
