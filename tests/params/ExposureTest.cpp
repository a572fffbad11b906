#include "ParamsTestUtil.h"

#include "ExpoRangesKestrel.h"
#include "XEVExposureParamKestrel.h"

#include <atomic>
#include <cmath>
#include <sstream>
#include <thread>

using namespace XEVLibrary;
using XEVTest::messageOf;
using XEVTest::walk;

namespace {

enum class Slice { Gated, Log, Linear, LinearLong };

struct Options {
    bool gated, linear, longExposure;
};

Options optionsOf(Slice slice) {
    switch (slice) {
    case Slice::Gated:
        return {true, false, false};
    case Slice::Log:
        return {false, false, false};
    case Slice::Linear:
        return {false, true, false};
    case Slice::LinearLong:
        break;
    }
    return {false, true, true};
}

struct EncodeCase {
    bool fine;
    Slice slice;
    double value;
    int code;
    int fineCount;
    double stored;
};

} // namespace

// Each case: the pair written for a value and the value it reads back as.
TEST(Exposure, EncodesNearestExpressibleValue) {
    const EncodeCase cases[] = {
        // Coarse table.
        {false, Slice::Linear, 100.3, 27, 0, 100},
        {false, Slice::Linear, 5, 18, 0, 10},           // below the slice: clamps
        {false, Slice::Linear, 300000, 255, 0, 220000}, // above the slice: clamps
        {false, Slice::Linear, 95, 26, 0, 90},          // midpoint of the 90..100 gap: lower
        {false, Slice::Linear, 96, 27, 0, 100},
        {false, Slice::Linear, 94, 26, 0, 90},
        {false, Slice::Linear, 950, 35, 0, 900},
        {false, Slice::Linear, 951, 36, 0, 1000},
        {false, Slice::Linear, 11500, 46, 0, 11000},
        {false, Slice::Linear, 11501, 47, 0, 12000},
        {false, Slice::Linear, 12500, 47, 0, 12000}, // midpoint inside a range: lower
        {false, Slice::Linear, 12501, 48, 0, 13000},
        {false, Slice::Linear, 219600, 255, 0, 220000},
        {false, Slice::LinearLong, 300000, 255, 0, 220000},
        {false, Slice::Gated, 0.26, 2, 0, 0.3},
        {false, Slice::Gated, 0.25, 1, 0, 0.2},
        {false, Slice::Gated, 0.95, 8, 0, 0.9},
        {false, Slice::Gated, 50, 17, 0, 9},
        {false, Slice::Gated, 0.01, 0, 0, 0.1},
        {false, Slice::Gated, -4, 0, 0, 0.1},
        {false, Slice::Log, 50, 27, 0, 100},
        {false, Slice::Log, 950, 35, 0, 900},
        {false, Slice::Log, 20000, 46, 0, 11000},
        // Fine table.
        {true, Slice::Linear, 95, 26, 100, 95},
        {true, Slice::Linear, 1500, 36, 125, 1500},
        {true, Slice::Linear, 100.3, 26, 206, 100.3}, // in the overlap: reads back as itself
        {true, Slice::Linear, 100, 26, 200, 100},
        {true, Slice::Linear, 102.76, 26, 255, 102.75},
        {true, Slice::Linear, 102.9, 27, 7, 102.8}, // past the lower range's end
        {true, Slice::Linear, 10.025, 18, 0, 10},   // fine midpoint: lower
        {true, Slice::Linear, 10.026, 18, 1, 10.05},
        {true, Slice::Linear, 1002.1, 35, 255, 1002},
        {true, Slice::Linear, 12010, 46, 252, 12008}, // midpoint 12008/12012: lower
        {true, Slice::Linear, 300000, 254, 255, 220020},
        {true, Slice::Linear, 2, 18, 0, 10},
        {true, Slice::LinearLong, 300000, 255, 4, 300000},
        {true, Slice::LinearLong, 230000, 254, 255, 220020},
        {true, Slice::LinearLong, 250000, 255, 1, 240000}, // midpoint 240000/260000: lower
        {true, Slice::LinearLong, 250001, 255, 2, 260000},
        {true, Slice::LinearLong, 220010, 254, 252, 220008},
        {true, Slice::LinearLong, 6e6, 255, 255, 5320000},
        {true, Slice::Gated, 0.26, 2, 0, 0.3},
        {true, Slice::Gated, 50, 17, 0, 9},
        {true, Slice::Log, 50, 27, 0, 100},
        {true, Slice::Log, 1001, 35, 252, 1000.8}, // midpoint 1000.8/1001.2: lower
        {true, Slice::Log, 1001.1, 35, 253, 1001.2},
        {true, Slice::Log, 15000, 46, 255, 12020},
    };
    for (const EncodeCase& c : cases) {
        const Options o = optionsOf(c.slice);
        XEVExposureParamKestrel param(o.gated, c.fine, o.longExposure, false, o.linear, false);
        uint8_t registry[16] = {};
        registry[2] = 0xAA;
        registry[5] = 0x55;
        const std::string label = std::to_string(c.value) + (c.fine ? " fine" : " coarse") +
                                  " slice " + std::to_string(static_cast<int>(c.slice));
        EXPECT_NEAR(c.stored, param.setValue(c.value, registry), 1e-9) << label;
        EXPECT_EQ(c.code, registry[4]) << label;
        EXPECT_EQ(c.fineCount, registry[3]) << label;
        EXPECT_NEAR(c.stored, param.value(registry), 1e-9) << label;
        EXPECT_EQ(param.valueToStrValue(param.setValue(c.value, registry)),
                  param.strValue(registry))
            << label << ": the value returned is the value stored";
        EXPECT_EQ(0xAA, registry[2]);
        EXPECT_EQ(0x55, registry[5]);
    }
}

TEST(Exposure, DecodesThroughCurrentSliceThenWholeTable) {
    XEVExposureParamKestrel param(false, true, false, false, true, false);
    const struct {
        int code, fine;
        double value;
    } cases[] = {
        {26, 206, 100.3},
        {27, 0, 100},
        {36, 125, 1500},
        {254, 255, 220020},
        // Codes outside the linear slice read as the whole table gives them.
        {255, 4, 300000},
        {5, 0, 0.6},
        {12, 0, 4},
    };
    for (const auto& c : cases) {
        uint8_t registry[16] = {};
        registry[4] = static_cast<uint8_t>(c.code);
        registry[3] = static_cast<uint8_t>(c.fine);
        EXPECT_NEAR(c.value, param.value(registry), 1e-9) << c.code << "/" << c.fine;
    }
    EXPECT_EQ("Error : For parameter 'Exposure Time', can't use NULL registry to write value.",
              messageOf([&] { param.setValue(100.0, nullptr); }));
    uint8_t registry[16] = {};
    EXPECT_EQ("Error : For parameter 'Exposure Time', value(nan) is not a valid exposure time.",
              messageOf([&] { param.setValue(std::nan(""), registry); }));
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

TEST(Exposure, CurrentSlices) {
    const struct {
        bool fine;
        Slice slice;
        std::size_t first, count;
    } cases[] = {
        {false, Slice::Gated, 0, 2},  {false, Slice::Log, 3, 2},
        {false, Slice::Linear, 2, 4}, {false, Slice::LinearLong, 2, 4},
        {true, Slice::Gated, 0, 2},   {true, Slice::Log, 3, 2},
        {true, Slice::Linear, 2, 4},  {true, Slice::LinearLong, 2, 5},
    };
    for (const auto& c : cases) {
        const Options o = optionsOf(c.slice);
        ExpoRangesKestrel ranges(o.gated, c.fine, o.longExposure, false, o.linear, false);
        const ExpoRanges::Slice slice = ranges.CurrentRange();
        EXPECT_EQ(c.first, static_cast<std::size_t>(slice.first - ranges.table().begin()));
        EXPECT_EQ(c.count, static_cast<std::size_t>(slice.second - slice.first));
    }
}

TEST(Exposure, ParsesTexts) {
    XEVExposureParamKestrel param(false, true, false, false, true, false);
    const struct {
        const char* text;
        double value;
    } good[] = {
        {"100.3ms", 100300}, {"100.3 ms", 100300}, {"100300 us", 100300}, {"0.1003s", 100300},
        {"100", 100},        {"5\265s", 5},        {"2e3ns", 2},          {"5 \t us", 5},
        {"1s", 1e6},         {"-5us", -5},         {"+.5us", 0.5},        {"7 ", 7},
        {"5\xC2\xB5s", 5},
    };
    for (const auto& g : good)
        EXPECT_NEAR(g.value, param.strValueToValue(g.text), 1e-9) << g.text;
    for (const char* bad : {"100 US", " 5", "", "us", "5 uss", "nan", "inf", "5m", "5 s s"})
        EXPECT_EQ(std::string("Error : ill-formed exposure time string: ") + bad,
                  messageOf([&] { param.strValueToValue(bad); }))
            << bad;
    uint8_t registry[16] = {};
    EXPECT_NEAR(100.3, param.setValue(std::string("100.3us"), registry), 1e-9);
    EXPECT_EQ("100.3us", param.strValue(registry));
    // Text holding a '%' is reported verbatim.
    EXPECT_EQ("Error : ill-formed exposure time string: 5%s",
              messageOf([&] { param.strValueToValue("5%s"); }));
}

TEST(Exposure, FormatsValues) {
    XEVExposureParamKestrel param(false, false, false, false, true, false);
    const struct {
        double value;
        const char* text;
    } cases[] = {
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
    for (const auto& c : cases)
        EXPECT_EQ(c.text, param.valueToStrValue(c.value)) << c.value;
}

TEST(Exposure, WalksTheWholeTable) {
    XEVExposureParamKestrel coarse(true, false, false, false, false, false);
    const std::vector<std::string> texts = walk(coarse);
    ASSERT_EQ(256u, texts.size());
    EXPECT_EQ("100ns", texts[0]);
    EXPECT_EQ("1us", texts[9]);
    EXPECT_EQ("90us", texts[26]);
    EXPECT_EQ("11ms", texts[46]);
    EXPECT_EQ("220ms", texts[255]);

    XEVExposureParamKestrel fine(false, true, false, false, true, false);
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
    XEVExposureParamKestrel param(false, true, false, false, true, false);
    std::ostringstream os;
    param.manual(os, 40);
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
