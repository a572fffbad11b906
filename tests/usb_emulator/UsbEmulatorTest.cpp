#include "XEVSyntheticScene.h"
#include "XEVUsbCameraEmulator.h"

#include "TestSupport.h"
#include "usb/UsbSeam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;
using Clock = std::chrono::steady_clock;

namespace {

uint16_t word(const std::vector<uint8_t>& buffer, std::size_t byteOffset, std::size_t k) {
    return uint16_t(buffer[byteOffset + 2 * k] | buffer[byteOffset + 2 * k + 1] << 8);
}

int vendor(XEVUsbEmulatedCamera& camera, uint8_t request, uint16_t value = 0,
           std::vector<uint8_t> data = {}) {
    unsigned char zero = 0;
    return camera.controlTransfer(0x40, request, value, 0, data.empty() ? &zero : data.data(),
                                  uint16_t(data.size()));
}

void writeRegisters(XEVUsbEmulatedCamera& camera,
                    std::initializer_list<std::pair<uint8_t, uint8_t>> registers) {
    std::vector<uint8_t> block;
    for (const auto& r : registers) {
        block.push_back(r.second);
        block.push_back(r.first);
    }
    ASSERT_EQ(int(block.size()), vendor(camera, 0xD6, 0, block));
}

struct Read {
    int result;
    int transferred;
    std::vector<uint8_t> data;
};

Read read(XEVUsbEmulatedCamera& camera, int length, unsigned timeoutMs = 1000) {
    Read r{0, 0, std::vector<uint8_t>(std::size_t(length) + 64, 0xEE)};
    r.result = camera.bulkRead(camera.config().bulkEndpoint(), r.data.data(), length,
                               &r.transferred, timeoutMs);
    return r;
}

class PluggedCamera : public ::testing::Test {
protected:
    std::shared_ptr<XEVUsbEmulatedCamera> plug(const XEVUsbCameraConfig& config) {
        camera = bus.plug(config);
        return camera;
    }
    XEVUsbEmulatedBus bus;
    std::shared_ptr<XEVUsbEmulatedCamera> camera;
};

} // namespace

TEST(UsbEmulatorConfig, ModelDefaults) {
    struct Case {
        UsbModel model;
        UsbLink link;
        uint16_t width, height, bcd, product;
        const char* productString;
        uint8_t endpoint;
    };
    const Case cases[] = {
        {UsbModel::Auklet, UsbLink::USB2, 320, 256, 0x0200, 0x1003, "FX2", 0x82},
        {UsbModel::Bittern, UsbLink::USB2, 768, 576, 0x0200, 0x1003, "FX2", 0x82},
        {UsbModel::Heron, UsbLink::USB2, 640, 512, 0x0200, 0x1003, "FX2", 0x82},
        {UsbModel::Heron, UsbLink::USB3, 640, 512, 0x0300, 0x00F1, "FX3", 0x83},
        {UsbModel::Lapwing, UsbLink::USB2, 640, 480, 0x0200, 0x1003, "FX2", 0x82},
        {UsbModel::Lapwing, UsbLink::USB3, 648, 488, 0x0300, 0x00F1, "FX3", 0x83},
        {UsbModel::Merlin, UsbLink::USB3, 1288, 1032, 0x0300, 0x00F1, "FX3", 0x83},
        {UsbModel::Dunlin, UsbLink::USB3, 1280, 720, 0x0300, 0x00F1, "FX3", 0x83},
        {UsbModel::Egret, UsbLink::USB3, 320, 256, 0x0300, 0x00F1, "FX3", 0x83},
    };
    for (const auto& c : cases) {
        const auto config = XEVUsbCameraConfig::forModel(c.model, c.link);
        SCOPED_TRACE(int(c.model));
        EXPECT_EQ(static_cast<uint16_t>(c.model), config.referenceId);
        EXPECT_EQ(c.width, config.sensorWidth);
        EXPECT_EQ(c.height, config.sensorHeight);
        EXPECT_EQ(c.bcd, config.bcdUSB);
        EXPECT_EQ(c.product, config.productId);
        EXPECT_EQ(c.productString, config.productString);
        EXPECT_EQ(c.endpoint, config.bulkEndpoint());
        EXPECT_EQ(0x04B4, config.vendorId);
        EXPECT_TRUE(config.capacity & UsbCapacity::Present);
    }
    const auto kestrel = XEVUsbCameraConfig::forModel(UsbModel::Kestrel);
    EXPECT_EQ(0x862C, kestrel.capacity);
    EXPECT_EQ(0x8400, XEVUsbCameraConfig::forModel(UsbModel::Ibis).capacity);
    EXPECT_EQ(0x0200, XEVUsbCameraConfig::forModel(UsbModel::Fulmar).bcdUSB);
}

TEST_F(PluggedCamera, ListedOnTheLibraryBusUntilUnplugged) {
    auto config = XEVUsbCameraConfig::forModel(UsbModel::Kestrel);
    config.productString = "USB3";
    plug(config);
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
    unsigned char text[512];
    EXPECT_EQ(4, handle->getStringDescriptorAscii(device->info().iProduct, text, sizeof(text)));
    EXPECT_STREQ("USB3", reinterpret_cast<char*>(text));
    EXPECT_EQ(12,
              handle->getStringDescriptorAscii(device->info().iSerialNumber, text, sizeof(text)));
    EXPECT_STREQ("v002.001.010", reinterpret_cast<char*>(text));
    // A buffer too small still ends with a terminator.
    EXPECT_EQ(3, handle->getStringDescriptorAscii(device->info().iSerialNumber, text, 4));
    EXPECT_STREQ("v00", reinterpret_cast<char*>(text));

    bus.unplug(camera);
    EXPECT_FALSE(findIt());
    unsigned char zero = 0;
    EXPECT_EQ(UsbError::NoDevice, handle->controlTransfer(0x40, 0xD0, 0, 0, &zero, 0, 1000));
    int got = -1;
    EXPECT_EQ(UsbError::NoDevice, handle->bulkTransfer(0x83, text, 512, &got, 100));
    EXPECT_EQ(0, got);
    std::unique_ptr<UsbDeviceHandle> again;
    EXPECT_EQ(UsbError::NoDevice, device->open(again));
    // Plugged again: a new connection, the old handle stays dead.
    bus.plug(camera);
    EXPECT_EQ(UsbError::NoDevice, handle->resetDevice());
    ASSERT_TRUE(findIt());
    ASSERT_EQ(UsbError::Success, findIt()->open(again));
    EXPECT_EQ(0, again->resetDevice());
}

TEST_F(PluggedCamera, VendorRequestsAndRegisters) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    EXPECT_EQ(0, vendor(*camera, 0xD3, 0x0542));
    EXPECT_EQ(0x42, camera->registerValue(5));
    // Block write: value first, then address; addresses past 15 are ignored.
    EXPECT_EQ(6, vendor(*camera, 0xD6, 0, {0x11, 0x03, 0x22, 0x0C, 0x33, 0x1A}));
    EXPECT_EQ(0x11, camera->registerValue(3));
    EXPECT_EQ(0x22, camera->registerValue(12));
    EXPECT_EQ(0, vendor(*camera, 0xD4, 0x9308));
    EXPECT_EQ(0x9308, camera->lineFormatWord());
    EXPECT_FALSE(camera->lineFormatIs8Bit());
    EXPECT_EQ(0, vendor(*camera, 0xD5, 0x8A08));
    EXPECT_TRUE(camera->lineFormatIs8Bit());
    EXPECT_EQ(0, vendor(*camera, 0xD0));
    EXPECT_TRUE(camera->isStreaming());
    EXPECT_EQ(0, vendor(*camera, 0xD1));
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_EQ(0, vendor(*camera, 0xD7));
    EXPECT_EQ(UsbError::Pipe, vendor(*camera, 0xD2));
    unsigned char byte = 0;
    EXPECT_EQ(UsbError::Pipe, camera->controlTransfer(0xC0, 0xD0, 0, 0, &byte, 1));

    camera->injectControlErrors(2, UsbError::IO);
    EXPECT_EQ(UsbError::IO, vendor(*camera, 0xD3, 0x0501));
    EXPECT_EQ(UsbError::IO, vendor(*camera, 0xD3, 0x0502));
    EXPECT_EQ(0x42, camera->registerValue(5));
    EXPECT_EQ(0, vendor(*camera, 0xD3, 0x0503));
    EXPECT_EQ(3, camera->registerValue(5));

    const auto requests = camera->vendorRequests();
    ASSERT_GE(requests.size(), 3u);
    const auto& block = requests[1];
    EXPECT_EQ(0xD6, block.request);
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x03, 0x22, 0x0C, 0x33, 0x1A}), block.data);
    EXPECT_EQ(UsbError::IO, requests[requests.size() - 3].result);
}

TEST_F(PluggedCamera, RecognitionStreamShowsTheInfoLineInTheFirst1024Bytes) {
    auto config = XEVUsbCameraConfig::forModel(UsbModel::Kestrel);
    config.serialNumber = 0xA1B2C3;
    config.infoLineWord0 = 0x0000;
    plug(config);
    vendor(*camera, 0xD4, 0);
    vendor(*camera, 0xD1);
    for (auto r :
         {std::pair<uint16_t, uint16_t>{5, 0x80}, {6, 0x80}, {8, 0x08}, {10, 0x08}, {0, 0x60}})
        vendor(*camera, 0xD3, uint16_t(r.first << 8 | r.second));
    vendor(*camera, 0xD1);
    vendor(*camera, 0xD0);
    const Read r = read(*camera, 1024);
    ASSERT_EQ(UsbError::Success, r.result);
    ASSERT_EQ(1024, r.transferred);
    const uint16_t expected[] = {0x0000, 0x0AAA, 0x0555, 0x0AAA, 0x0555, 0x0AAA,
                                 0x0000, 0x0FFF, 111,    640,    512,    0x00C5};
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(expected[k], word(r.data, 0, k)) << k;
    EXPECT_EQ(0xA1, word(r.data, 0, 50));
    EXPECT_EQ(0xB2, word(r.data, 0, 51));
    EXPECT_EQ(0xC3, word(r.data, 0, 52));
    EXPECT_EQ(0x86, word(r.data, 0, 53));
    EXPECT_EQ(0x2C, word(r.data, 0, 54));
    EXPECT_EQ(0xEE, r.data[1024]) << "wrote past the length asked";
}

TEST_F(PluggedCamera, FramesFollowTheWindowAndPixelDepth) {
    auto config = XEVUsbCameraConfig::forModel(UsbModel::Heron);
    config.initialFrameCounter = 0xFFFFFE;
    config.rawTemperature = 0x1A5;
    plug(config);
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters(*camera, {{0, 0x00}, {7, 4}, {8, 40}, {9, 2}, {10, 32}});
    vendor(*camera, 0xD0);
    // 320 x 256 16-bit: the frame, the info line, then padding to the size asked.
    const std::size_t frame = 320 * 256 * 2;
    const int size = 165888; // (256 + 1) x 640 rounded up to 1024
    uint32_t counters[3];
    for (int i = 0; i < 3; ++i) {
        const Read r = read(*camera, size);
        ASSERT_EQ(UsbError::Success, r.result);
        ASSERT_EQ(size, r.transferred);
        EXPECT_EQ(0x0555, word(r.data, frame, 0));
        EXPECT_EQ(0x0FFF, word(r.data, frame, 7));
        EXPECT_EQ(0x1A5, word(r.data, frame, 12));
        counters[i] = uint32_t(word(r.data, frame, 13)) << 12 | word(r.data, frame, 14);
        EXPECT_EQ(0, r.data[size - 1]);
        EXPECT_EQ(0xEE, r.data[size]);
    }
    EXPECT_EQ(0xFFFFFEu, counters[0]);
    EXPECT_EQ(0xFFFFFFu, counters[1]);
    EXPECT_EQ(1u, counters[2]); // the counter skips 0 when it wraps

    // A shorter read gets the start of the frame and never more than asked.
    Read r = read(*camera, 1000);
    EXPECT_EQ(1000, r.transferred);
    EXPECT_EQ(0xEE, r.data[1000]);

    // 8 bits: 64 x 16 pixels; word k of the info line is byte k x 16 +
    // byte (k + 32).
    camera->setFrameCounter(0x000123);
    writeRegisters(*camera, {{0, 0x80}, {8, 8}, {10, 2}});
    r = read(*camera, 2048);
    ASSERT_EQ(2048, r.transferred);
    const std::size_t info = 64 * 16;
    auto word8 = [&](std::size_t k) { return r.data[info + k] * 16 + r.data[info + k + 32]; };
    EXPECT_EQ(0x0AAA, word8(1));
    EXPECT_EQ(0x0555, word8(2));
    EXPECT_EQ(0x0FFF, word8(7));
    EXPECT_EQ(0x1A5, word8(12));
    EXPECT_EQ(0x000, word8(13));
    EXPECT_EQ(0x123, word8(14));
    EXPECT_EQ(0x12, r.data[info + 14]);
    EXPECT_EQ(0x03, r.data[info + 46]);
}

TEST_F(PluggedCamera, SceneFollowsExposureAndFlatFieldKeepsFixedPattern) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    camera->setPacing(XEVUsbPacing::Fastest);
    // 128 x 128 pixels from (256, 256), 500 us.
    writeRegisters(*camera, {{0, 0}, {7, 64}, {8, 16}, {9, 64}, {10, 16}, {4, 4}});
    vendor(*camera, 0xD0);
    const int size = 129 * 256;
    const double offsetMean = XEVSyntheticScene::Options().offsetMean;
    auto mean = [&] {
        const Read r = read(*camera, size);
        double sum = 0;
        for (std::size_t k = 0; k < 128 * 128; ++k)
            sum += word(r.data, 0, k);
        return sum / (128 * 128);
    };
    EXPECT_DOUBLE_EQ(500.0, camera->exposureMicroseconds());
    const double shortExposure = mean() - offsetMean;
    writeRegisters(*camera, {{4, 19}}); // 2000 us
    const double longExposure = mean() - offsetMean;
    EXPECT_GT(shortExposure, 100.0);
    EXPECT_NEAR(4.0, longExposure / shortExposure, 0.4);

    camera->setFlatField(1000);
    const Read low = read(*camera, size);
    camera->setFlatField(3000);
    const Read high = read(*camera, size);
    double minGain = 10, maxGain = 0;
    int stuck = 0;
    for (std::size_t k = 0; k < 128 * 128; ++k) {
        if (word(high.data, 0, k) == word(low.data, 0, k)) {
            ++stuck; // dead and hot pixels do not see the light
            continue;
        }
        const double gain = (word(high.data, 0, k) - word(low.data, 0, k)) / 2000.0;
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

TEST_F(PluggedCamera, PacingFollowsTheFramePeriodRegisters) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    // 64 lines at 25 MHz, 100 us exposure: L x T + E = 68 x 29.4 + 1500;
    // 100 coarse steps of 4 lines add 11760 us, fine 50 x 16 / 25 adds 32 us.
    writeRegisters(*camera, {{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, 100}, {6, 50}});
    const double period = 68 * 29.4 + 1500 + 4 * 100 * 29.4 + 50 * 16 / 25.0;
    EXPECT_NEAR(period, camera->framePeriodMicroseconds(), 1e-6);
    vendor(*camera, 0xD0);
    const int size = 65 * 128;
    ASSERT_EQ(UsbError::Success, read(*camera, size).result);
    const auto start = Clock::now();
    const int frames = 20;
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(UsbError::Success, read(*camera, size).result);
    const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    EXPECT_NEAR(period, elapsed / frames, 0.05 * period);

    camera->setPacing(XEVUsbPacing::Fastest);
    const auto fastStart = Clock::now();
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(UsbError::Success, read(*camera, size).result);
    EXPECT_LT(Clock::now() - fastStart, std::chrono::milliseconds(200));
}

TEST_F(PluggedCamera, LateReaderSeesTheCounterJump) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    writeRegisters(*camera, {{0, 0}, {1, 8}, {4, 0}, {8, 8}, {10, 8}, {5, 20}, {6, 0}});
    const double period = camera->framePeriodMicroseconds();
    const auto streamStart = Clock::now();
    vendor(*camera, 0xD0);
    const int size = 65 * 128;
    Read r = read(*camera, size);
    const uint32_t first = word(r.data, 64 * 64 * 2, 14);
    std::this_thread::sleep_for(std::chrono::microseconds(int(period * 5.5)));
    r = read(*camera, size);
    // At most one frame per period since the stream started, however late
    // either read was served.
    const double elapsed =
        std::chrono::duration<double, std::micro>(Clock::now() - streamStart).count();
    const uint32_t second = word(r.data, 64 * 64 * 2, 14);
    // Every period that passed shows in the counter, however late the reader woke.
    EXPECT_GE(second - first, 5u);
    EXPECT_LE(double(second - first), elapsed / period + 1.0);
}

TEST_F(PluggedCamera, SoftTriggerBurstOfRegisters12And13) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters(*camera, {{0, 0x18}, {8, 8}, {10, 1}});
    const int size = 9 * 128;
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 30).result);
    writeRegisters(*camera, {{12, 2 << 5}, {13, 0xC2}}); // not a trigger
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 30).result);
    writeRegisters(*camera, {{12, 2 << 5}, {13, 0}}); // three frames
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(UsbError::Success, read(*camera, size, 500).result) << i;
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 30).result);

    // A trigger that arrives while a read waits releases it.
    Read waiting{};
    std::thread reader([&] { waiting = read(*camera, size, 3000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeRegisters(*camera, {{12, 0}, {13, 0}});
    reader.join();
    EXPECT_EQ(UsbError::Success, waiting.result);
}

TEST_F(PluggedCamera, FaultsOnDemand) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    camera->setPacing(XEVUsbPacing::Fastest);
    writeRegisters(*camera, {{0, 0}, {8, 8}, {10, 1}});
    vendor(*camera, 0xD0);
    const int size = 9 * 128;
    const std::size_t info = 8 * 64 * 2;

    camera->injectBulkErrors(2, UsbError::Timeout);
    camera->setTimeoutFaultDelay(std::chrono::milliseconds(40));
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 1000).result);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 10).result);
    EXPECT_EQ(UsbError::Success, read(*camera, size).result);

    camera->injectBulkErrors(1, UsbError::IO);
    EXPECT_EQ(UsbError::IO, read(*camera, size).result);

    camera->injectEmptyReads(1);
    const uint64_t before = camera->deliveredFrames();
    Read r = read(*camera, size);
    EXPECT_EQ(UsbError::Success, r.result);
    EXPECT_EQ(0, r.transferred);
    EXPECT_EQ(before, camera->deliveredFrames());

    camera->injectShortReads(1, 100);
    r = read(*camera, size);
    EXPECT_EQ(100, r.transferred);

    camera->injectOverlongReports(1);
    r = read(*camera, size);
    EXPECT_EQ(size + 1, r.transferred);
    EXPECT_EQ(0xEE, r.data[size]);

    camera->breakInfoLineInFrame(2);
    EXPECT_EQ(0x0AAA, word(read(*camera, size).data, info, 3));
    EXPECT_NE(0x0AAA, word(read(*camera, size).data, info, 3));
    EXPECT_EQ(0x0AAA, word(read(*camera, size).data, info, 3));

    camera->haltBulkEndpoint();
    EXPECT_EQ(UsbError::Pipe, read(*camera, size).result);
    EXPECT_EQ(UsbError::Pipe, read(*camera, size).result);
    EXPECT_EQ(UsbError::NotFound, camera->clearHalt(0x83));
    EXPECT_EQ(0, camera->clearHalt(0x82));
    EXPECT_EQ(UsbError::Success, read(*camera, size).result);
    EXPECT_EQ(UsbError::IO, camera->bulkRead(0x83, r.data.data(), size, &r.transferred, 100));
}

TEST_F(PluggedCamera, ReadsHonourTheirTimeOutAndUnplugWakesThem) {
    plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    const int size = 1024;
    auto start = Clock::now();
    EXPECT_EQ(UsbError::Timeout, read(*camera, size, 60).result); // not streaming
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));

    XEVTest::Gate done;
    Read pending{};
    std::thread reader([&] {
        pending = read(*camera, size, 0); // no time-out: only the unplug ends it
        done.open();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.isOpen());
    bus.unplug(camera);
    EXPECT_TRUE(done.wait());
    reader.join();
    EXPECT_EQ(UsbError::NoDevice, pending.result);
    EXPECT_EQ(0, pending.transferred);
}
