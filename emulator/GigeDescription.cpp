#include "GigeDescription.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace XEVLibrary {
namespace Emulator {

namespace {

using Kind = GigeFeature::Kind;

// PFNC codes of the pixel formats the cameras stream.
constexpr uint32_t Mono8 = 0x01080001;
constexpr uint32_t Mono16 = 0x01100007;
constexpr uint32_t Rgb8 = 0x02180014;

/// Builds the feature list of one camera, giving each custom feature the
/// next free register.
class DescriptionBuilder {
public:
    explicit DescriptionBuilder(GigeDescription& description) : m_description(description) {}

    GigeFeature& add(GigeFeature entry, uint32_t address = 0) {
        if (address == 0) {
            address = m_next;
            m_next += entry.kind == Kind::String ? ((entry.length + 3) / 4) * 4 : 4;
        }
        entry.address = address;
        if (std::find(m_description.categories.begin(), m_description.categories.end(),
                      entry.category) == m_description.categories.end())
            m_description.categories.push_back(entry.category);
        m_description.features.push_back(std::move(entry));
        return m_description.features.back();
    }

    GigeFeature& integer(const std::string& category, const std::string& name, double min,
                         double max, double inc, uint32_t initial, const std::string& access = "RW",
                         uint32_t address = 0) {
        GigeFeature entry = Make(Kind::Integer, category, name, access, initial);
        entry.min = min;
        entry.max = max;
        entry.inc = inc;
        return add(std::move(entry), address);
    }

    GigeFeature& real(const std::string& category, const std::string& name, double min, double max,
                      double initial, const std::string& access = "RW",
                      const std::string& unit = "") {
        GigeFeature entry =
            Make(Kind::Float, category, name, access, floatBits(static_cast<float>(initial)));
        entry.min = min;
        entry.max = max;
        entry.unit = unit;
        return add(std::move(entry));
    }

    GigeFeature& enumeration(const std::string& category, const std::string& name,
                             std::vector<std::pair<std::string, uint32_t>> entries,
                             uint32_t initial, const std::string& access = "RW",
                             uint32_t address = 0) {
        GigeFeature entry = Make(Kind::Enumeration, category, name, access, initial);
        entry.entries = std::move(entries);
        return add(std::move(entry), address);
    }

    GigeFeature& text(const std::string& category, const std::string& name, uint32_t length,
                      const std::string& value, const std::string& access, uint32_t address = 0) {
        GigeFeature entry = Make(Kind::String, category, name, access, 0);
        entry.length = length;
        entry.text = value;
        return add(std::move(entry), address);
    }

    GigeFeature& command(const std::string& category, const std::string& name) {
        return add(Make(Kind::Command, category, name, "WO", 0));
    }

private:
    static GigeFeature Make(Kind kind, const std::string& category, const std::string& name,
                            const std::string& access, uint32_t initial) {
        GigeFeature entry;
        entry.kind = kind;
        entry.category = category;
        entry.name = name;
        entry.access = access;
        entry.initial = initial;
        return entry;
    }

    GigeDescription& m_description;
    uint32_t m_next = GigeDescription::CustomBase;
};

std::vector<std::pair<std::string, uint32_t>> OffOn() {
    return {{"Off", 0}, {"On", 1}};
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

const char* VisibilityText(GigeFeature::Visibility visibility) {
    switch (visibility) {
    case GigeFeature::Expert:
        return "Expert";
    case GigeFeature::Guru:
        return "Guru";
    case GigeFeature::Invisible:
        return "Invisible";
    default:
        return "Beginner";
    }
}

} // namespace

uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

const GigeFeature* GigeDescription::find(const std::string& name) const {
    for (const GigeFeature& entry : features)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

GigeDescription describeGigeModel(const XEVGigeCameraConfig& config, unsigned sensorWidth,
                                  unsigned sensorHeight) {
    GigeDescription d;
    d.modelName = gigeModelName(config.model);
    const std::string& firmware = config.firmwareVersion;
    const GigeModel model = config.model;
    const bool kestrel = model == GigeModel::KestrelGigE;
    const bool heron = model == GigeModel::HeronGigE || model == GigeModel::HeronGigESpot;
    const bool curlew = model == GigeModel::CurlewGigE || model == GigeModel::CurlewcGigE;
    DescriptionBuilder b(d);

    // Image format.
    const std::string format = "ImageFormatControl";
    b.integer(format, "SensorWidth", sensorWidth, sensorWidth, 0, sensorWidth, "RO");
    b.integer(format, "SensorHeight", sensorHeight, sensorHeight, 0, sensorHeight, "RO");
    b.integer(format, "Width", 8, sensorWidth, 8, sensorWidth);
    b.integer(format, "Height", 8, sensorHeight, 2, sensorHeight);
    b.integer(format, "OffsetX", 0, sensorWidth - 8, 8, 0);
    b.integer(format, "OffsetY", 0, sensorHeight - 8, 2, 0);
    std::vector<std::pair<std::string, uint32_t>> pixelFormats{{"Mono16", Mono16},
                                                               {"Mono8", Mono8}};
    if (model == GigeModel::CurlewcGigE)
        pixelFormats.push_back({"RGB8", Rgb8});
    b.enumeration(format, "PixelFormat", pixelFormats, Mono16);
    b.integer(format, "PayloadSize", 0, 0xFFFFFFFFu, 0, sensorWidth * sensorHeight * 2, "RO");
    // A one-entry enumeration: the library shows it as inert.
    b.enumeration(format, "DeviceScanType", {{"Areascan", 0}}, 0);

    // Acquisition.
    const std::string acquisition = "AcquisitionControl";
    b.enumeration(acquisition, "AcquisitionMode",
                  {{"Continuous", 0}, {"SingleFrame", 1}, {"MultiFrame", 2}}, 0);
    b.command(acquisition, "AcquisitionStart");
    b.command(acquisition, "AcquisitionStop");
    b.integer(acquisition, "AcquisitionFrameCount", 1, 65535, 1, 1);
    if (model == GigeModel::FulmarGigE) {
        // The Fulmar offers fixed rates only.
        std::vector<std::pair<std::string, uint32_t>> rates;
        for (uint32_t hz : {25u, 30u, 50u, 60u, 100u, 120u, 200u}) {
            char name[32];
            std::snprintf(name, sizeof name, "Hz%f", double(hz));
            rates.push_back({name, hz});
        }
        b.enumeration(acquisition, "AcquisitionFrameRate", rates, 25);
    } else {
        b.real(acquisition, "AcquisitionFrameRate", 1.0, 400.0, 25.0, "RW", "Hz");
    }
    b.real(acquisition, "MaxFPS", 0, 10000, 100.0, "RO", "Hz");
    b.real(acquisition, "ExposureTime", 1.0, 100000.0, 2000.0, "RW", "us");
    b.integer(acquisition, "CamIntegrationTime", 1, 100000, 1, 2000);
    b.real(acquisition, "MaxExposureTime", 0, 100000, 38000.0, "RO", "us");
    b.integer(acquisition, "GatedExposureTime", 0, 100000, 1, 0);
    b.real("DeviceControl", "CamBoardTemperature", -40, 120, 35.5, "RO", "C");

    // Device and transport layer (standard bootstrap registers).
    const std::string device = "DeviceControl";
    b.text(device, "GevModelName", 32, d.modelName, "RO", 0x0068);
    b.text(device, "GevDeviceVersion", 32, firmware, "RO", 0x0088);
    b.text(device, "GevUserDefinedName", 16, config.userDefinedName, "RW", 0x00E8);
    const std::string transport = "TransportLayerControl";
    b.integer(transport, "GevHeartbeatTimeout", 500, 600000, 1, 3000, "RW", 0x0938);
    b.integer(transport, "GevSCPHostPort", 0, 65535, 1, 0, "RW", 0x0D00);
    b.integer(transport, "GevSCPSPacketSize", 0, 0xFFFFFFFFu, 0, 1500, "RW", 0x0D04);
    b.integer(transport, "GevSCPD", 0, 65535, 1, 0, "RW", 0x0D08);
    b.integer(transport, "GevSCDA", 0, 0xFFFFFFFFu, 0, 0, "RW", 0x0D18);
    b.integer(transport, "GevSCSP", 0, 65535, 1, 0, "RO", 0x0D1C);
    b.integer(transport, "GevPersistentIPAddress", 0, 0xFFFFFFFFu, 0, 0, "RW", 0x064C);
    b.integer(transport, "GevPersistentSubnetMask", 0, 0xFFFFFFFFu, 0, 0, "RW", 0x065C);
    b.integer(transport, "GevPersistentDefaultGateway", 0, 0xFFFFFFFFu, 0, 0, "RW", 0x066C);
    b.enumeration(transport, "GevNetworkConfiguration",
                  {{"LLA", 4}, {"LLA_Persistent", 5}, {"LLA_DHCP", 6}, {"LLA_DHCP_Persistent", 7}},
                  6, "RW", 0x0014);

    // Gain control inside the camera.
    const std::string agc = "AGC";
    b.enumeration(agc, "AgcMode", {{"Manuel", 0}, {"Auto", 1}}, 1);
    b.enumeration(agc, "AgcRoiMode", {{"FULL_FRAME", 0}, {"CENTER_FRAME", 1}, {"CUSTOM_FRAME", 2}},
                  0);
    for (const char* bound : {"AgcRoiCustomLeft", "AgcRoiCustomTop"})
        b.integer(agc, bound, 0, sensorWidth, 1, 0);
    b.integer(agc, "AgcRoiCustomRight", 0, sensorWidth, 1, sensorWidth);
    b.integer(agc, "AgcRoiCustomBottom", 0, sensorHeight, 1, sensorHeight);
    if (kestrel)
        b.real(agc, "AgcSmoothingCoefficient", 0, 1, 0.5);
    else if (model == GigeModel::HeronGigE && firmware < "01.03")
        b.real(agc, "AgcMeanStdThreshold", 0, 10, 3);
    else
        b.real(agc, "AgcAutoMeanStdThreshold", 0, 10, 3);
    if (curlew)
        b.enumeration(agc, "AgcSmoothingMethod", {{"None", 0}, {"Mean", 1}, {"Median", 2}}, 0);
    b.real(agc, "AgcAutoGain", 0, 100, 1, "RO");
    b.real(agc, "AgcAutoOffset", -16384, 16384, 0, "RO");
    b.real(agc, "AgcManualGain", 0, 100, 1);
    b.real(agc, "AgcManualOffset", -16384, 16384, 0);
    b.real(agc, "AgcStatisticsFmean", 0, 16384, 0, "RO");
    b.real(agc, "AgcStatisticsFstd", 0, 16384, 0, "RO");
    b.integer(agc, "AgcStatisticsWmin", 0, 65535, 0, 0, "RO");
    b.integer(agc, "AgcStatisticsWmax", 0, 65535, 0, 0, "RO");

    // Non-uniformity correction tables.
    const std::string nuc = "NUC";
    b.integer(nuc, "NucSelectTable", 0, 3, 1, 0);
    b.enumeration(nuc, "NucActivate", OffOn(), 0);
    for (const char* name :
         {"NucSaveInFlash", "NucLoadFromFlash", "NucResetTable", "NucCompute1Pts"})
        b.command(nuc, name);
    if (heron || kestrel) {
        b.command(nuc, "NucCompute2Pts1");
        b.command(nuc, "NucCompute2Pts2");

        const std::string bpr = "BPR";
        b.integer(bpr, "BprActivate", 0, 1, 1, 0);
        b.integer(bpr, "BprDetectMethod", 0, 2, 1, 0);
        b.integer(bpr, "BprGainThreshold", 0, 1000, 1, 50);
        b.integer(bpr, "BprOffsetThreshold", 0, 1000, 1, 50);
        b.integer(bpr, "BprBadPixelNumber", 0, 0xFFFFFFFFu, 0, 0, "RO");
        for (const char* name : {"BprRun", "BprLoad", "BprSave", "BprResetList"})
            b.command(bpr, name);
    }

    if (!kestrel) {
        const std::string processing = "ImageProcessing";
        b.real(processing, "Gamma", 0.1, 4.0, 1.0);
        b.integer(processing,
                  model == GigeModel::FulmarGigE && firmware < "01.03" ? "GammaSeuil" : "GammaThd",
                  0, 16383, 1, 0);
        b.integer(processing, "EqualThreshold", 0, 16383, 1, 0);
        b.enumeration(processing, "EqualActivate", OffOn(), 0);
        b.integer(processing, "EnhancFilter", 0, 3, 1, 0);
        b.integer(processing, "EnhancCoef", 1, 15, 2, 3);
        b.enumeration(processing, "EnhancActivate", OffOn(), 0);

        const std::string reticle = "Reticle";
        b.integer(reticle, "RetCenterPosx", 0, sensorWidth, 1, sensorWidth / 2);
        b.integer(reticle, "RetCenterPosy", 0, sensorHeight, 1, sensorHeight / 2);
        b.integer(reticle, "RetLengthH", 0, sensorWidth, 1, 40);
        b.integer(reticle, "RetLengthV", 0, sensorHeight, 1, 40);
        b.integer(reticle, "RetThickH", 1, 16, 1, 2);
        b.integer(reticle, "RetThickV", 1, 16, 1, 4);
        b.integer(reticle, "RetYcolor", 0, 255, 1, 0);
        if (model == GigeModel::HeronGigE && firmware < "02.00")
            b.integer(reticle, "RetCrCbColor", 0, 255, 1, 128);
        b.integer(reticle, "RetOn", 0, 1, 1, 0);
        b.command(reticle, "RetResetProperties");
    }

    const std::string configuration = "ConfigurationControl";
    for (const char* name : {"CamSaveConfiguration", "CamLoadConfiguration", "CamResetParameter"})
        b.command(configuration, name);

    // Registers for the maker's tools: busy flags and an invisible counter.
    const std::string debug = "DebugControl";
    b.integer(debug, "NIOS_is_BUSY", 0, 0xFFFFFFFFu, 0, 0, "RO");
    if (model == GigeModel::CurlewcGigE && firmware < "01.03")
        b.integer(debug, "NucProcessing_WAIT_plz", 0, 0xFFFFFFFFu, 0, 0, "RO");
    b.integer(debug, "DebugFrameCounter", 0, 0xFFFFFFFFu, 0, 0, "RO").visibility =
        GigeFeature::Invisible;
    return d;
}

std::string GigeDescription::xml() const {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<RegisterDescription ModelName=\"" << modelName
      << "\" VendorName=\"XEV\" ToolTip=\"Emulated camera\" StandardNameSpace=\"GEV\""
      << " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\""
      << " MajorVersion=\"1\" MinorVersion=\"0\" SubMinorVersion=\"0\""
      << " ProductGuid=\"0\" VersionGuid=\"0\""
      << " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n";
    // Categories: aravis and the library read categories from a Group.
    x << "  <Group Comment=\"Categories\">\n    <Category Name=\"Root\" NameSpace=\"Standard\">\n";
    for (const std::string& category : categories)
        x << "      <pFeature>" << category << "</pFeature>\n";
    x << "    </Category>\n";
    for (const std::string& category : categories) {
        x << "    <Category Name=\"" << category << "\" NameSpace=\"Custom\">\n";
        for (const GigeFeature& entry : features)
            if (entry.category == category)
                x << "      <pFeature>" << entry.name << "</pFeature>\n";
        x << "    </Category>\n";
    }
    x << "  </Group>\n";

    for (const GigeFeature& entry : features) {
        const std::string reg = entry.name + "Reg";
        const char* element = "Integer";
        switch (entry.kind) {
        case Kind::Float:
            element = "Float";
            break;
        case Kind::Enumeration:
            element = "Enumeration";
            break;
        case Kind::String:
            element = "String";
            break;
        case Kind::Command:
            element = "Command";
            break;
        default:
            break;
        }
        x << "  <" << element << " Name=\"" << entry.name << "\" NameSpace=\"Custom\">\n";
        if (entry.visibility != GigeFeature::Beginner)
            x << "    <Visibility>" << VisibilityText(entry.visibility) << "</Visibility>\n";
        if (entry.kind == Kind::Enumeration)
            for (const auto& [name, value] : entry.entries)
                x << "    <EnumEntry Name=\"" << name << "\"><Value>" << value
                  << "</Value></EnumEntry>\n";
        x << "    <pValue>" << reg << "</pValue>\n";
        if (entry.kind == Kind::Integer || entry.kind == Kind::Float) {
            x << "    <Min>" << Number(entry.min) << "</Min>\n    <Max>" << Number(entry.max)
              << "</Max>\n";
            if (entry.inc != 0)
                x << "    <Inc>" << Number(entry.inc) << "</Inc>\n";
            if (!entry.unit.empty())
                x << "    <Unit>" << Escaped(entry.unit) << "</Unit>\n";
        }
        if (entry.kind == Kind::Command)
            x << "    <CommandValue>" << entry.commandValue << "</CommandValue>\n";
        x << "  </" << element << ">\n";

        const char* regElement = entry.kind == Kind::Float    ? "FloatReg"
                                 : entry.kind == Kind::String ? "StringReg"
                                                              : "IntReg";
        x << "  <" << regElement << " Name=\"" << reg << "\">\n"
          << "    <Address>" << Hex(entry.address) << "</Address>\n"
          << "    <Length>" << entry.length << "</Length>\n"
          << "    <AccessMode>" << entry.access << "</AccessMode>\n"
          << "    <pPort>Device</pPort>\n";
        if (entry.kind != Kind::String)
            x << "    <Endianess>BigEndian</Endianess>\n";
        if (entry.kind == Kind::Integer || entry.kind == Kind::Enumeration ||
            entry.kind == Kind::Command)
            x << "    <Sign>Unsigned</Sign>\n";
        x << "  </" << regElement << ">\n";
    }
    x << "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n";
    x << "</RegisterDescription>\n";
    return x.str();
}

std::vector<uint8_t> zipArchive(const std::string& fileName, const std::string& text) {
    std::vector<uint8_t> data(compressBound(static_cast<uLong>(text.size())) + 64);
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot deflate");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = data.data();
    stream.avail_out = static_cast<uInt>(data.size());
    const int code = deflate(&stream, Z_FINISH);
    const uLong compressed = stream.total_out;
    deflateEnd(&stream);
    if (code != Z_STREAM_END)
        throw std::runtime_error("zlib cannot deflate");
    data.resize(compressed);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));

    std::vector<uint8_t> zip;
    auto put = [&zip](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            zip.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    auto localHeader = [&](uint32_t signature) {
        put(signature, 4);
        if (signature == 0x02014B50)
            put(20, 2); // made by
        put(20, 2);     // version needed
        put(0, 2);      // flags
        put(8, 2);      // deflate
        put(0, 2);      // time
        put(0x21, 2);   // date: 1980-01-01
        put(static_cast<uint32_t>(crc), 4);
        put(static_cast<uint32_t>(data.size()), 4);
        put(static_cast<uint32_t>(text.size()), 4);
        put(static_cast<uint32_t>(fileName.size()), 2);
        put(0, 2); // extra field
    };
    localHeader(0x04034B50);
    zip.insert(zip.end(), fileName.begin(), fileName.end());
    zip.insert(zip.end(), data.begin(), data.end());
    const uint32_t centralStart = static_cast<uint32_t>(zip.size());
    localHeader(0x02014B50);
    put(0, 2); // comment
    put(0, 2); // disk
    put(0, 2); // internal attributes
    put(0, 4); // external attributes
    put(0, 4); // local header offset
    zip.insert(zip.end(), fileName.begin(), fileName.end());
    const uint32_t centralSize = static_cast<uint32_t>(zip.size()) - centralStart;
    put(0x06054B50, 4);
    put(0, 2);
    put(0, 2);
    put(1, 2);
    put(1, 2);
    put(centralSize, 4);
    put(centralStart, 4);
    put(0, 2);
    return zip;
}

} // namespace Emulator
} // namespace XEVLibrary
