// The stream channel fed with datagrams made here, from the camera's address
// and the port the channel listens to: malformed packets, leaders that do not
// fit, block id wraps, reused receive buffers, garbage block ids.
#include "StreamHarness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace XEVTest {
namespace {

using namespace std::chrono_literals;
using XEVLibrary::ByteOrder::Store16;
using XEVLibrary::ByteOrder::Store32;
using Datagram = std::vector<uint8_t>;

constexpr std::size_t Payload = 1464; // packet size 1500

Datagram Header(uint16_t blockId, uint8_t format, uint32_t packetId, std::size_t data = 0) {
    Datagram d(8 + data, 0);
    Store16(&d[2], blockId);
    d[4] = format;
    d[5] = uint8_t(packetId >> 16);
    d[6] = uint8_t(packetId >> 8);
    d[7] = uint8_t(packetId);
    return d;
}

Datagram Leader(uint16_t blockId, uint32_t width, uint32_t height, uint32_t pixelFormat,
                uint16_t payloadType = 1) {
    Datagram d = Header(blockId, 1, 0, 36);
    Store16(&d[10], payloadType);
    Store32(&d[20], pixelFormat);
    Store32(&d[24], width);
    Store32(&d[28], height);
    return d;
}

Datagram Trailer(uint16_t blockId, uint32_t packetId) {
    return Header(blockId, 2, packetId, 8);
}

/// Payload packet @p packetId of @p image (its share of it, or @p size bytes
/// of it padded with 0xEE).
Datagram Data(uint16_t blockId, uint32_t packetId, const std::vector<uint8_t>& image,
              std::size_t size = 0) {
    const std::size_t start = std::size_t(packetId - 1) * Payload;
    const std::size_t share = std::min(Payload, image.size() - std::min(start, image.size()));
    Datagram d = Header(blockId, 3, packetId, size ? size : share);
    std::copy_n(image.begin() + std::ptrdiff_t(start), std::min(share, d.size() - 8),
                d.begin() + 8);
    std::fill(d.begin() + 8 + std::ptrdiff_t(std::min(share, d.size() - 8)), d.end(), 0xEE);
    return d;
}

std::vector<uint8_t> Pattern(std::size_t bytes, unsigned seed) {
    std::vector<uint8_t> image(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        image[i] = uint8_t(i * 7 + seed * 13 + (i >> 8));
    return image;
}

unsigned BytesPerPixel(uint32_t pixelFormat) {
    return (pixelFormat >> 16 & 0xFF) / 8;
}

/// Every packet of one frame, in order.
struct Frame {
    Frame(uint16_t blockId, uint32_t width, uint32_t height, uint32_t pixelFormat = Mono8)
        : blockId(blockId), width(width), height(height),
          image(Pattern(std::size_t(width) * height * BytesPerPixel(pixelFormat), blockId)) {
        packets.push_back(Leader(blockId, width, height, pixelFormat));
        for (uint32_t id = 1; id <= Count(); ++id)
            packets.push_back(Data(blockId, id, image));
        packets.push_back(Trailer(blockId, Count() + 1));
    }
    uint32_t Count() const { return uint32_t((image.size() + Payload - 1) / Payload); }

    uint16_t blockId;
    uint32_t width, height;
    std::vector<uint8_t> image;
    std::vector<Datagram> packets;
};

/// Run twice: with the kernel joining runs of datagrams into one receive,
/// and datagram by datagram (XEV_GVSP_GRO=0).
class CraftedTest : public StreamFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if (!GetParam())
            setenv("XEV_GVSP_GRO", "0", 1);
        Plug(GigeModel::HeronGigE);
        // Firmware before 02.01 has no source port register: the stream is
        // taken to come from the channel's own port number. A socket of ours
        // on an address of its own and that port passes for the camera.
        OpenStream("01.03", source);
        ASSERT_EQ(channel->CameraSourcePort(), channel->LocalPort());
        channel->StartCapture();
        ASSERT_TRUE(gvcp->SetStreamPort(0, 0)); // the emulated camera stays silent
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(channel->LocalPort());
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        ASSERT_EQ(::bind(m_socket, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        sockaddr_in to = from;
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        ASSERT_EQ(::connect(m_socket, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    }
    void TearDown() override {
        ::close(m_socket);
        StreamFixture::TearDown();
        unsetenv("XEV_GVSP_GRO");
    }

    /// Sends @p datagrams, all of one size, in one call: the kernel cuts the
    /// buffer into datagrams (UDP segmentation), which a joining receiver
    /// gets back as one run.
    void SendRun(const std::vector<Datagram>& datagrams) {
        Datagram run;
        for (const Datagram& d : datagrams)
            run.insert(run.end(), d.begin(), d.end());
        const int segment = int(datagrams.front().size());
        ASSERT_EQ(::setsockopt(m_socket, SOL_UDP, UDP_SEGMENT, &segment, sizeof segment), 0);
        const uint64_t before = Stats().packetsReceived;
        ASSERT_EQ(::send(m_socket, run.data(), run.size(), 0), ssize_t(run.size()))
            << std::strerror(errno);
        const int off = 0;
        ASSERT_EQ(::setsockopt(m_socket, SOL_UDP, UDP_SEGMENT, &off, sizeof off), 0);
        ASSERT_TRUE(
            waitUntil([&] { return Stats().packetsReceived - before == datagrams.size(); }));
    }

    /// Sends @p datagrams in order and waits until the channel received them.
    void Send(const std::vector<Datagram>& datagrams) {
        for (std::size_t start = 0; start < datagrams.size(); start += 256) {
            const uint64_t before = Stats().packetsReceived;
            const std::size_t end = std::min(datagrams.size(), start + 256);
            for (std::size_t i = start; i < end; ++i)
                ASSERT_EQ(::send(m_socket, datagrams[i].data(), datagrams[i].size(), 0),
                          ssize_t(datagrams[i].size()));
            ASSERT_TRUE(waitUntil([&] { return Stats().packetsReceived - before == end - start; }));
        }
    }
    void Send(const Frame& frame) { Send(frame.packets); }

    /// Sends a whole frame and waits for it: everything sent before it has
    /// been handled.
    void Deliver(const Frame& frame) {
        const std::size_t count = sink.Frames().size();
        Send(frame);
        ASSERT_TRUE(sink.WaitFrames(count + 1));
        const RecordingSink::Delivered last = sink.Frames().back();
        EXPECT_EQ(last.info.frameNumber, frame.blockId);
        EXPECT_TRUE(std::vector<uint8_t>(last.image.datastart, last.image.dataend) == frame.image);
    }

    const std::string source = cameraAddress();
    int m_socket = -1;
};

TEST_P(CraftedTest, MalformedPacketsAreRejectedAndNeverWritten) {
    ASSERT_EQ(channel->PayloadSize(), Payload);
    ASSERT_EQ(channel->PacketsPerFrame(), 896u);
    const Frame frame(7, 1464, 2); // two full packets
    Datagram runtLeader = Leader(8, 64, 8, Mono8);
    runtLeader.resize(18);
    const std::vector<Datagram> anyTime{
        Datagram{0, 0, 0},                    // a runt
        Header(7, 0, 1, 100),                 // unknown formats
        Header(7, 4, 1, 100),                 //
        Header(7, 15, 1, 100),                //
        Header(7, 3, 0, 100),                 // packet id 0
        Data(7, 897, frame.image, 100),       // beyond the largest frame
        Data(7, 0xFFFFFF, frame.image, 100),  //
        Data(7, 1, frame.image, Payload + 1), // one byte too long
        Data(7, 1, frame.image, 5000),        // cut to the buffer by the kernel, still too long
        runtLeader,                           // a leader without its fields
    };
    Send(anyTime);
    Send({frame.packets[0]}); // the leader: two packets
    const std::vector<Datagram> afterLeader{
        Data(7, 3, frame.image, 100), // beyond the frame
        Data(7, 1, frame.image, 100), // shorter than its place
        Data(7, 2, frame.image, 100), // the last, shorter than the image's end
    };
    Send(afterLeader);
    EXPECT_EQ(Stats().packetsRejected, anyTime.size() + afterLeader.size());
    Deliver(frame);

    // Packets before their leader are checked when it comes.
    const Frame early(9, 1464, 2);
    Send({Data(9, 1, early.image, 100), Data(9, 5, early.image), early.packets[0]});
    EXPECT_EQ(Stats().packetsRejected, anyTime.size() + afterLeader.size() + 2);
    Deliver(early);
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, 2u);
    EXPECT_EQ(stats.framesDroppedIncomplete, 0u);
    EXPECT_EQ(stats.packetsDuplicated, 0u);
}

TEST_P(CraftedTest, ALeaderBeyondTheNegotiatedFrameDropsItsFrame) {
    struct Size {
        uint32_t width, height, pixelFormat;
    };
    // The ring holds 896 x 1464 = 1311744 bytes per frame.
    const std::vector<Size> unfit{
        {656, 1000, Mono16},             // 1312000 bytes
        {655873, 1, Mono16},             // 1311746
        {437249, 1, Rgb8},               // 1311747
        {0x10000, 0x10000, Mono16},      // 2^32 pixels
        {0xFFFFFFFF, 0xFFFFFFFF, Mono8}, //
        {0, 8, Mono8},                   // empty
        {8, 0, Mono8},                   //
        {64, 8, 0x01200000},             // 4 bytes per pixel: no slot type holds it
    };
    uint16_t blockId = 20;
    for (const Size& size : unfit) {
        const auto image = Pattern(Payload, blockId);
        Send({Leader(blockId, size.width, size.height, size.pixelFormat),
              Data(blockId, 1, image, Payload), Trailer(blockId, 2)});
        ++blockId;
    }
    EXPECT_EQ(Stats().framesDroppedIncomplete, unfit.size());
    Deliver(Frame(40, 655872, 1, Mono16)); // exactly the ring's frame: 896 packets
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, 1u);
    EXPECT_EQ(stats.framesDroppedIncomplete, unfit.size()); // each once
    EXPECT_EQ(stats.packetsRejected, 0u);
    EXPECT_EQ(sink.Numbers(), std::vector<uint64_t>{40});
}

TEST_P(CraftedTest, ALeaderOfAnotherPayloadTypeIsToldAndItsFrameNeverCompletes) {
    DiagnosticsCapture diagnostics;
    Frame other(50, 1464, 1);
    other.packets[0] = Leader(50, 1464, 1, Mono8, 2);
    Send(other);
    Deliver(Frame(51, 64, 8));
    EXPECT_EQ(diagnostics.text(),
              "Unsupported payload type. Payload type must be Uncompressed Image\n");
    EXPECT_EQ(sink.Numbers(), std::vector<uint64_t>{51});
    EXPECT_EQ(Stats().framesDroppedIncomplete, 1u);
}

TEST_P(CraftedTest, FramesFollowBlockOrderAcrossTheWrapAndLateOnesNeverCome) {
    for (uint16_t blockId : {65534, 65535, 1, 2}) // 0 is skipped on the wrap
        Deliver(Frame(blockId, 64, 8));
    Send(Frame(65535, 64, 8)); // again, late: ignored
    const Frame ten(10, 1464, 3);
    Send({ten.packets[0], ten.packets[1], ten.packets[3], ten.packets[4]}); // no packet 2
    Deliver(Frame(11, 64, 8)); // ten can only be delivered out of order now
    Send({ten.packets[2]});
    Deliver(Frame(12, 64, 8));
    // A camera that restarted its numbering: far behind counts as new.
    Deliver(Frame(5000, 64, 8));
    Deliver(Frame(3, 64, 8));
    EXPECT_EQ(sink.Numbers(), (std::vector<uint64_t>{65534, 65535, 1, 2, 11, 12, 5000, 3}));
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesCompleted, 8u);
    EXPECT_EQ(stats.framesDroppedIncomplete, 1u);
    EXPECT_EQ(stats.packetsMissing, 1u);
    EXPECT_EQ(stats.packetsDuplicated, 0u);
}

TEST_P(CraftedTest, ReorderedAndRepeatedPacketsAssembleTheFrameWithTheNewestCopy) {
    const Frame frame(60, 1464, 5); // leader, packets 1 to 5, trailer
    Datagram stale = frame.packets[2];
    std::fill(stale.begin() + 8, stale.end(), 0x11);
    Send({frame.packets[6], frame.packets[5], frame.packets[3], frame.packets[0], frame.packets[4],
          stale, frame.packets[2], frame.packets[1]});
    ASSERT_TRUE(sink.WaitFrames(1));
    EXPECT_TRUE(std::vector<uint8_t>(sink.Frames()[0].image.datastart,
                                     sink.Frames()[0].image.dataend) == frame.image);
    Send({frame.packets[3]}); // once more after delivery
    Deliver(Frame(61, 64, 8));
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.packetsOutOfOrder, 4u); // 3, 4, the stale 2 and 1 after 5
    EXPECT_EQ(stats.packetsDuplicated, 2u);
    EXPECT_EQ(stats.framesCompleted, 2u);
}

TEST_P(CraftedTest, PixelSizesChooseTheSlotTypeAndRgbHasRedAndBlueExchanged) {
    const struct {
        uint32_t pixelFormat;
        int type;
    } formats[]{{Mono8, CV_8UC1},
                {0x010C0005, CV_8UC1}, // 12 bits: one byte
                {Mono16, CV_16UC1},
                {0x01100003, CV_16UC1}, // 10 bits in 16
                {Rgb8, CV_8UC3}};
    uint16_t blockId = 70;
    for (const auto& format : formats) {
        const Frame frame(blockId++, 8, 4, format.pixelFormat);
        Send(frame);
        ASSERT_TRUE(sink.WaitFrames(blockId - 70u));
        const cv::Mat image = sink.Frames().back().image;
        EXPECT_EQ(image.type(), format.type);
        EXPECT_EQ(image.cols, 8);
        EXPECT_EQ(image.rows, 4);
        std::vector<uint8_t> expected = frame.image;
        if (format.type == CV_8UC3)
            for (std::size_t p = 0; p < expected.size(); p += 3)
                std::swap(expected[p], expected[p + 2]);
        EXPECT_TRUE(std::vector<uint8_t>(image.datastart, image.dataend) == expected);
    }
    const cv::Vec3b first = sink.Frames().back().image.at<cv::Vec3b>(0, 0);
    const std::vector<uint8_t> wire = Pattern(3, 74);
    EXPECT_EQ(first, cv::Vec3b(wire[2], wire[1], wire[0]));
}

TEST_P(CraftedTest, AFrameWhoseReceiveBufferIsReusedIsDroppedNotDeliveredOverwritten) {
    const Frame frame(30, 1464, 2);
    Send({frame.packets[0], frame.packets[1], frame.packets[3]}); // packet 2 missing
    // As many datagrams as the ring has buffers: the one holding packet 1 is
    // received into again.
    const std::vector<Datagram> filler(channel->RingSize(), Header(999, 0, 1, 64));
    Send(filler);
    Send({frame.packets[2]});
    Deliver(Frame(31, 64, 8));
    EXPECT_EQ(sink.Numbers(), std::vector<uint64_t>{31});
    XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesDroppedIncomplete, 1u);
    EXPECT_EQ(stats.packetsMissing, 1u);
    EXPECT_EQ(stats.packetsRejected, filler.size());

    // With fewer datagrams between, the frame completes untouched.
    const Frame kept(32, 1464, 2);
    Send({kept.packets[0], kept.packets[1], kept.packets[3]});
    Send(std::vector<Datagram>(filler.begin(), filler.begin() + 2000));
    const std::size_t before = sink.Frames().size();
    Send({kept.packets[2]});
    ASSERT_TRUE(sink.WaitFrames(before + 1));
    EXPECT_EQ(sink.Frames().back().info.frameNumber, 32u);
    EXPECT_TRUE(std::vector<uint8_t>(sink.Frames().back().image.datastart,
                                     sink.Frames().back().image.dataend) == kept.image);
}

TEST_P(CraftedTest, ASlotOfAnotherFormatIsGivenBackUnwritten) {
    sink.Freeze(8, 8, CV_8UC1); // the FIFO's format changed under the channel
    Send(Frame(80, 64, 8, Mono16));
    ASSERT_TRUE(waitUntil([&] { return sink.cancels == 1; }));
    EXPECT_TRUE(sink.Frames().empty());
    EXPECT_EQ(Stats().framesDroppedIncomplete, 1u);
    sink.frozen = false;
    Deliver(Frame(81, 64, 8, Mono16));
}

TEST_P(CraftedTest, GarbageBlockIdsNeverGrowTheFramesKept) {
    const auto image = Pattern(Payload, 1);
    std::vector<Datagram> garbage;
    for (uint16_t blockId = 100; blockId < 1100; ++blockId)
        garbage.push_back(Data(blockId, 1, image, Payload));
    Send(garbage);
    Deliver(Frame(1100, 64, 8));
    const XEVGigeStreamStatistics stats = Stats();
    EXPECT_EQ(stats.framesDroppedIncomplete, 1000u); // each given up once
    EXPECT_EQ(stats.packetsMissing, 0u);             // no leader: only the ids seen count
    EXPECT_EQ(stats.framesCompleted, 1u);
}

TEST_P(CraftedTest, ALastPacketPaddedBeyondTheImageIsCutToIt) {
    Frame frame(90, 1564, 1); // 1464 + 100 bytes
    frame.packets[2] = Data(90, 2, frame.image, Payload);
    Deliver(frame);
}

TEST_P(CraftedTest, AFrameStartedOverASecondBeforeADeliveredOneIsDropped) {
    Send({Data(9000, 1, Pattern(2 * Payload, 0), Payload)}); // newer, never completes
    std::this_thread::sleep_for(1100ms);                     // the rule is about age
    Deliver(Frame(10, 64, 8));
    EXPECT_EQ(Stats().framesDroppedIncomplete, 1u);
}

TEST_P(CraftedTest, RunsOfDatagramsOfAnotherSizeThanABufferArePlacedOneByOne) {
    // Six one-packet frames (fewer than the frames assembled at once) whose
    // payload packets, 52 bytes each, come as one run; then a run of
    // datagrams too long for a buffer, all rejected.
    std::vector<Frame> frames;
    std::vector<Datagram> leaders, payloads, trailers;
    for (uint16_t block = 20; block < 26; ++block) {
        frames.emplace_back(block, 22, 1, Mono16); // 44 bytes
        leaders.push_back(frames.back().packets[0]);
        payloads.push_back(frames.back().packets[1]);
        trailers.push_back(frames.back().packets[2]);
    }
    ASSERT_EQ(payloads.front().size(), 52u);
    Send(leaders);
    SendRun(payloads);
    Send(trailers);
    ASSERT_TRUE(sink.WaitFrames(6));
    const auto delivered = sink.Frames();
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(delivered[i].info.frameNumber, frames[i].blockId);
        EXPECT_TRUE(std::vector<uint8_t>(delivered[i].image.datastart,
                                         delivered[i].image.dataend) == frames[i].image);
    }
    const uint64_t rejected = Stats().packetsRejected;
    const Frame big(40, 1464, 4);
    Send({big.packets[0]});
    SendRun(std::vector<Datagram>(3, Data(40, 1, big.image, Payload + 100)));
    EXPECT_EQ(Stats().packetsRejected, rejected + 3);
    EXPECT_EQ(sink.Frames().size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Receive, CraftedTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Joined" : "OneByOne";
                         });

} // namespace
} // namespace XEVTest
