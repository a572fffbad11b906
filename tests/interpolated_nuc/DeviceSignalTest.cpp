// An emulated USB camera's NUC signal drives the stage: the configuration
// written to the camera chooses the table, and captured frames are corrected
// with it.
#include "NucTestUtil.h"
#include "tests/toolbox_outputs/FrameCapture.h"
#include "tests/usb_device/UsbDeviceFixture.h"

using namespace XEVNucTest;

namespace {

/// The NUC path an emulated Kestrel with a TEC announces at power-on.
const std::string KestrelPath = "120MHz/Log/Standard/T_15/";

} // namespace

class InterpolatedNucDevice : public XEVTest::UsbDeviceTest {};

TEST_F(InterpolatedNucDevice, TheCameraConfigurationChoosesTheTable) {
    TempTree tree;
    // 2 x 2 tables in the corner of the sensor; the rest passes unchanged.
    tree.write(KestrelPath + "NUCFactory_1000.yml",
               singleTable(2, 2, "0, 0, 0, 0", "1., 1., 1., 1."));
    tree.write(KestrelPath + "NUCFactory_4000.yml",
               singleTable(2, 2, "0, 0, 0, 0", "1., 1., 1., 1."));
    tree.write("40MHz/NUCFactory_1000.yml", singleTable(1, 1, "0", "1."));
    openOne(XEVTest::kestrelConfig());
    XEVInterpolatedNuc stage(*device, tree.base().c_str(), 4);
    EXPECT_EQ(stage.tableCount(), 3u);

    device->setParamValueOf("Exposure Time", 3000.0, true);
    EXPECT_EQ(stage.currentExposure(), 3000.0) << "interpolated";
    device->setParamValueOf("Exposure Time", "1ms", true);
    EXPECT_EQ(stage.currentExposure(), 1000.0);
    device->setParamValueOf("Exposure Time", 5000.0, false);
    EXPECT_EQ(stage.currentExposure(), 1000.0) << "nothing written to the camera yet";
    EXPECT_TRUE(device->updateConfig());
    EXPECT_EQ(stage.currentExposure(), 4000.0) << "above the last table";

    XEVTest::FrameCapture raw, out;
    *device << raw;
    *device << stage << out;
    ASSERT_TRUE(capture(device, 3));
    ASSERT_TRUE(out.waitForFrames(3));
    ASSERT_EQ(raw.count(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const cv::Mat in = raw.frame(i), corrected = out.frame(i);
        ASSERT_EQ(out.info(i).frameNumber, raw.info(i).frameNumber);
        ASSERT_EQ(corrected.size(), in.size());
        ASSERT_EQ(corrected.type(), CV_16UC1);
        // Dark 0 and gain 1 in the corner: the pedestal is added there only.
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(corrected.at<uint16_t>(r, c),
                          std::min(in.at<uint16_t>(r, c) + 1000, 16383));
        cv::Mat outside = corrected.clone();
        in(cv::Rect(0, 0, 2, 2)).copyTo(outside(cv::Rect(0, 0, 2, 2)));
        EXPECT_EQ(cv::countNonZero(outside != in), 0);
    }
    EXPECT_EQ(stage.currentExposure(), 4000.0) << "the capture announced the same table";
}

TEST_F(InterpolatedNucDevice, DestroyingTheStageDisconnectsIt) {
    TempTree tree;
    tree.write(KestrelPath + "NUCFactory_1000.yml", singleTable(1, 1, "0", "1."));
    openOne(XEVTest::kestrelConfig());
    {
        XEVInterpolatedNuc stage(*device, tree.base().c_str(), 4);
        device->setParamValueOf("Exposure Time", 3000.0, true);
        EXPECT_EQ(stage.currentExposure(), 1000.0);
    }
    EXPECT_EQ(device->impl()->nucSignal.num_slots(), 0u);
    device->setParamValueOf("Exposure Time", 4000.0, true); // nobody left to call
}
