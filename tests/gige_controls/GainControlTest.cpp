#include "ControlsFixture.h"

#include "XEVGigeAgcROICustom.h"
#include "XEVGigeAutomaticGainControl.h"
#include "XEVGigeFunctions.h"
#include "XEVGigeManualGainControl.h"
#include "XEVGigeNUC1Point.h"

#include <algorithm>
#include <iterator>

using namespace XEVTest;
using namespace XEVLibrary::Gige;

namespace {

const std::vector<std::string> CustomBounds{"AgcRoiCustomLeft=10", "AgcRoiCustomTop=20",
                                            "AgcRoiCustomRight=300", "AgcRoiCustomBottom=200",
                                            "AgcRoiMode=2"};

std::vector<std::string> operator+(std::vector<std::string> head,
                                   const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(ControlsTest, AutomaticGainControlWritesTheFeaturesOfEachModel) {
    struct Case {
        GigeModel model;
        std::string firmware;
        std::vector<std::string> after; // what follows the region
        bool method, coefficient;
    } cases[] = {
        {GigeModel::HeronGigE, "01.02", {"AgcMeanStdThreshold=0.25", "AgcMode=1"}, false, false},
        {GigeModel::HeronGigE,
         "01.03",
         {"AgcAutoMeanStdThreshold=0.25", "AgcMode=1"},
         false,
         false},
        // Only the HeronGigE renamed its threshold.
        {GigeModel::HeronGigESpot,
         "01.02",
         {"AgcAutoMeanStdThreshold=0.25", "AgcMode=1"},
         true,
         false},
        {GigeModel::KestrelGigE, "", {"AgcSmoothingCoefficient=0.25", "AgcMode=1"}, false, true},
        {GigeModel::CurlewGigE,
         "",
         {"AgcAutoMeanStdThreshold=0.25", "AgcSmoothingMethod=2", "AgcMode=1"},
         true,
         false},
        {GigeModel::CurlewcGigE,
         "01.02",
         {"AgcAutoMeanStdThreshold=0.25", "AgcSmoothingMethod=2", "AgcMode=1"},
         true,
         false},
        {GigeModel::FulmarGigE, "", {"AgcAutoMeanStdThreshold=0.25", "AgcMode=1"}, true, false},
    };
    const std::size_t count = std::size(cases);
    for (std::size_t first = 0; first < count; first += 6) {
        const std::size_t batch = std::min<std::size_t>(6, count - first);
        std::vector<CameraSetup> setups;
        for (std::size_t i = 0; i < batch; ++i)
            setups.push_back(
                {cases[first + i].model, cases[first + i].firmware, {{"AgcMode", "Manuel"}}});
        open(setups);
        for (std::size_t i = 0; i < batch; ++i) {
            const Case& c = cases[first + i];
            SCOPED_TRACE(gigeModelName(c.model) + " " + c.firmware);
            AutomaticGainControl agc(0.25f, "Median", AgcROICustom(10, 20, 300, 200));
            *deviceAt(i) << agc;
            EXPECT_EQ(writes(i), CustomBounds + c.after);
            EXPECT_EQ(agc.UsesSmoothingMethod(), c.method);
            EXPECT_EQ(agc.UsesSmoothingCoefficient(), c.coefficient);
            EXPECT_EQ(agc.MeanStdThresholdOrSmoothingCoeff(), 0.25f);
            EXPECT_EQ(cameraValue(camera(i), "AgcMode"), 1u);
        }
    }
}

TEST_F(ControlsTest, SmoothingMethodFollowsTheModel) {
    AutomaticGainControl agc(0.5f, "Median");
    // Not connected: the control keeps its values.
    agc.SetSmoothingMethod("Mean");
    agc.SetMeanStdThresholdOrSmoothingCoeff(0.75f);
    EXPECT_EQ(agc.SmoothingMethod(), "Mean");
    EXPECT_EQ(agc.MeanStdThresholdOrSmoothingCoeff(), 0.75f);
    const std::string notConnected =
        "Error : The GainControl control is not connected to a camera.";
    EXPECT_EQ(messageOf([&] { (void)agc.Gain(); }), notConnected);
    EXPECT_EQ(messageOf([&] { (void)agc.HistoMean(); }), notConnected);

    open({{GigeModel::KestrelGigE, "", {}},
          {GigeModel::CurlewGigE, "", {}},
          {GigeModel::FulmarGigE, "", {}}});
    *device << agc;
    writes();
    EXPECT_EQ(messageOf([&] { (void)agc.SmoothingMethod(); }),
              "Error : KestrelGigE doesn't use SmoothingMethod, use SmoothingCoefficient instead");
    EXPECT_EQ(messageOf([&] { agc.SetSmoothingMethod("None"); }),
              "Error : KestrelGigE don't use SmoothingMethod, use SmoothingCoefficient instead");
    EXPECT_EQ(writes(), std::vector<std::string>{});

    // Curlew cameras hold the method; the getter reads the device.
    AutomaticGainControl curlew(0.5f, "Median");
    *deviceAt(1) << curlew;
    writes(1);
    curlew.SetSmoothingMethod("Mean");
    EXPECT_EQ(writes(1), std::vector<std::string>{"AgcSmoothingMethod=1"});
    deviceAt(1)->setParamValueOf("AgcSmoothingMethod", "None");
    EXPECT_EQ(curlew.SmoothingMethod(), "None");

    // Other models keep it to themselves.
    AutomaticGainControl fulmar(0.5f, "Median");
    *deviceAt(2) << fulmar;
    writes(2);
    fulmar.SetSmoothingMethod("Mean");
    EXPECT_EQ(fulmar.SmoothingMethod(), "Mean");
    fulmar.SetMeanStdThresholdOrSmoothingCoeff(4.0f);
    EXPECT_EQ(writes(2), std::vector<std::string>{"AgcAutoMeanStdThreshold=4"});
    EXPECT_EQ(cameraFloat(camera(2), "AgcAutoMeanStdThreshold"), 4.0f);
}

TEST_F(ControlsTest, ManualGainControlWritesGainOffsetThenManuel) {
    open(GigeModel::FulmarGigE);
    ManualGainControl manual(2.0f, -100.0f, AgcROI("CENTER_FRAME"));
    manual.SetGain(2.5f); // kept until connected
    EXPECT_EQ(manual.Gain(), 2.5f);
    EXPECT_EQ(writes(), std::vector<std::string>{});
    *device << manual;
    EXPECT_EQ(writes(), (std::vector<std::string>{"AgcRoiMode=1", "AgcManualGain=2.5",
                                                  "AgcManualOffset=-100", "AgcMode=0"}));
    manual.SetOffset(12.5f);
    manual.SetGain(3.5f);
    EXPECT_EQ(writes(), (std::vector<std::string>{"AgcManualOffset=12.5", "AgcManualGain=3.5"}));
    EXPECT_EQ(manual.Gain(), 3.5f);
    EXPECT_EQ(manual.Offset(), 12.5f);
    EXPECT_EQ(cameraFloat(camera(), "AgcManualGain"), 3.5f);
    // A copy keeps its own region, of its own class.
    ManualGainControl copy = manual;
    EXPECT_EQ(copy.Roi().Mode(), "CENTER_FRAME");
}

TEST_F(ControlsTest, StatisticsAreReadFromTheCameraAtEachCall) {
    open(GigeModel::HeronGigE);
    ManualGainControl manual(1.0f, 0.0f);
    *device << manual;
    const uint64_t before = camera().counters().readRegisters;
    EXPECT_EQ(manual.HistoMean(), 0.0f);
    EXPECT_EQ(manual.HistoStdDev(), 0.0f);
    EXPECT_EQ(manual.HistoMin(), 0.0f);
    EXPECT_EQ(manual.HistoMax(), 0.0f);
    // Heartbeats read too: at least one read per statistic.
    EXPECT_GE(camera().counters().readRegisters - before, 4u);
}

TEST_F(ControlsTest, ControlsChainOnTheDevice) {
    open(GigeModel::HeronGigE, "", {{"AgcMode", "Auto"}});
    ManualGainControl manual(1.5f, 0.0f);
    NUC1Point nuc(1);
    XEVDevice& same = (*device << manual << nuc);
    EXPECT_EQ(&same, device);
    EXPECT_EQ(writes(),
              (std::vector<std::string>{"AgcManualGain=1.5", "AgcMode=0", "NucSelectTable=1",
                                        "NucLoadFromFlash=1", "NucActivate=1"}));
}

} // namespace
