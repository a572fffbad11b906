#include "PluggedCamera.h"

#include <thread>

using namespace XEVTest;

namespace {

using Registers = std::vector<std::pair<uint8_t, uint8_t>>;

// Mode, clock, exposure, columns / 8, lines / 8, coarse and fine period, and
// register 12 (the fine exposure register 3 at 0).
Registers timing(uint8_t mode, uint8_t clock, uint8_t exposure, uint8_t columns, uint8_t lines,
                 uint8_t coarse, uint8_t fine, uint8_t r12 = 0) {
    return {{0, mode},   {1, clock},  {3, 0},    {4, exposure}, {8, columns},
            {10, lines}, {5, coarse}, {6, fine}, {12, r12}};
}

XEVUsbCameraConfig model(UsbModel model, UsbLink link = UsbLink::USB3) {
    auto config = XEVUsbCameraConfig::forModel(model, link);
    config.sensorWidth = config.sensorHeight = 16; // no frame is read: a small scene
    return config;
}

// 64 x 64 pixels of 16 bits, then the info line.
constexpr int SmallFrame = 65 * 128;
constexpr std::size_t SmallInfo = 64 * 64 * 2;

} // namespace

// Registers 5 and 6 (and 12) over the line count L, line time T, exposure term
// E and clock of each family, worked out by hand.
TEST_F(PluggedCamera, DecodesTheFramePeriodOfEachFamily) {
    auto notExtended = model(UsbModel::Kestrel);
    notExtended.capacity &= uint16_t(~UsbCapacity::ExtendedFps);
    const struct {
        const char* name;
        XEVUsbCameraConfig config;
        Registers registers;
        double period;
    } cases[] = {
        // T 29.4 at 25 MHz: 516 T = 15170.4, E 2000 + 1400, 4 x 100 T = 11760, 16 x 50 / 25 = 32.
        {"Heron", model(UsbModel::Heron), timing(0, 8, 19, 80, 64, 100, 50), 30362.4},
        // Low-exposure mode: 2 us with no 1400 us added: 15170.4 + 2.
        {"Heron low exposure", model(UsbModel::Heron), timing(1, 8, 3, 80, 64, 0, 0), 15172.4},
        // Old bridge, T 74.88 at 12.5 MHz: 516 T = 38638.08, E 1000 + 1400, 4 x 10 T = 2995.2,
        // 16 x 100 / 12.5 = 128.
        {"Heron old bridge", model(UsbModel::Heron, UsbLink::USB2),
         timing(0, 12, 9, 80, 64, 10, 100), 44161.28},
        // No exposure term: (516 + 4 x 211) x 29.4 = 39984, 6 x 32 / 12.5 = 15.36.
        {"Ibis", model(UsbModel::Ibis), timing(0, 8, 19, 80, 64, 211, 6), 39999.36},
        // T 30: (256 + 4) T = 7800, E 300, 16 x 24 T = 11520, 32 x 148 / 12.5 = 378.88.
        {"Jacana", model(UsbModel::Jacana, UsbLink::USB2), timing(0, 12, 19, 40, 32, 24, 148),
         19998.88},
        // 40 MHz, T 22.5: 481 T = 10822.5, E 2000 + 13, 8 x 39 T = 7020, 32 x 90 / 20 = 144.
        {"Lapwing", model(UsbModel::Lapwing), timing(0, 8, 37, 81, 60, 39, 90), 19999.5},
        // Register 1 at 0 is 80 MHz, T 11.25: 5411.25 + 2013 + 3510 + 144.
        {"Lapwing 80 MHz", model(UsbModel::Lapwing), timing(0, 0, 37, 81, 60, 39, 90), 11078.25},
        // T 33.75: 1025 T = 34593.75, E 2000 + 13, 8 x (99 / 2 = 49) T = 13230, 32 x 101 / 20.
        {"Merlin", model(UsbModel::Merlin), timing(0, 8, 37, 161, 128, 99, 101), 49998.35},
        // T 992 / 120 for 640 columns, E 2000 + 122: (514 + 8 x 54 - 1) T = 7812,
        // 36 x 216 / 120 = 64.8.
        {"Kestrel", model(UsbModel::Kestrel), timing(0, 0, 37, 80, 64, 54, 216), 9998.8},
        // The low nibble of 12 extends 5 (its high bits are the burst size): 16 + 2 x 256 = 528,
        // (514 + 4224 - 1) T = 39159.2.
        {"Kestrel extended", model(UsbModel::Kestrel), timing(0, 0, 37, 80, 64, 16, 0, 0xE2),
         41281.2},
        // Without the extended rates register 12 is ignored: (514 + 127) T = 5298.93.
        {"Kestrel not extended", notExtended, timing(0, 0, 37, 80, 64, 16, 0, 0xE2), 7420.933},
        // T 39.12, no exposure term: (577 + 4 x 60) T = 31961.04, 100 x 16 / 12.5 = 128.
        {"Bittern", model(UsbModel::Bittern, UsbLink::USB2), timing(0, 8, 0, 96, 72, 60, 100),
         32089.04},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plug(c.config);
        writeRegisters(c.registers);
        EXPECT_NEAR(c.period, camera->framePeriodMicroseconds(), 1e-3);
    }
}

// The frame a read gets carries the number of periods since the stream
// started, frames nobody read included: between reads served at t1 and t2 the
// counter moves by n, (t2 - t1) / P - 1 < n < (t2 - t1) / P + 1, and each t
// lies between the times taken before and after its read.
TEST_F(PluggedCamera, PacingFollowsTheFramePeriodRegisters) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    // 64 lines at 25 MHz, 100 us: 68 x 29.4 + 1500 = 3499.2, 40 coarse steps
    // of 4 lines add 4704, 50 fine steps of 16 / 25 add 32.
    writeRegisters({{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, 40}, {6, 50}});
    const double period = 8235.2;
    ASSERT_NEAR(period, camera->framePeriodMicroseconds(), 1e-3);
    vendor(0xD0);
    const auto beforeFirst = Clock::now();
    Read last = read(SmallFrame);
    const auto afterFirst = Clock::now();
    ASSERT_EQ(UsbError::Success, last.result);
    const uint32_t first = last.counter(SmallInfo);
    Clock::time_point beforeLast;
    for (int i = 0; i < 24; ++i) {
        beforeLast = Clock::now();
        last = read(SmallFrame);
        ASSERT_EQ(UsbError::Success, last.result);
    }
    const auto afterLast = Clock::now();
    const double counted = last.counter(SmallInfo) - first;
    EXPECT_GE(counted, 24.0) << "every read takes a frame of its own";
    EXPECT_LT(counted, microseconds(afterLast - beforeFirst) / period + 1);
    EXPECT_GT(counted, microseconds(beforeLast - afterFirst) / period - 1);

    // Paced as fast as the reads: each is served at once, however short its
    // time-out, and no frame is skipped.
    camera->setPacing(XEVUsbPacing::Fastest);
    uint32_t previous = last.counter(SmallInfo);
    for (int i = 0; i < 20; ++i) {
        const Read r = read(SmallFrame, 1);
        ASSERT_EQ(UsbError::Success, r.result) << i;
        EXPECT_EQ(previous + 1, r.counter(SmallInfo));
        previous = r.counter(SmallInfo);
    }
}

TEST_F(PluggedCamera, LateReaderSeesTheCounterJump) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    // 3499.2 us as above, 20 coarse steps add 2352.
    writeRegisters({{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, 20}, {6, 0}});
    const double period = 5851.2;
    ASSERT_NEAR(period, camera->framePeriodMicroseconds(), 1e-3);
    vendor(0xD0);
    const auto beforeFirst = Clock::now();
    const Read early = read(SmallFrame);
    const auto afterFirst = Clock::now();
    // The reader comes back five and a half periods late.
    std::this_thread::sleep_for(std::chrono::microseconds(int(period * 5.5)));
    const auto beforeSecond = Clock::now();
    const Read late = read(SmallFrame);
    const auto afterSecond = Clock::now();
    ASSERT_EQ(UsbError::Success, early.result);
    ASSERT_EQ(UsbError::Success, late.result);
    const uint32_t first = early.counter(SmallInfo), second = late.counter(SmallInfo);
    // The frames it missed were overwritten, and every one shows in the
    // counter (the bounds of the pacing test, with t1 and t2 the two reads).
    const double counted = second - first;
    EXPECT_GE(counted, 5.0);
    EXPECT_GT(counted, microseconds(beforeSecond - afterFirst) / period - 1);
    EXPECT_LT(counted, microseconds(afterSecond - beforeFirst) / period + 1);
}
