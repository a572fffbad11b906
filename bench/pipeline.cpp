// Hand-off cost of the frame pipeline against a plain mutex and condition
// variable queue between the same number of threads doing the same copies.
//
// Each iteration writes one frame and waits until the final observer has
// processed it, so the time per iteration is the cost of handing one frame
// through 0, 1 or 3 pass-through stages.

#include "XEVFilter.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace XEVLibrary;

namespace {

/// Where the final consumer reports the last frame it processed.
class Acknowledgement {
public:
    void post(uint64_t frame) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_last = frame;
        }
        m_changed.notify_one();
    }
    void wait(uint64_t frame) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_last >= frame; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    uint64_t m_last = 0;
};

// --- the pipeline ----------------------------------------------------------

class CopyStage : public XEVFilter {
public:
    CopyStage() : XEVFilter(4) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        ensureFrameFormat(frame.cols, frame.rows, frame.type(), 0);
        cv::Mat* out = lockFrameForWrite();
        std::memcpy(out->data, frame.data, frame.total() * frame.elemSize());
        unlockFrameForWrite(info);
    }
};

class AckObserver : public XEVObserver {
public:
    explicit AckObserver(Acknowledgement& ack) : m_ack(ack) {}
    void onNewFrame(const cv::Mat& frame, const XEVFrameInfo& info) override {
        benchmark::DoNotOptimize(frame.data[0]);
        m_ack.post(info.frameNumber);
    }

private:
    Acknowledgement& m_ack;
};

void BM_Pipeline(benchmark::State& state) {
    const int stages = static_cast<int>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const int height = static_cast<int>(state.range(2));

    Acknowledgement ack;
    XEVFrameProducer device(4);
    std::vector<std::unique_ptr<CopyStage>> filters;
    XEVFrameProducer* tail = &device;
    for (int i = 0; i < stages; ++i) {
        filters.push_back(std::make_unique<CopyStage>());
        *tail << *filters.back();
        tail = filters.back().get();
    }
    AckObserver end(ack);
    *tail << end;
    device.ensureFrameFormat(width, height, CV_16UC1, 0);
    device.startProduction();

    uint64_t frame = 0;
    for (auto _ : state) {
        cv::Mat* image = device.lockFrameForWrite();
        reinterpret_cast<uint16_t*>(image->data)[0] = static_cast<uint16_t>(++frame);
        XEVFrameInfo info;
        info.frameNumber = frame;
        device.unlockFrameForWrite(info);
        ack.wait(frame);
    }
    device.stopProduction(false);
    state.SetItemsProcessed(int64_t(frame));
}

// --- the reference: plain queues between threads ---------------------------

/// A queue of buffer indices guarded by a std::mutex and condition variable.
class PlainQueue {
public:
    void push(int index) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_items.push_back(index);
        }
        m_ready.notify_one();
    }
    /// False when the queue was closed.
    bool pop(int& index) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_ready.wait(lock, [&] { return !m_items.empty() || m_closed; });
        if (m_items.empty())
            return false;
        index = m_items.front();
        m_items.pop_front();
        return true;
    }
    void close() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_closed = true;
        }
        m_ready.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<int> m_items;
    bool m_closed = false;
};

struct Buffers {
    Buffers(std::size_t count, std::size_t bytes) : data(count, std::vector<uint8_t>(bytes)) {}
    std::vector<std::vector<uint8_t>> data;
};

void BM_PlainQueue(benchmark::State& state) {
    const int stages = static_cast<int>(state.range(0));
    const std::size_t bytes = std::size_t(state.range(1)) * std::size_t(state.range(2)) * 2;

    Acknowledgement ack;
    std::vector<Buffers> pools(stages + 1, Buffers(4, bytes));
    std::vector<std::unique_ptr<PlainQueue>> queues;
    for (int i = 0; i <= stages; ++i)
        queues.push_back(std::make_unique<PlainQueue>());

    std::vector<std::thread> threads;
    for (int s = 0; s < stages; ++s) {
        threads.emplace_back([&, s] {
            int in = 0, out = 0;
            while (queues[s]->pop(in)) {
                out = (out + 1) % 4;
                std::memcpy(pools[s + 1].data[out].data(), pools[s].data[in].data(), bytes);
                queues[s + 1]->push(out);
            }
            queues[s + 1]->close();
        });
    }
    threads.emplace_back([&] {
        int in = 0;
        while (queues[stages]->pop(in)) {
            const auto& buffer = pools[stages].data[in];
            benchmark::DoNotOptimize(buffer[0]);
            uint16_t frame;
            std::memcpy(&frame, buffer.data(), sizeof frame);
            ack.post(frame);
        }
    });

    uint64_t frame = 0;
    int slot = 0;
    for (auto _ : state) {
        slot = (slot + 1) % 4;
        ++frame;
        const uint16_t low = static_cast<uint16_t>(frame);
        std::memcpy(pools[0].data[slot].data(), &low, sizeof low);
        queues[0]->push(slot);
        ack.wait(frame); // runs stay below 65536 frames
    }
    queues[0]->close();
    for (auto& thread : threads)
        thread.join();
    state.SetItemsProcessed(int64_t(frame));
}

void Arguments(benchmark::internal::Benchmark* b) {
    for (int stages : {0, 1, 3})
        for (auto size : {std::pair<int, int>{64, 64}, std::pair<int, int>{640, 512}})
            b->Args({stages, size.first, size.second});
    b->ArgNames({"filters", "width", "height"});
    b->UseRealTime();
    b->Iterations(20000);
}

} // namespace

BENCHMARK(BM_Pipeline)->Apply(Arguments);
BENCHMARK(BM_PlainQueue)->Apply(Arguments);

BENCHMARK_MAIN();
