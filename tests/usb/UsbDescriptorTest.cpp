#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVEnumParam.h"
#include "XEVExposureParamKestrel.h"
#include "XEVModelConfiguration.h"
#include "XEVNumericParam.h"
#include "device/DeviceImpl.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace XEVLibrary;

namespace {

std::vector<std::shared_ptr<XEVParam>> adapt(const XEVDeviceDescriptorUsb& d,
                                             XEVModelConfiguration& configuration,
                                             DeviceImpl* impl = nullptr) {
    std::vector<std::shared_ptr<XEVParam>> created;
    d.adaptConfiguration(impl, configuration, created);
    return created;
}

XEVDeviceDescriptorUsb descriptor(ConnectorType type, const std::string& model, FxType fx,
                                  Capacity capacity = 0x8000, uint16_t firmware = 0x00C5) {
    XEVDeviceDescriptorUsb d(type, 0);
    d.setModelId(model);
    d.setFxType(fx);
    d.setCapacity(capacity);
    d.setFirmwareVersion(firmware);
    d.setBcdUSB(type == USB3 ? 0x0300 : 0x0200);
    return d;
}

XEVModelConfiguration catalogConfiguration(const std::string& model, ConnectorType type) {
    auto* catalog = XEVCatalog::getInstance();
    for (unsigned i = 0; i < catalog->modelCount(); ++i) {
        auto* configuration = catalog->getModelConfiguration(i);
        if (configuration->modelId() == model && configuration->connectorType() == type)
            return *configuration;
    }
    throw std::runtime_error("no such configuration " + model);
}

double maxOf(const XEVModelConfiguration& configuration, const char* name) {
    return static_cast<const XEVNumericParam*>(configuration.getParam(name))->userMax();
}

std::vector<std::string> labels(const XEVParam* param) {
    std::vector<std::string> result;
    for (const auto& entry : static_cast<const XEVEnumParam*>(param)->labelsByValue())
        result.push_back(entry.second);
    return result;
}

bool listed(const XEVModelConfiguration& configuration, const XEVParam* param) {
    return std::find(configuration.begin(), configuration.end(), param) != configuration.end();
}

} // namespace

// The full text of a USB 3.0 camera: UsbDeviceTest.ManagerRefusesACameraHeldByAnotherProgram.
TEST(UsbDescriptor, Text) {
    XEVDeviceDescriptorUsb d = descriptor(USB3, "Kestrel", FX2);
    d.setSerialNumber(0xABCDEF);
    d.setUsbFirmwareVersion(0x010203);
    d.setBcdUSB(0x0210);
    EXPECT_EQ(
        "USB 3.0 (0) -- [Model:Kestrel] [FWVer:3.5] [SerNum:abcdef] [FX2; USB2; USB FW: 1.2.3]",
        d.toString());
    // No serial: no serial, bridge or USB firmware block; no firmware: no FWVer block.
    d.setSerialNumber(0);
    d.setFirmwareVersion(0);
    EXPECT_EQ("USB 3.0 (0) -- [Model:Kestrel]", d.toString());
}

// Three-digit fields at fixed places; ten characters suffice. Too short for a
// field, or a field without digits: the exceptions of the standard conversions.
TEST(UsbDescriptor, FormatUsbFwToInt) {
    const std::pair<const char*, uint32_t> good[] = {{"v12.x034.56", 0x0C2238},
                                                     {"v001.002.0", 0x010200}};
    for (const auto& g : good)
        EXPECT_EQ(g.second, FormatUsbFwToInt(g.first)) << g.first;
    const std::pair<const char*, const char*> bad[] = {{"v001.002", "basic_string::substr"},
                                                       {"v001.002.", "stoi"}};
    for (const auto& b : bad)
        EXPECT_EQ(0u, XEVTest::messageOf([&] { FormatUsbFwToInt(b.first); }).rfind(b.second, 0))
            << b.first;
}

TEST(UsbDescriptorAdapt, JacanaOnTheNewBridgeTakesTheSensorSize) {
    auto configuration = catalogConfiguration(XEVCatalog::Jacana, USB3);
    const double catalogMax = maxOf(configuration, XEVCatalog::NUMBER_COLUMN);
    const XEVParam* catalogColumns = configuration.getParam(XEVCatalog::NUMBER_COLUMN);
    auto d = descriptor(USB3, XEVCatalog::Jacana, FX3);
    d.SetSensorWidth(336);
    d.SetSensorHeight(264);
    const auto created = adapt(d, configuration); // keeps the copies alive
    EXPECT_EQ(4u, created.size());
    const std::pair<const char*, double> limits[] = {{XEVCatalog::NUMBER_COLUMN, 336},
                                                     {XEVCatalog::FIRST_COLUMN, 328},
                                                     {XEVCatalog::NUMBER_LINE, 264},
                                                     {XEVCatalog::FIRST_LINE, 256}};
    for (const auto& l : limits) {
        ASSERT_TRUE(configuration.getParam(l.first)) << l.first;
        EXPECT_EQ(l.second, maxOf(configuration, l.first)) << l.first;
        EXPECT_TRUE(listed(configuration, configuration.getParam(l.first))) << l.first;
    }
    EXPECT_EQ(42, configuration.defaultRegistry()[8]);
    EXPECT_EQ(33, configuration.defaultRegistry()[10]);
    // The catalog's own parameter is not touched.
    EXPECT_EQ(catalogMax, static_cast<const XEVNumericParam*>(catalogColumns)->userMax());
    EXPECT_EQ(catalogConfiguration(XEVCatalog::Jacana, USB3).paramCount(),
              configuration.paramCount());

    // A special value of a catalog parameter reaches its copy.
    XEVModelConfiguration own(USB3, XEVCatalog::Jacana, 336, 264);
    std::vector<std::unique_ptr<XEVNumericParam>> window;
    for (const auto& l : limits)
        own.addParam(window.emplace_back(new XEVNumericParam(l.first, 8, 0, 8, 8, 0)).get());
    window[0]->setSpecificLabel(16, "Full");
    const auto ownCreated = adapt(d, own);
    const auto* columns =
        static_cast<const XEVNumericParam*>(own.getParam(XEVCatalog::NUMBER_COLUMN));
    EXPECT_NE(window[0].get(), columns);
    EXPECT_EQ("Full", columns->specificLabel());
    EXPECT_EQ(16, columns->specificValue());

    auto old = catalogConfiguration(XEVCatalog::Jacana, USB2);
    auto d2 = descriptor(USB2, XEVCatalog::Jacana, FX2);
    d2.SetSensorWidth(336);
    EXPECT_TRUE(adapt(d2, old).empty());
    EXPECT_EQ(catalogMax, maxOf(old, XEVCatalog::NUMBER_COLUMN));
}

TEST(UsbDescriptorAdapt, PixelClocksOfANewBridgeOnAUsb2Link) {
    const std::vector<std::string> catalogClocks =
        labels(catalogConfiguration(XEVCatalog::Heron, USB2).getParam(XEVCatalog::FREQ));
    for (const std::string& model : {XEVCatalog::Heron, XEVCatalog::Ibis}) {
        SCOPED_TRACE(model);
        auto configuration = catalogConfiguration(model, USB2);
        const XEVParam* old = configuration.getParam(XEVCatalog::FREQ);
        const auto created = adapt(descriptor(USB2, model, FX3), configuration); // keeps it alive
        ASSERT_EQ(1u, created.size());
        const XEVParam* clock = configuration.getParam(XEVCatalog::FREQ);
        EXPECT_NE(old, clock);
        EXPECT_EQ(clock, *(configuration.end() - 1));
        EXPECT_FALSE(listed(configuration, old));
        // The camera's clock codes: 12.5 MHz is 12, 16.666 is 14, 20 is 15, 25 is 8.
        std::vector<std::pair<double, int>> codes;
        for (const auto& entry : static_cast<const XEVEnumParam*>(clock)->labelsByValue())
            codes.emplace_back(entry.first, clock->valueToRegVal(entry.first));
        EXPECT_EQ(
            (std::vector<std::pair<double, int>>{{12.5, 12}, {16.666, 14}, {20, 15}, {25, 8}}),
            codes);
        EXPECT_EQ(1u, clock->regAddr());
        EXPECT_EQ(4u, clock->size());
        EXPECT_EQ(catalogClocks, labels(old)); // the catalog still holds its own
    }
    // On a USB 3.0 link, or on the older bridge, the catalog's clocks stay.
    for (auto c : {std::make_pair(USB3, FX3), std::make_pair(USB2, FX2)}) {
        auto configuration = catalogConfiguration(XEVCatalog::Heron, c.first);
        const XEVParam* old = configuration.getParam(XEVCatalog::FREQ);
        EXPECT_TRUE(adapt(descriptor(c.first, XEVCatalog::Heron, c.second), configuration).empty());
        EXPECT_EQ(old, configuration.getParam(XEVCatalog::FREQ));
    }
}

TEST(UsbDescriptorAdapt, KestrelExposureModeAndTrigger) {
    const struct {
        Capacity capacity;
        uint16_t firmware;
        bool fineStep, longExposure, gated, soft;
    } cases[] = {{0x862C, 0x00C4, true, true, true, true},     // 3.4
                 {0x8000, 0x0100, true, false, false, false},  // 4.0
                 {0x8008, 0x00CA, false, true, false, false},  // "3.10" is below "3.4" as a text
                 {0x8004, 0x00C3, false, false, false, true}}; // 3.3
    const std::vector<std::string> plainTriggers = {"Disabled", "Input", "Output"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firmware);
        auto configuration = catalogConfiguration(XEVCatalog::Kestrel, USB3);
        const std::size_t before = configuration.paramCount();
        const XEVParam* catalogTrigger = configuration.getParam(XEVCatalog::TRIG_MODE);
        DeviceImpl impl;
        auto created = adapt(descriptor(USB3, XEVCatalog::Kestrel, FX3, c.capacity, c.firmware),
                             configuration, &impl);
        auto* exposure =
            dynamic_cast<XEVExposureParamKestrel*>(configuration.getParam(XEVCatalog::EXPO_TIME));
        ASSERT_TRUE(exposure);
        EXPECT_TRUE(listed(configuration, exposure));
        std::vector<std::string> modes{"Global Shutter"}, triggers = plainTriggers;
        if (c.gated)
            modes.push_back("Gated");
        if (c.soft)
            triggers.push_back("Soft");
        EXPECT_EQ(modes, labels(configuration.getParam(XEVCatalog::MODE)));
        EXPECT_EQ(triggers, labels(configuration.getParam(XEVCatalog::TRIG_MODE)));
        EXPECT_EQ(plainTriggers, labels(catalogTrigger));
        EXPECT_EQ(before + 2, configuration.paramCount());

        // Fine steps keep 150.2 us to 0.4 us in the logarithmic ranges; without
        // them it becomes a multiple of 100 us.
        uint8_t registry[16] = {};
        EXPECT_NEAR(c.fineStep ? 150.2 : 200.0, exposure->setValue(150.2, registry), 0.21);
        // The signal reaches the parameter: linear ranges, beyond 220 ms only
        // with the long exposure option. (Gated ranges: UsbDeviceTest.KestrelCouplingRules.)
        impl.sensorResponseSignal(true);
        const double longest = exposure->setValue(300000.0, registry);
        if (c.longExposure && c.fineStep)
            EXPECT_EQ(300000.0, longest);
        else
            EXPECT_LE(longest, 220020.0);
        EXPECT_EQ(10.0, exposure->setValue(5.0, registry));
        // Once the parameters are gone, the signals reach nobody.
        created.clear();
        impl.modeSignal(false);
        impl.sensorResponseSignal(false);
        impl.gainSignal(true);
        impl.triggerSignal(true);
    }
}
