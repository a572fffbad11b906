#include "Gige/GenicamXml.h"
#include "Gige/GenicamEnumeration.h"
#include "Gige/GenicamNumericFeature.h"
#include "XEVException.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

namespace XEVLibrary {
namespace {

// A small description with one element of each kind and the traps a camera's
// file may hold: a duplicate name, nameless elements, a register without
// access mode, a name that is both a feature and a command.
const char* const Description = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="Test">
  <Group Comment="Categories">
    <Category Name="Root"><pFeature>Width</pFeature><pFeature>DebugControl</pFeature></Category>
    <Category Name="DebugControl"><pFeature>DebugLevel</pFeature></Category>
    <Category><pFeature>Width</pFeature></Category>
  </Group>
  <Integer Name="Width" NameSpace="Standard">
    <Visibility>Expert</Visibility><pValue>WidthReg</pValue>
    <Min>010</Min><Max>100</Max><Inc>4</Inc>
  </Integer>
  <Integer Name="Width"><pValue>OtherReg</pValue><Min>0</Min><Max>1</Max></Integer>
  <Integer><pValue>WidthReg</pValue></Integer>
  <Integer Name="Count"><pValue>CountReg</pValue><Min>0</Min><Max>4294967295</Max></Integer>
  <Integer Name="DebugLevel"><pValue>DebugReg</pValue><Min>0</Min><Max>9</Max><Inc>1</Inc></Integer>
  <Integer Name="Hidden"><Visibility>Invisible</Visibility><pValue>HiddenReg</pValue></Integer>
  <Integer Name="Start"><pValue>StartReg</pValue></Integer>
  <Float Name="Gain"><pValue>GainReg</pValue><Min>0.5</Min><Max>16</Max><Inc>0.25</Inc></Float>
  <Enumeration Name="Mode"><pValue>ModeReg</pValue>
    <EnumEntry Name="Off"><Value>0</Value></EnumEntry>
    <EnumEntry Name="On"><Value>0x10</Value></EnumEntry>
  </Enumeration>
  <Enumeration Name="Format"><pValue>ModeReg</pValue>
    <EnumEntry Name="Mono16"><Value>17825799</Value></EnumEntry>
  </Enumeration>
  <String Name="Serial"><pValue>SerialReg</pValue></String>
  <Command Name="Start"><pValue>StartReg</pValue><CommandValue>0x1</CommandValue></Command>
  <IntReg Name="WidthReg"><Address>0x0D04</Address><Length>4</Length><AccessMode>RW</AccessMode></IntReg>
  <IntReg Name="WidthReg"><Address>0x1</Address><AccessMode>RO</AccessMode></IntReg>
  <IntReg Name="CountReg"><Address>0x10</Address><AccessMode>RW</AccessMode></IntReg>
  <IntReg Name="DebugReg"><Address>0x14</Address><AccessMode>RW</AccessMode></IntReg>
  <IntReg Name="HiddenReg"><Address>0x18</Address><AccessMode>RW</AccessMode></IntReg>
  <IntReg Name="StartReg"><Address>0x1C</Address><AccessMode>WO</AccessMode></IntReg>
  <FloatReg Name="GainReg"><Address>0x20</Address><AccessMode>RW</AccessMode></FloatReg>
  <IntReg Name="ModeReg"><Address>0x24</Address></IntReg>
  <StringReg Name="SerialReg"><Address>0x48</Address><Length>16</Length></StringReg>
</RegisterDescription>)";

std::vector<char> Text(const std::string& text, bool finalZero) {
    std::vector<char> bytes(text.begin(), text.end());
    if (finalZero)
        bytes.push_back('\0');
    return bytes;
}

class GenicamXmlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(xml.Parse(Text(Description, false))); }

    std::string Manual(const std::string& name) {
        std::ostringstream os;
        xml.FeatureManual(name, os);
        return os.str();
    }

    GenicamXml xml;
};

template <class Error, class Action>
std::string MessageOf(Action action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

TEST_F(GenicamXmlTest, FirstDefinitionHoldsAndNamelessElementsAreSkipped) {
    GenicamXml withZero;
    ASSERT_TRUE(withZero.Parse(Text(Description, true)));
    EXPECT_EQ(std::distance(withZero.FeaturesBegin(), withZero.FeaturesEnd()),
              std::distance(xml.FeaturesBegin(), xml.FeaturesEnd()));
    EXPECT_EQ(std::distance(xml.CategoriesBegin(), xml.CategoriesEnd()), 2);
    EXPECT_EQ(xml.Root()->FeatureNames(), (std::vector<std::string>{"Width", "DebugControl"}));
    EXPECT_EQ(xml.GetFeature("Width")->RegName(), "WidthReg");
    EXPECT_EQ(xml.GetFeatureRegister("Width")->Address(), 0x0D04u);
    EXPECT_EQ(xml.GetFeature("Width")->NameSpace(), "Standard");
    EXPECT_EQ(xml.GetFeature("Count")->NameSpace(), "Custom");
    EXPECT_EQ(xml.GetFeature("Width")->Visibility(), Feature::Expert);
    EXPECT_EQ(dynamic_cast<const IntFeature*>(xml.GetFeature("Width"))->Min(), 10u);
}

TEST_F(GenicamXmlTest, IntegersAreCheckedAgainstRangeAndStep) {
    const Feature* width = xml.GetFeature("Width");
    EXPECT_EQ(width->FeatureValueFromString("18"), 18u);
    EXPECT_EQ(width->FeatureValueFromDouble(98.9), 98u);
    EXPECT_EQ(width->FeatureValueAsString(4294967295u), "4294967295");
    EXPECT_EQ(MessageOf<std::out_of_range>([&] { width->FeatureValueFromString("20"); }),
              " value(20) must be in the range [10, 100] by step of 4");
    EXPECT_EQ(MessageOf<std::out_of_range>([&] { width->FeatureValueFromDouble(101.0); }),
              " value(101.000000) must be in the range [10, 100] by step of 4");
    EXPECT_EQ(MessageOf<std::invalid_argument>([&] { width->FeatureValueFromString("wide"); }),
              "stoul");
    // Without Inc every value of the range is taken; beyond 32 bits nothing wraps.
    const Feature* count = xml.GetFeature("Count");
    EXPECT_EQ(count->FeatureValueFromString("4294967295"), 4294967295u);
    EXPECT_EQ(count->FeatureValueFromDouble(7.0), 7u);
    EXPECT_THROW(count->FeatureValueFromString("4294967296"), std::out_of_range);
    EXPECT_THROW(count->FeatureValueFromDouble(-1.0), std::out_of_range);
    EXPECT_THROW(width->FeatureValueFromDouble(4294967306.0), std::out_of_range);
}

TEST_F(GenicamXmlTest, FloatsAndEnumerationsConvertRegisterValues) {
    const Feature* gain = xml.GetFeature("Gain");
    EXPECT_EQ(gain->FeatureValueFromDouble(1.5), 0x3FC00000u); // 1.5 in single precision
    EXPECT_EQ(gain->FeatureValueFromString("16"), 0x41800000u);
    EXPECT_EQ(gain->FeatureValueAsString(0x3FC00000u), "1.500000");
    EXPECT_DOUBLE_EQ(gain->FeatureValueAsDouble(0x40200000u), 2.5);
    EXPECT_EQ(MessageOf<std::out_of_range>([&] { gain->FeatureValueFromDouble(0.25); }),
              " value(0.250000) must be in the range [0.500000, 16.000000] by step of 0.250000");

    const Feature* mode = xml.GetFeature("Mode");
    EXPECT_EQ(mode->FeatureValueFromString("On"), 16u);
    EXPECT_EQ(mode->FeatureValueAsString(16), "On");
    EXPECT_EQ(mode->FeatureValueAsString(3), "");
    EXPECT_EQ(mode->FeatureValueAsDouble(16), 16.0);
    EXPECT_EQ(mode->FeatureValueAsDouble(3), 0.0);
    EXPECT_EQ(MessageOf<std::invalid_argument>([&] { mode->FeatureValueFromString("Auto"); }),
              " value(Auto) is not one of [Off| On]");
    EXPECT_FALSE(mode->IsInert());
    EXPECT_FALSE(mode->IsContinuous());
    EXPECT_TRUE(xml.GetFeature("Format")->IsInert());
}

TEST_F(GenicamXmlTest, ManualsAccessAndNameMaps) {
    EXPECT_EQ(Manual("Width"), "RW\tInteger \n\t\t[min: 10, max: 100, Step: 4]");
    EXPECT_EQ(Manual("Gain"), "RW\tFloat \n\t\t[min: 0.5, max: 16, Step: 0.25]");
    EXPECT_EQ(Manual("Mode"), "RO\tEnum \n\t\t[Off| On]");
    EXPECT_EQ(Manual("Format"), "RO\tEnum \n\t\t[Mono16] - Inert");
    EXPECT_EQ(Manual("Serial"), "RO\tString \n\t\t[Serial]");
    EXPECT_EQ(Manual("Start"), "String \n\t\t[Start]");
    EXPECT_EQ(Manual("Hidden"), "");
    EXPECT_EQ(Manual("Nothing"), "");

    EXPECT_TRUE(xml.GetFeature("Width")->IsMutable());
    EXPECT_FALSE(xml.GetFeature("Mode")->IsMutable()); // no AccessMode: read-only
    EXPECT_FALSE(xml.GetFeature("Hidden")->IsMutable());
    EXPECT_TRUE(xml.GetCommand("Start")->IsMutable());
    EXPECT_TRUE(xml.CommandExist("Start"));
    EXPECT_FALSE(xml.FeatureExist("Start"));
    EXPECT_TRUE(xml.FeatureExist("Count"));
    EXPECT_EQ(xml.GetCommandRegister("Start")->Address(), 0x1Cu);

    using Map = std::map<std::string, unsigned int>;
    EXPECT_EQ(xml.FeaturesNames2Reg(), (Map{{"Count", 0x10},
                                            {"Format", 0x24},
                                            {"Gain", 0x20},
                                            {"Mode", 0x24},
                                            {"Serial", 0x48},
                                            {"Width", 0xD04}}));
    EXPECT_EQ(xml.WritableFeaturesNames2Reg(),
              (Map{{"Count", 0x10}, {"DebugLevel", 0x14}, {"Gain", 0x20}, {"Width", 0xD04}}));
}

TEST_F(GenicamXmlTest, UnknownNamesAreReportedByName) {
    EXPECT_EQ(xml.GetCommand(std::string("Stop")), nullptr);
    EXPECT_EQ(MessageOf<XEVException>([&] { xml.GetFeature("Height"); }),
              "Error : The camera's description has no feature(Height).");
    EXPECT_EQ(MessageOf<XEVException>([&] { xml.GetCategory("Video"); }),
              "Error : The camera's description has no category(Video).");
}

TEST(GenicamXmlParse, UntrustedTextsAreRefusedCleanly) {
    GenicamXml missingRegister;
    EXPECT_EQ(MessageOf<XEVException>([&] {
                  missingRegister.Parse(Text("<RegisterDescription><Integer Name=\"Width\">"
                                             "<pValue>WidthReg</pValue></Integer>"
                                             "</RegisterDescription>",
                                             false));
              }),
              "Error : The camera's description has no register(WidthReg) for feature(Width).");
    for (const std::string& text : std::vector<std::string>{
             "", "<RegisterDescription><Integer Name=\"a\"></RegisterDescription>", "<Other/>",
             std::string(100000, '<'), "<a>" + std::string(3000, '<') + "b"}) {
        GenicamXml xml;
        EXPECT_FALSE(xml.Parse(Text(text, false))) << text.substr(0, 40);
    }
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    GenicamXml xml;
    EXPECT_FALSE(xml.Parse(Text(deep, false)));
}

} // namespace
} // namespace XEVLibrary
