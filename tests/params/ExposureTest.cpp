#include "ParamsTestUtil.h"

#include "ExpoRangesKestrel.h"
#include "XEVExposureParamKestrel.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using namespace XEVLibrary;
using namespace XEVTest;

namespace {

enum Slice { Gated, Log, Lin, Long };
// The gated, long exposure and linear options that select each slice.
const bool SliceOptions[4][3] = {
    {true, false, false}, {}, {false, false, true}, {false, true, true}};

struct Exposure : XEVExposureParamKestrel {
    Exposure(bool fine, Slice s)
        : XEVExposureParamKestrel(SliceOptions[s][0], fine, SliceOptions[s][1], false,
                                  SliceOptions[s][2], false) {}
};

} // namespace

// Each case: the slice, the value asked, the code and fine count written and
// the value read back. Ties go to the lower value (coarse 95, 0.25, 0.95, 950
// and 12500; fine 10.025, 12010, 250000 and 1001); values past a slice clamp
// to its ends; fine 100.3 lies in two ranges and reads back as itself, 102.9
// is past the lower range's end.
TEST(Exposure, EncodesNearestExpressibleValue) {
    using Cases = std::vector<std::tuple<Slice, double, int, int, double>>;
    const Cases coarse = {
        {Lin, 100.3, 27, 0, 100},       {Lin, 5, 18, 0, 10},
        {Lin, 300000, 255, 0, 220000},  {Lin, 95, 26, 0, 90},
        {Lin, 96, 27, 0, 100},          {Lin, 950, 35, 0, 900},
        {Lin, 951, 36, 0, 1000},        {Lin, 12500, 47, 0, 12000},
        {Lin, 12501, 48, 0, 13000},     {Lin, 219600, 255, 0, 220000},
        {Long, 300000, 255, 0, 220000}, {Gated, 0.26, 2, 0, 0.3},
        {Gated, 0.25, 1, 0, 0.2},       {Gated, 0.95, 8, 0, 0.9},
        {Gated, 50, 17, 0, 9},          {Gated, -4, 0, 0, 0.1},
        {Log, 50, 27, 0, 100},          {Log, 950, 35, 0, 900},
        {Log, 20000, 46, 0, 11000},
    };
    const Cases fine = {
        {Lin, 95, 26, 100, 95},       {Lin, 102.76, 26, 255, 102.75},
        {Lin, 100.3, 26, 206, 100.3}, {Lin, 1002.1, 35, 255, 1002},
        {Lin, 100, 26, 200, 100},     {Lin, 12010, 46, 252, 12008},
        {Lin, 102.9, 27, 7, 102.8},   {Lin, 300000, 254, 255, 220020},
        {Lin, 10.025, 18, 0, 10},     {Long, 300000, 255, 4, 300000},
        {Lin, 10.026, 18, 1, 10.05},  {Long, 230000, 254, 255, 220020},
        {Lin, 2, 18, 0, 10},          {Long, 250000, 255, 1, 240000},
        {Lin, 1500, 36, 125, 1500},   {Long, 250001, 255, 2, 260000},
        {Gated, 0.26, 2, 0, 0.3},     {Long, 220010, 254, 252, 220008},
        {Gated, 50, 17, 0, 9},        {Long, 6e6, 255, 255, 5320000},
        {Log, 50, 27, 0, 100},        {Log, 1001, 35, 252, 1000.8},
        {Log, 15000, 46, 255, 12020}, {Log, 1001.1, 35, 253, 1001.2},
    };
    for (const bool isFine : {false, true}) {
        for (const auto& [slice, value, code, fineCount, stored] : isFine ? fine : coarse) {
            SCOPED_TRACE(std::to_string(value) + (isFine ? " fine, slice " : " coarse, slice ") +
                         std::to_string(slice));
            const Exposure param(isFine, slice);
            uint8_t registry[16] = {0, 0, 0xAA, 0, 0, 0x55};
            const double returned = param.setValue(value, registry);
            EXPECT_NEAR(stored, returned, 1e-9);
            EXPECT_NEAR(stored, param.value(registry), 1e-9);
            EXPECT_EQ(param.valueToStrValue(returned), param.strValue(registry));
            const uint8_t expected[6] = {0, 0, 0xAA, uint8_t(fineCount), uint8_t(code), 0x55};
            EXPECT_EQ(0, std::memcmp(expected, registry, 6)) << code << "/" << fineCount;
        }
    }
}

TEST(Exposure, DecodesThroughCurrentSliceThenWholeTable) {
    const Exposure param(true, Lin);
    // Codes outside the linear slice (the last three) read as the whole table gives them.
    const std::tuple<uint8_t, uint8_t, double> cases[] = {
        {26, 206, 100.3}, {27, 0, 100}, {36, 125, 1500}, {254, 255, 220020},
        {255, 4, 300000}, {5, 0, 0.6},  {12, 0, 4}};
    for (const auto& [code, fine, value] : cases) {
        const uint8_t registry[16] = {0, 0, 0, fine, code};
        EXPECT_NEAR(value, param.value(registry), 1e-9) << int(code) << "/" << int(fine);
    }
}

TEST(Exposure, RefusalMessages) {
    const Exposure param(true, Lin);
    uint8_t registry[16] = {};
    expectRefusals({
        {[&] { param.setValue(100.0, nullptr); },
         "Error : For parameter 'Exposure Time', can't use NULL registry to write value."},
        {[&] { param.setValue(std::nan(""), registry); },
         "Error : For parameter 'Exposure Time', value(nan) is not a valid exposure time."},
    });
    // Text holding a '%' is reported verbatim.
    for (const char* bad : {"100 US", " 5", "", "us", "5 uss", "nan", "inf", "5m", "5 s s", "5%s"})
        EXPECT_EQ(std::string("Error : ill-formed exposure time string: ") + bad,
                  messageOf([&] { param.strValueToValue(bad); }));
}

// The options reach the ranges (their effect on values: EncodesNearestExpressibleValue).
TEST(Exposure, OptionChangesReachTheRanges) {
    XEVExposureParamKestrel param(false, true, true, false, true, false);
    uint8_t registry[16] = {};
    EXPECT_EQ(300000.0, param.setValue(300000.0, registry));
    param.ChangeRanges(false, true, false, false, true, false);
    EXPECT_EQ(220020.0, param.setValue(300000.0, registry)) << "without the long exposure";
    auto ranges = std::dynamic_pointer_cast<ExpoRangesKestrel>(param.expoRanges());
    ASSERT_TRUE(ranges);
    EXPECT_TRUE(ranges->fineStep());
    EXPECT_EQ(10.0, ranges->MinValue());
    EXPECT_FALSE(ranges->CanTriggerWidth());
    param.TriggerChange(true);
    EXPECT_TRUE(ranges->CanTriggerWidth());
    param.GainChange(true);
    EXPECT_TRUE(ranges->highGain());
    EXPECT_EQ("220", ranges->TriggerWidthValue());
    param.LinLogChange(false);
    EXPECT_EQ("9", ranges->TriggerWidthValue());
    EXPECT_EQ(100.0, ranges->MinValue());
    param.ModeChange(true);
    EXPECT_FALSE(ranges->CanTriggerWidth());
    EXPECT_NEAR(0.1, ranges->MinValue(), 1e-12);
    EXPECT_EQ("ms", ranges->TriggerWidthUnit());
    EXPECT_EQ((std::pair<double, uint16_t>{220000.0, 0xFF00}), ranges->TriggerWidthData());
    EXPECT_FALSE(ranges->DisableIfTriggerWidth());
    ExpoRanges base(ExpoRangesKestrel::coarseTable());
    EXPECT_NEAR(0.1, base.MinValue(), 1e-12);
    EXPECT_TRUE(base.DisableIfTriggerWidth());
    EXPECT_FALSE(base.CanTriggerWidth());
    EXPECT_EQ("", base.TriggerWidthValue());
    EXPECT_EQ(0, base.TriggerWidthData().second);
}

TEST(Exposure, ParsesAndFormatsTexts) {
    const Exposure param(true, Lin);
    const std::pair<const char*, double> good[] = {
        {"100.3ms", 100300}, {"100.3 ms", 100300}, {"100300 us", 100300}, {"0.1003s", 100300},
        {"100", 100},        {"5\265s", 5},        {"2e3ns", 2},          {"5 \t us", 5},
        {"1s", 1e6},         {"-5us", -5},         {"+.5us", 0.5},        {"7 ", 7},
        {"5\xC2\xB5s", 5},
    };
    for (const auto& [text, value] : good)
        EXPECT_NEAR(value, param.strValueToValue(text), 1e-9) << text;
    const std::pair<double, const char*> formats[] = {
        {100.4, "100.4us"},   {0.5, "500ns"},        {12000, "12ms"},         {5320000, "5320ms"},
        {999.99, "999.99us"}, {1000, "1ms"},         {0.1, "100ns"},          {1, "1us"},
        {102.75, "102.75us"}, {0.99999, "999.99ns"}, {1234.5678, "1.2346ms"},
    };
    for (const auto& [value, text] : formats)
        EXPECT_EQ(text, param.valueToStrValue(value)) << value;
    EXPECT_EQ("100.3us", param.valueToStrValue(100.30000000000001));
    uint8_t registry[16] = {};
    EXPECT_NEAR(100.3, param.setValue(std::string("100.3us"), registry), 1e-9);
    EXPECT_EQ("100.3us", param.strValue(registry));
}

TEST(Exposure, WalksTheWholeTable) {
    const Texts coarse = walk(Exposure(false, Gated));
    ASSERT_EQ(256u, coarse.size());
    EXPECT_EQ((Texts{"100ns", "1us", "90us", "11ms", "220ms"}),
              (Texts{coarse[0], coarse[9], coarse[26], coarse[46], coarse[255]}));
    const Exposure fine(true, Lin);
    const Texts all = walk(fine);
    ASSERT_EQ(18u + 256u * (9 + 9 + 11 + 208 + 1), all.size());
    EXPECT_EQ((Texts{"10us", "10.05us", "102.75us", "100us", "220ms", "5320ms"}),
              (Texts{all[18], all[19], all[18 + 9 * 256 - 1], all[18 + 9 * 256],
                     all[all.size() - 256], all.back()}));
    // A copy taken in the middle continues on its own.
    XEVParam::ValueIterator it = advanced(fine, 19), copy = it;
    ++it;
    EXPECT_EQ("10.05us", *copy);
    EXPECT_EQ("10.1us", *it);
    EXPECT_TRUE(copy != it);
}

TEST(Exposure, KestrelManualText) {
    const std::string text = manualOf(Exposure(true, Lin), 40);
    EXPECT_EQ(0u, text.find("Exposure Time :\nThis parameter is dependant from the options of "
                            "the camera( 'Gated', 'Fine Step', 'Long Expo' )\n-Gated Mode"));
    for (const char* part :
         {"\n      1000us to 12020us inclusive, steps: 1000us, fine steps: 4us\n\nIf external "
          "trigger is set and Exposure Time >= 220000us:\n",
          "\n  Valid unit values are \"ns,us,\265s,ms,s\".\n  Examples:\n",
          "the library will allways choose the nearest valid one.\n"})
        EXPECT_NE(std::string::npos, text.find(part)) << part;
    const std::string tail = "    setParamValueOf( \"Exposure Time\", \"0.1003s\" )\n\n";
    EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
    EXPECT_EQ(44, std::count(text.begin(), text.end(), '\n'));
}

TEST(Exposure, ConcurrentReadersAndOptionChanges) {
    XEVExposureParamKestrel param(false, true, true, false, true, false);
    std::atomic<bool> failed{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&param, &failed, t] {
            uint8_t registry[16] = {};
            for (int i = 0; i < 2000; ++i) {
                const double stored = param.setValue(10.0 + i * 0.37 + t, registry);
                const double parsed = param.strValueToValue("100.3 ms");
                if (!(stored > 0) || parsed != 100300.0 || param.strValue(registry).empty())
                    failed = true;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        param.ModeChange(i % 2 == 0);
        param.LinLogChange(i % 3 != 0);
        if (i % 50 == 0)
            param.ChangeRanges(false, i % 100 == 0, true, false, true, false);
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_FALSE(failed);
}
