#include "ParamsTestUtil.h"

#include "XEVDeviceDescriptorUsb.h"
#include "XEVNumericParam.h"

#include <cstdio>
#include <fstream>

using namespace XEVLibrary;
using namespace XEVTest;

namespace {

std::string hex(const uint8_t* bytes) {
    char text[49];
    for (int i = 0; i < 16; ++i)
        std::snprintf(text + 3 * i, 4, "%02X ", bytes[i]);
    return std::string(text, 47);
}

Texts linesOf(std::istream&& in) {
    Texts lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

XEVDeviceDescriptorUsb descriptor(ConnectorType type, const char* id, unsigned serial = 0,
                                  uint8_t number = 0) {
    XEVDeviceDescriptorUsb descriptor(type, number);
    descriptor.setModelId(id);
    descriptor.setSerialNumber(serial);
    return descriptor;
}

} // namespace

// Every model's manual, in catalog order, against golden/manuals.txt, a text
// reviewed by hand (micro sign in UTF-8, as XEVParam::toUtf8 writes it).
TEST(Catalog, ManualOfEveryModel) {
    const std::string path = XEV_TEST_SOURCE_DIR "/tests/params/golden/manuals.txt";
    const Texts golden = linesOf(std::ifstream(path));
    ASSERT_FALSE(golden.empty()) << path << " cannot be read";
    std::ostringstream produced;
    for (unsigned i = 0; i < XEVCatalog::getInstance()->modelCount(); ++i) {
        for (const XEVParam* param : model(i)) // the manual walks every parameter
            ASSERT_LT(walk(*param).size(), 100000u) << param->name() << " walks without end";
        produced << XEVParam::toUtf8(model(i).manual()) << '\n';
    }
    const Texts lines = linesOf(std::istringstream(produced.str()));
    std::size_t i = 0;
    while (i < golden.size() && i < lines.size() && golden[i] == lines[i])
        ++i;
    EXPECT_TRUE(i == golden.size() && i == lines.size())
        << "first difference at line " << i + 1 << " of " << path
        << "\n  expected: " << (i < golden.size() ? golden[i] : "<end of text>")
        << "\n  produced: " << (i < lines.size() ? lines[i] : "<end of text>");
}

// Sizes and default registries, one row per builder. Byte 0: mode (Rolling = 1); 1: clock
// (25 MHz = 8, 12.5 MHz = 0x0C, 50 MHz = 0, 40 MHz = 0x0B, Lapwing 40 MHz = 8); 2: gain 1.00 /
// 0.25 = 4 (Kestrel: analog gain 2 at bit 6); 4: exposure (Curlew 20 ms = (20000 - 100) / 100
// = 0xC7, Lapwing 2 ms = 36 + 1, else 0.2 = 0); 7, 9: first column, line / 4; 8, 10: counts / 8;
// 11: Kestrel delays 0 us = (0 + 1280) / 10; 12: histogram 0.1% = 1; 15: TEC, Ibis 25 degrees
// = (25 + 5) / 5 at bit 4, Kestrel 15 degrees = index 30 spread to 0x72.
TEST(Catalog, SizesAndDefaultRegistries) {
    const std::pair<unsigned, const char*> models[] = {
        {0, "320x256 00 00 04 00 00 00 00 00 28 00 20 00 01 00 00 00"},    // Auklet
        {1, "768x576 00 08 04 00 00 00 00 00 60 00 48 00 01 00 00 00"},    // Bittern
        {3, "640x512 00 08 04 00 00 00 00 00 50 00 40 00 01 00 00 00"},    // Heron USB 2.0
        {5, "320x256 00 0C 04 00 00 00 00 00 28 00 20 00 01 00 00 00"},    // Jacana USB 2.0
        {6, "640x480 01 08 00 00 25 00 00 01 50 01 3C 00 00 00 00 00"},    // Lapwing USB 2.0
        {7, "1280x720 00 00 04 00 00 00 00 00 A0 00 5A 00 01 00 00 00"},   // Dunlin
        {8, "1280x1024 01 0B 04 00 C7 00 00 00 A0 00 80 00 01 00 00 00"},  // Curlew
        {13, "640x512 00 08 04 00 00 00 00 00 50 00 40 00 01 00 00 60"},   // Ibis USB 3.0
        {14, "648x488 00 08 00 00 25 00 00 01 50 01 3C 00 00 00 00 00"},   // Lapwing: snapshot
        {15, "1288x1032 00 08 00 00 25 00 00 01 A0 01 80 00 00 00 00 00"}, // Merlin
        {16, "640x512 00 00 80 00 00 00 00 00 50 00 40 80 00 00 00 72"},   // Kestrel
        {18, "1280x1024 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}, // CurlewcGigE
    };
    ASSERT_EQ(25u, XEVCatalog::getInstance()->modelCount());
    for (const auto& [i, expected] : models)
        EXPECT_EQ(expected, std::to_string(model(i).width()) + "x" +
                                std::to_string(model(i).height()) + " " +
                                hex(model(i).defaultRegistry()))
            << model(i).modelId();
    // Kestrel's gated delays share byte 11 and have no default of their own.
    const uint8_t* kestrel = model(16).defaultRegistry();
    EXPECT_EQ("6.50us", catalogParam(16, "Trigger Delay Input Gated").strValue(kestrel));
    EXPECT_EQ("0.00us", catalogParam(16, "Trigger Delay Output Gated").strValue(kestrel));
}

// Microseconds per sensor line for each clock class (index of getRefTLine); Kestrel's are
// its own. The sets of Heron, Ibis, Dunlin, Lapwing, Merlin and Jacana
// on USB 3.0 are pinned by FramePeriod.RegistersAndLimitsWorkedOutByHand (usb_device).
TEST(Catalog, LineTimes) {
    const std::pair<unsigned, std::vector<double>> cases[] = {
        {0, {37.84, 31.0212, 27.75, 25.04, 21.4209, 19.75, 18.64, 10.71045, 9.875}},
        {1, {69.84, 54.0622, 46.15, 39.12, 31.0212, 26.95, 23.76, 15.5106, 13.475}},
        {3, {74.88, 56.162246, 46.8, 37.44, 28.080281, 23.4, 18.72, 14.0401405, 11.7}},
        {5, {30, 22.5009, 18.75, 15, 11.250113, 9.375, 7.5, 5.6250565, 4.6875}},
        {8, {104.64, 78.483139, 65.4, 52.32, 39.240392, 32.7, 26.16, 19.620196, 16.35}},
        {9, {107.84, 81.783271, 68.9, 56.64, 43.381735, 36.9, 31.04, 24.180967, 19.15}},
        {10, {56.64, 43.381735, 36.9, 31.04, 24.180967, 20.9, 18.24, 14.580583, 11.15}},
        {16, {35.0 / 12, 23.0 / 12, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35, 3.35}},
    };
    for (const auto& [index, times] : cases)
        EXPECT_EQ(times, std::vector<double>(model(index).lineTime(), model(index).lineTime() + 9))
            << index;
}

// The register of each clock, its reference clock and its line-time index.
TEST(Catalog, PixelClocks) {
    const XEVParam& clock = catalogParam(1, "Pixel Clock");
    const std::tuple<const char*, int, double, unsigned> cases[] = {
        {"12.5MHz", 12, 12.5, 0}, {"16.66MHz", 14, 16.666, 1}, {"20MHz", 15, 20, 2},
        {"25MHz", 8, 12.5, 3},    {"33.33MHz", 10, 16.666, 4}, {"40MHz", 11, 20, 5},
        {"50MHz", 0, 12.5, 6},    {"66.66MHz", 2, 16.666, 7},  {"80MHz", 3, 20, 8},
    };
    for (const auto& [text, reg, refClk, line] : cases) {
        uint8_t registry[16] = {};
        clock.setValue(std::string(text), registry);
        EXPECT_EQ(reg, registry[1]) << text;
        EXPECT_EQ(text, clock.strValue(registry));
        EXPECT_EQ(refClk, XEVCatalog::getRefClk(clock.value(registry))) << text;
        EXPECT_EQ(line, XEVCatalog::getRefTLine(clock.value(registry))) << text;
    }
    EXPECT_EQ(120.0, XEVCatalog::getRefClk(120));
    EXPECT_EQ(0u, XEVCatalog::getRefTLine(120));
}

TEST(Catalog, SelectionAndReferenceIds) {
    XEVCatalog* catalog = XEVCatalog::getInstance();
    const std::tuple<ConnectorType, const char*, unsigned> selections[] = {
        {USB3, "Kestrel", 16}, {USB3, "Heron", 12},          {USB2, "Heron", 3},
        {USB3, "Jacana", 23},  {GIGE, "HeronGigE-SPOT", 22},
    };
    for (const auto& [type, id, index] : selections)
        EXPECT_EQ(&model(index), catalog->selectModelConfiguration(descriptor(type, id))) << id;
    EXPECT_TRUE(catalog->isModelId("Jacana"));
    EXPECT_FALSE(catalog->isModelId("heron"));
    const std::pair<uint16_t, const char*> refIds[] = {
        {101, "Auklet"}, {102, "Bittern"},      {103, "Fulmar"},       {104, "Heron"},
        {105, "Ibis"},   {106, "Jacana"},       {107, "Lapwing"},      {108, "Dunlin"},
        {109, "Curlew"}, {110, "Gannet_HD"},    {111, "Kestrel"},      {112, "Merlin"},
        {113, "Egret"},  {10109, "CurlewGigE"}, {10103, "FulmarGigE"}, {10104, "HeronGigE"},
    };
    for (const auto& [refId, id] : refIds)
        EXPECT_EQ(id, catalog->refIdToModelId(refId)) << refId;
}

TEST(Catalog, RefusalMessages) {
    XEVCatalog* catalog = XEVCatalog::getInstance();
    expectRefusals({
        {[&] { catalog->getModelConfiguration(25); },
         "Error : Index (25) out of array of XEVCatalog."},
        {[&] { catalog->selectModelConfiguration(descriptor(USB2, "")); },
         "Error : XEVDeviceDescriptor (USB 2.0 (0) -- [Model:Unknown]) is compatible with more "
         "than one XEVModelConfiguration in XEVCatalog, (Auklet|Bittern|Fulmar|Heron|Ibis|Jacana|"
         "Lapwing). Use forceDeviceModel of XEVManager to set it."},
        {[&] { catalog->selectModelConfiguration(descriptor(USB2, "Kestrel")); },
         "CriticalError : XEVDeviceDescriptor (USB 2.0 (0) -- [Model:Kestrel]) is not compatible "
         "with any XEVModelConfiguration in XEVCatalog. Check XEVCatalog."},
        {[&] { catalog->refIdToModelId(10111); },
         "CriticalError : RefId (10111) is not corresponding to any ModelId in XEVCatalog."},
        {[] { XEVCatalog::getRefClk(30); },
         "CriticalError : Pixel Clock val(30.000000) does not have RefClk, check XEVCatalog."},
        {[] { XEVCatalog::getRefTLine(16.66); },
         "CriticalError : Pixel Clock val(16.660000) does not have RefTLine, check XEVCatalog."},
    });
}

TEST(Catalog, BuildersAndRecreation) {
    EXPECT_EQ(nullptr, getModeParam(static_cast<XEVCatalog::ModeType>(4)));
    EXPECT_EQ(XEVCatalog::getInstance(), XEVCatalog::getInstance());
    XEVCatalog::destroyInstance();
    EXPECT_EQ(25u, XEVCatalog::getInstance()->modelCount());
}

TEST(ModelConfiguration, DuplicateNameKeepsFirstParameter) {
    XEVModelConfiguration config(USB3, "Model", 640, 512);
    XEVNumericParam gain("Gain", 2, 0, 5, 0.25, 0), other("Gain", 3, 0, 8, 1, 0);
    EXPECT_EQ(&gain, config.addParam(&gain));
    EXPECT_EQ("CriticalError : For Model(Model), param(Gain) already exists.",
              messageOf([&] { config.addParam(&other); }));
    EXPECT_EQ(&gain, config.getParam("Gain"));
    EXPECT_EQ(nullptr, config.getParam("gain"));
}

// Connector, number and model: GigeDescriptor.EqualityStopsBeforeTheSerialNumberAtTheFirst...
TEST(DeviceDescriptor, EqualityComparesSerialNumbers) {
    const XEVDeviceDescriptorUsb a = descriptor(USB3, "Kestrel", 5, 1);
    EXPECT_TRUE(a == descriptor(USB3, "Kestrel", 5, 1));
    EXPECT_TRUE(a != descriptor(USB3, "Kestrel", 6, 1));
}
