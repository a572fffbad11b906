#include "Gige/DeviceInfo.h"
#include "TestSupport.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVModelConfiguration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

using namespace XEVLibrary;
using XEVTest::messageOf;

namespace {

const char* const NoNumericSerial =
    "Error : Gige cameras provide string serialNumbers.\nUse serialNumberAsString() instead.";

XEVDeviceDescriptorGige discovered(const char* model, const char* version, const char* serial,
                                   unsigned char number = 0, unsigned localIp = 0) {
    std::vector<uint8_t> packet(DeviceInfo::WireSize, 0);
    packet[3] = 0x03; // DISCOVERY acknowledge
    std::memcpy(packet.data() + 112, model, std::strlen(model));
    std::memcpy(packet.data() + 144, version, std::strlen(version));
    std::memcpy(packet.data() + 224, serial, std::strlen(serial));
    return XEVDeviceDescriptorGige(DeviceInfo(packet.data(), packet.size()), number, localIp);
}

} // namespace

TEST(GigeDescriptor, TakesItsTextsFromTheDiscoveryRecord) {
    const XEVDeviceDescriptorGige descriptor = discovered("Kestrel-640", "2.1.0", "SN42", 3);
    EXPECT_EQ(descriptor.toString(), "GIGE (3) -- [Model:Kestrel-640] [FWVer:2.1.0] [SerNum:SN42]");
    EXPECT_EQ(discovered("M", "V", "S", 255).toString(),
              "GIGE (255) -- [Model:M] [FWVer:V] [SerNum:S]");
}

TEST(GigeDescriptor, NumericFirmwareAndSerialAreRefused) {
    const XEVDeviceDescriptorGige descriptor = discovered("M", "V", "S", 4);
    EXPECT_EQ(messageOf([&] { descriptor.firmwareVersion(); }),
              "Error : Gige cameras provide string firmwareVersion.\n"
              "Use firmwareVersionAsString() instead.");
    EXPECT_EQ(messageOf([&] { descriptor.serialNumber(); }), NoNumericSerial);
}

TEST(GigeDescriptor, OrderedByNumberThenModelThenSerialText) {
    // In order: the number decides whatever the texts, then the model id (a
    // prefix first), then the serial number as text.
    const XEVDeviceDescriptorGige sorted[] = {
        discovered("Z", "V", "9", 0), discovered("A", "V", "0", 1),  discovered("A", "V", "10", 2),
        discovered("A", "V", "9", 2), discovered("AB", "V", "0", 2), discovered("B", "V", "0", 2)};
    for (size_t i = 0; i < std::size(sorted); ++i)
        for (size_t j = 0; j < std::size(sorted); ++j)
            EXPECT_EQ(sorted[i] < sorted[j], i < j) << i << " < " << j;
}

TEST(GigeDescriptor, CopyTakesEverythingAssignmentOnlyTheNumber) {
    XEVDeviceDescriptorGige source = discovered("Source", "1", "S1", 5, 0x0a000001);
    source.SetNotReachable();
    const XEVDeviceDescriptorGige copy(source);
    EXPECT_EQ(copy.connectorNumber(), 5);
    EXPECT_EQ(copy.LocalIp(), 0x0a000001u);
    EXPECT_FALSE(copy.IsReachable());
    EXPECT_EQ(copy.Raw(), source.Raw());
    XEVDeviceDescriptorGige target = discovered("Target", "2", "T2", 1, 0x0a000002);
    target = source;
    EXPECT_EQ(target.toString(), "GIGE (5) -- [Model:Target] [FWVer:2] [SerNum:T2]");
    EXPECT_EQ(target.LocalIp(), 0x0a000002u);
    EXPECT_TRUE(target.IsReachable());
}

TEST(GigeDescriptor, EqualityStopsBeforeTheSerialNumberAtTheFirstDifference) {
    const XEVDeviceDescriptorGige gige = discovered("M", "V", "S");
    XEVDeviceDescriptorUsb usb(USB3, 0);
    usb.setModelId("M");
    // Reaching the serial numbers would raise: the GigE one has none.
    EXPECT_FALSE(gige == usb);
    EXPECT_TRUE(usb != gige);
    EXPECT_FALSE(gige == discovered("M", "V", "S", 1));
    EXPECT_FALSE(gige == discovered("N", "V", "S"));
    EXPECT_EQ(messageOf([&] { (void)(gige == discovered("M", "W", "T", 0, 5)); }), NoNumericSerial);
}

TEST(GigeDescriptor, CompatibleWithGigeConfigurationsOfItsModelByteForByte) {
    // No case folding, no trimming; a camera that reports no model fits every GigE configuration.
    const std::tuple<const char*, ConnectorType, const char*, bool> cases[] = {
        {"M", GIGE, "M", true},  {"M", GIGE, "N", false},  {"M", USB3, "M", false},
        {"m", GIGE, "M", false}, {"M ", GIGE, "M", false}, {"", GIGE, "M", true},
        {"", USB2, "M", false}};
    for (const auto& [model, connector, configured, compatible] : cases)
        EXPECT_EQ(discovered(model, "V", "S")
                      .isCompatibleWith(XEVModelConfiguration(connector, configured, 640, 512)),
                  compatible)
            << '"' << model << "\" against " << configured;
}
