// The stream channel against emulated cameras: packet size negotiation, the
// frames they stream (compared byte for byte with what they sent), their
// stream faults, and the capture lifecycle.
#include "StreamHarness.h"

#include <cerrno>
#include <fstream>
#include <iterator>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define XEV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define XEV_SANITIZED 1
#endif
#endif

#ifndef XEV_SANITIZED
// Counts the allocations of the threads marked (the io threads), where the
// stream's packets are handled; the sanitizers bring allocators of their own.
namespace {
thread_local bool t_counted = false;
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};
void Count() {
    if (t_counted && g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* malloc(std::size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) {
    Count();
    return __libc_realloc(memory, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t size) {
    Count();
    *memory = __libc_memalign(alignment, size);
    return *memory ? 0 : ENOMEM;
}
}
#endif

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::ByteOrder::Ipv4FromString;
using XEVLibrary::ByteOrder::Load16;
using XEVLibrary::ByteOrder::Load32;

/// What the camera sent, read back from its capture file: each block as the
/// GVSP packets carry it, and the duplicates and reorderings it committed.
struct SentStream {
    struct Block {
        bool leader = false;
        uint32_t width = 0, height = 0, pixelFormat = 0;
        std::map<uint32_t, std::vector<uint8_t>> payload; // by packet id
        uint32_t trailerId = 0;                           // 0: no trailer
        uint32_t highest = 0;

        bool Complete() const {
            return leader && trailerId != 0 && payload.size() == trailerId - 1;
        }
        /// The image bytes, packets laid end to end.
        std::vector<uint8_t> Image() const {
            std::vector<uint8_t> image;
            for (const auto& packet : payload)
                image.insert(image.end(), packet.second.begin(), packet.second.end());
            image.resize(std::size_t(width) * height * ((pixelFormat >> 16 & 0xFF) / 8));
            return image;
        }
    };
    std::map<uint16_t, Block> blocks;
    uint64_t duplicates = 0;
    uint64_t outOfOrder = 0;
};

/// Reads the stream datagrams from @p ip : @p port in a pcap file written by
/// the emulator (Ethernet, IPv4 and UDP headers of 14 + 20 + 8 bytes).
SentStream ReadSent(const std::string& path, uint32_t ip, uint16_t port) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    SentStream sent;
    for (std::size_t at = 24; at + 16 <= bytes.size();) {
        const uint32_t length = bytes[at + 8] | bytes[at + 9] << 8 | bytes[at + 10] << 16 |
                                uint32_t(bytes[at + 11]) << 24;
        const uint8_t* frame = &bytes[at + 16];
        at += 16 + length;
        if (length < 50 || Load32(frame + 26) != ip || Load16(frame + 34) != port)
            continue;
        const uint8_t* d = frame + 42;
        const std::size_t size = length - 42;
        const uint16_t blockId = Load16(d + 2);
        const uint32_t id = uint32_t(d[5]) << 16 | uint32_t(d[6]) << 8 | d[7];
        SentStream::Block& block = sent.blocks[blockId];
        if (d[4] == 1) {
            block.leader = true;
            block.pixelFormat = Load32(d + 20);
            block.width = Load32(d + 24);
            block.height = Load32(d + 28);
        } else if (d[4] == 2) {
            block.trailerId = id;
        } else if (d[4] == 3 && id != 0) { // id 0: a test packet
            if (block.payload.count(id) != 0) {
                ++sent.duplicates;
                continue;
            }
            if (id < block.highest)
                ++sent.outOfOrder;
            block.highest = std::max(block.highest, id);
            block.payload[id].assign(d + 8, d + size);
        }
    }
    sent.blocks.erase(0);
    return sent;
}

std::vector<uint8_t> Bytes(const cv::Mat& image) {
    return std::vector<uint8_t>(image.datastart, image.dataend);
}

// --- Negotiation -----------------------------------------------------------------------

struct Negotiation {
    const char* name;
    GigeModel model;
    unsigned mtu;
    const char* firmware;
    std::vector<unsigned> tested;
    unsigned packetSize;
    bool sourcePortRead; // else the local port
    std::size_t payload, packetsPerFrame, ring;
};

class NegotiationTest : public StreamFixture, public ::testing::WithParamInterface<Negotiation> {};

TEST_P(NegotiationTest, TriesFrom9000DownAndSizesTheRing) {
    const Negotiation& c = GetParam();
    Plug(c.model, c.mtu, c.firmware);
    DiagnosticsCapture diagnostics;
    OpenStream();
    EXPECT_EQ(channel->TestedPacketSizes(), c.tested);
    EXPECT_EQ(channel->PacketSize(), c.packetSize);
    EXPECT_EQ(camera->registerValue(PacketSizeRegister) & 0xFFFF, c.packetSize);
    EXPECT_EQ(camera->counters().testPackets, c.tested.empty() ? 0u : 1u); // larger ones never fire
    const uint16_t sourcePort = camera->registerValue(SourcePortRegister);
    EXPECT_EQ(channel->CameraSourcePort(), c.sourcePortRead ? sourcePort : channel->LocalPort());
    EXPECT_EQ(channel->PayloadSize(), c.payload);
    EXPECT_EQ(channel->PacketsPerFrame(), c.packetsPerFrame);
    EXPECT_EQ(channel->RingSize(), c.ring);
    // Programmed, not streaming.
    EXPECT_EQ(camera->registerValue(StreamPortRegister), channel->LocalPort());
    EXPECT_EQ(camera->registerValue(DestinationRegister), Ipv4FromString("127.0.0.1"));
    // Privileged, the receive buffer asked for is granted; else the kernel's
    // limit (and the limit is told on standard error, once per process).
    std::ifstream limitFile("/proc/sys/net/core/rmem_max");
    long limit = 0;
    limitFile >> limit;
    const int granted = channel->GrantedReceiveBuffer();
    EXPECT_TRUE(granted == GvspChannel::ReceiveBufferBytes ||
                granted == std::min<long>(limit, GvspChannel::ReceiveBufferBytes))
        << granted;

    const std::string local = "127.0.0.1:" + std::to_string(channel->LocalPort());
    std::string expected = "cam name = " + XEVLibrary::Emulator::gigeModelName(c.model) + "\n";
    if (!c.tested.empty()) {
        expected += "camport = " + std::to_string(sourcePort) + "\nNegociate: " + local + ", " +
                    address + ":" + std::to_string(sourcePort) + "\n";
        for (unsigned size : c.tested)
            expected += "Test : " + std::to_string(size) + "\n";
    }
    expected += "SetStreamDestinationIp 127.0.0.1, " + std::to_string(channel->LocalPort()) + "\n";
    EXPECT_EQ(diagnostics.text().substr(0, expected.size()), expected) << diagnostics.text();
}

Negotiation Case(const char* name, GigeModel model, unsigned mtu, const char* firmware,
                 std::vector<unsigned> tested, unsigned packetSize, bool sourcePortRead,
                 std::size_t payload, std::size_t packetsPerFrame, std::size_t ring) {
    return {name,       model,          mtu,     firmware,        std::move(tested),
            packetSize, sourcePortRead, payload, packetsPerFrame, ring};
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, NegotiationTest,
    ::testing::Values(
        Case("Mtu1500", GigeModel::HeronGigE, 1500, "02.01",
             {9000, 8000, 7000, 6000, 5000, 4000, 3000, 1500}, 1500, true, 1464, 896, 2688),
        Case("Jumbo", GigeModel::HeronGigE, 9000, "02.01", {9000}, 9000, true, 8964, 147, 441),
        // A Kestrel negotiates and reads its source port whatever its firmware.
        Case("KestrelOldFirmware", GigeModel::KestrelGigE, 7000, "01.02", {9000, 8000, 7000}, 7000,
             true, 6964, 189, 567),
        // Another model with older firmware does neither.
        Case("OldFirmware", GigeModel::FulmarGigE, 9000, "01.03", {}, 1500, false, 1464, 1209,
             3627)),
    [](const ::testing::TestParamInfo<Negotiation>& info) { return info.param.name; });

// --- Streams ---------------------------------------------------------------------------

struct Stream {
    const char* name;
    GigeModel model;
    unsigned mtu;
    uint32_t pixelFormat;
    int type;
    unsigned frames;
    double reorder = 0, duplicate = 0;
    bool trailerFirst = false;
};

class StreamTest : public StreamFixture, public ::testing::WithParamInterface<Stream> {};

TEST_P(StreamTest, DeliversExactlyTheFramesSentInBlockOrder) {
    const Stream& c = GetParam();
    Plug(c.model, c.mtu, "", true);
    ASSERT_TRUE(gvcp->SendRegister("PixelFormat", c.pixelFormat));
    XEVGigeFaults faults;
    faults.reorderRatio = c.reorder;
    faults.duplicateRatio = c.duplicate;
    faults.trailerBeforeLastPayload = c.trailerFirst;
    camera->setFaults(faults);
    OpenStream();
    StreamFrames(c.frames);

    const SentStream sent = ReadSent(pcapPath, Ipv4FromString(address),
                                     uint16_t(camera->registerValue(SourcePortRegister)));
    ASSERT_EQ(sent.blocks.size(), c.frames);
    ASSERT_TRUE(sink.WaitFrames(c.frames));
    const auto frames = sink.Frames();
    ASSERT_EQ(frames.size(), c.frames);
    auto block = sent.blocks.begin();
    for (std::size_t i = 0; i < frames.size(); ++i, ++block) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const XEVFrameInfo& info = frames[i].info;
        ASSERT_TRUE(block->second.Complete());
        EXPECT_EQ(info.frameNumber, block->first);
        EXPECT_EQ(info.frameNumber, frames[0].info.frameNumber + i);
        EXPECT_EQ(info.temperature, -128.0f);
        EXPECT_EQ(info.width, int(block->second.width));
        EXPECT_EQ(info.height, int(block->second.height));
        EXPECT_EQ(info.offsetX, 0u);
        EXPECT_EQ(info.offsetY, 0u);
        EXPECT_EQ(frames[i].image.type(), c.type);
        std::vector<uint8_t> expected = block->second.Image();
        if (c.type == CV_8UC3) // red and blue exchanged relative to the wire
            for (std::size_t p = 0; p + 2 < expected.size(); p += 3)
                std::swap(expected[p], expected[p + 2]);
        EXPECT_TRUE(Bytes(frames[i].image) == expected);
    }
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, c.frames);
    EXPECT_EQ(stats.framesDroppedIncomplete, 0u);
    EXPECT_EQ(stats.packetsMissing, 0u);
    EXPECT_EQ(stats.packetsRejected, 0u);
    EXPECT_EQ(stats.packetsDuplicated, sent.duplicates);
    EXPECT_EQ(stats.packetsOutOfOrder, sent.outOfOrder);
    EXPECT_EQ(sent.duplicates > 0, c.duplicate > 0);
    EXPECT_EQ(sent.outOfOrder > 0, c.reorder > 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StreamTest,
    ::testing::Values(Stream{"Mono16At1500", GigeModel::HeronGigE, 1500, Mono16, CV_16UC1, 4},
                      Stream{"Mono8At9000", GigeModel::HeronGigE, 9000, Mono8, CV_8UC1, 4},
                      Stream{"Rgb8At9000", GigeModel::CurlewcGigE, 9000, Rgb8, CV_8UC3, 2},
                      Stream{"ReorderedAndDuplicatedAt9000", GigeModel::HeronGigE, 9000, Mono16,
                             CV_16UC1, 4, 0.05, 0.05},
                      Stream{"TrailerFirstReorderedAndDuplicatedAt1500", GigeModel::HeronGigE, 1500,
                             Mono16, CV_16UC1, 3, 0.02, 0.02, true}),
    [](const ::testing::TestParamInfo<Stream>& info) { return info.param.name; });

TEST_F(StreamFixture, AFrameThatLostAPacketIsNeverDeliveredAndIsCountedOnceANewerOneIs) {
    Plug(GigeModel::HeronGigE, 1500);
    XEVGigeFaults faults;
    faults.dropPacketIds = {5};
    camera->setFaults(faults);
    OpenStream();
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionMode", 2));
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionFrameCount", 3));
    const auto allReceived = [&](uint64_t frames) {
        return waitUntil([&] {
            const auto sent = camera->counters();
            return sent.framesSent == frames &&
                   Stats().packetsReceived == sent.packetsSent; // one test packet each side
        });
    };
    channel->StartCapture();
    ASSERT_TRUE(allReceived(3));
    EXPECT_EQ(Stats().framesDroppedIncomplete, 0u); // still hoped for
    camera->setFaults({});
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionFrameCount", 2));
    ASSERT_TRUE(gvcp->Start()); // the camera streams two more frames
    ASSERT_TRUE(allReceived(5));
    finishesWithin("stopping", [&] { channel->StopCapture(); });

    EXPECT_EQ(sink.Numbers(), (std::vector<uint64_t>{4, 5}));
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, 2u);
    EXPECT_EQ(stats.framesDroppedIncomplete, 3u);
    EXPECT_EQ(stats.packetsMissing, 3u);
    EXPECT_EQ(stats.packetsRejected, 0u);
}

TEST_F(StreamFixture, RandomLossesDeliverOnlyTheFramesThatArrivedWhole) {
    Plug(GigeModel::HeronGigE, 1500, "", true);
    ASSERT_TRUE(gvcp->SendRegister("PixelFormat", Mono8));
    XEVGigeFaults faults;
    faults.dropRatio = 0.003;
    camera->setFaults(faults);
    OpenStream();
    StreamFrames(8);

    const SentStream sent = ReadSent(pcapPath, Ipv4FromString(address),
                                     uint16_t(camera->registerValue(SourcePortRegister)));
    std::vector<uint64_t> whole;
    uint64_t lostBeforeLastWhole = 0, lost = 0;
    for (const auto& block : sent.blocks) {
        if (block.second.Complete()) {
            whole.push_back(block.first);
            lostBeforeLastWhole = lost;
        } else {
            ++lost;
        }
    }
    // The seeded losses hit some frames and spare others.
    ASSERT_GT(whole.size(), 0u);
    ASSERT_GT(lostBeforeLastWhole, 0u);
    EXPECT_EQ(sink.Numbers(), whole);
    for (const auto& frame : sink.Frames())
        EXPECT_TRUE(Bytes(frame.image) == sent.blocks.at(uint16_t(frame.info.frameNumber)).Image());
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, whole.size());
    EXPECT_EQ(stats.framesDroppedIncomplete, lostBeforeLastWhole);
    EXPECT_GE(stats.packetsMissing, lostBeforeLastWhole);
}

TEST_F(StreamFixture, PacketsAndFramesAreHandledWithoutAllocating) {
#ifdef XEV_SANITIZED
    GTEST_SKIP() << "the sanitizers bring allocators of their own";
#else
    Plug(GigeModel::HeronGigE, 1500);
    OpenStream();
    sink.quiet = true;
    threads.OnEachThread([] { t_counted = true; });
    g_counting = true; // the count sees what the io threads allocate
    threads.OnEachThread([] {
        void* volatile memory = ::operator new(16);
        ::operator delete(memory);
    });
    g_counting = false;
    ASSERT_EQ(g_allocations.load(), 3u);
    float rate = 100;
    uint32_t bits;
    std::memcpy(&bits, &rate, sizeof bits);
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionFrameRate", bits));
    channel->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return sink.committed >= 5; })); // past the first of everything
    const XEVGigeStreamStatistics before = Stats();
    g_allocations = 0;
    g_counting = true;
    ASSERT_TRUE(waitUntil([&] { return sink.committed >= 45; }));
    g_counting = false;
    const XEVGigeStreamStatistics after = Stats();
    EXPECT_EQ(g_allocations.load(), 0u);
    EXPECT_GE(after.framesCompleted - before.framesCompleted, 40u);
    EXPECT_GE(after.packetsReceived - before.packetsReceived, 40u * 449);
#endif
}

// --- Lifecycle -------------------------------------------------------------------------

TEST_F(StreamFixture, StoppingDisablesTheStreamAndRestartingResumesIt) {
    Plug(GigeModel::HeronGigE, 9000);
    OpenStream();
    StreamFrames(2);
    EXPECT_EQ(camera->registerValue(StreamPortRegister), 0u);
    EXPECT_FALSE(camera->isStreaming());
    StreamFrames(2);
    EXPECT_EQ(sink.Numbers(), (std::vector<uint64_t>{1, 2, 3, 4}));

    // Destroyed while streaming continuously, with the io threads running.
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionMode", 0));
    channel->StartCapture();
    EXPECT_EQ(camera->registerValue(StreamPortRegister), channel->LocalPort());
    ASSERT_TRUE(sink.WaitFrames(5));
    finishesWithin("closing while streaming", [&] { channel.reset(); });
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_EQ(camera->registerValue(StreamPortRegister), 0u);
}

TEST_F(StreamFixture, DestroyedAfterItsIoThreadsStoppedAsTheDeviceDoes) {
    Plug(GigeModel::HeronGigE, 1500);
    OpenStream();
    ASSERT_TRUE(gvcp->SendRegister("AcquisitionMode", 0));
    channel->StartCapture();
    ASSERT_TRUE(sink.WaitFrames(2));
    threads.Stop(); // receives still pending in the stopped io_context
    finishesWithin("closing after the io threads", [&] { channel.reset(); });
    EXPECT_FALSE(camera->isStreaming());
}

} // namespace
} // namespace XEVTest
