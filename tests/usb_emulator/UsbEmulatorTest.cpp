// The emulated camera driven through its device side as the host stack would.
// Its faults, triggers, counter wraps and unplugging are driven through the
// library by tests/usb and tests/usb_device; here its scene and its pacing.

#include "TestSupport.h"
#include "XEVSyntheticScene.h"
#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

using namespace XEVTest;
using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

namespace {

using Registers = std::vector<std::pair<uint8_t, uint8_t>>;

/// A bulk read: its result and the buffer.
struct Read {
    int result = 0;
    int transferred = 0;
    std::vector<uint8_t> data;

    /// Little-endian word @p k from byte @p offset.
    uint16_t word(std::size_t offset, std::size_t k) const {
        return uint16_t(data[offset + 2 * k] | data[offset + 2 * k + 1] << 8);
    }
    /// The 24-bit frame counter of the info line that starts at byte @p info.
    uint32_t counter(std::size_t info) const {
        return uint32_t(word(info, 13)) << 12 | word(info, 14);
    }
};

// 64 x 64 pixels of 16 bits, then the info line.
constexpr int SmallFrame = 65 * 128;
constexpr std::size_t SmallInfo = 64 * 64 * 2;

/// A read of a 64 x 64 frame between two clock readings.
struct TimedRead {
    Clock::time_point before;
    Read read;
    Clock::time_point after;
    uint32_t counter() const { return read.counter(SmallInfo); }
};

/// One emulated Heron on a bus.
class PluggedCamera : public ::testing::Test {
protected:
    /// Plugs the camera, writes @p registers and starts its stream.
    void stream(const Registers& registers, XEVUsbPacing pacing = XEVUsbPacing::Registers) {
        camera = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
        camera->setPacing(pacing);
        writeRegisters(registers);
        unsigned char zero = 0;
        ASSERT_EQ(0, camera->controlTransfer(0x40, 0xD0, 0, 0, &zero, 0));
    }
    /// One block request of (address, value) pairs, value first on the wire.
    void writeRegisters(const Registers& registers) {
        std::vector<uint8_t> block;
        for (const auto& r : registers)
            block.insert(block.end(), {r.second, r.first});
        ASSERT_EQ(int(block.size()),
                  camera->controlTransfer(0x40, 0xD6, 0, 0, block.data(), uint16_t(block.size())));
    }
    Read read(int length, unsigned timeoutMs = 1000) {
        Read r{0, 0, std::vector<uint8_t>(std::size_t(length))};
        r.result = camera->bulkRead(camera->config().bulkEndpoint(), r.data.data(), length,
                                    &r.transferred, timeoutMs);
        return r;
    }
    /// A Heron streaming 64 x 64 pixels at 25 MHz, 100 us, paced by its
    /// registers: 68 x 29.4 + 1500 = 3499.2 us, each coarse step of 4 lines
    /// adding 117.6 us and each fine step 16 / 25 us.
    void start(uint8_t coarse, uint8_t fine, double period) {
        stream({{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, coarse}, {6, fine}});
        ASSERT_NEAR(period, camera->framePeriodMicroseconds(), 1e-3);
    }
    TimedRead timedRead() {
        const Clock::time_point before = Clock::now();
        Read r = read(SmallFrame);
        EXPECT_EQ(UsbError::Success, r.result);
        return {before, std::move(r), Clock::now()};
    }
    /// Between reads served at t1 and t2 the counter moves by n,
    /// (t2 - t1) / P - 1 < n < (t2 - t1) / P + 1, each t lying between the
    /// times taken before and after its read.
    static void expectCounted(const TimedRead& t1, const TimedRead& t2, double period) {
        const double counted = double(t2.counter()) - t1.counter();
        using Us = std::chrono::duration<double, std::micro>;
        EXPECT_LT(counted, Us(t2.after - t1.before).count() / period + 1);
        EXPECT_GT(counted, Us(t2.before - t1.after).count() / period - 1);
    }

    XEVUsbEmulatedBus bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
};

} // namespace

TEST_F(PluggedCamera, SceneFollowsExposureAndFlatFieldKeepsFixedPattern) {
    // 128 x 128 pixels from (256, 256), 500 us.
    stream({{0, 0}, {7, 64}, {8, 16}, {9, 64}, {10, 16}, {4, 4}}, XEVUsbPacing::Fastest);
    const int size = 129 * 256, pixels = 128 * 128;
    const double offsetMean = XEVSyntheticScene::Options().offsetMean;
    auto signal = [&] {
        const Read r = read(size);
        double sum = 0;
        for (int k = 0; k < pixels; ++k)
            sum += r.word(0, k);
        return sum / pixels - offsetMean;
    };
    EXPECT_DOUBLE_EQ(500.0, camera->exposureMicroseconds());
    const double shortExposure = signal();
    writeRegisters({{4, 19}}); // 2000 us
    const double longExposure = signal();
    EXPECT_GT(shortExposure, 100.0);
    EXPECT_NEAR(4.0, longExposure / shortExposure, 0.4);

    camera->setFlatField(1000);
    const Read low = read(size);
    camera->setFlatField(3000);
    const Read high = read(size);
    double minGain = 10, maxGain = 0;
    int stuck = 0;
    for (int k = 0; k < pixels; ++k) {
        const double gain = (high.word(0, k) - low.word(0, k)) / 2000.0;
        stuck += gain == 0; // dead and hot pixels do not see the light
        minGain = gain == 0 ? minGain : std::min(minGain, gain);
        maxGain = std::max(maxGain, gain);
    }
    EXPECT_LT(stuck, 40);
    EXPECT_GT(minGain, 0.75);
    EXPECT_LT(maxGain, 1.25);
    EXPECT_GT(maxGain - minGain, 0.1) << "no fixed-pattern gain";
    camera->clearFlatField();
    EXPECT_NEAR(longExposure, signal(), 0.05 * longExposure);
}

// The frame a read gets carries the number of periods since the stream
// started, frames nobody read included.
TEST_F(PluggedCamera, PacingFollowsTheFramePeriodRegisters) {
    const double period = 3499.2 + 40 * 117.6 + 50 * 0.64; // 8235.2 us
    start(40, 50, period);
    const TimedRead first = timedRead();
    TimedRead last = first;
    for (int i = 0; i < 24; ++i)
        last = timedRead();
    EXPECT_GE(last.counter() - first.counter(), 24u) << "every read takes a frame of its own";
    expectCounted(first, last, period);

    // Paced as fast as the reads: each is served at once, however short its
    // time-out, and no frame is skipped.
    camera->setPacing(XEVUsbPacing::Fastest);
    uint32_t previous = last.counter();
    for (int i = 0; i < 20; ++i) {
        const Read r = read(SmallFrame, 1);
        ASSERT_EQ(UsbError::Success, r.result) << i;
        EXPECT_EQ(previous + 1, r.counter(SmallInfo));
        previous = r.counter(SmallInfo);
    }
}

TEST_F(PluggedCamera, LateReaderSeesTheCounterJump) {
    const double period = 3499.2 + 20 * 117.6; // 5851.2 us
    start(20, 0, period);
    const TimedRead early = timedRead();
    // The reader comes back five and a half periods late.
    std::this_thread::sleep_for(std::chrono::microseconds(int(period * 5.5)));
    const TimedRead late = timedRead();
    // The frames it missed were overwritten, and every one shows in the counter.
    EXPECT_GE(late.counter() - early.counter(), 5u);
    expectCounted(early, late, period);
}
