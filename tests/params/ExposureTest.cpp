#include "ParamsTestUtil.h"

#include "ExpoRangesKestrel.h"
#include "XEVExposureParamKestrel.h"

#include <atomic>
#include <cmath>
#include <sstream>
#include <thread>

using namespace XEVLibrary;
using namespace XEVTest;

namespace {

enum Slice { Gated, Log, Linear, LinearLong };
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
        {Linear, 100.3, 27, 0, 100},
        {Linear, 5, 18, 0, 10},
        {Linear, 300000, 255, 0, 220000},
        {Linear, 95, 26, 0, 90},
        {Linear, 96, 27, 0, 100},
        {Linear, 950, 35, 0, 900},
        {Linear, 951, 36, 0, 1000},
        {Linear, 12500, 47, 0, 12000},
        {Linear, 12501, 48, 0, 13000},
        {Linear, 219600, 255, 0, 220000},
        {LinearLong, 300000, 255, 0, 220000},
        {Gated, 0.26, 2, 0, 0.3},
        {Gated, 0.25, 1, 0, 0.2},
        {Gated, 0.95, 8, 0, 0.9},
        {Gated, 50, 17, 0, 9},
        {Gated, -4, 0, 0, 0.1},
        {Log, 50, 27, 0, 100},
        {Log, 950, 35, 0, 900},
        {Log, 20000, 46, 0, 11000},
    };
    const Cases fine = {
        {Linear, 95, 26, 100, 95},
        {Linear, 1500, 36, 125, 1500},
        {Linear, 100.3, 26, 206, 100.3},
        {Linear, 100, 26, 200, 100},
        {Linear, 102.76, 26, 255, 102.75},
        {Linear, 102.9, 27, 7, 102.8},
        {Linear, 10.025, 18, 0, 10},
        {Linear, 10.026, 18, 1, 10.05},
        {Linear, 1002.1, 35, 255, 1002},
        {Linear, 12010, 46, 252, 12008},
        {Linear, 300000, 254, 255, 220020},
        {Linear, 2, 18, 0, 10},
        {LinearLong, 300000, 255, 4, 300000},
        {LinearLong, 230000, 254, 255, 220020},
        {LinearLong, 250000, 255, 1, 240000},
        {LinearLong, 250001, 255, 2, 260000},
        {LinearLong, 220010, 254, 252, 220008},
        {LinearLong, 6e6, 255, 255, 5320000},
        {Gated, 0.26, 2, 0, 0.3},
        {Gated, 50, 17, 0, 9},
        {Log, 50, 27, 0, 100},
        {Log, 1001, 35, 252, 1000.8},
        {Log, 1001.1, 35, 253, 1001.2},
        {Log, 15000, 46, 255, 12020},
    };
    for (const bool isFine : {false, true}) {
        for (const auto& [slice, value, code, fineCount, stored] : isFine ? fine : coarse) {
            SCOPED_TRACE(std::to_string(value) + (isFine ? " fine, slice " : " coarse, slice ") +
                         std::to_string(slice));
            const Exposure param(isFine, slice);
            uint8_t registry[16] = {0, 0, 0xAA, 0, 0, 0x55};
            const double returned = param.setValue(value, registry);
            EXPECT_NEAR(stored, returned, 1e-9);
            EXPECT_EQ(code, registry[4]);
            EXPECT_EQ(fineCount, registry[3]);
            EXPECT_NEAR(stored, param.value(registry), 1e-9);
            EXPECT_EQ(param.valueToStrValue(returned), param.strValue(registry));
            EXPECT_EQ(0xAA, registry[2]);
            EXPECT_EQ(0x55, registry[5]);
        }
    }
}

TEST(Exposure, DecodesThroughCurrentSliceThenWholeTable) {
    const Exposure param(true, Linear);
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
    const Exposure param(true, Linear);
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

TEST(Exposure, OptionChangesSelectTheSlice) {
    XEVExposureParamKestrel param(false, false, false, false, false, false);
    uint8_t registry[16] = {};
    EXPECT_EQ(100.0, param.setValue(50.0, registry)); // logarithmic
    param.LinLogChange(true);
    EXPECT_EQ(50.0, param.setValue(50.0, registry));
    param.ModeChange(true);
    EXPECT_EQ(9.0, param.setValue(50.0, registry));
    param.ModeChange(false);
    param.ChangeRanges(false, true, true, false, true, false);
    EXPECT_EQ(300000.0, param.setValue(300000.0, registry));

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
    EXPECT_EQ(220000.0, ranges->TriggerWidthData().first);
    EXPECT_EQ(0xFF00, ranges->TriggerWidthData().second);
    EXPECT_FALSE(ranges->DisableIfTriggerWidth());

    ExpoRanges base(ExpoRangesKestrel::coarseTable());
    EXPECT_NEAR(0.1, base.MinValue(), 1e-12);
    EXPECT_TRUE(base.DisableIfTriggerWidth());
    EXPECT_FALSE(base.CanTriggerWidth());
    EXPECT_EQ("", base.TriggerWidthValue());
    EXPECT_EQ(0, base.TriggerWidthData().second);
}

// The first range and the number of ranges of each slice.
TEST(Exposure, CurrentSlices) {
    const std::tuple<bool, Slice, int, int> cases[] = {
        {false, Gated, 0, 2}, {false, Log, 3, 2}, {false, Linear, 2, 4}, {false, LinearLong, 2, 4},
        {true, Gated, 0, 2},  {true, Log, 3, 2},  {true, Linear, 2, 4},  {true, LinearLong, 2, 5},
    };
    for (const auto& [fine, slice, first, count] : cases) {
        const auto ranges = Exposure(fine, slice).expoRanges();
        const ExpoRanges::Slice current = ranges->CurrentRange();
        EXPECT_EQ(first, current.first - ranges->table().begin());
        EXPECT_EQ(count, current.second - current.first);
    }
}

TEST(Exposure, ParsesAndFormatsTexts) {
    const Exposure param(true, Linear);
    const std::pair<const char*, double> good[] = {
        {"100.3ms", 100300}, {"100.3 ms", 100300}, {"100300 us", 100300}, {"0.1003s", 100300},
        {"100", 100},        {"5\265s", 5},        {"2e3ns", 2},          {"5 \t us", 5},
        {"1s", 1e6},         {"-5us", -5},         {"+.5us", 0.5},        {"7 ", 7},
        {"5\xC2\xB5s", 5},
    };
    for (const auto& [text, value] : good)
        EXPECT_NEAR(value, param.strValueToValue(text), 1e-9) << text;
    const std::pair<double, const char*> formats[] = {
        {100.4, "100.4us"},
        {0.5, "500ns"},
        {12000, "12ms"},
        {5320000, "5320ms"},
        {999.99, "999.99us"},
        {1000, "1ms"},
        {0.1, "100ns"},
        {100.30000000000001, "100.3us"},
        {1, "1us"},
        {102.75, "102.75us"},
        {0.99999, "999.99ns"},
        {1234.5678, "1.2346ms"},
    };
    for (const auto& [value, text] : formats)
        EXPECT_EQ(text, param.valueToStrValue(value)) << value;
    uint8_t registry[16] = {};
    EXPECT_NEAR(100.3, param.setValue(std::string("100.3us"), registry), 1e-9);
    EXPECT_EQ("100.3us", param.strValue(registry));
}

TEST(Exposure, WalksTheWholeTable) {
    const Exposure coarse(false, Gated);
    const std::vector<std::string> texts = walk(coarse);
    ASSERT_EQ(256u, texts.size());
    EXPECT_EQ("100ns", texts[0]);
    EXPECT_EQ("1us", texts[9]);
    EXPECT_EQ("90us", texts[26]);
    EXPECT_EQ("11ms", texts[46]);
    EXPECT_EQ("220ms", texts[255]);

    const Exposure fine(true, Linear);
    const std::vector<std::string> all = walk(fine);
    ASSERT_EQ(18u + 256u * (9 + 9 + 11 + 208 + 1), all.size());
    EXPECT_EQ("10us", all[18]);
    EXPECT_EQ("10.05us", all[19]);
    EXPECT_EQ("102.75us", all[18 + 9 * 256 - 1]);
    EXPECT_EQ("100us", all[18 + 9 * 256]);
    EXPECT_EQ("220ms", all[all.size() - 256]);
    EXPECT_EQ("5320ms", all.back());

    // A copy taken in the middle continues on its own.
    XEVParam::ValueIterator it = fine.begin();
    for (int i = 0; i < 19; ++i)
        ++it;
    XEVParam::ValueIterator copy = it;
    ++it;
    EXPECT_EQ("10.05us", *copy);
    EXPECT_EQ("10.1us", *it);
    EXPECT_TRUE(copy != it);
}

TEST(Exposure, KestrelManualText) {
    std::ostringstream os;
    Exposure(true, Linear).manual(os, 40);
    const std::string text = os.str();
    EXPECT_EQ(0u, text.find("Exposure Time :\nThis parameter is dependant from the options of "
                            "the camera( 'Gated', 'Fine Step', 'Long Expo' )\n-Gated Mode"));
    EXPECT_NE(std::string::npos,
              text.find("\n      1000us to 12020us inclusive, steps: 1000us, fine steps: 4us\n\n"
                        "If external trigger is set and Exposure Time >= 220000us:\n"));
    EXPECT_NE(std::string::npos,
              text.find("\n  Valid unit values are \"ns,us,\265s,ms,s\".\n  Examples:\n"));
    EXPECT_NE(std::string::npos, text.find("the library will allways choose the nearest valid "
                                           "one.\n"));
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
