#include "ParamsTestUtil.h"
#include "TestDescriptor.h"

#include "XEVCatalog.h"
#include "XEVModelConfiguration.h"

#include <cstdio>
#include <set>

using namespace XEVLibrary;
using XEVTest::messageOf;
using XEVTest::TestDescriptor;

namespace {

std::string hex(const uint8_t* bytes) {
    std::string text;
    char byte[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override { catalog = XEVCatalog::getInstance(); }
    const XEVModelConfiguration& config(unsigned index) {
        return *catalog->getModelConfiguration(index);
    }
    std::vector<std::string> names(unsigned index) {
        std::vector<std::string> result;
        for (const XEVParam* param : config(index))
            result.push_back(param->name());
        return result;
    }
    XEVCatalog* catalog = nullptr;
};

/// Accepts every configuration of one model id, whatever its connector.
class AnyConnectorDescriptor : public TestDescriptor {
public:
    explicit AnyConnectorDescriptor(const std::string& model) : TestDescriptor(USB3, model) {}

protected:
    bool IsCompatibleWith(const XEVModelConfiguration& c) const override {
        return c.modelId() == GetModelId();
    }
};

} // namespace

TEST_F(CatalogTest, ModelsInCatalogOrder) {
    const struct {
        const char* id;
        ConnectorType connector;
        unsigned width, height;
        std::size_t params;
    } models[] = {
        {"Auklet", USB2, 320, 256, 11},        {"Bittern", USB2, 768, 576, 11},
        {"Fulmar", USB2, 768, 576, 11},        {"Heron", USB2, 640, 512, 13},
        {"Ibis", USB2, 640, 512, 15},          {"Jacana", USB2, 320, 256, 13},
        {"Lapwing", USB2, 640, 480, 10},       {"Dunlin", USB3, 1280, 720, 11},
        {"Curlew", USB3, 1280, 1024, 12},      {"Gannet_HD", USB3, 1280, 1024, 11},
        {"Gannet_BIN", USB3, 640, 512, 11},    {"Gannet_ZOOM", USB3, 640, 480, 11},
        {"Heron", USB3, 640, 512, 13},         {"Ibis", USB3, 640, 512, 17},
        {"Lapwing", USB3, 648, 488, 10},       {"Merlin", USB3, 1288, 1032, 10},
        {"Kestrel", USB3, 640, 512, 17},       {"Egret", USB3, 320, 256, 13},
        {"CurlewcGigE", GIGE, 1280, 1024, 0},  {"CurlewGigE", GIGE, 1280, 1024, 0},
        {"FulmarGigE", GIGE, 768, 576, 0},     {"HeronGigE", GIGE, 640, 512, 0},
        {"HeronGigE-SPOT", GIGE, 640, 512, 0}, {"Jacana", USB3, 320, 256, 13},
        {"KestrelGigE", GIGE, 640, 512, 0},
    };
    ASSERT_EQ(25u, catalog->modelCount());
    for (unsigned i = 0; i < 25; ++i) {
        EXPECT_EQ(models[i].id, config(i).modelId()) << i;
        EXPECT_EQ(models[i].connector, config(i).connectorType()) << i;
        EXPECT_EQ(models[i].width, config(i).width()) << i;
        EXPECT_EQ(models[i].height, config(i).height()) << i;
        EXPECT_EQ(models[i].params, config(i).paramCount()) << i;
        EXPECT_TRUE(catalog->isModelId(models[i].id));
    }
    EXPECT_FALSE(catalog->isModelId("heron"));
    EXPECT_EQ("Error : Index (25) out of array of XEVCatalog.",
              messageOf([&] { catalog->getModelConfiguration(25); }));
}

TEST_F(CatalogTest, ParameterOrder) {
    const std::vector<std::string> window = {"First Column", "Number of Column", "First Line",
                                             "Number of Line"};
    auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> all = window;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    EXPECT_EQ(with({"Pixel Depth", "Trigger Mode", "Mode", "Pixel Clock", "Gain", "Offset",
                    "Histogram Threshold"}),
              names(0));
    EXPECT_EQ(with({"Pixel Depth", "Trigger Mode", "Mode", "Pixel Clock", "Gain", "Offset",
                    "Exposure Time", "Low exposure time", "Histogram Threshold",
                    "Trigger Delay Input", "Trigger Delay Output", "Temperature TEC", "TEC Mode"}),
              names(13));
    EXPECT_EQ(with({"Pixel Depth", "Trigger Mode", "Mode", "Pixel Clock", "Gain", "Exposure Time"}),
              names(15));
    EXPECT_EQ(with({"Pixel Depth", "Trigger Mode", "Trigger Delay Input", "Trigger Delay Output",
                    "Trigger Delay Input Gated", "Trigger Delay Output Gated", "Pixel Clock",
                    "Integration Mode", "Sensor Response", "Analog Gain", "Temperature TEC",
                    "TEC Mode", "CDS"}),
              names(16));
    EXPECT_EQ(nullptr, config(16).getParam("Exposure Time"))
        << "the device adds the Kestrel exposure itself";
}

TEST_F(CatalogTest, DefaultRegistries) {
    const struct {
        unsigned index;
        const char* bytes;
    } cases[] = {
        // Listed with the catalog.
        {0, "00 00 04 00 00 00 00 00 28 00 20 00 01 00 00 00"},  // Auklet
        {8, "01 0B 04 00 C7 00 00 00 A0 00 80 00 01 00 00 00"},  // Curlew
        {6, "01 08 00 00 25 00 00 01 50 01 3C 00 00 00 00 00"},  // Lapwing USB 2.0
        {16, "00 00 80 00 00 00 00 00 50 00 40 80 00 00 00 72"}, // Kestrel
        {3, "00 08 04 00 00 00 00 00 50 00 40 00 01 00 00 00"},  // Heron USB 2.0
        // Worked out by hand:
        // Bittern: clock 25 MHz = register 8; gain 1.00 / 0.25 = 4 in byte 2; columns 768 / 8
        // = 0x60 in byte 8; lines 576 / 8 = 0x48 in byte 10; histogram 0.1% = 1 in byte 12.
        {1, "00 08 04 00 00 00 00 00 60 00 48 00 01 00 00 00"},
        // Ibis USB 2.0: Heron's bytes, then TEC 25: (25 + 5) / 5 = 6 at bit 4 of byte 15 =
        // 0x60; "No current" leaves bits 2-3 at 0.
        {4, "00 08 04 00 00 00 00 00 50 00 40 00 01 00 00 60"},
        // Jacana: clock 12.5 MHz = register 12 = 0x0C; 320 / 8 = 0x28, 256 / 8 = 0x20; the
        // exposure (2000 us = 19) is overwritten in byte 4 by low exposure "0.2" = 0.
        {5, "00 0C 04 00 00 00 00 00 28 00 20 00 01 00 00 00"},
        // Dunlin: mode is inert; 50 MHz = register 0; 1280 / 8 = 0xA0, 720 / 8 = 90 = 0x5A.
        {7, "00 00 04 00 00 00 00 00 A0 00 5A 00 01 00 00 00"},
        // Gannet_ZOOM: 50 MHz = 0; 640 / 8 = 0x50; 480 / 8 = 0x3C.
        {11, "00 00 04 00 00 00 00 00 50 00 3C 00 01 00 00 00"},
        // Ibis USB 3.0: as Ibis USB 2.0; delays 0.2 us (input) and -10 us (output) are both
        // register 0 of byte 11.
        {13, "00 08 04 00 00 00 00 00 50 00 40 00 01 00 00 60"},
        // Lapwing USB 3.0: "Snapshot" = 0; 40 MHz = 8; 2 ms = register 36 + 1 = 0x25; first
        // column and line 4 / 4 = 1; columns 640 / 8 = 0x50; lines default 480 / 8 = 0x3C.
        {14, "00 08 00 00 25 00 00 01 50 01 3C 00 00 00 00 00"},
        // Merlin: as Lapwing USB 3.0 with columns 1280 / 8 = 0xA0 and lines 1024 / 8 = 0x80.
        {15, "00 08 00 00 25 00 00 01 A0 01 80 00 00 00 00 00"},
        // Egret: Heron's settings on a 320 x 256 sensor.
        {17, "00 08 04 00 00 00 00 00 28 00 20 00 01 00 00 00"},
        // GigE models carry no parameters.
        {21, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bytes, hex(config(c.index).defaultRegistry())) << config(c.index).modelId();
}

TEST_F(CatalogTest, DefaultTexts) {
    const struct {
        unsigned index;
        const char* param;
        const char* text;
    } cases[] = {
        {0, "Mode", "[Rolling]"},
        {0, "Pixel Clock", "[20MHz]"},
        {0, "Gain", "1.00"},
        {0, "Offset", "0.00% full scale"},
        {3, "Mode", "Global Shutter"},
        {3, "Low exposure time", "0.2"},
        {3, "Exposure Time", "100\265s"},
        {8, "Exposure Time", "20000\265s"},
        {8, "Pixel Clock", "40MHz"},
        {13, "Trigger Delay Input", "0.20\265s"},
        {13, "Trigger Delay Output", "-10.00\265s"},
        {13, "Temperature TEC", "25"},
        {15, "Gain", "[1]"},
        {15, "Exposure Time", "2ms"},
        {16, "Temperature TEC", "15"},
        {16, "Analog Gain", "Standard"},
        {16, "Pixel Clock", "[120MHz]"},
        {16, "Trigger Delay Input", "0us"},
        {16, "Trigger Delay Input Gated", "6.50us"},
        {9, "Mode", "[HD]"},
    };
    for (const auto& c : cases) {
        const XEVParam* param = config(c.index).getParam(c.param);
        ASSERT_NE(nullptr, param) << c.index << " " << c.param;
        EXPECT_EQ(c.text, param->strValue(config(c.index).defaultRegistry()))
            << c.index << " " << c.param;
    }
}

TEST_F(CatalogTest, WindowRanges) {
    const struct {
        unsigned index;
        const char* param;
        double min, max;
    } cases[] = {
        {0, "First Column", 0, 312},       {0, "Number of Column", 8, 320},
        {9, "First Line", 0, 1016},        {9, "Number of Line", 8, 1024},
        {8, "First Column", 0, 1020},      {14, "First Column", 4, 632},
        {14, "Number of Column", 8, 640},  {14, "First Line", 4, 480},
        {14, "Number of Line", 8, 488},    {6, "First Line", 4, 472},
        {15, "First Line", 4, 1020},       {15, "Number of Line", 8, 1032},
        {15, "Number of Column", 8, 1280},
    };
    for (const auto& c : cases) {
        const auto* param = dynamic_cast<const XEVNumericParam*>(config(c.index).getParam(c.param));
        ASSERT_NE(nullptr, param) << c.index << " " << c.param;
        EXPECT_EQ(c.min, param->userMin()) << c.index << " " << c.param;
        EXPECT_EQ(c.max, param->userMax()) << c.index << " " << c.param;
    }
}

TEST_F(CatalogTest, LineTimes) {
    const struct {
        unsigned index;
        double entries[9];
    } cases[] = {
        {0, {37.84, 31.0212, 27.75, 25.04, 21.4209, 19.75, 18.64, 10.71045, 9.875}},
        {1, {69.84, 54.0622, 46.15, 39.12, 31.0212, 26.95, 23.76, 15.5106, 13.475}},
        {3, {74.88, 56.162246, 46.8, 37.44, 28.080281, 23.4, 18.72, 14.0401405, 11.7}},
        {5, {30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 5.6250565, 4.6875}},
        {13, {58.8, 44.101764, 36.75, 29.4, 22.050221, 18.375, 14.7, 11.026103, 9.1875}},
        {16, {35.0 / 12, 23.0 / 12, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35}},
        {23, {30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 11.02511, 9.1875}},
        {24, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(c.entries[i], config(c.index).lineTime()[i]) << c.index << "/" << i;
    // Every clock a model's enumeration offers has a defined line time.
    for (unsigned m = 0; m < catalog->modelCount(); ++m) {
        const XEVParam* clock = config(m).getParam("Pixel Clock");
        if (!clock)
            continue;
        for (auto it = clock->begin(); it != clock->end(); ++it) {
            const double mhz = clock->isInert() ? clock->value(config(m).defaultRegistry())
                                                : clock->strValueToValue(*it);
            EXPECT_GT(config(m).lineTime()[XEVCatalog::getRefTLine(mhz)], 0.0)
                << config(m).modelId() << " " << *it;
        }
    }
}

TEST_F(CatalogTest, SelectsCompatibleConfiguration) {
    EXPECT_EQ(&config(16), catalog->selectModelConfiguration(TestDescriptor(USB3, "Kestrel")));
    EXPECT_EQ(&config(12), catalog->selectModelConfiguration(TestDescriptor(USB3, "Heron")));
    EXPECT_EQ(&config(3), catalog->selectModelConfiguration(TestDescriptor(USB2, "Heron")));
    EXPECT_EQ(&config(23), catalog->selectModelConfiguration(TestDescriptor(USB3, "Jacana")));
    EXPECT_EQ(&config(22),
              catalog->selectModelConfiguration(TestDescriptor(GIGE, "HeronGigE-SPOT")));

    EXPECT_EQ(
        "Error : XEVDeviceDescriptor (Test[Heron]) is compatible with more than one "
        "XEVModelConfiguration in XEVCatalog, (Heron|Heron). Use forceDeviceModel of "
        "XEVManager to set it.",
        messageOf([&] { catalog->selectModelConfiguration(AnyConnectorDescriptor("Heron")); }));
    EXPECT_EQ("Error : XEVDeviceDescriptor (Test[]) is compatible with more than one "
              "XEVModelConfiguration in XEVCatalog, (Auklet|Bittern|Fulmar|Heron|Ibis|Jacana|"
              "Lapwing). Use forceDeviceModel of XEVManager to set it.",
              messageOf([&] { catalog->selectModelConfiguration(TestDescriptor(USB2, "")); }));
    EXPECT_EQ(
        "CriticalError : XEVDeviceDescriptor (Test[Kestrel]) is not compatible with any "
        "XEVModelConfiguration in XEVCatalog. Check XEVCatalog.",
        messageOf([&] { catalog->selectModelConfiguration(TestDescriptor(USB2, "Kestrel")); }));
}

TEST_F(CatalogTest, ReferenceIds) {
    const struct {
        uint16_t refId;
        const char* model;
    } cases[] = {
        {XEVCatalog::REFID_AUKLET, "Auklet"},
        {XEVCatalog::REFID_BITTERN, "Bittern"},
        {XEVCatalog::REFID_FULMAR, "Fulmar"},
        {XEVCatalog::REFID_HERON, "Heron"},
        {XEVCatalog::REFID_IBIS, "Ibis"},
        {XEVCatalog::REFID_JACANA, "Jacana"},
        {XEVCatalog::REFID_LAPWING, "Lapwing"},
        {XEVCatalog::REFID_DUNLIN, "Dunlin"},
        {XEVCatalog::REFID_CURLEW, "Curlew"},
        {XEVCatalog::REFID_GANNET, "Gannet_HD"},
        {XEVCatalog::REFID_KESTREL, "Kestrel"},
        {XEVCatalog::REFID_MERLIN, "Merlin"},
        {XEVCatalog::REFID_EGRET, "Egret"},
        {10109, "CurlewGigE"},
        {10103, "FulmarGigE"},
        {10104, "HeronGigE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.model, catalog->refIdToModelId(c.refId)) << c.refId;
    EXPECT_EQ(111, XEVCatalog::REFID_KESTREL);
    EXPECT_EQ(1u, XEVCatalog::FLAG_INFO_LINE);
    EXPECT_EQ("CriticalError : RefId (10111) is not corresponding to any ModelId in XEVCatalog.",
              messageOf([&] { catalog->refIdToModelId(10111); }));
}

TEST(Catalog, ReferenceClocksAndLineIndexes) {
    const struct {
        double mhz, refClk;
        unsigned line;
    } cases[] = {
        {12.5, 12.5, 0},     {16.666, 16.666, 1}, {20, 20, 2},   {25, 12.5, 3},
        {33.333, 16.666, 4}, {40, 20, 5},         {50, 12.5, 6}, {66.666, 16.666, 7},
        {80, 20, 8},         {120, 120, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.refClk, XEVCatalog::getRefClk(c.mhz)) << c.mhz;
        EXPECT_EQ(c.line, XEVCatalog::getRefTLine(c.mhz)) << c.mhz;
    }
    EXPECT_EQ("CriticalError : Pixel Clock val(30.000000) does not have RefClk, check XEVCatalog.",
              messageOf([] { XEVCatalog::getRefClk(30); }));
    EXPECT_EQ("CriticalError : Pixel Clock val(16.660000) does not have RefTLine, check "
              "XEVCatalog.",
              messageOf([] { XEVCatalog::getRefTLine(16.66); }));
}

TEST(Catalog, BuildersAndRecreation) {
    EXPECT_EQ(nullptr, getModeParam(static_cast<XEVCatalog::ModeType>(4)));
    std::unique_ptr<XEVEnumParam> mode(getModeParam(XEVCatalog::MODE_HD_BIN_ZOOM));
    EXPECT_EQ((std::vector<std::string>{"BIN", "HD", "ZOOM"}), XEVTest::walk(*mode));
    uint8_t registry[16];
    std::fill(std::begin(registry), std::end(registry), 0xFF);
    resetRegistry(registry);
    for (uint8_t byte : registry)
        EXPECT_EQ(0, byte);

    XEVCatalog* first = XEVCatalog::getInstance();
    EXPECT_EQ(first, XEVCatalog::getInstance());
    XEVCatalog::destroyInstance();
    XEVCatalog* second = XEVCatalog::getInstance();
    EXPECT_EQ(25u, second->modelCount());
    EXPECT_EQ("00 00 04 00 00 00 00 00 28 00 20 00 01 00 00 00",
              hex(second->getModelConfiguration(0)->defaultRegistry()));
}

TEST(Catalog, ManualOfAModel) {
    const std::string text = XEVCatalog::getInstance()->getModelConfiguration(0)->manual();
    const std::string dashes(29, '-');
    EXPECT_EQ(0u, text.find(dashes + "\nConnector" + std::string(15, ' ') + "USB 2.0\nModel" +
                            std::string(19, ' ') + "Auklet\n" + dashes + "\n"));
    EXPECT_NE(std::string::npos,
              text.find("\nFirst Column :" + std::string(10, ' ') + "{ 0, 4, ... , 308, 312 }\n"));
    EXPECT_NE(std::string::npos,
              text.find("\nHistogram Threshold :   { 1.6%, 0.4%, 0.1%, 0.025% }\n" + dashes));
    EXPECT_NE(std::string::npos, text.find("\nMode :" + std::string(18, ' ') + "{ [Rolling] }\n"));
}
