#include "Gige/DeviceInfo.h"
#include "XEVDeviceDescriptorGige.h"
#include "XEVException.h"
#include "XEVModelConfiguration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using namespace XEVLibrary;

namespace {

DeviceInfo discovered(const char* model, const char* version, const char* serial) {
    std::vector<uint8_t> packet(DeviceInfo::WireSize, 0);
    packet[3] = 0x03; // DISCOVERY acknowledge
    packet[44] = 10;  // current IP 10.0.0.7
    packet[47] = 7;
    std::memcpy(packet.data() + 112, model, std::strlen(model));
    std::memcpy(packet.data() + 144, version, std::strlen(version));
    std::memcpy(packet.data() + 224, serial, std::strlen(serial));
    return DeviceInfo(packet.data(), packet.size());
}

/// A USB stand-in with the same model and number, to compare against.
class UsbDescriptor : public XEVDeviceDescriptor {
public:
    UsbDescriptor(std::string model, uint8_t number)
        : m_model(std::move(model)), m_number(number) {}
    int serialReads = 0;

protected:
    ConnectorType GetConnectorType() const override { return USB3; }
    uint8_t ConnectorNumber() const override { return m_number; }
    std::string GetModelId() const override { return m_model; }
    uint16_t FirmwareVersion() const override { return 1; }
    std::string StrFirmwareVersion() const override { return "1"; }
    uint32_t GetSerialNumber() const override {
        ++const_cast<UsbDescriptor*>(this)->serialReads;
        return 1;
    }
    std::string GetStrSerialNumber() const override { return "1"; }
    uint32_t Flags() const override { return 0xffffffff; }
    void ConnectorNumber(unsigned int) override {}
    void SetModelId(const std::string&) override {}
    void FirmwareVersion(const unsigned short&) override {}
    void SetSerialNumber(const unsigned int&) override {}
    void Flags(unsigned int) override {}
    std::string ToString() const override { return "USB"; }

private:
    std::string m_model;
    uint8_t m_number;
};

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const XEVException& error) {
        return error.what();
    }
    return "no exception";
}

} // namespace

TEST(GigeDescriptor, TakesItsTextsFromTheDiscoveryRecord) {
    const XEVDeviceDescriptorGige descriptor(discovered("Kestrel-640", "2.1.0", "SN42"), 3,
                                             0xc0a80001);
    EXPECT_EQ(descriptor.connectorType(), GIGE);
    EXPECT_EQ(descriptor.connectorNumber(), 3);
    EXPECT_EQ(descriptor.modelId(), "Kestrel-640");
    EXPECT_EQ(descriptor.firmwareVersionAsString(), "2.1.0");
    EXPECT_EQ(descriptor.serialNumberAsString(), "SN42");
    EXPECT_EQ(descriptor.flags(), 0u);
    EXPECT_FALSE(descriptor.hasFlag(0));
    EXPECT_FALSE(descriptor.hasFlag(0xffffffff));
    EXPECT_EQ(descriptor.LocalIp(), 0xc0a80001u);
    EXPECT_EQ(descriptor.CurrentIp(), 0x0a000007u);
}

TEST(GigeDescriptor, NumericFirmwareAndSerialAreRefused) {
    const XEVDeviceDescriptorGige descriptor(discovered("M", "V", "S"), 0, 0);
    EXPECT_EQ(errorOf([&] { descriptor.firmwareVersion(); }),
              "Error : Gige cameras provide string firmwareVersion.\n"
              "Use firmwareVersionAsString() instead.");
    EXPECT_EQ(errorOf([&] { descriptor.serialNumber(); }),
              "Error : Gige cameras provide string serialNumbers.\n"
              "Use serialNumberAsString() instead.");
}

TEST(GigeDescriptor, SettersChangeNothing) {
    XEVDeviceDescriptorGige descriptor(discovered("M", "V", "S"), 4, 9);
    descriptor.setNumber(7);
    descriptor.setModelId("x");
    descriptor.setFirmwareVersion(3);
    descriptor.setSerialNumber(5);
    descriptor.setFlags(0xff);
    EXPECT_EQ(descriptor.connectorNumber(), 4);
    EXPECT_EQ(descriptor.modelId(), "M");
    EXPECT_EQ(descriptor.firmwareVersionAsString(), "V");
    EXPECT_EQ(descriptor.serialNumberAsString(), "S");
    EXPECT_EQ(descriptor.flags(), 0u);
}

TEST(GigeDescriptor, TextForm) {
    EXPECT_EQ(XEVDeviceDescriptorGige(discovered("M", "V", "S"), 0, 0).toString(),
              "GIGE (0) -- [Model:M] [FWVer:V] [SerNum:S]");
    EXPECT_EQ(XEVDeviceDescriptorGige(discovered("Kestrel-640", "1.0", "0042"), 255, 0).toString(),
              "GIGE (255) -- [Model:Kestrel-640] [FWVer:1.0] [SerNum:0042]");
    EXPECT_EQ(XEVDeviceDescriptorGige().toString(), "GIGE (0) -- [Model:] [FWVer:] [SerNum:]");
}

TEST(GigeDescriptor, Ordering) {
    struct {
        unsigned aNumber;
        const char* aModel;
        const char* aSerial;
        unsigned bNumber;
        const char* bModel;
        const char* bSerial;
        bool less;
        bool greater;
    } cases[] = {
        {0, "Z", "9", 1, "A", "0", true, false},   // number decides, whatever the models
        {1, "A", "0", 0, "Z", "9", false, true},   //
        {2, "A", "9", 2, "B", "0", true, false},   // then the model id
        {2, "AB", "0", 2, "A", "9", false, true},  // a prefix comes first
        {2, "A", "10", 2, "A", "9", true, false},  // then the serial text, as text
        {2, "A", "S1", 2, "A", "S1", false, false} // equal texts
    };
    for (const auto& c : cases) {
        const XEVDeviceDescriptorGige a(discovered(c.aModel, "V", c.aSerial),
                                        static_cast<unsigned char>(c.aNumber), 0);
        const XEVDeviceDescriptorGige b(discovered(c.bModel, "V", c.bSerial),
                                        static_cast<unsigned char>(c.bNumber), 0);
        EXPECT_EQ(a < b, c.less) << c.aModel << "/" << c.aSerial;
        EXPECT_EQ(b < a, c.greater) << c.bModel << "/" << c.bSerial;
    }
}

TEST(GigeDescriptor, CopyTakesEverythingAssignmentOnlyTheNumber) {
    XEVDeviceDescriptorGige source(discovered("Source", "1", "S1"), 5, 0x0a000001);
    source.SetNotReachable();
    const XEVDeviceDescriptorGige copy(source);
    EXPECT_EQ(copy.connectorNumber(), 5);
    EXPECT_EQ(copy.modelId(), "Source");
    EXPECT_EQ(copy.LocalIp(), 0x0a000001u);
    EXPECT_FALSE(copy.IsReachable());
    EXPECT_EQ(copy.Raw(), source.Raw());

    XEVDeviceDescriptorGige target(discovered("Target", "2", "T2"), 1, 0x0a000002);
    target = source;
    EXPECT_EQ(target.connectorNumber(), 5);
    EXPECT_EQ(target.modelId(), "Target");
    EXPECT_EQ(target.firmwareVersionAsString(), "2");
    EXPECT_EQ(target.serialNumberAsString(), "T2");
    EXPECT_EQ(target.LocalIp(), 0x0a000002u);
    EXPECT_TRUE(target.IsReachable());
}

TEST(GigeDescriptor, Equality) {
    const XEVDeviceDescriptorGige gige(discovered("M", "V", "S"), 0, 0);
    UsbDescriptor usb("M", 0);
    // Different connector types: unequal before any serial number is asked.
    EXPECT_FALSE(gige == usb);
    EXPECT_FALSE(usb == gige);
    EXPECT_TRUE(usb != gige);
    EXPECT_EQ(usb.serialReads, 0);

    const XEVDeviceDescriptorGige otherNumber(discovered("M", "V", "S"), 1, 0);
    const XEVDeviceDescriptorGige otherModel(discovered("N", "V", "S"), 0, 0);
    EXPECT_FALSE(gige == otherNumber);
    EXPECT_FALSE(gige == otherModel);

    // Agreeing on everything else reaches the numeric serial number.
    const XEVDeviceDescriptorGige twin(discovered("M", "W", "T"), 0, 5);
    EXPECT_EQ(errorOf([&] { (void)(gige == twin); }),
              "Error : Gige cameras provide string serialNumbers.\n"
              "Use serialNumberAsString() instead.");
}

TEST(GigeDescriptor, Compatibility) {
    const XEVModelConfiguration gigeM(GIGE, "M", 640, 512);
    const XEVModelConfiguration gigeN(GIGE, "N", 640, 512);
    const XEVModelConfiguration usbM(USB3, "M", 640, 512);
    const XEVModelConfiguration usb2M(USB2, "M", 640, 512);

    const XEVDeviceDescriptorGige named(discovered("M", "V", "S"), 0, 0);
    EXPECT_TRUE(named.isCompatibleWith(gigeM));
    EXPECT_FALSE(named.isCompatibleWith(gigeN));
    EXPECT_FALSE(named.isCompatibleWith(usbM));
    EXPECT_FALSE(named.isCompatibleWith(usb2M));

    const XEVDeviceDescriptorGige anonymous(discovered("", "V", "S"), 0, 0);
    EXPECT_TRUE(anonymous.isCompatibleWith(gigeM));
    EXPECT_TRUE(anonymous.isCompatibleWith(gigeN));
    EXPECT_FALSE(anonymous.isCompatibleWith(usbM));

    // Byte for byte: no case folding, no trimming.
    const XEVDeviceDescriptorGige lower(discovered("m", "V", "S"), 0, 0);
    const XEVDeviceDescriptorGige padded(discovered("M ", "V", "S"), 0, 0);
    EXPECT_FALSE(lower.isCompatibleWith(gigeM));
    EXPECT_FALSE(padded.isCompatibleWith(gigeM));
}
