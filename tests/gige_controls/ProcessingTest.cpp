#include "ControlsFixture.h"

#include "XEVGigeEnhancementFilter.h"
#include "XEVGigeEqualizationHistogram.h"
#include "XEVGigeFunctions.h"
#include "XEVGigeGammaCorrection.h"
#include "XEVGigeReticule.h"

#include <functional>
#include <iterator>

using namespace XEVTest;
using namespace XEVLibrary::Gige;

namespace {

using Lines = std::vector<std::string>;

TEST_F(ControlsTest, KestrelRefusesTheImageProcessingControls) {
    open(GigeModel::KestrelGigE);
    GammaCorrection gamma(1.5f, 10);
    EqualizationHistogram equalization(10, true);
    EnhancementFilter enhancement(EnhancementFilter::Smooth, 3, true);
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"GammaCorrection", [&] { *device << gamma; }},
        {"EqualizationHistogram", [&] { *device << equalization; }},
        {"EnhancementFilter", [&] { *device << enhancement; }},
        {"Reticule", [&] { Reticule(device, 1, 2, 3, 4, 1, 1, Reticule::White, true); }},
    };
    for (const auto& [control, attach] : cases)
        EXPECT_EQ(runtimeErrorOf(attach), control + " is not implemented in KestrelGigE");
    EXPECT_EQ(writes(), Lines{});
    // Refused: the controls keep their values and stay unconnected.
    gamma.SetGamma(2.0f);
    EXPECT_EQ(gamma.Gamma(), 2.0f);
    EXPECT_EQ(writes(), Lines{});
}

TEST_F(ControlsTest, GammaThresholdFeatureFollowsModelAndFirmware) {
    const struct {
        GigeModel model;
        const char* firmware;
        const char* threshold;
    } cases[] = {{GigeModel::FulmarGigE, "01.02", "GammaSeuil"},
                 {GigeModel::FulmarGigE, "01.03", "GammaThd"},
                 {GigeModel::HeronGigE, "01.02", "GammaThd"},
                 {GigeModel::CurlewcGigE, "01.02", "GammaThd"}};
    std::vector<CameraSetup> setups;
    for (const auto& c : cases)
        setups.push_back({c.model, c.firmware, {}});
    open(setups);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(gigeModelName(cases[i].model) + " " + cases[i].firmware);
        GammaCorrection gamma(2.0f, 100);
        *deviceAt(i) << gamma;
        const std::string threshold = cases[i].threshold;
        EXPECT_EQ(writes(i), (Lines{"Gamma=2", threshold + "=100"}));
        EXPECT_EQ(gamma.Gamma(), 2.0f);
        EXPECT_EQ(gamma.Threshold(), 100u);
        gamma.SetThreshold(7);
        gamma.SetGamma(0.5f);
        EXPECT_EQ(writes(i), (Lines{threshold + "=7", "Gamma=0.5"}));
        EXPECT_EQ(cameraValue(camera(i), threshold), 7u);
    }
}

TEST_F(ControlsTest, EqualizationAndEnhancementWriteWhenSwitchedOn) {
    EqualizationHistogram loose(5, false);
    loose.SetThreshold(9);
    loose.Activate(true);
    EXPECT_EQ(loose.Threshold(), 9u);
    EXPECT_TRUE(loose.Active());

    open(GigeModel::HeronGigE);
    EqualizationHistogram off(300, false);
    *device << off; // "Off" already: nothing changes
    EXPECT_EQ(writes(), Lines{});
    off.SetThreshold(400);
    EXPECT_EQ(writes(), Lines{"EqualThreshold=400"});

    EqualizationHistogram equalization(300, true);
    *device << equalization;
    EXPECT_EQ(writes(), (Lines{"EqualThreshold=300", "EqualActivate=1"}));
    equalization.Activate(false);
    EXPECT_EQ(writes(), Lines{"EqualActivate=0"});
    EXPECT_FALSE(equalization.Active());

    EnhancementFilter enhancement(EnhancementFilter::Median, 5, true);
    *device << enhancement;
    EXPECT_EQ(writes(), (Lines{"EnhancFilter=3", "EnhancCoef=5", "EnhancActivate=1"}));
    enhancement.SetKernelSize(7);
    enhancement.SetFilterType(EnhancementFilter::Smooth);
    enhancement.Activate(false);
    EXPECT_EQ(writes(), (Lines{"EnhancCoef=7", "EnhancFilter=1", "EnhancActivate=0"}));
    EXPECT_EQ(enhancement.GetFilterType(), EnhancementFilter::Smooth);
    EXPECT_EQ(enhancement.KernelSize(), 7u);

    EnhancementFilter sharpen(EnhancementFilter::Sharpen, 9, false);
    *device << sharpen; // off: type and size stay the camera's
    EXPECT_EQ(writes(), Lines{});
    EXPECT_EQ(cameraValue(camera(), "EnhancCoef"), 7u);
}

TEST_F(ControlsTest, ReticuleWritesItsValuesAndTheChrominanceOfOldHerons) {
    const Lines geometry{"RetCenterPosx=100", "RetCenterPosy=200", "RetLengthH=30",
                         "RetLengthV=50",     "RetThickH=3",       "RetThickV=5"};
    const struct {
        GigeModel model;
        const char* firmware;
        bool chrominance;
    } cases[] = {{GigeModel::HeronGigE, "01.09", true},
                 {GigeModel::HeronGigE, "02.00", false},
                 {GigeModel::HeronGigESpot, "01.09", false},
                 {GigeModel::FulmarGigE, "", false}};
    std::vector<CameraSetup> setups;
    // A chrominance left elsewhere, so that the 128 is a change.
    for (const auto& c : cases)
        setups.push_back(
            {c.model, c.firmware, c.chrominance ? Presets{{"RetCrCbColor", "0"}} : Presets{}});
    open(setups);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(gigeModelName(cases[i].model) + " " + cases[i].firmware);
        EXPECT_EQ(camera(i).featureAddress("RetCrCbColor") != 0, cases[i].chrominance);
        Reticule reticule(deviceAt(i), 100, 200, 30, 50, 3, 5, Reticule::White, true);
        Lines expected = geometry;
        if (cases[i].chrominance)
            expected.push_back("RetCrCbColor=128");
        expected.push_back("RetYcolor=255");
        expected.push_back("RetOn=1");
        EXPECT_EQ(writes(i), expected);
        reticule.SetColor(Reticule::Gray);
        EXPECT_EQ(writes(i), Lines{"RetYcolor=128"}); // 128 is there already
    }
}

TEST_F(ControlsTest, ReticuleResetRestoresTheDefaultsWithoutWriting) {
    open(GigeModel::HeronGigE);
    Reticule reticule(device);
    EXPECT_EQ(writes(), Lines{});
    reticule.SetPos(10, 11);
    reticule.SetLength(12, 13);
    reticule.SetThickness(5, 6);
    reticule.Activate(true);
    EXPECT_EQ(writes(), (Lines{"RetCenterPosx=10", "RetCenterPosy=11", "RetLengthH=12",
                               "RetLengthV=13", "RetThickH=5", "RetThickV=6", "RetOn=1"}));
    reticule.Reset();
    EXPECT_EQ(writes(), Lines{"RetResetProperties=1"});
    EXPECT_EQ((std::vector<unsigned>{reticule.PosX(), reticule.PosY(), reticule.LengthH(),
                                     reticule.LengthV(), reticule.ThicknessH(),
                                     reticule.ThicknessV(), unsigned(reticule.GetColor())}),
              (std::vector<unsigned>{320, 256, 40, 40, 2, 4, 0}));
    EXPECT_FALSE(reticule.Active());
}

} // namespace
