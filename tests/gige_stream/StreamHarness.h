#pragma once

#include "CameraAddress.h"
#include "DiagnosticsCapture.h"
#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "Gige/GvcpChannel.h"
#include "XEVGigeCameraEmulator.h"
#include "gige/GvspChannel.h"
#include "gige/GvspFrameSink.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace XEVTest {

using XEVLibrary::GvcpChannel;
using XEVLibrary::GvspChannel;
using XEVLibrary::XEVFrameInfo;
using XEVLibrary::XEVGigeStreamStatistics;
using XEVLibrary::Emulator::GigeModel;
using XEVLibrary::Emulator::XEVGigeCameraConfig;
using XEVLibrary::Emulator::XEVGigeEmulatedCamera;
using XEVLibrary::Emulator::XEVGigeFaults;

constexpr uint32_t Mono8 = 0x01080001;
constexpr uint32_t Mono16 = 0x01100007;
constexpr uint32_t Rgb8 = 0x02180014;
constexpr uint32_t SourcePortRegister = 0x0D1C;
constexpr uint32_t StreamPortRegister = 0x0D00;
constexpr uint32_t PacketSizeRegister = 0x0D04;
constexpr uint32_t DestinationRegister = 0x0D18;

/// A FIFO of one slot that keeps a copy of every frame committed, and checks
/// that the channel calls it one call at a time. Frozen, it keeps its slot's
/// format whatever is asked: a FIFO whose format changed under the channel.
class RecordingSink : public XEVLibrary::GvspFrameSink {
public:
    struct Delivered {
        XEVFrameInfo info;
        cv::Mat image;
    };

    void PrepareFrameFormat(int width, int height, int type) override {
        const Call call(*this);
        if (!frozen && (m_slot.cols != width || m_slot.rows != height || m_slot.type() != type))
            m_slot.create(height, width, type);
    }
    cv::Mat* ReserveFrame() override {
        const Call call(*this);
        if (!quiet)
            m_slot.setTo(0x5A); // what a reused slot may hold
        return &m_slot;
    }
    void CancelFrame() override {
        const Call call(*this);
        ++cancels;
    }
    void OnNewImage(const XEVFrameInfo& info) override {
        const Call call(*this);
        ++committed;
        if (quiet)
            return;
        std::lock_guard<std::mutex> hold(m_lock);
        m_frames.push_back({info, m_slot.clone()});
        m_changed.notify_all();
    }

    /// Waits until @p count frames were committed.
    bool WaitFrames(std::size_t count) {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, DefaultDeadline, [&] { return m_frames.size() >= count; });
    }
    std::vector<Delivered> Frames() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_frames;
    }
    std::vector<uint64_t> Numbers() const {
        std::vector<uint64_t> numbers;
        for (const Delivered& frame : Frames())
            numbers.push_back(frame.info.frameNumber);
        return numbers;
    }
    /// Freezes the slot at @p width x @p height of @p type.
    void Freeze(int width, int height, int type) {
        m_slot.create(height, width, type);
        frozen = true;
    }

    std::atomic<bool> frozen{false};
    /// Counts the frames committed and keeps none: it allocates nothing.
    std::atomic<bool> quiet{false};
    std::atomic<std::size_t> committed{0};
    std::atomic<int> cancels{0};
    std::atomic<bool> overlapped{false};

private:
    struct Call {
        explicit Call(RecordingSink& sink) : sink(sink) {
            if (sink.m_inside.fetch_add(1) != 0)
                sink.overlapped = true;
        }
        ~Call() { sink.m_inside.fetch_sub(1); }
        RecordingSink& sink;
    };

    cv::Mat m_slot;
    std::atomic<int> m_inside{0};
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Delivered> m_frames;
};

/// An io_context run by three threads, as the device runs its own.
class IoThreads {
public:
    IoThreads() : m_work(boost::asio::make_work_guard(io)) {
        for (int i = 0; i < 3; ++i)
            m_threads.emplace_back([this] { io.run(); });
    }
    ~IoThreads() { Stop(); }
    /// Runs @p mark once on each of the threads.
    void OnEachThread(const std::function<void()>& mark) {
        const std::size_t threads = m_threads.size();
        auto started = std::make_shared<std::atomic<std::size_t>>(0);
        for (std::size_t i = 0; i < threads; ++i)
            boost::asio::post(io, [&mark, started, threads] {
                mark();
                ++*started;
                // Held until all are marked, so that each thread takes one.
                waitUntil([&] { return *started == threads; });
            });
        waitUntil([&] { return *started == threads; });
    }
    void Stop() {
        m_work.reset();
        io.stop();
        for (std::thread& thread : m_threads)
            if (thread.joinable())
                thread.join();
    }

    boost::asio::io_context io;

private:
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    std::vector<std::thread> m_threads;
};

/// An emulated camera, its control channel and a stream channel on it.
class StreamFixture : public ::testing::Test {
protected:
    void TearDown() override {
        finishesWithin("closing the stream", [this] { channel.reset(); });
        gvcp.reset();
        camera.reset();
        if (!pcapPath.empty())
            std::remove(pcapPath.c_str());
        EXPECT_FALSE(sink.overlapped);
    }

    /// @p capture: every datagram the camera sends is written to pcapPath.
    void Plug(GigeModel model, unsigned mtu = 1500, const std::string& firmware = "",
              bool capture = false) {
        XEVGigeCameraConfig config = XEVGigeCameraConfig::forModel(model, address);
        config.mtu = mtu;
        if (!firmware.empty())
            config.firmwareVersion = firmware;
        if (capture)
            config.pcapPath = pcapPath = ::testing::TempDir() + "xev-gvsp-" + address + ".pcap";
        camera = std::make_unique<XEVGigeEmulatedCamera>(config);
        gvcp = std::make_unique<GvcpChannel>("127.0.0.1", address);
        ASSERT_TRUE(gvcp->IsOpen());
    }

    /// The stream channel, told the firmware @p firmware (the camera's when
    /// empty) and that the stream comes from @p source (the camera's address
    /// when empty).
    void OpenStream(const std::string& firmware = "", const std::string& source = "") {
        const std::string version = firmware.empty() ? camera->config().firmwareVersion : firmware;
        const unsigned width = gvcp->ReadRegister("SensorWidth");
        const unsigned height = gvcp->ReadRegister("SensorHeight");
        finishesWithin("opening the stream", [&] {
            channel = std::make_unique<GvspChannel>(threads.io, *gvcp, "127.0.0.1", 0,
                                                    source.empty() ? address : source, version,
                                                    width, height, sink);
        });
    }

    XEVGigeStreamStatistics Stats() const { return channel->Statistics(); }

    /// Streams @p frames frames of the camera and waits until every datagram
    /// sent has been received; stopping makes sure it was handled.
    void StreamFrames(unsigned frames) {
        ASSERT_TRUE(gvcp->SendRegister("AcquisitionMode", 2));
        ASSERT_TRUE(gvcp->SendRegister("AcquisitionFrameCount", frames));
        const auto sentBefore = camera->counters();
        const uint64_t receivedBefore = Stats().packetsReceived;
        finishesWithin("starting", [&] { channel->StartCapture(); });
        EXPECT_TRUE(waitUntil([&] {
            const auto sent = camera->counters();
            return sent.framesSent - sentBefore.framesSent == frames &&
                   Stats().packetsReceived - receivedBefore ==
                       sent.packetsSent - sentBefore.packetsSent;
        })) << "sent "
            << camera->counters().packetsSent - sentBefore.packetsSent << ", received "
            << Stats().packetsReceived - receivedBefore;
        finishesWithin("stopping", [&] { channel->StopCapture(); });
    }

    std::string address = cameraAddress();
    std::string pcapPath;
    RecordingSink sink;
    IoThreads threads;
    std::unique_ptr<XEVGigeEmulatedCamera> camera;
    std::unique_ptr<GvcpChannel> gvcp;
    std::unique_ptr<GvspChannel> channel;
};

} // namespace XEVTest
