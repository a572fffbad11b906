#include "ParamsTestUtil.h"

#include "XEVEnumParam.h"
#include "XEVMultiRangeEnumParam.h"
#include "XEVNumericParam.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

using namespace XEVLibrary;
using namespace XEVTest;

namespace {

const std::string ErrorP = "Error : For parameter 'P', ", CriticalP = "Critical" + ErrorP;

} // namespace

TEST(ParamBase, RefusalMessages) {
    XEVParam param("P", 0, 1, 3, false);
    uint8_t registry[16] = {0x0C};
    const std::string multiByte =
        CriticalP + "unvalid shift and size. Multi-bytes parameters unsuported.";
    const std::string cast = "Warning : For parameter 'P', unvalid cast (UserVal to RegVal), ";
    expectRefusals({
        // Checked in this order: size, then address, then shift and size.
        {[] { XEVParam("P", 20, 0, 0, false); }, CriticalP + "size does not be 0."},
        {[] { XEVParam("P", 16, 6, 3, false); },
         CriticalP + "unvalid address(16). This address is out of registry size(16)."},
        {[] { XEVParam("P", 0, 6, 3, false); }, multiByte},
        {[] { XEVParam("P", 15, 0xFFFFFFFFu, 2, false); }, multiByte},
        {[&] { param.setValue(7.5, registry); }, cast + "UserVal(7.500000) is too big."},
        {[&] { param.setValue(-1.0, registry); }, cast + "UserVal(-1.000000) is too small."},
        {[&] { param.value(nullptr); }, ErrorP + "can't use NULL registry to read value."},
        {[&] { param.setValue(1.0, nullptr); }, ErrorP + "can't use NULL registry to write value."},
    });
    EXPECT_EQ(0x0C, registry[0]) << "a refused write leaves the registry unchanged";
    EXPECT_NO_THROW(XEVParam("P", 15, 5, 3, false));
}

TEST(ParamBase, FieldWritesKeepOtherBitsAndTruncate) {
    XEVParam field("Field", 3, 4, 2, false), three("Three", 0, 1, 3, false);
    uint8_t registry[16] = {0, 0, 0, 0xFF};
    EXPECT_EQ(2.0, field.setValue(2.0, registry));
    three.setValue(7.0, registry);
    EXPECT_EQ(0x0E, registry[0]);
    three.setValue(6.9, registry);
    const uint8_t expected[16] = {0x0C, 0, 0, 0xEF};
    EXPECT_EQ(0, std::memcmp(expected, registry, 16));
}

// Plain parameters read and write register values as numbers; mask shifts are modulo 32.
TEST(ParamBase, BaseTextsAndMasks) {
    XEVParam param("Text", 0, 0, 8, false);
    uint8_t registry[16] = {};
    EXPECT_EQ(42.0, param.setValue(std::string("42"), registry));
    EXPECT_EQ("42.000000", param.strValue(registry));
    EXPECT_EQ(0.0, param.strValueToValue("not a number"));
    const std::pair<unsigned, unsigned> masks[] = {
        {0, 0}, {2, 3}, {31, 0x7FFFFFFF}, {32, 0}, {33, 1}};
    for (const auto& [bits, mask] : masks)
        EXPECT_EQ(mask, XEVParam::getMask(bits)) << bits;
}

// Up to seven values are listed last to first, more as the two first and two last.
TEST(ParamBase, ManualListsTheWalk) {
    XEVParam two("Two", 0, 0, 2, false);
    // Fatal: the manual walks without a bound.
    ASSERT_EQ((Texts{"0.000000", "1.000000", "2.000000", "3.000000"}), walk(two));
    const std::string values = "{ 3.000000, 2.000000, 1.000000, 0.000000 }\n";
    EXPECT_EQ("Two :   " + values, manualOf(two, 5)); // at least three spaces
    XEVNumericParam eight("Eight", 0, 0, 4, 1, 0), seven("Seven", 0, 0, 4, 1, 0);
    eight.setUserRange(0, 7);
    seven.setUserRange(0, 6);
    EXPECT_EQ("Eight :   { 0, 1, ... , 6, 7 }\n", manualOf(eight, 0));
    EXPECT_EQ("Seven :   { 6, 5, 4, 3, 2, 1, 0 }\n", manualOf(seven, 0));
    EXPECT_EQ("None :   {  }\n", manualOf(XEVEnumParam("None", 0, 0, 2), 0));
}

TEST(ParamBase, IteratorHandles) {
    XEVParam param("Two", 0, 0, 2, false);
    const XEVParam::ValueIterator end = param.end(), empty;
    XEVParam::ValueIterator endCopy = end, it = param.begin();
    EXPECT_TRUE(++endCopy == end);
    EXPECT_EQ("0.000000", *it++);
    XEVParam::ValueIterator copy = it, self = it;
    ++it;
    self = static_cast<XEVParam::ValueIterator&>(self); // self-assignment keeps the iterator
    // Copies advance independently; end and empty handles read as "".
    EXPECT_EQ((Texts{"", "1.000000", "1.000000", "2.000000", ""}),
              (Texts{*endCopy, *copy, *self, *it, *empty}));
    copy = it;
    EXPECT_TRUE(copy == it && empty == XEVParam::ValueIterator() && empty != end);
}

TEST(NumericParam, RefusalMessages) {
    XEVNumericParam two("P", 5, 0, 8, 2, 0), shifted("P", 0, 0, 8, 100, 100);
    XEVNumericParam wide("P", 0, 0, 4, 1, 0), range("P", 0, 0, 4, 2, 1);
    XEVNumericParam negative("P", 0, 0, 2, -1, 0);
    wide.setMaxVal(100);
    uint8_t registry[16] = {0, 0, 0, 0, 0, 4};
    const std::string bad = CriticalP + "bad min and/or max UserVal(";
    const std::string outOf31 = "There are out of range [1.000000;31.000000] or min >= max.";
    expectRefusals({
        {[&] { two.setValue(7.0, registry); },
         ErrorP + "value(7.000000) must be a multiple of 2.000000."},
        {[&] { two.setValue(512.0, registry); },
         ErrorP + "value(512.000000) is out of range [0.000000;510.000000]."},
        // The multiple test looks at the value itself, not at value - offset.
        {[&] { shifted.valueToRegVal(2550); },
         ErrorP + "value(2550.000000) must be a multiple of 100.000000."},
        // A widened maximum must not wrap into the low register values.
        {[&] { wide.valueToRegVal(20); },
         ErrorP + "value(20.000000) is out of range [0.000000;100.000000]."},
        {[&] { range.setUserRange(5, 5); }, bad + "5.000000;5.000000). " + outOf31},
        {[&] { range.setUserRange(-1, 5); }, bad + "-1.000000;5.000000). " + outOf31},
        {[&] { range.setUserRange(2, 5); },
         bad +
             "2.000000;5.000000). Their corresponding RegVal(0.500000,2.000000) are not integer."},
        {[&] { negative.setUserRange(-4, 0); },
         bad + "-4.000000;0.000000). There are out of range [-3.000000;0.000000] or min >= max."},
    });
    EXPECT_EQ(4, registry[5]);
    EXPECT_EQ(24, shifted.valueToRegVal(2500));
    range.setUserRange(3, 7);
    EXPECT_EQ((Texts{"3", "5", "7"}), walk(range));
    // A negative step spans downwards from the offset, in an ordered range.
    EXPECT_EQ((std::vector<double>{-3, 0}),
              (std::vector<double>{negative.userMin(), negative.userMax()}));
    EXPECT_EQ(2, negative.valueToRegVal(-2));
    EXPECT_EQ((Texts{"0", "-1", "-2", "-3"}), walk(negative));
}

TEST(NumericParam, TextsToValues) {
    XEVNumericParam param("Num", 0, 0, 8, 1, 0);
    const std::pair<const char*, double> good[] = {{"12", 12},     {"  12  ", 12}, {"12 units", 12},
                                                   {"12,5", 12.5}, {"-0.5", -0.5}, {"1.", 1}};
    for (const auto& [text, value] : good)
        EXPECT_DOUBLE_EQ(value, param.strValueToValue(text)) << text;
    for (const char* bad : {"abc", ".5", "- 1", "1 2", "abc\n12", "12\n3"})
        EXPECT_EQ(std::string("Error : For parameter 'Num', cannot convert val(") + bad +
                      ") to UserVal.",
                  messageOf([&] { param.strValueToValue(bad); }));
    uint8_t registry[16] = {};
    param.setValue(std::string("12,5"), registry);
    EXPECT_EQ(13, registry[0]) << "12.5 rounds half up to register 13";
    EXPECT_EQ(0.0, param.strValueToValue("")) << "an empty text matches the empty label";
    EXPECT_EQ(0.0, catalogParam(0, "Gain").strValueToValue("AGC"));
}

TEST(NumericParam, TimesInAnotherTimeUnitAreConverted) {
    const XEVParam& exposure = catalogParam(3, "Exposure Time"); // in \265s, from 100 by 100
    const std::pair<const char*, double> microseconds[] = {
        {"2 ms", 2000},           {"2.5ms", 2500},   {"2000us", 2000},    {"2000\265s", 2000},
        {"2000\xC2\xB5s", 2000},  {"0.0025s", 2500}, {"2500000ns", 2500}, {"2000", 2000},
        {"2000 per frame", 2000}, {"-0,5ms", -500},
    };
    for (const auto& [text, value] : microseconds)
        EXPECT_DOUBLE_EQ(value, exposure.strValueToValue(text)) << text;
    // Exact decimal shifts: the largest exposure is not pushed past its range.
    uint8_t registry[16] = {};
    exposure.setValue(std::string("25.6ms"), registry);
    EXPECT_EQ(255, registry[4]);
    // A parameter whose unit is no time unit, or that has none, ignores the word.
    EXPECT_DOUBLE_EQ(2.0, catalogParam(0, "Offset").strValueToValue("2ms"));
    EXPECT_DOUBLE_EQ(2.0, XEVNumericParam("Num", 0, 0, 8, 1, 0).strValueToValue("2ms"));
}

// Offset: 255 steps of 0.39 from 0; Lapwing's first column: 4 to 632 by 4.
TEST(NumericParam, RangeIsReported) {
    const XEVParam& offset = catalogParam(0, "Offset");
    const XEVParam& column = catalogParam(14, "First Column");
    EXPECT_EQ((std::vector<double>{0, 99.45, 0.39, 4, 632, 4}),
              (std::vector<double>{offset.minValue(), offset.maxValue(), offset.step(),
                                   column.minValue(), column.maxValue(), column.step()}));
}

TEST(EnumParam, RefusalMessages) {
    XEVEnumParam param("P", 2, 1, 2);
    param.addLabel(1, "On");
    param.addLabel(0, "Off");
    uint8_t registry[16] = {0, 0, 0x04}; // register value 2 has no label
    expectRefusals({
        {[&] { param.setValue(std::string("on"), registry); },
         ErrorP + "StringVal(on) does not exist."},
        {[&] { param.strValue(registry); }, ErrorP + "UserVal(nan) does not exist."},
        {[&] { param.valueToRegVal(5); }, ErrorP + "UserVal(5.000000) does not exist."},
        {[&] { param.regValToValue(7); }, ErrorP + "value(7.000000) does not exist."},
        {[&] { param.addLabel(4, 1.0, nullptr); }, CriticalP + "val(4) is out of size(2)."},
        {[&] { param.addLabel(3, 1.0, nullptr); }, CriticalP + "label is NULL."},
        {[&] { param.addLabel(3, 1.0, ""); }, CriticalP + "label is empty."},
    });
    EXPECT_TRUE(std::isnan(param.value(registry)));
    param.setValue(std::string("On"), registry);
    EXPECT_EQ(0x02, registry[2]);
    EXPECT_EQ("On", param.strValue(registry));
}

TEST(EnumParam, FirstRegisterAddedForAValueIsWritten) {
    XEVEnumParam twice("Twice", 0, 0, 2);
    twice.addLabel(2, 7.0, "Seven");
    twice.addLabel(1, 7.0, "Also seven");
    twice.addLabel(3, 7.0, "Seven again");
    EXPECT_EQ(2, twice.valueToRegVal(7.0));
    EXPECT_EQ("Seven", twice.valueToStrValue(7.0));
    EXPECT_EQ(7.0, twice.regValToValue(1));
}

// An inert parameter reads its constant and ignores writes, even without a registry.
TEST(InertParam, ConstantWhateverTheRegistry) {
    const XEVParam& clock = catalogParam(0, "Pixel Clock"); // Auklet: fixed at 20 MHz
    uint8_t registry[16];
    std::fill(std::begin(registry), std::end(registry), 0x5A);
    EXPECT_EQ(20.0, clock.value(registry));
    EXPECT_EQ("[20MHz]", clock.strValue(registry));
    EXPECT_EQ(80.0, clock.setValue(80.0, registry));
    EXPECT_EQ(0.0, clock.setValue(std::string("80MHz"), registry));
    EXPECT_EQ(16, std::count(std::begin(registry), std::end(registry), 0x5A));
    EXPECT_EQ(12.0, clock.setValue(12.0, nullptr));
    EXPECT_EQ(0.0, clock.setValue(std::string("12"), nullptr));
}

// The Lapwing exposure: 100 to 900 ns, 1 to 9 us, 10 to 90 us, 100 to 900 us
// and 1 to 220 ms, from registers 0, 9, 18, 27 and 36.
TEST(MultiRangeParam, RefusalMessages) {
    const XEVParam& param = catalogParam(6, "Exposure Time");
    const std::string error = "Error : For parameter 'Exposure Time', ";
    for (const char* text : {"5s", "12", "12 us"})
        EXPECT_EQ(error + "no valid unit found in val(" + text +
                      "). Valid units are [ns,\265s,us,ms]",
                  messageOf([&] { param.strValueToValue(text); }));
    for (const char* text : {"25us", "2.5ms"}) // 2.5 ms lies between two steps of every unit
        EXPECT_EQ(error + "val(" + text +
                      ") not valid. Parameter must be a multiple of the step in the range.",
                  messageOf([&] { param.strValueToValue(text); }));
    XEVMultiRangeEnumParam empty("Empty", 4, 0, 8);
    EXPECT_EQ("Error : For parameter 'Empty', no us unit found.",
              messageOf([&] { empty.valueToRegVal(5); }));
    EXPECT_EQ("CriticalError : For parameter 'Empty', step of a range does not be 0.",
              messageOf([&] { empty.addRange(0, 1, 2, 0, "us"); }));
    EXPECT_THROW(param.strValueToValue("us"), std::invalid_argument);
    EXPECT_THROW(param.strValueToValue("99999999999ms"), std::out_of_range);
}

// Times in any unit that one of the ranges holds exactly; other values go to the nearest
// step (ties to the lower one) or clamp to the ends.
TEST(MultiRangeParam, RegisterValuesAndTexts) {
    const XEVParam& param = catalogParam(6, "Exposure Time");
    const std::pair<const char*, double> good[] = {
        {"500ns", 0.5},   {"30us", 30},   {"5\265s", 5},     {"5\xC2\xB5s", 5}, {" +7us", 7},
        {"0.002s", 2000}, {"0.5us", 0.5}, {"3,000ms", 3000}, {"40000ns", 40}};
    for (const auto& [text, value] : good)
        EXPECT_DOUBLE_EQ(value, param.strValueToValue(text)) << text;
    const std::pair<double, int> stored[] = {{0.3, 2},   {0.05, 0},     {-5, 0},
                                             {25, 19},   {1000, 36},    {1000.5, 36},
                                             {2000, 37}, {220000, 255}, {300000, 255}};
    for (const auto& [value, reg] : stored)
        EXPECT_EQ(reg, param.valueToRegVal(value)) << value;
    EXPECT_EQ((Texts{"500ns", "2ms"}),
              (Texts{param.valueToStrValue(param.regValToValue(4)), param.valueToStrValue(2500)}));
    const Texts texts = walk(param);
    ASSERT_EQ(256u, texts.size());
    // 1 ms is not above 1000 us.
    EXPECT_EQ((Texts{"1us", "900us", "1000us", "2ms"}),
              (Texts{texts[9], texts[35], texts[36], texts[37]}));
}

// Kestrel's set point: -15 to 48 degrees, index 0 to 63 with bits 2-3 moved to
// bits 4-5, so that bits 2-3 keep the TEC mode (here 0x0C).
TEST(TemperatureKestrelParam, SpreadIndexKeepsTecModeBits) {
    const XEVParam& param = catalogParam(16, "Temperature TEC");
    const std::pair<double, uint8_t> table[] = {
        {-15, 0x0C}, {-12, 0x0F}, {-11, 0x1C}, {15, 0x7E}, {48, 0xFF}};
    for (const auto& [value, byte] : table) {
        uint8_t registry[16] = {};
        registry[15] = 0x0C;
        EXPECT_EQ(value, param.setValue(value, registry));
        EXPECT_EQ(byte, registry[15]) << value;
        EXPECT_EQ(value, param.value(registry));
        EXPECT_EQ(std::to_string(int(value)), param.strValue(registry));
    }
    EXPECT_EQ("Error : For parameter 'Temperature TEC', can't use NULL registry to write value.",
              messageOf([&] { param.setValue(20.0, nullptr); }));
    // The walk covers every set point once, across the moved bits, and ends after 48 (0xF3).
    const Texts texts = walk(param);
    ASSERT_EQ(64u, texts.size());
    EXPECT_EQ((Texts{"-15", "-12", "-11", "48"}), (Texts{texts[0], texts[3], texts[4], texts[63]}));
}
