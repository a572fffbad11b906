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

// Each case: the slice, the value asked, the code and fine count written and the value read
// back. Ties go to the lower value (coarse 95, 0.25, 12500; fine 10.025, 250000); values past
// a slice clamp to its ends; fine 100.3 lies in two ranges, 102.9 past the lower one's end.
TEST(Exposure, EncodesNearestExpressibleValue) {
    using Cases = std::vector<std::tuple<Slice, double, int, int, double>>;
    const Cases coarse = {
        {Lin, 100.3, 27, 0, 100},       {Lin, 5, 18, 0, 10},        {Lin, 300000, 255, 0, 220000},
        {Lin, 95, 26, 0, 90},           {Lin, 12500, 47, 0, 12000}, {Lin, 12501, 48, 0, 13000},
        {Long, 300000, 255, 0, 220000}, {Gated, 0.25, 1, 0, 0.2},   {Gated, 50, 17, 0, 9},
        {Gated, -4, 0, 0, 0.1},         {Log, 50, 27, 0, 100},      {Log, 20000, 46, 0, 11000},
    };
    const Cases fine = {
        {Lin, 102.76, 26, 255, 102.75}, {Lin, 100.3, 26, 206, 100.3},
        {Lin, 102.9, 27, 7, 102.8},     {Lin, 300000, 254, 255, 220020},
        {Lin, 10.025, 18, 0, 10},       {Lin, 10.026, 18, 1, 10.05},
        {Log, 15000, 46, 255, 12020},   {Log, 1001.1, 35, 253, 1001.2},
        {Long, 300000, 255, 4, 300000}, {Long, 230000, 254, 255, 220020},
        {Long, 250000, 255, 1, 240000}, {Long, 6e6, 255, 255, 5320000},
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

// Codes outside the current slice read as the whole table gives them.
TEST(Exposure, DecodesThroughCurrentSliceThenWholeTable) {
    const Exposure param(true, Lin);
    const std::tuple<uint8_t, uint8_t, double> cases[] = {
        {255, 4, 300000}, {5, 0, 0.6}, {12, 0, 4}};
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
    param.ChangeRanges(false, true, false, false, true, false);
    EXPECT_EQ(220020.0, param.setValue(300000.0, registry)) << "without the long exposure";
    auto ranges = std::dynamic_pointer_cast<ExpoRangesKestrel>(param.expoRanges());
    ASSERT_TRUE(ranges);
    EXPECT_FALSE(ranges->CanTriggerWidth());
    param.TriggerChange(true);
    EXPECT_TRUE(ranges->CanTriggerWidth());
    EXPECT_EQ("220", ranges->TriggerWidthValue());
    param.LinLogChange(false);
    EXPECT_EQ("9", ranges->TriggerWidthValue());
    param.ModeChange(true);
    EXPECT_FALSE(ranges->CanTriggerWidth());
    EXPECT_EQ((std::pair<double, uint16_t>{220000.0, 0xFF00}), ranges->TriggerWidthData());
}

TEST(Exposure, ParsesAndFormatsTexts) {
    const Exposure param(true, Lin);
    const std::pair<const char*, double> good[] = {
        {"100.3ms", 100300}, {"0.1003s", 100300}, {"100", 100}, {"2e3ns", 2},  {"5 \t us", 5},
        {"-5us", -5},        {"+.5us", 0.5},      {"7 ", 7},    {"5\265s", 5}, {"5\xC2\xB5s", 5},
    };
    for (const auto& [text, value] : good)
        EXPECT_NEAR(value, param.strValueToValue(text), 1e-9) << text;
    const std::pair<double, const char*> formats[] = {
        {0.5, "500ns"}, {12000, "12ms"},      {999.99, "999.99us"},  {1000, "1ms"},
        {1, "1us"},     {102.75, "102.75us"}, {0.99999, "999.99ns"}, {1234.5678, "1.2346ms"},
    };
    for (const auto& [value, text] : formats)
        EXPECT_EQ(text, param.valueToStrValue(value)) << value;
    EXPECT_EQ("100.3us", param.valueToStrValue(100.30000000000001));
}

TEST(Exposure, WalksTheWholeTable) {
    const Texts coarse = walk(Exposure(false, Gated));
    ASSERT_EQ(256u, coarse.size());
    EXPECT_EQ((Texts{"100ns", "90us", "220ms"}), (Texts{coarse[0], coarse[26], coarse[255]}));
    const Exposure fine(true, Lin);
    const Texts all = walk(fine);
    ASSERT_EQ(18u + 256u * (9 + 9 + 11 + 208 + 1), all.size());
    EXPECT_EQ((Texts{"10us", "10.05us", "102.75us", "100us", "5320ms"}),
              (Texts{all[18], all[19], all[18 + 9 * 256 - 1], all[18 + 9 * 256], all.back()}));
    // A copy taken in the middle continues on its own.
    XEVParam::ValueIterator it = fine.begin();
    for (int i = 0; i < 19; ++i)
        ++it;
    XEVParam::ValueIterator copy = it;
    ++it;
    EXPECT_EQ((Texts{"10.05us", "10.1us"}), (Texts{*copy, *it}));
}

// The manual lists the ranges of the table as the options select them.
TEST(Exposure, ManualListsTheSelectedRanges) {
    const std::string text = manualOf(Exposure(true, Lin), 40);
    EXPECT_NE(std::string::npos,
              text.find("\n      1000us to 12020us inclusive, steps: 1000us, fine steps: 4us\n"));
    EXPECT_EQ(44, std::count(text.begin(), text.end(), '\n'));
}

// Threads share one exposure while its options change, and the catalog's gain and clock.
TEST(ParamConcurrency, ReadersShareParametersWhileOptionsChange) {
    XEVExposureParamKestrel param(false, true, true, false, true, false);
    const XEVParam& gain = catalogParam(1, "Gain");
    const XEVParam& clock = catalogParam(1, "Pixel Clock");
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            uint8_t registry[16] = {};
            for (int i = 0; i < 2000; ++i) {
                const double stored = param.setValue(10.0 + i * 0.37 + t, registry);
                const double value = ((i + t) % 32) * 0.25;
                gain.setValue(gain.valueToStrValue(value), registry);
                clock.setValue(std::string(i % 2 ? "25MHz" : "12.5MHz"), registry);
                if (!(stored > 0) || param.strValueToValue("100.3 ms") != 100300.0 ||
                    param.strValue(registry).empty() || gain.value(registry) != value ||
                    clock.value(registry) != (i % 2 ? 25 : 12.5))
                    ++wrong;
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
    EXPECT_EQ(0, wrong.load());
}
