#include "PluggedCamera.h"

#include "TestSupport.h"
#include "XEVSyntheticScene.h"

#include <thread>

using namespace XEVTest;

// Listed on the library's bus while plugged; unplugged, every request of a
// handle fails as for a vanished device, and plugged again it is a new
// connection that the old handle does not reach.
TEST_F(PluggedCamera, ListedOnTheLibraryBusUntilUnplugged) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    auto findIt = [&] {
        for (const auto& device : UsbBus::instance().listDevices())
            if (device->location().rfind("emulated", 0) == 0 && device->info().idVendor == 0x04B4)
                return device;
        return std::shared_ptr<UsbDevice>();
    };
    auto device = findIt();
    ASSERT_TRUE(device);
    EXPECT_EQ(0x0300, device->info().bcdUSB);
    EXPECT_EQ(0x00F1, device->info().idProduct);
    std::unique_ptr<UsbDeviceHandle> handle;
    ASSERT_EQ(UsbError::Success, device->open(handle));
    EXPECT_EQ(0, handle->claimInterface(0));
    EXPECT_EQ(UsbError::NotFound, handle->claimInterface(1));

    bus.unplug(camera);
    EXPECT_FALSE(findIt());
    unsigned char data[512];
    EXPECT_EQ(UsbError::NoDevice, handle->controlTransfer(0x40, 0xD0, 0, 0, data, 0, 1000));
    int got = -1;
    EXPECT_EQ(UsbError::NoDevice, handle->bulkTransfer(0x83, data, 512, &got, 100));
    EXPECT_EQ(0, got);
    std::unique_ptr<UsbDeviceHandle> again;
    EXPECT_EQ(UsbError::NoDevice, device->open(again));
    bus.plug(camera);
    EXPECT_EQ(UsbError::NoDevice, handle->resetDevice());
    ASSERT_TRUE(findIt());
    ASSERT_EQ(UsbError::Success, findIt()->open(again));
    EXPECT_EQ(0, again->resetDevice());
}

TEST_F(PluggedCamera, CounterWrapsPastZeroOrToZero) {
    for (bool toZero : {false, true}) {
        SCOPED_TRACE(toZero);
        auto config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2);
        config.initialFrameCounter = 0xFFFFFE;
        config.counterWrapsToZero = toZero;
        plug(config);
        camera->setPacing(XEVUsbPacing::Fastest);
        writeRegisters({{0, 0}, {8, 8}, {10, 1}}); // 64 x 8 pixels
        vendor(0xD0);
        std::vector<uint32_t> counters;
        for (int i = 0; i < 3; ++i)
            counters.push_back(read(9 * 128).counter(1024));
        EXPECT_EQ((std::vector<uint32_t>{0xFFFFFE, 0xFFFFFF, toZero ? 0u : 1u}), counters);
    }
}

TEST_F(PluggedCamera, SceneFollowsExposureAndFlatFieldKeepsFixedPattern) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    camera->setPacing(XEVUsbPacing::Fastest);
    // 128 x 128 pixels from (256, 256), 500 us.
    writeRegisters({{0, 0}, {7, 64}, {8, 16}, {9, 64}, {10, 16}, {4, 4}});
    vendor(0xD0);
    const int size = 129 * 256;
    const double offsetMean = XEVSyntheticScene::Options().offsetMean;
    auto mean = [&] {
        const Read r = read(size);
        double sum = 0;
        for (std::size_t k = 0; k < 128 * 128; ++k)
            sum += r.word(0, k);
        return sum / (128 * 128);
    };
    EXPECT_DOUBLE_EQ(500.0, camera->exposureMicroseconds());
    const double shortExposure = mean() - offsetMean;
    writeRegisters({{4, 19}}); // 2000 us
    const double longExposure = mean() - offsetMean;
    EXPECT_GT(shortExposure, 100.0);
    EXPECT_NEAR(4.0, longExposure / shortExposure, 0.4);

    camera->setFlatField(1000);
    const Read low = read(size);
    camera->setFlatField(3000);
    const Read high = read(size);
    double minGain = 10, maxGain = 0;
    int stuck = 0;
    for (std::size_t k = 0; k < 128 * 128; ++k) {
        if (high.word(0, k) == low.word(0, k)) {
            ++stuck; // dead and hot pixels do not see the light
            continue;
        }
        const double gain = (high.word(0, k) - low.word(0, k)) / 2000.0;
        minGain = std::min(minGain, gain);
        maxGain = std::max(maxGain, gain);
    }
    EXPECT_LT(stuck, 40);
    EXPECT_GT(minGain, 0.75);
    EXPECT_LT(maxGain, 1.25);
    EXPECT_GT(maxGain - minGain, 0.1) << "no fixed-pattern gain";
    camera->clearFlatField();
    EXPECT_NEAR(longExposure, mean() - offsetMean, 0.05 * longExposure);
}

TEST_F(PluggedCamera, SoftTriggerBurstOfRegisters12And13) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters({{0, 0x18}, {8, 8}, {10, 1}});
    const int size = 9 * 128;
    EXPECT_EQ(UsbError::Timeout, read(size, 30).result);
    writeRegisters({{12, 2 << 5}, {13, 0xC2}}); // not a trigger
    EXPECT_EQ(UsbError::Timeout, read(size, 30).result);
    writeRegisters({{12, 2 << 5}, {13, 0}}); // three frames
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(UsbError::Success, read(size, 500).result) << i;
    EXPECT_EQ(UsbError::Timeout, read(size, 30).result);

    // A trigger that arrives while a read waits releases it (a read that
    // starts after it finds the frame ready: it must succeed either way).
    Read waiting{};
    std::thread reader([&] { waiting = read(size, 3000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeRegisters({{12, 0}, {13, 0}});
    reader.join();
    EXPECT_EQ(UsbError::Success, waiting.result);
}

TEST_F(PluggedCamera, FaultsOnDemand) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters({{0, 0}, {8, 8}, {10, 1}});
    vendor(0xD0);
    const int size = 9 * 128;
    const std::size_t info = 8 * 64 * 2;

    camera->injectBulkErrors(2, UsbError::Timeout);
    camera->setTimeoutFaultDelay(std::chrono::milliseconds(40));
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(size, 1000).result);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(UsbError::Timeout, read(size, 10).result);
    EXPECT_EQ(UsbError::Success, read(size).result);

    camera->injectBulkErrors(1, UsbError::IO);
    EXPECT_EQ(UsbError::IO, read(size).result);

    camera->injectEmptyReads(1);
    const uint64_t before = camera->deliveredFrames();
    Read r = read(size);
    EXPECT_EQ(UsbError::Success, r.result);
    EXPECT_EQ(0, r.transferred);
    EXPECT_EQ(before, camera->deliveredFrames());

    camera->injectShortReads(1, 100);
    r = read(size);
    EXPECT_EQ(100, r.transferred);
    EXPECT_EQ(0xEE, r.data[100]);

    camera->injectOverlongReports(1);
    r = read(size);
    EXPECT_EQ(size + 1, r.transferred);
    EXPECT_EQ(0xEE, r.data[size]);

    camera->breakInfoLineInFrame(2);
    EXPECT_EQ(0x0AAA, read(size).word(info, 3));
    EXPECT_NE(0x0AAA, read(size).word(info, 3));
    EXPECT_EQ(0x0AAA, read(size).word(info, 3));

    camera->haltBulkEndpoint();
    EXPECT_EQ(UsbError::Pipe, read(size).result);
    EXPECT_EQ(UsbError::Pipe, read(size).result);
    EXPECT_EQ(UsbError::NotFound, camera->clearHalt(0x83));
    EXPECT_EQ(0, camera->clearHalt(0x82));
    EXPECT_EQ(UsbError::Success, read(size).result);
    EXPECT_EQ(UsbError::IO, camera->bulkRead(0x83, r.data.data(), size, &r.transferred, 100));
}

TEST_F(PluggedCamera, ReadsHonourTheirTimeOutAndUnplugWakesThem) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    const int size = 1024;
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(size, 60).result); // not streaming
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    Gate done;
    Read pending{};
    std::thread reader([&] {
        pending = read(size, 0); // no time-out: only the unplug ends it
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
