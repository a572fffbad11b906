// CPU cost of capturing from an emulated 640 x 512 16-bit USB camera running
// as fast as it can, into a final observer, against a reference loop that
// copies the same frames into the same FIFO.

#include "XEVDeviceUsb.h"
#include "XEVManager.h"
#include "XEVObserver.h"
#include "XEVUsbCameraEmulator.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace {

constexpr long FramesPerIteration = 200;

class Counter : public XEVObserver {
public:
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo&) override {
        benchmark::DoNotOptimize(frame.data[0]);
        frames.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<uint64_t> frames{0};
};

void BM_UsbCapture(benchmark::State& state) {
    XEVUsbEmulatedBus bus;
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    auto camera = bus.plug(config);
    camera->setPacing(XEVUsbPacing::Fastest);
    XEVManager* manager = XEVManager::getInstance();
    XEVDevice* device = manager->openDevice(0, 0, 8);
    Counter counter;
    *device << counter;
    for (auto _ : state) {
        device->captureNFrames(FramesPerIteration);
        device->waitEndCapture(-1);
    }
    state.SetItemsProcessed(state.iterations() * FramesPerIteration);
    state.counters["observed"] = double(counter.frames.load());
    XEVManager::destroyInstance();
}

/// The same frames, read from the same emulated camera by a plain loop
/// straight into the same kind of FIFO: what capturing costs at the least.
/// With paced:1 the loop also pauses 1 ms after each read, as the capture
/// thread does: idle gaps leave the caches cold, which the copies then pay.
void BM_ReferenceReadIntoFifo(benchmark::State& state) {
    const int width = 640, height = 512;
    XEVUsbCameraConfig config = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    XEVUsbEmulatedCamera camera(config);
    camera.setPlugged(true);
    camera.setPacing(XEVUsbPacing::Fastest);
    // 640 x 512 pixels of 14 bits, the window of the whole sensor, streaming.
    const std::pair<uint8_t, uint8_t> registers[] = {{0, 0x00}, {7, 0}, {8, 80}, {9, 0}, {10, 64}};
    for (const auto& reg : registers) {
        unsigned char none = 0;
        camera.controlTransfer(0x40, 0xD3, uint16_t(reg.first << 8 | reg.second), 0, &none, 0);
    }
    unsigned char none = 0;
    camera.controlTransfer(0x40, 0xD0, 0, 0, &none, 0);

    const int bytes = (height + 1) * width * 2;
    const int size = (bytes + 1023) / 1024 * 1024;
    XEVFrameProducer fifo(8);
    Counter counter;
    fifo << counter;
    fifo.ensureFrameFormat(width, height, CV_16UC1, size, XEVFrameProducer::FLAG_INFO_LINE);
    fifo.startProduction();
    uint64_t number = 0;
    for (auto _ : state) {
        for (long i = 0; i < FramesPerIteration; ++i) {
            cv::Mat* slot = fifo.lockFrameForWrite();
            int transferred = 0;
            camera.bulkRead(config.bulkEndpoint(), slot->data, size, &transferred, 5000);
            XEVFrameInfo info;
            info.frameNumber = ++number;
            fifo.unlockFrameForWrite(info);
            if (state.range(0))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    fifo.stopProduction(false);
    state.SetItemsProcessed(state.iterations() * FramesPerIteration);
}

} // namespace

BENCHMARK(BM_UsbCapture)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadIntoFifo)
    ->ArgName("paced")
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
