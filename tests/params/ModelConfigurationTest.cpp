#include "ParamsTestUtil.h"
#include "TestDescriptor.h"

#include "XEVEnumParam.h"
#include "XEVModelConfiguration.h"
#include "XEVNumericParam.h"

#include <cstring>
#include <memory>

using namespace XEVLibrary;
using XEVTest::messageOf;
using XEVTest::TestDescriptor;

namespace {

class WideConfiguration : public XEVModelConfiguration {
public:
    WideConfiguration() : XEVModelConfiguration(USB3, "Wide", 1, 2) {}
    uint32_t Width() const override { return 70000; }
};

} // namespace

TEST(ModelConfiguration, ManualWithoutParameters) {
    XEVModelConfiguration config(USB2, "Empty", 10, 20);
    const std::string dashes(20, '-');
    EXPECT_EQ(dashes + "\nConnector      USB 2.0\nModel          Empty\n" + dashes + "\n" + dashes,
              config.manual());
    XEVModelConfiguration odd(static_cast<ConnectorType>(7), "Odd", 10, 20);
    EXPECT_NE(std::string::npos, odd.manual().find("Connector      UNKNOWN_CONNECTOR_TYPE\n"));
}

TEST(ModelConfiguration, ManualAlignsValuesOnLongestName) {
    XEVModelConfiguration config(GIGE, "M", 10, 20);
    XEVEnumParam cds("CDS", 2, 1, 1);
    cds.addLabel(0, "Off");
    cds.addLabel(1, "On");
    XEVEnumParam histo("Histogram Threshold", 12, 0, 2);
    histo.addLabel(0, 0.025, "0.025%");
    config.addParam(&cds);
    config.addParam(&histo);
    const std::string dashes(29, '-');
    EXPECT_EQ(dashes + "\n" + "Connector" + std::string(15, ' ') + "GIGE\n" + "Model" +
                  std::string(19, ' ') + "M\n" + dashes + "\n" + "CDS :" + std::string(19, ' ') +
                  "{ On, Off }\n" + "Histogram Threshold :   { 0.025% }\n" + dashes,
              config.manual());
}

TEST(ModelConfiguration, DuplicateNameKeepsFirstParameter) {
    XEVModelConfiguration config(USB3, "Model", 640, 512);
    XEVNumericParam gain("Gain", 2, 0, 5, 0.25, 0);
    XEVNumericParam other("Gain", 3, 0, 8, 1, 0);
    EXPECT_EQ(&gain, config.addParam(&gain));
    EXPECT_EQ("CriticalError : For Model(Model), param(Gain) already exists.",
              messageOf([&] { config.addParam(&other); }));
    EXPECT_EQ(&gain, config.getParam("Gain"));
    EXPECT_EQ(1u, config.paramCount());
    EXPECT_EQ(nullptr, config.getParam("gain"));
}

TEST(ModelConfiguration, CopiesShareParametersAndCopyTables) {
    XEVModelConfiguration config(USB3, "Model", 640, 512);
    XEVNumericParam a("A", 0, 0, 8, 1, 0);
    XEVNumericParam b("B", 1, 0, 8, 1, 0);
    config.addParam(&b);
    config.addParam(&a);
    const double times[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const uint8_t registry[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(0.0, config.lineTime()[i]);
    config.setLineTime(times);
    config.setDefaultRegistry(registry);

    const XEVModelConfiguration copy(config);
    EXPECT_EQ("Model", copy.modelId());
    EXPECT_EQ(USB3, copy.connectorType());
    EXPECT_EQ(640, copy.width());
    EXPECT_EQ(512, copy.height());
    EXPECT_EQ((std::vector<XEVParam*>{&b, &a}), std::vector<XEVParam*>(copy.begin(), copy.end()));
    EXPECT_EQ(&a, copy.getParam("A"));
    EXPECT_EQ(0, std::memcmp(times, copy.lineTime(), sizeof times));
    EXPECT_EQ(0, std::memcmp(registry, copy.defaultRegistry(), sizeof registry));
    EXPECT_NE(config.defaultRegistry(), copy.defaultRegistry());
}

TEST(ModelConfiguration, SizeIsCutToSixteenBits) {
    WideConfiguration config;
    EXPECT_EQ(4464, config.width());
    EXPECT_EQ(2, config.height());
}

TEST(DeviceDescriptor, CompatibilityByConnectorAndModel) {
    const XEVModelConfiguration heron2(USB2, "Heron", 640, 512);
    const XEVModelConfiguration heron3(USB3, "Heron", 640, 512);
    const XEVModelConfiguration gige(GIGE, "HeronGigE", 640, 512);
    const struct {
        TestDescriptor descriptor;
        bool heron2, heron3, gige;
    } cases[] = {
        {TestDescriptor(USB2, "Heron"), true, false, false},
        {TestDescriptor(USB3, "Heron"), false, true, false},
        {TestDescriptor(USB3, ""), false, true, false},
        {TestDescriptor(GIGE, ""), false, false, true},
        {TestDescriptor(GIGE, "Heron"), false, false, false},
        {TestDescriptor(USB3, "heron"), false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.heron2, c.descriptor.isCompatibleWith(heron2)) << c.descriptor.toString();
        EXPECT_EQ(c.heron3, c.descriptor.isCompatibleWith(heron3)) << c.descriptor.toString();
        EXPECT_EQ(c.gige, c.descriptor.isCompatibleWith(gige)) << c.descriptor.toString();
    }
}

TEST(DeviceDescriptor, EqualityStopsAtFirstDifference) {
    TestDescriptor a(USB3, "Kestrel", 5, 1);
    EXPECT_TRUE(a == TestDescriptor(USB3, "Kestrel", 5, 1));
    EXPECT_FALSE(a == TestDescriptor(USB3, "Kestrel", 6, 1));
    EXPECT_FALSE(a == TestDescriptor(USB3, "Kestrel", 5, 2));
    EXPECT_FALSE(a == TestDescriptor(USB3, "Merlin", 5, 1));
    EXPECT_TRUE(a != TestDescriptor(USB2, "Kestrel", 5, 1));

    TestDescriptor g1(GIGE, "M", 0, 1), g2(GIGE, "N", 0, 1), g3(GIGE, "M", 0, 1);
    g1.refuseSerial = g2.refuseSerial = g3.refuseSerial = true;
    EXPECT_FALSE(g1 == g2) << "differs before the serial number is asked";
    EXPECT_EQ("Error : no numeric serial", messageOf([&] { (void)(g1 == g3); }));
    EXPECT_FALSE(a.hasFlag(0));
}

TEST(DeviceDescriptor, GivesWritableAccessToParameters) {
    XEVModelConfiguration config(USB3, "Model", 640, 512);
    XEVNumericParam a("A", 0, 0, 8, 1, 0);
    XEVNumericParam b("B", 1, 0, 8, 1, 0);
    config.addParam(&a);
    const TestDescriptor descriptor(USB3, "Model");
    descriptor.ListParams(config).push_back(&b);
    descriptor.Params(config)["B"] = &b;
    EXPECT_EQ(&b, config.getParam("B"));
    EXPECT_EQ(2u, config.paramCount());
}
