#include "ParamsTestUtil.h"

#include "XEVEnumParam.h"
#include "XEVInertParam.h"
#include "XEVMultiRangeEnumParam.h"
#include "XEVNumericParam.h"
#include "XEVTemperatureRegulationKestrelParam.h"

#include <atomic>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <thread>

using namespace XEVLibrary;
using XEVTest::messageOf;
using XEVTest::walk;

namespace {

std::string manualOf(const XEVParam& param, int indent) {
    std::ostringstream os;
    param.manual(os, indent);
    return os.str();
}

} // namespace

TEST(ParamBase, FieldWriteKeepsOtherBitsAndReadsBack) {
    XEVParam param("Field", 3, 4, 2, false);
    uint8_t registry[16] = {};
    registry[3] = 0xFF;
    EXPECT_EQ(2.0, param.setValue(2.0, registry));
    EXPECT_EQ(0xEF, registry[3]);
    EXPECT_EQ(2.0, param.value(registry));
    for (int i = 0; i < 16; ++i) {
        if (i != 3) {
            EXPECT_EQ(0, registry[i]) << i;
        }
    }
}

TEST(ParamBase, ConstructionRefusalsInOrderOfPrecedence) {
    struct Case {
        unsigned address, shift, size;
        const char* message;
    };
    const Case cases[] = {
        {20, 0, 0, "CriticalError : For parameter 'P', size does not be 0."},
        {16, 0, 1,
         "CriticalError : For parameter 'P', unvalid address(16). This address is out of "
         "registry size(16)."},
        {16, 6, 3,
         "CriticalError : For parameter 'P', unvalid address(16). This address is out of "
         "registry size(16)."},
        {0, 6, 3,
         "CriticalError : For parameter 'P', unvalid shift and size. Multi-bytes parameters "
         "unsuported."},
        {0, 0, 9,
         "CriticalError : For parameter 'P', unvalid shift and size. Multi-bytes parameters "
         "unsuported."},
        {15, 0xFFFFFFFFu, 2,
         "CriticalError : For parameter 'P', unvalid shift and size. Multi-bytes parameters "
         "unsuported."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.message, messageOf([&] { XEVParam("P", c.address, c.shift, c.size, false); }))
            << c.address << "/" << c.shift << "/" << c.size;
    EXPECT_NO_THROW(XEVParam("P", 15, 5, 3, false));
}

TEST(ParamBase, ThreeBitFieldConversionsAndTooBigWarning) {
    XEVParam param("Three", 0, 1, 3, false);
    uint8_t registry[16] = {};
    param.setValue(7.0, registry);
    EXPECT_EQ(0x0E, registry[0]);
    param.setValue(6.9, registry);
    EXPECT_EQ(0x0C, registry[0]);
    EXPECT_EQ("Warning : For parameter 'Three', unvalid cast (UserVal to RegVal), "
              "UserVal(7.500000) is too big.",
              messageOf([&] { param.setValue(7.5, registry); }));
    EXPECT_EQ(0x0C, registry[0]) << "a refused write leaves the registry unchanged";
    EXPECT_EQ("Warning : For parameter 'Three', unvalid cast (UserVal to RegVal), "
              "UserVal(nan) is too big.",
              messageOf([&] { param.setValue(std::nan(""), registry); }));
    EXPECT_EQ("Warning : For parameter 'Three', unvalid cast (UserVal to RegVal), "
              "UserVal(-3.000000) is too small.",
              messageOf([&] { param.setValue(-3.0, registry); }));
    EXPECT_EQ(0x0C, registry[0]);
}

TEST(ParamBase, InertWriteIsIgnoredEvenWithNullRegistry) {
    XEVParam param("Inert", 2, 0, 8, true);
    uint8_t registry[16] = {};
    registry[2] = 0x5A;
    EXPECT_EQ(300.0, param.setValue(300.0, registry));
    EXPECT_EQ(0x5A, registry[2]);
    EXPECT_EQ(12.0, param.setValue(12.0, nullptr));
    EXPECT_EQ(0.0, param.setValue(std::string("12"), registry));
    EXPECT_EQ(0x5A, registry[2]);
}

TEST(ParamBase, NullRegistryMessages) {
    XEVParam param("Null", 1, 0, 4, false);
    EXPECT_EQ("Error : For parameter 'Null', can't use NULL registry to read value.",
              messageOf([&] { param.value(nullptr); }));
    EXPECT_EQ("Error : For parameter 'Null', can't use NULL registry to write value.",
              messageOf([&] { param.setValue(1.0, nullptr); }));
}

TEST(ParamBase, BaseTextsAndNameOnlyConstructor) {
    XEVParam param("Text", 0, 0, 8, false);
    uint8_t registry[16] = {};
    EXPECT_EQ(42.0, param.setValue(std::string("42"), registry));
    EXPECT_EQ("42.000000", param.strValue(registry));
    EXPECT_EQ(0.0, param.strValueToValue("not a number"));
    EXPECT_EQ(0.0, param.minValue());
    EXPECT_EQ(0.0, param.maxValue());
    EXPECT_EQ(0.0, param.step());
    EXPECT_EQ("", param.valueType());

    XEVParam unbacked("Unbacked", true, true);
    EXPECT_TRUE(unbacked.isContinuous());
    EXPECT_TRUE(unbacked.isInert());
    EXPECT_EQ(0u, unbacked.regAddr());
    EXPECT_EQ(0u, unbacked.size());
    EXPECT_FALSE(param.isContinuous());
}

TEST(ParamBase, GetMaskTakesShiftModulo32) {
    EXPECT_EQ(0u, XEVParam::getMask(0));
    EXPECT_EQ(3u, XEVParam::getMask(2));
    EXPECT_EQ(255u, XEVParam::getMask(8));
    EXPECT_EQ(0x7FFFFFFFu, XEVParam::getMask(31));
    EXPECT_EQ(0u, XEVParam::getMask(32));
    EXPECT_EQ(1u, XEVParam::getMask(33));
}

TEST(ParamBase, WalkAndManualOfTwoBitField) {
    XEVParam param("Two", 0, 0, 2, false);
    EXPECT_EQ((std::vector<std::string>{"0.000000", "1.000000", "2.000000", "3.000000"}),
              walk(param));
    const std::string values = "{ 3.000000, 2.000000, 1.000000, 0.000000 }\n";
    EXPECT_EQ("Two :   " + values, manualOf(param, 0));
    EXPECT_EQ("Two :   " + values, manualOf(param, 5));
    EXPECT_EQ("Two :" + std::string(10, ' ') + values, manualOf(param, 10));
}

TEST(ParamBase, ManualOfLongWalkShowsTwoFirstAndTwoLast) {
    XEVNumericParam ten("Ten", 0, 0, 4, 1, 0);
    ten.setUserRange(0, 9);
    EXPECT_EQ(10u, walk(ten).size());
    EXPECT_EQ("Ten :   { 0, 1, ... , 8, 9 }\n", manualOf(ten, 0));
    XEVNumericParam eight("Eight", 0, 0, 4, 1, 0);
    eight.setUserRange(0, 7);
    EXPECT_EQ("Eight :   { 0, 1, ... , 6, 7 }\n", manualOf(eight, 0));
    XEVNumericParam seven("Seven", 0, 0, 4, 1, 0);
    seven.setUserRange(0, 6);
    EXPECT_EQ("Seven :   { 6, 5, 4, 3, 2, 1, 0 }\n", manualOf(seven, 0));
    XEVEnumParam none("None", 0, 0, 2);
    EXPECT_EQ("None :   {  }\n", manualOf(none, 0));
}

TEST(ParamBase, IteratorHandles) {
    XEVParam param("Two", 0, 0, 2, false);
    XEVParam::ValueIterator end = param.end();
    XEVParam::ValueIterator endCopy = end;
    ++endCopy;
    EXPECT_TRUE(endCopy == end);
    EXPECT_EQ("", *endCopy);

    XEVParam::ValueIterator it = param.begin();
    XEVParam::ValueIterator before = it++;
    EXPECT_EQ("0.000000", *before);
    EXPECT_EQ("1.000000", *it);
    XEVParam::ValueIterator copy = it;
    ++it;
    EXPECT_EQ("1.000000", *copy) << "copies advance independently";
    EXPECT_EQ("2.000000", *it);
    copy = it;
    EXPECT_TRUE(copy == it);
    XEVParam::ValueIterator& alias = copy;
    copy = alias; // self-assignment keeps the iterator
    EXPECT_EQ("2.000000", *copy);
    XEVParam::ValueIterator empty;
    EXPECT_TRUE(empty == XEVParam::ValueIterator());
    EXPECT_TRUE(empty != end);
    EXPECT_EQ("", *empty);
}

// --------------------------------------------------------------------------
// Numeric
// --------------------------------------------------------------------------

TEST(NumericParam, TextsToValues) {
    XEVNumericParam param("Num", 0, 0, 8, 1, 0);
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"12", 12},       {"  12  ", 12}, {"12 units", 12}, {"12units ", 12}, {"12,5", 12.5},
        {"12.25", 12.25}, {"-0.5", -0.5}, {"-3", -3},       {"007", 7},       {"1.", 1},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.value, param.strValueToValue(c.text)) << c.text;
    for (const char* bad : {"abc", ".5", "- 1", "1 2", "x1", "abc\n12", "12\n3"})
        EXPECT_EQ(std::string("Error : For parameter 'Num', cannot convert val(") + bad +
                      ") to UserVal.",
                  messageOf([&] { param.strValueToValue(bad); }))
            << bad;
    uint8_t registry[16] = {};
    param.setValue(std::string("12,5"), registry);
    EXPECT_EQ(13, registry[0]) << "12.5 rounds half up to register 13";
}

TEST(NumericParam, TimesInAnotherTimeUnitAreConverted) {
    // An exposure in microseconds, as the catalog declares it.
    XEVNumericParam exposure("Exposure Time", 4, 0, 8, 100, 100);
    exposure.setUnit("\265s");
    const struct {
        const char* text;
        double microseconds;
    } cases[] = {
        {"2ms", 2000},       {"2 ms", 2000},      {"2.5ms", 2500},          {"25.6ms", 25600},
        {"2000us", 2000},    {"2000\265s", 2000}, {"2000\xC2\xB5s", 2000},  {"0.0025s", 0.0025e6},
        {"2500000ns", 2500}, {"2000", 2000},      {"2000 per frame", 2000}, {"-0,5ms", -500},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.microseconds, exposure.strValueToValue(c.text)) << c.text;
    // Exact decimal shifts: the largest exposure is not pushed past its range.
    uint8_t registry[16] = {};
    exposure.setValue(std::string("25.6ms"), registry);
    EXPECT_EQ(255, registry[4]);
    EXPECT_EQ(2000.0, exposure.setValue(std::string("2ms"), registry));
    EXPECT_EQ(19, registry[4]);

    // A parameter whose unit is no time unit ignores the word, as before.
    XEVNumericParam gain("Gain", 2, 0, 8, 0.25, 0);
    EXPECT_DOUBLE_EQ(2.0, gain.strValueToValue("2ms"));
    XEVNumericParam plain("Num", 0, 0, 8, 1, 0);
    EXPECT_DOUBLE_EQ(2.0, plain.strValueToValue("2ms"));
}

TEST(ParamBase, TextsConvertToUtf8ForPrinting) {
    EXPECT_EQ(XEVParam::toUtf8("2000\265s"), "2000\xC2\xB5s");
    EXPECT_EQ(XEVParam::toUtf8("\265s, \xC2\xB5s and us"), "\xC2\xB5s, \xC2\xB5s and us");
    EXPECT_EQ(XEVParam::toUtf8("plain"), "plain");
}

TEST(NumericParam, ReportsItsRangeAndStep) {
    XEVNumericParam offset("Offset", 3, 0, 8, 0.39, 0);
    EXPECT_EQ("Numeric", offset.valueType());
    EXPECT_DOUBLE_EQ(0.0, offset.minValue());
    EXPECT_DOUBLE_EQ(255 * 0.39, offset.maxValue());
    EXPECT_DOUBLE_EQ(0.39, offset.step());
    XEVNumericParam column("First Column", 7, 0, 8, 4, 0);
    column.setUserRange(8, 632);
    EXPECT_EQ(8.0, column.minValue());
    EXPECT_EQ(632.0, column.maxValue());
    EXPECT_EQ(4.0, column.step());
}

TEST(NumericParam, MultipleAndRangeChecks) {
    XEVNumericParam two("Two", 5, 0, 8, 2, 0);
    uint8_t registry[16] = {};
    EXPECT_EQ("Error : For parameter 'Two', value(7.000000) must be a multiple of 2.000000.",
              messageOf([&] { two.setValue(7.0, registry); }));
    two.setValue(8.0, registry);
    EXPECT_EQ(4, registry[5]);
    EXPECT_EQ("Error : For parameter 'Two', value(512.000000) is out of range "
              "[0.000000;510.000000].",
              messageOf([&] { two.setValue(512.0, registry); }));
    EXPECT_EQ("Error : For parameter 'Two', value(nan) is out of range [0.000000;510.000000].",
              messageOf([&] { two.setValue(std::nan(""), registry); }));
    EXPECT_EQ(4, registry[5]);

    // The multiple test looks at the value itself, not at value - offset.
    XEVNumericParam shifted("Shifted", 0, 0, 8, 100, 100);
    EXPECT_EQ(24, shifted.valueToRegVal(2500));
    EXPECT_EQ(
        "Error : For parameter 'Shifted', value(2550.000000) must be a multiple of 100.000000.",
        messageOf([&] { shifted.valueToRegVal(2550); }));

    // A widened maximum must not wrap into the low register values.
    XEVNumericParam wide("Wide", 0, 0, 4, 1, 0);
    wide.setMaxVal(100);
    EXPECT_EQ("Error : For parameter 'Wide', value(20.000000) is out of range "
              "[0.000000;100.000000].",
              messageOf([&] { wide.valueToRegVal(20); }));
}

TEST(NumericParam, UserRangeRefusals) {
    XEVNumericParam param("Range", 0, 0, 4, 2, 1);
    EXPECT_EQ("CriticalError : For parameter 'Range', bad min and/or max UserVal(5.000000;"
              "5.000000). There are out of range [1.000000;31.000000] or min >= max.",
              messageOf([&] { param.setUserRange(5, 5); }));
    EXPECT_EQ("CriticalError : For parameter 'Range', bad min and/or max UserVal(-1.000000;"
              "5.000000). There are out of range [1.000000;31.000000] or min >= max.",
              messageOf([&] { param.setUserRange(-1, 5); }));
    EXPECT_EQ("CriticalError : For parameter 'Range', bad min and/or max UserVal(2.000000;"
              "5.000000). Their corresponding RegVal(0.500000,2.000000) are not integer.",
              messageOf([&] { param.setUserRange(2, 5); }));
    param.setUserRange(3, 7);
    EXPECT_EQ((std::vector<std::string>{"3", "5", "7"}), walk(param));

    // A negative step spans downwards from the offset: the default user
    // range is ordered, so that the parameter accepts its values.
    XEVNumericParam negative("Negative", 0, 0, 2, -1, 0);
    EXPECT_EQ(-3.0, negative.userMin());
    EXPECT_EQ(0.0, negative.userMax());
    EXPECT_EQ(2, negative.valueToRegVal(-2));
    EXPECT_EQ("CriticalError : For parameter 'Negative', bad min and/or max UserVal(-4.000000;"
              "0.000000). There are out of range [-3.000000;0.000000] or min >= max.",
              messageOf([&] { negative.setUserRange(-4, 0); }));
    EXPECT_EQ((std::vector<std::string>{"0", "-1", "-2", "-3"}), walk(negative));
}

TEST(NumericParam, ValueTexts) {
    XEVNumericParam offset("Offset", 3, 0, 8, 0.39, 0);
    offset.setUnit("% full scale");
    EXPECT_EQ(2, offset.depth());
    EXPECT_EQ("0.39% full scale", offset.valueToStrValue(offset.regValToValue(1)));

    XEVNumericParam gain("Gain", 2, 0, 5, 0.25, 0);
    gain.setUserRange(0, 7.75);
    gain.setSpecificLabel(0, "AGC");
    EXPECT_EQ("1.00", gain.valueToStrValue(1));
    EXPECT_EQ("AGC", gain.valueToStrValue(0));
    EXPECT_EQ(0.0, gain.strValueToValue("AGC"));
    EXPECT_EQ(32u, walk(gain).size());
    uint8_t registry[16] = {};
    gain.setValue(std::string("1.00"), registry);
    EXPECT_EQ(4, registry[2]);
    EXPECT_EQ("1.00", gain.strValue(registry));

    XEVNumericParam delay("Delay", 11, 0, 8, 0.05, -6.4);
    delay.setUnit("us");
    EXPECT_EQ(2, delay.depth());
    EXPECT_EQ("-6.40us", delay.valueToStrValue(delay.regValToValue(0)));
    EXPECT_EQ("6.35us", delay.valueToStrValue(delay.regValToValue(255)));

    XEVNumericParam plain("Plain", 0, 0, 8, 1, 0);
    EXPECT_EQ(0.0, plain.strValueToValue("")) << "an empty text matches the empty label";
}

// --------------------------------------------------------------------------
// Enumerated
// --------------------------------------------------------------------------

TEST(EnumParam, LabelsWalkAndConversions) {
    XEVEnumParam param("Switch", 2, 1, 2);
    param.addLabel(1, "On");
    param.addLabel(0, "Off");
    EXPECT_EQ((std::vector<std::string>{"Off", "On"}), walk(param));
    uint8_t registry[16] = {};
    param.setValue(std::string("On"), registry);
    EXPECT_EQ(0x02, registry[2]);
    EXPECT_EQ("On", param.strValue(registry));
    EXPECT_EQ("Error : For parameter 'Switch', StringVal(on) does not exist.",
              messageOf([&] { param.setValue(std::string("on"), registry); }));
    registry[2] = 0x04; // register value 2 has no label
    EXPECT_TRUE(std::isnan(param.value(registry)));
    EXPECT_EQ("Error : For parameter 'Switch', UserVal(nan) does not exist.",
              messageOf([&] { param.strValue(registry); }));
    EXPECT_EQ("Error : For parameter 'Switch', UserVal(5.000000) does not exist.",
              messageOf([&] { param.valueToRegVal(5); }));
    EXPECT_EQ("Error : For parameter 'Switch', value(7.000000) does not exist.",
              messageOf([&] { param.regValToValue(7); }));
}

TEST(EnumParam, AddLabelRefusalsInOrder) {
    XEVEnumParam param("Enum", 0, 0, 2);
    EXPECT_EQ("CriticalError : For parameter 'Enum', val(4) is out of size(2).",
              messageOf([&] { param.addLabel(4, 1.0, nullptr); }));
    EXPECT_EQ("CriticalError : For parameter 'Enum', label is NULL.",
              messageOf([&] { param.addLabel(3, 1.0, nullptr); }));
    EXPECT_EQ("CriticalError : For parameter 'Enum', label is empty.",
              messageOf([&] { param.addLabel(3, 1.0, ""); }));
    EXPECT_TRUE(walk(param).empty());
    EXPECT_TRUE(param.begin() == param.end());
}

TEST(EnumParam, ClockLabelsAndSharedValues) {
    XEVEnumParam clock("Pixel Clock", 1, 0, 4);
    clock.addLabel(12, 12.5, "12.5MHz");
    clock.addLabel(8, 25, "25MHz");
    clock.addLabel(0, 50, "50MHz");
    EXPECT_EQ((std::vector<std::string>{"12.5MHz", "25MHz", "50MHz"}), walk(clock));
    EXPECT_EQ(8, clock.valueToRegVal(25));

    // Two register values for one user value: the first added is written.
    XEVEnumParam twice("Twice", 0, 0, 2);
    twice.addLabel(2, 7.0, "Seven");
    twice.addLabel(1, 7.0, "Also seven");
    twice.addLabel(3, 7.0, "Seven again");
    EXPECT_EQ(2, twice.valueToRegVal(7.0));
    EXPECT_EQ("Seven", twice.valueToStrValue(7.0));
    EXPECT_EQ(7.0, twice.regValToValue(1));
}

// --------------------------------------------------------------------------
// Inert
// --------------------------------------------------------------------------

TEST(InertParam, ConstantWhateverTheRegistry) {
    XEVInertParam clock("Pixel Clock", 20, "20MHz");
    uint8_t registry[16];
    for (int fill : {0x00, 0xFF, 0x5A}) {
        std::fill(std::begin(registry), std::end(registry), static_cast<uint8_t>(fill));
        EXPECT_EQ(20.0, clock.value(registry));
        EXPECT_EQ("[20MHz]", clock.strValue(registry));
        clock.setValue(80.0, registry);
        clock.setValue(std::string("80MHz"), registry);
        for (uint8_t byte : registry)
            EXPECT_EQ(fill, byte);
    }
    EXPECT_TRUE(clock.isInert());
    EXPECT_EQ((std::vector<std::string>{"[20MHz]"}), walk(clock));
    EXPECT_EQ("Error : For parameter 'Pixel Clock', can't use NULL registry to read value.",
              messageOf([&] { clock.value(nullptr); }));
}

// --------------------------------------------------------------------------
// Multi-range
// --------------------------------------------------------------------------

namespace {

void addLapwingRanges(XEVMultiRangeEnumParam& param) {
    param.addRange(0, 100, 900, 100, "ns");
    param.addRange(9, 1, 9, 1, "us");
    param.addRange(18, 10, 90, 10, "us");
    param.addRange(27, 100, 900, 100, "us");
    param.addRange(36, 1, 220, 1, "ms");
}

} // namespace

TEST(MultiRangeParam, RegisterValuesAndTexts) {
    XEVMultiRangeEnumParam param("Exposure Time", 4, 0, 8);
    addLapwingRanges(param);
    EXPECT_DOUBLE_EQ(0.5, param.regValToValue(4));
    EXPECT_EQ("500ns", param.valueToStrValue(param.regValToValue(4)));
    EXPECT_EQ("300ns", param.valueToStrValue(param.regValToValue(2)));
    EXPECT_EQ("1000us", param.valueToStrValue(1000));
    EXPECT_EQ("2ms", param.valueToStrValue(2500));

    const struct {
        double value;
        int reg;
    } stored[] = {{0.1, 0},      {0.3, 2},      {0.35, 2},     {0.05, 0},    {5, 13},
                  {25, 19},      {950, 35},     {1000, 36},    {1000.5, 36}, {2000, 37},
                  {220000, 255}, {221000, 255}, {300000, 255}, {-5, 0}};
    for (const auto& s : stored)
        EXPECT_EQ(s.reg, param.valueToRegVal(s.value)) << s.value;

    const std::vector<std::string> texts = walk(param);
    ASSERT_EQ(256u, texts.size());
    EXPECT_EQ("100ns", texts.front());
    EXPECT_EQ("1us", texts[9]);
    EXPECT_EQ("900us", texts[35]);
    EXPECT_EQ("1000us", texts[36]) << "1 ms is not above 1000 us";
    EXPECT_EQ("2ms", texts[37]);
    EXPECT_EQ("220ms", texts.back());
}

TEST(MultiRangeParam, ParsingTexts) {
    XEVMultiRangeEnumParam param("Exposure Time", 4, 0, 8);
    addLapwingRanges(param);
    const struct {
        const char* text;
        double value;
    } good[] = {{"2ms", 2000},     {"500ns", 0.5},    {"30us", 30},     {"5\265s", 5},
                {"5\xC2\xB5s", 5}, {" +7us", 7},      {"2000us", 2000}, {"0.002s", 2000},
                {"0.5us", 0.5},    {"3,000ms", 3000}, {"40000ns", 40}};
    for (const auto& g : good)
        EXPECT_DOUBLE_EQ(g.value, param.strValueToValue(g.text)) << g.text;

    EXPECT_EQ("Error : For parameter 'Exposure Time', val(25us) not valid. Parameter must be a "
              "multiple of the step in the range.",
              messageOf([&] { param.strValueToValue("25us"); }));
    // 2.5 ms lies between two steps of every unit.
    EXPECT_EQ("Error : For parameter 'Exposure Time', val(2.5ms) not valid. Parameter must be a "
              "multiple of the step in the range.",
              messageOf([&] { param.strValueToValue("2.5ms"); }));
    EXPECT_EQ("Error : For parameter 'Exposure Time', no valid unit found in val(5s). Valid "
              "units are [ns,\265s,us,ms]",
              messageOf([&] { param.strValueToValue("5s"); }));
    EXPECT_EQ("Error : For parameter 'Exposure Time', no valid unit found in val(12). Valid "
              "units are [ns,\265s,us,ms]",
              messageOf([&] { param.strValueToValue("12"); }));
    EXPECT_EQ("Error : For parameter 'Exposure Time', no valid unit found in val(12 us). Valid "
              "units are [ns,\265s,us,ms]",
              messageOf([&] { param.strValueToValue("12 us"); }));
    EXPECT_THROW(param.strValueToValue("us"), std::invalid_argument);
    EXPECT_THROW(param.strValueToValue("99999999999ms"), std::out_of_range);

    uint8_t registry[16] = {};
    param.setValue(std::string("2ms"), registry);
    EXPECT_EQ(37, registry[4]);
    EXPECT_EQ("2ms", param.strValue(registry));

    XEVMultiRangeEnumParam empty("Empty", 4, 0, 8);
    EXPECT_EQ("Error : For parameter 'Empty', no us unit found.",
              messageOf([&] { empty.valueToRegVal(5); }));
    EXPECT_TRUE(walk(empty).empty());
    EXPECT_EQ("CriticalError : For parameter 'Empty', step of a range does not be 0.",
              messageOf([&] { empty.addRange(0, 1, 2, 0, "us"); }));
}

// --------------------------------------------------------------------------
// Kestrel temperature
// --------------------------------------------------------------------------

TEST(TemperatureKestrelParam, SpreadIndexKeepsTecModeBits) {
    XEVTemperatureRegulationKestrelParam param("Temperature TEC", 15, 0, 8, 1, -15);
    param.setUserRange(-15, 48);
    uint8_t registry[16] = {};
    registry[15] = 0x0C;
    EXPECT_EQ(20.0, param.setValue(20.0, registry));
    EXPECT_EQ(0x8F, registry[15]);
    EXPECT_EQ(20.0, param.value(registry));
    EXPECT_EQ("20", param.strValue(registry));

    const struct {
        double value;
        uint8_t byte;
    } table[] = {{-15, 0x00}, {-12, 0x03}, {-11, 0x10}, {15, 0x72}, {48, 0xF3}};
    for (const auto& t : table) {
        registry[15] = 0x00;
        param.setValue(t.value, registry);
        EXPECT_EQ(t.byte, registry[15]) << t.value;
        EXPECT_EQ(t.value, param.value(registry));
    }
    registry[15] = 0x72;
    EXPECT_EQ("Error : For parameter 'Temperature TEC', value(49.000000) is out of range "
              "[-15.000000;48.000000].",
              messageOf([&] { param.setValue(49.0, registry); }));
    EXPECT_EQ(0x72, registry[15]);
    EXPECT_EQ("Error : For parameter 'Temperature TEC', can't use NULL registry to write value.",
              messageOf([&] { param.setValue(20.0, nullptr); }));
}

TEST(TemperatureKestrelParam, WalkCoversEverySetPoint) {
    XEVTemperatureRegulationKestrelParam param("Temperature TEC", 15, 0, 8, 1, -15);
    param.setUserRange(-15, 48);
    const std::vector<std::string> texts = walk(param);
    ASSERT_EQ(64u, texts.size());
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(std::to_string(i - 15), texts[i]);
    // Copies walk the same sequence of register bytes.
    XEVParam::ValueIterator it = param.begin();
    for (int i = 0; i < 4; ++i)
        ++it;
    XEVParam::ValueIterator copy = it;
    EXPECT_EQ("-11", *copy);
    ++copy;
    EXPECT_EQ("-10", *copy);
}

TEST(ParamConcurrency, ConcurrentReadersShareOneParameter) {
    XEVNumericParam gain("Gain", 2, 0, 5, 0.25, 0);
    gain.setUserRange(0, 7.75);
    XEVEnumParam clock("Pixel Clock", 1, 0, 4);
    clock.addLabel(12, 12.5, "12.5MHz");
    clock.addLabel(8, 25, "25MHz");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            uint8_t registry[16] = {};
            for (int i = 0; i < 500; ++i) {
                const double value = ((i + t) % 32) * 0.25;
                gain.setValue(gain.valueToStrValue(value), registry);
                clock.setValue(std::string(i % 2 ? "25MHz" : "12.5MHz"), registry);
                if (gain.value(registry) != value || clock.value(registry) != (i % 2 ? 25 : 12.5))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}
