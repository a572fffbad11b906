// The emulated camera driven through its device side as the host stack would.

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

/// A bulk read: its result, its byte count and the buffer, 64 bytes longer
/// than asked and filled with 0xEE so that an overrun shows.
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

// 64 x 8 pixels of 16 bits (registers 8 and 10 at 8 and 1), then the info line.
constexpr int Strip = 9 * 128;
constexpr std::size_t StripInfo = 8 * 128;
// 64 x 64 pixels of 16 bits, then the info line.
constexpr int SmallFrame = 65 * 128;
constexpr std::size_t SmallInfo = 64 * 64 * 2;

double microseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::micro>(elapsed).count();
}

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

/// A read of a 64 x 64 frame between two clock readings.
struct TimedRead {
    Clock::time_point before;
    Read read;
    Clock::time_point after;
    uint32_t counter() const { return read.counter(SmallInfo); }
};

/// One emulated camera on a bus.
class PluggedCamera : public ::testing::Test {
protected:
    void plug(const XEVUsbCameraConfig& config) { camera = bus.plug(config); }
    /// Plugs a camera paced as fast as the reads, writes @p registers and
    /// starts its stream.
    void stream(const XEVUsbCameraConfig& config, const Registers& registers) {
        plug(config);
        camera->setPacing(XEVUsbPacing::Fastest);
        writeRegisters(registers);
        vendor(0xD0);
    }
    int vendor(uint8_t request) {
        unsigned char zero = 0;
        return camera->controlTransfer(0x40, request, 0, 0, &zero, 0);
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
        Read r{0, 0, std::vector<uint8_t>(std::size_t(length) + 64, 0xEE)};
        r.result = camera->bulkRead(camera->config().bulkEndpoint(), r.data.data(), length,
                                    &r.transferred, timeoutMs);
        return r;
    }
    /// A Heron streaming 64 x 64 pixels at 25 MHz, 100 us, paced by its
    /// registers: 68 x 29.4 + 1500 = 3499.2 us, each coarse step of 4 lines
    /// adding 117.6 us and each fine step 16 / 25 us.
    void start(uint8_t coarse, uint8_t fine, double period) {
        plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
        writeRegisters({{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, coarse}, {6, fine}});
        ASSERT_NEAR(period, camera->framePeriodMicroseconds(), 1e-3);
        vendor(0xD0);
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
        EXPECT_LT(counted, microseconds(t2.after - t1.before) / period + 1);
        EXPECT_GT(counted, microseconds(t2.before - t1.after) / period - 1);
    }

    XEVUsbEmulatedBus bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
};

} // namespace

TEST_F(PluggedCamera, CounterWrapsPastZeroOrToZero) {
    for (bool toZero : {false, true}) {
        SCOPED_TRACE(toZero);
        auto config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2);
        config.initialFrameCounter = 0xFFFFFE;
        config.counterWrapsToZero = toZero;
        stream(config, {{0, 0}, {8, 8}, {10, 1}});
        std::vector<uint32_t> counters;
        for (int i = 0; i < 3; ++i)
            counters.push_back(read(Strip).counter(StripInfo));
        EXPECT_EQ((std::vector<uint32_t>{0xFFFFFE, 0xFFFFFF, toZero ? 0u : 1u}), counters);
    }
}

TEST_F(PluggedCamera, SceneFollowsExposureAndFlatFieldKeepsFixedPattern) {
    // 128 x 128 pixels from (256, 256), 500 us.
    stream(XEVUsbCameraConfig::forModel(UsbModel::Heron),
           {{0, 0}, {7, 64}, {8, 16}, {9, 64}, {10, 16}, {4, 4}});
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

TEST_F(PluggedCamera, SoftTriggerBurstOfRegisters12And13) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters({{0, 0x18}, {8, 8}, {10, 1}});
    EXPECT_EQ(UsbError::Timeout, read(Strip, 30).result);
    writeRegisters({{12, 2 << 5}, {13, 0xC2}}); // not a trigger
    EXPECT_EQ(UsbError::Timeout, read(Strip, 30).result);
    writeRegisters({{12, 2 << 5}, {13, 0}}); // three frames
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(UsbError::Success, read(Strip, 500).result) << i;
    EXPECT_EQ(UsbError::Timeout, read(Strip, 30).result);

    // A trigger that arrives while a read waits releases it (a read that
    // starts after it finds the frame ready: it must succeed either way).
    Read waiting{};
    std::thread reader([&] { waiting = read(Strip, 3000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeRegisters({{12, 0}, {13, 0}});
    reader.join();
    EXPECT_EQ(UsbError::Success, waiting.result);
}

TEST_F(PluggedCamera, FaultsOnDemand) {
    stream(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2), {{0, 0}, {8, 8}, {10, 1}});
    camera->injectBulkErrors(2, UsbError::Timeout);
    camera->setTimeoutFaultDelay(std::chrono::milliseconds(40));
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(Strip, 1000).result);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(UsbError::Timeout, read(Strip, 10).result);
    EXPECT_EQ(UsbError::Success, read(Strip).result);

    camera->injectBulkErrors(1, UsbError::IO);
    EXPECT_EQ(UsbError::IO, read(Strip).result);

    camera->injectEmptyReads(1);
    const uint64_t before = camera->deliveredFrames();
    Read r = read(Strip);
    EXPECT_EQ(UsbError::Success, r.result);
    EXPECT_EQ(0, r.transferred);
    EXPECT_EQ(before, camera->deliveredFrames());

    camera->injectShortReads(1, 100);
    r = read(Strip);
    EXPECT_EQ(100, r.transferred);
    EXPECT_EQ(0xEE, r.data[100]);

    camera->injectOverlongReports(1);
    r = read(Strip);
    EXPECT_EQ(Strip + 1, r.transferred);
    EXPECT_EQ(0xEE, r.data[Strip]);

    camera->breakInfoLineInFrame(2);
    EXPECT_EQ(0x0AAA, read(Strip).word(StripInfo, 3));
    EXPECT_NE(0x0AAA, read(Strip).word(StripInfo, 3));
    EXPECT_EQ(0x0AAA, read(Strip).word(StripInfo, 3));

    camera->haltBulkEndpoint();
    EXPECT_EQ(UsbError::Pipe, read(Strip).result);
    EXPECT_EQ(UsbError::Pipe, read(Strip).result);
    EXPECT_EQ(UsbError::NotFound, camera->clearHalt(0x83));
    EXPECT_EQ(0, camera->clearHalt(0x82));
    EXPECT_EQ(UsbError::Success, read(Strip).result);
    EXPECT_EQ(UsbError::IO, camera->bulkRead(0x83, r.data.data(), Strip, &r.transferred, 100));
}

TEST_F(PluggedCamera, ReadsHonourTheirTimeOutAndUnplugWakesThem) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(1024, 60).result); // not streaming
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    Gate done;
    Read pending{};
    std::thread reader([&] {
        pending = read(1024, 0); // no time-out: only the unplug ends it
        done.open();
    });
    // Time for the read to start waiting; one that starts after the unplug
    // fails the same way.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.isOpen());
    bus.unplug(camera);
    finishesWithin("a read woken by the unplug", [&] { reader.join(); });
    EXPECT_EQ(UsbError::NoDevice, pending.result);
    EXPECT_EQ(0, pending.transferred);
}

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
