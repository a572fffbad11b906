#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVEnumParam.h"
#include "XEVExposureParamKestrel.h"
#include "XEVModelConfiguration.h"
#include "XEVNumericParam.h"
#include "device/DeviceImpl.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace XEVLibrary;

namespace {

std::vector<std::shared_ptr<XEVParam>> adapt(const XEVDeviceDescriptorUsb& d, DeviceImpl* impl,
                                             XEVModelConfiguration& configuration) {
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

TEST(UsbDescriptor, ConstructionAndCopies) {
    XEVDeviceDescriptorUsb empty;
    EXPECT_EQ(USB2, empty.connectorType());
    EXPECT_EQ(255, empty.connectorNumber());
    EXPECT_EQ("", empty.modelId());
    EXPECT_EQ(0u, empty.flags());
    EXPECT_EQ(FX2, empty.fxType());
    EXPECT_EQ(0, empty.capacity());
    EXPECT_EQ(0, empty.SensorWidth());
    EXPECT_FALSE(empty.usbDevice());

    XEVDeviceDescriptorUsb d = descriptor(USB3, "Kestrel", FX3, 0x862C);
    d.setSerialNumber(0x1234);
    d.setFlags(1);
    d.setUsbFirmwareVersion(0x010203);
    d.SetSensorWidth(640);
    d.SetSensorHeight(512);
    XEVDeviceDescriptorUsb copy(d);
    XEVDeviceDescriptorUsb assigned;
    assigned = d;
    for (const auto* c : {&copy, &assigned}) {
        EXPECT_EQ(d.toString(), c->toString());
        EXPECT_EQ(1u, c->flags());
        EXPECT_EQ(0x862C, c->capacity());
        EXPECT_EQ(512, c->SensorHeight());
        EXPECT_EQ(0x010203u, c->usbFirmwareVersion());
    }
    EXPECT_TRUE(d.hasSoftTrigger());
    EXPECT_TRUE(d.hasLongExposure());
    EXPECT_TRUE(d.hasGated());
    EXPECT_TRUE(d.hasExtendedFPS());
    EXPECT_TRUE(d.hasTEC());
    EXPECT_FALSE(empty.hasTEC());
}

TEST(UsbDescriptor, Texts) {
    XEVDeviceDescriptorUsb d = descriptor(USB3, "Kestrel", FX3);
    d.setSerialNumber(0x1234);
    d.setUsbFirmwareVersion(0x010203);
    EXPECT_EQ("USB 3.0 (0) -- [Model:Kestrel] [FWVer:3.5] [SerNum:1234] [FX3; USB3; USB FW: 1.2.3]",
              d.toString());
    EXPECT_EQ("3.5", d.firmwareVersionAsString());
    EXPECT_EQ("4660", d.serialNumberAsString());
    EXPECT_EQ("1.2.3", d.usbFirmwareVersionStr());

    d.setBcdUSB(0x0210);
    d.setFxType(FX2);
    d.setNumber(7);
    d.setSerialNumber(0xABCDEF);
    EXPECT_EQ(
        "USB 3.0 (7) -- [Model:Kestrel] [FWVer:3.5] [SerNum:abcdef] [FX2; USB2; USB FW: 1.2.3]",
        d.toString());

    // No serial: no serial, bridge or USB firmware block; no firmware: no FWVer block.
    d.setSerialNumber(0);
    d.setFirmwareVersion(0);
    d.setModelId("");
    EXPECT_EQ("USB 3.0 (7) -- [Model:Unknown]", d.toString());
    d.setFirmwareVersion(0x0040);
    EXPECT_EQ("1.0", d.firmwareVersionAsString());
    EXPECT_EQ("USB 2.0 (255) -- [Model:Unknown]", XEVDeviceDescriptorUsb().toString());
}

TEST(UsbDescriptor, Ordering) {
    XEVDeviceDescriptorUsb a = descriptor(USB2, "Heron", FX2);
    XEVDeviceDescriptorUsb b = a;
    b.setFirmwareVersion(0x0001);
    b.setCapacity(0x8400);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);
    struct Change {
        void (*apply)(XEVDeviceDescriptorUsb&);
    };
    const Change changes[] = {
        {[](XEVDeviceDescriptorUsb& d) { d = XEVDeviceDescriptorUsb(USB3, 0); }},
        {[](XEVDeviceDescriptorUsb& d) { d.setNumber(1); }},
        {[](XEVDeviceDescriptorUsb& d) { d.setModelId("Ibis"); }},
        {[](XEVDeviceDescriptorUsb& d) { d.setSerialNumber(1); }},
        {[](XEVDeviceDescriptorUsb& d) { d.setFlags(1); }},
    };
    for (const auto& change : changes) {
        XEVDeviceDescriptorUsb bigger = a;
        change.apply(bigger);
        EXPECT_TRUE(a < bigger);
        EXPECT_FALSE(bigger < a);
    }
    // The connector number decides before the model id.
    XEVDeviceDescriptorUsb first = a, second = a;
    first.setModelId("Zzz");
    second.setNumber(1);
    EXPECT_TRUE(first < second);
}

TEST(UsbDescriptor, FormatUsbFwToInt) {
    EXPECT_EQ(0x2010Au, FormatUsbFwToInt("v002.001.010"));
    EXPECT_EQ(0x010203u, FormatUsbFwToInt("v001.002.003"));
    EXPECT_EQ(0x0C2238u, FormatUsbFwToInt("v12.x034.56"));  // a field stops at its first non-digit
    EXPECT_EQ(0x010200u, FormatUsbFwToInt("v001.002.0"));   // ten characters suffice
    EXPECT_EQ(0x00FF01u, FormatUsbFwToInt("v  0+255 1xx")); // blanks and signs allowed

    struct Failure {
        const char* text;
        bool outOfRange;
    };
    for (const Failure& f :
         {Failure{"v001.002", true}, Failure{"", true}, Failure{"v001.002.", false},
          Failure{"vabc.002.003", false}, Failure{"v001.xyz.003", false}}) {
        SCOPED_TRACE(f.text);
        if (f.outOfRange) {
            try {
                FormatUsbFwToInt(f.text);
                ADD_FAILURE() << "no exception";
            } catch (const std::out_of_range& error) {
                EXPECT_EQ(0, std::string(error.what()).rfind("basic_string::substr", 0));
            }
        } else {
            try {
                FormatUsbFwToInt(f.text);
                ADD_FAILURE() << "no exception";
            } catch (const std::invalid_argument& error) {
                EXPECT_STREQ("stoi", error.what());
            }
        }
    }
}

TEST(UsbDescriptorAdapt, JacanaOnTheNewBridgeTakesTheSensorSize) {
    auto configuration = catalogConfiguration(XEVCatalog::Jacana, USB3);
    const auto* catalogColumns =
        static_cast<const XEVNumericParam*>(configuration.getParam(XEVCatalog::NUMBER_COLUMN));
    const double catalogMax = catalogColumns->userMax();
    auto d = descriptor(USB3, XEVCatalog::Jacana, FX3);
    d.SetSensorWidth(336);
    d.SetSensorHeight(264);
    const auto created = adapt(d, nullptr, configuration);
    EXPECT_EQ(4u, created.size());
    struct Limit {
        const char* name;
        double max;
    };
    for (const Limit& l :
         {Limit{XEVCatalog::NUMBER_COLUMN, 336}, Limit{XEVCatalog::FIRST_COLUMN, 328},
          Limit{XEVCatalog::NUMBER_LINE, 264}, Limit{XEVCatalog::FIRST_LINE, 256}}) {
        SCOPED_TRACE(l.name);
        const XEVParam* param = configuration.getParam(l.name);
        ASSERT_TRUE(param);
        EXPECT_EQ(l.max, static_cast<const XEVNumericParam*>(param)->userMax());
        EXPECT_TRUE(listed(configuration, param));
    }
    EXPECT_EQ(42, configuration.defaultRegistry()[8]);
    EXPECT_EQ(33, configuration.defaultRegistry()[10]);
    // The catalog's own parameter is not touched.
    EXPECT_EQ(catalogMax, catalogColumns->userMax());
    EXPECT_EQ(catalogConfiguration(XEVCatalog::Jacana, USB3).paramCount(),
              configuration.paramCount());

    auto old = catalogConfiguration(XEVCatalog::Jacana, USB2);
    auto d2 = descriptor(USB2, XEVCatalog::Jacana, FX2);
    d2.SetSensorWidth(336);
    EXPECT_TRUE(adapt(d2, nullptr, old).empty());
    EXPECT_EQ(
        catalogMax,
        static_cast<const XEVNumericParam*>(old.getParam(XEVCatalog::NUMBER_COLUMN))->userMax());
}

TEST(UsbDescriptorAdapt, PixelClocksOfANewBridgeOnAUsb2Link) {
    const std::vector<std::string> catalogClocks =
        labels(catalogConfiguration(XEVCatalog::Heron, USB2).getParam(XEVCatalog::FREQ));
    for (const std::string& model : {XEVCatalog::Heron, XEVCatalog::Ibis}) {
        SCOPED_TRACE(model);
        auto configuration = catalogConfiguration(model, USB2);
        const XEVParam* old = configuration.getParam(XEVCatalog::FREQ);
        const auto created = adapt(descriptor(USB2, model, FX3), nullptr, configuration);
        ASSERT_EQ(1u, created.size());
        const XEVParam* clock = configuration.getParam(XEVCatalog::FREQ);
        EXPECT_NE(old, clock);
        EXPECT_EQ(clock, *(configuration.end() - 1));
        EXPECT_FALSE(listed(configuration, old));
        const auto& byValue = static_cast<const XEVEnumParam*>(clock)->labelsByValue();
        std::vector<double> values;
        for (const auto& entry : byValue)
            values.push_back(entry.first);
        EXPECT_EQ((std::vector<double>{12.5, 16.666, 20.0, 25.0}), values);
        EXPECT_EQ(1u, clock->regAddr());
        EXPECT_EQ(4u, clock->size());
        // The catalog still holds its own parameter.
        EXPECT_EQ(catalogClocks, labels(old));
    }
    // On a USB 3.0 link, or on the older bridge, the catalog's clocks stay.
    for (auto c : {std::make_pair(USB3, FX3), std::make_pair(USB2, FX2)}) {
        auto configuration = catalogConfiguration(XEVCatalog::Heron, c.first);
        const XEVParam* old = configuration.getParam(XEVCatalog::FREQ);
        EXPECT_TRUE(adapt(descriptor(c.first, XEVCatalog::Heron, c.second), nullptr, configuration)
                        .empty());
        EXPECT_EQ(old, configuration.getParam(XEVCatalog::FREQ));
    }
}

TEST(UsbDescriptorAdapt, KestrelExposureModeAndTrigger) {
    struct Case {
        Capacity capacity;
        uint16_t firmware;
        bool fineStep, longExposure;
        std::vector<std::string> modes, triggers;
    };
    const std::vector<std::string> plainTriggers = {"Disabled", "Input", "Output"};
    const std::vector<Case> cases = {
        {0x862C,
         0x00C4,
         true,
         true,
         {"Global Shutter", "Gated"},
         {"Disabled", "Input", "Output", "Soft"}},
        {0x8000, 0x0100, true, false, {"Global Shutter"}, plainTriggers}, // 4.0
        // Versions compare as texts: "3.10" and "10.0" are below "3.4".
        {0x8008, 0x00CA, false, true, {"Global Shutter"}, plainTriggers},
        {0x8020, 0x0280, false, false, {"Global Shutter", "Gated"}, plainTriggers},
        {0x8004, 0x00C3, false, false, {"Global Shutter"}, {"Disabled", "Input", "Output", "Soft"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        auto configuration = catalogConfiguration(XEVCatalog::Kestrel, USB3);
        const std::size_t before = configuration.paramCount();
        const XEVParam* catalogTrigger = configuration.getParam(XEVCatalog::TRIG_MODE);
        DeviceImpl impl;
        auto created = adapt(descriptor(USB3, XEVCatalog::Kestrel, FX3, c.capacity, c.firmware),
                             &impl, configuration);
        auto* exposure =
            dynamic_cast<XEVExposureParamKestrel*>(configuration.getParam(XEVCatalog::EXPO_TIME));
        ASSERT_TRUE(exposure);
        EXPECT_TRUE(listed(configuration, exposure));
        const XEVParam* mode = configuration.getParam(XEVCatalog::MODE);
        ASSERT_TRUE(mode);
        EXPECT_EQ(c.modes, labels(mode));
        EXPECT_EQ(c.triggers, labels(configuration.getParam(XEVCatalog::TRIG_MODE)));
        EXPECT_EQ(plainTriggers, labels(catalogTrigger));
        EXPECT_EQ(before + 2, configuration.paramCount());

        // Fine steps: 150.2 us is kept to 0.4 us in the logarithmic ranges,
        // without them it becomes a multiple of 100 us.
        uint8_t registry[16] = {};
        const double fine = exposure->setValue(150.2, registry);
        if (c.fineStep)
            EXPECT_NEAR(150.2, fine, 0.21);
        else
            EXPECT_EQ(200.0, fine);
        // The sensor-response signal reaches the parameter: linear ranges, and
        // beyond 220 ms only with the long exposure option.
        impl.sensorResponseSignal(true);
        const double longest = exposure->setValue(300000.0, registry);
        if (c.longExposure && c.fineStep)
            EXPECT_EQ(300000.0, longest);
        else
            EXPECT_LE(longest, 220020.0);
        EXPECT_EQ(10.0, exposure->setValue(5.0, registry));
        impl.modeSignal(true); // gated ranges
        EXPECT_NEAR(0.3, exposure->setValue(0.26, registry), 1e-9);
        // Once the parameters are gone, the signals reach nobody.
        created.clear();
        impl.modeSignal(false);
        impl.sensorResponseSignal(false);
        impl.gainSignal(true);
        impl.triggerSignal(true);
    }
}

TEST(UsbDescriptorAdapt, MissingCatalogParametersFailWithMapAt) {
    struct Case {
        const char* model;
        ConnectorType connector;
        FxType fx;
        Capacity capacity;
    };
    for (const Case& c : {Case{"Jacana", USB3, FX3, 0x8000}, Case{"Heron", USB2, FX3, 0x8000},
                          Case{"Ibis", USB2, FX3, 0x8000}, Case{"Kestrel", USB3, FX3, 0x8004}}) {
        SCOPED_TRACE(c.model);
        XEVModelConfiguration bare(c.connector, c.model, 640, 512);
        std::vector<std::shared_ptr<XEVParam>> kept;
        try {
            descriptor(c.connector, c.model, c.fx, c.capacity)
                .adaptConfiguration(nullptr, bare, kept);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ("map::at", error.what());
        }
    }
    // A Kestrel without the soft trigger needs no trigger parameter; the steps
    // before a failure stay made.
    XEVModelConfiguration bare(USB3, "Kestrel", 640, 512);
    auto created = adapt(descriptor(USB3, "Kestrel", FX3, 0x8000), nullptr, bare);
    EXPECT_EQ(2u, bare.paramCount());
    XEVModelConfiguration soft(USB3, "Kestrel", 640, 512);
    std::vector<std::shared_ptr<XEVParam>> kept;
    EXPECT_THROW(descriptor(USB3, "Kestrel", FX3, 0x8004).adaptConfiguration(nullptr, soft, kept),
                 std::out_of_range);
    EXPECT_EQ(2u, soft.paramCount());
    EXPECT_EQ(2u, kept.size());
}
