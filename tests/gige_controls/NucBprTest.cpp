#include "ControlsFixture.h"

#include "XEVGigeBpr.h"
#include "XEVGigeFunctions.h"
#include "XEVGigeNUC1Point.h"
#include "XEVGigeNUC2Points.h"

#include <functional>

using namespace XEVTest;
using namespace XEVLibrary::Gige;

namespace {

using Lines = std::vector<std::string>;

/// One operation of a control, the writes it makes, and the state after it.
struct Step {
    const char* what;
    std::function<void()> run;
    Lines writes;
};

TEST_F(ControlsTest, NucWithAnIndexLoadsItsTableAtConnect) {
    open(GigeModel::HeronGigE);
    NUC1Point nuc(2);
    *device << nuc;
    EXPECT_EQ(writes(), (Lines{"NucSelectTable=2", "NucLoadFromFlash=1", "NucActivate=1"}));
    EXPECT_EQ(nuc.CurrentIndex(), 2);
    EXPECT_TRUE(nuc.Active());
    EXPECT_EQ(nuc.BusyFeature(), "NIOS_is_BUSY");
    EXPECT_EQ(busy(), 0u); // the load was waited for
}

TEST_F(ControlsTest, NucOperationsSelectCommandAndActivate) {
    open(GigeModel::KestrelGigE);
    NUC2Points nuc;
    *device << nuc; // no index: nothing to load
    EXPECT_EQ(writes(), Lines{});
    // Values the camera already holds are not written again.
    const Step steps[] = {
        {"Save(1)", [&] { nuc.Save(1); }, {"NucSelectTable=1", "NucSaveInFlash=1"}},
        {"ComputeDark(3)", [&] { nuc.ComputeDark(3); }, {"NucSelectTable=3", "NucCompute2Pts1=1"}},
        {"ComputeWhite()", [&] { nuc.ComputeWhite(); }, {"NucCompute2Pts2=1", "NucActivate=1"}},
        {"Load(-1)", [&] { nuc.Load(); }, {"NucLoadFromFlash=1"}},
        {"Activate(false)", [&] { nuc.Activate(false); }, {"NucActivate=0"}},
        {"Load(2)",
         [&] { nuc.Load(2); },
         {"NucSelectTable=2", "NucLoadFromFlash=1", "NucActivate=1"}},
        {"Reset()", [&] { nuc.Reset(); }, {"NucResetTable=1", "NucActivate=0"}},
        {"SelectNUC(0)", [&] { nuc.SelectNUC(0); }, {"NucSelectTable=0"}},
    };
    const int index[] = {1, 3, 3, 3, 3, 2, 2, 0};
    const bool active[] = {false, false, true, true, false, true, false, false};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(steps[i].what);
        steps[i].run();
        EXPECT_EQ(writes(), steps[i].writes);
        EXPECT_EQ(nuc.CurrentIndex(), index[i]);
        EXPECT_EQ(nuc.Active(), active[i]);
        EXPECT_EQ(busy(), 0u);
    }
}

TEST_F(ControlsTest, OnePointNucComputesAndActivates) {
    open(GigeModel::CurlewGigE);
    NUC1Point onePoint;
    *device << onePoint;
    onePoint.Compute(1);
    EXPECT_EQ(writes(), (Lines{"NucSelectTable=1", "NucCompute1Pts=1", "NucActivate=1"}));
    EXPECT_EQ(busy(), 0u);
    onePoint.Compute();
    EXPECT_EQ(writes(), Lines{"NucCompute1Pts=1"}); // table 1 and "On" already
    EXPECT_EQ(onePoint.CurrentIndex(), 1);
}

TEST_F(ControlsTest, NucOperationsNeedADeviceAndATable) {
    NUC1Point loose(1);
    const std::string notConnected = "Error : The NUC control is not connected to a camera.";
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { loose.Compute(1); }, [&] { loose.SelectNUC(1); }, [&] { loose.Save(); },
             [&] { loose.Load(1); }, [&] { loose.Activate(true); }, [&] { loose.Reset(); }})
        EXPECT_EQ(messageOf(operation), notConnected);

    open(GigeModel::HeronGigE);
    NUC1Point nuc;
    *device << nuc;
    NUC2Points twoPoints;
    *device << twoPoints;
    const std::string noTable = "Error : No NUC table given, and none is current.";
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { nuc.Compute(); }, [&] { nuc.SelectNUC(-1); }, [&] { nuc.Save(-1); },
             [&] { nuc.Load(); }, [&] { twoPoints.ComputeDark(); }}) {
        EXPECT_EQ(messageOf(operation), noTable);
        // A std::exception, as every error of the library.
        EXPECT_THROW(operation(), std::exception);
    }
    EXPECT_EQ(writes(), Lines{});
    EXPECT_EQ(messageOf([&] { nuc.Connect(nullptr); }),
              "Error : Camera-side controls need a GigE device.");
}

TEST_F(ControlsTest, TwoPointNucAndBprOnlyOnHeronAndKestrel) {
    const GigeModel refused[] = {GigeModel::CurlewGigE, GigeModel::CurlewcGigE,
                                 GigeModel::FulmarGigE};
    const GigeModel taken[] = {GigeModel::HeronGigESpot, GigeModel::KestrelGigE};
    open({{refused[0], "", {}},
          {refused[1], "", {}},
          {refused[2], "", {}},
          {taken[0], "", {}},
          {taken[1], "", {}}});
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(gigeModelName(refused[i]));
        NUC2Points nuc(1);
        EXPECT_EQ(runtimeErrorOf([&] { *deviceAt(i) << nuc; }),
                  "NUC2Points is used with HeronGigE or KestrelGigE only");
        Bpr bpr;
        EXPECT_EQ(runtimeErrorOf([&] { *deviceAt(i) << bpr; }),
                  "Bpr is used with HeronGigE or KestrelGigE only");
        EXPECT_EQ(writes(i), Lines{});
        // Refused controls stay unconnected.
        EXPECT_EQ(messageOf([&] { nuc.Activate(true); }),
                  "Error : The NUC control is not connected to a camera.");
    }
    for (std::size_t i = 3; i < 5; ++i) {
        SCOPED_TRACE(gigeModelName(taken[i - 3]));
        NUC2Points nuc(1);
        *deviceAt(i) << nuc;
        EXPECT_EQ(writes(i), (Lines{"NucSelectTable=1", "NucLoadFromFlash=1", "NucActivate=1"}));
        Bpr bpr;
        *deviceAt(i) << bpr;
        EXPECT_EQ(writes(i), Lines{"BprActivate=1"});
    }
}

TEST_F(ControlsTest, BprRoutesItsThresholdByMethod) {
    Bpr bpr;
    // Nothing happens until connected.
    bpr.SetDetectMethod(Bpr::OffsetDetection);
    bpr.SetThreshold(80);
    bpr.Compute(Bpr::OffsetDetection, 80);
    bpr.Activate(true);
    bpr.Load();
    bpr.Save();
    bpr.Reset();
    EXPECT_EQ(bpr.Method(), Bpr::GainDetection);
    EXPECT_EQ(bpr.Threshold(), 50u);
    EXPECT_FALSE(bpr.Active());

    open(GigeModel::HeronGigE);
    *device << bpr;
    EXPECT_EQ(writes(), Lines{"BprActivate=1"});
    EXPECT_TRUE(bpr.Active());
    const Step steps[] = {
        {"offset method",
         [&] { bpr.SetDetectMethod(Bpr::OffsetDetection); },
         {"BprDetectMethod=1"}},
        {"offset threshold", [&] { bpr.SetThreshold(80); }, {"BprOffsetThreshold=80"}},
        {"gain method", [&] { bpr.SetDetectMethod(Bpr::GainDetection); }, {"BprDetectMethod=0"}},
        {"gain threshold", [&] { bpr.SetThreshold(70); }, {"BprGainThreshold=70"}},
        {"method 2", [&] { bpr.SetDetectMethod(Bpr::DetectMethod(2)); }, {"BprDetectMethod=2"}},
        {"no threshold for method 2", [&] { bpr.SetThreshold(90); }, {}},
        {"Compute",
         [&] { bpr.Compute(Bpr::OffsetDetection, 60); },
         {"BprDetectMethod=1", "BprOffsetThreshold=60", "BprRun=1"}},
        {"Activate(false)", [&] { bpr.Activate(false); }, {"BprActivate=0"}},
        {"Load", [&] { bpr.Load(); }, {"BprLoad=1", "BprActivate=1"}},
        {"Save", [&] { bpr.Save(); }, {"BprSave=1"}},
        {"Reset", [&] { bpr.Reset(); }, {"BprResetList=1"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.run();
        EXPECT_EQ(writes(), step.writes);
        EXPECT_EQ(busy(), 0u);
    }
    EXPECT_EQ(bpr.Method(), Bpr::OffsetDetection);
    EXPECT_EQ(bpr.Threshold(), 60u);
    EXPECT_EQ(bpr.BadPixelNumber(), 42u); // what the emulated camera finds
    EXPECT_TRUE(bpr.Active());
    EXPECT_EQ(cameraValue(camera(), "BprGainThreshold"), 70u);
    EXPECT_EQ(cameraValue(camera(), "BprOffsetThreshold"), 60u);
}

} // namespace
