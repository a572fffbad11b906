#include "gige/GvspChannel.h"

#include "Gige/GvcpChannel.h"
#include "Gige/ImageLeader.h"
#include "Gige/PacketHeader.h"
#include "device/Diagnostics.h"
#include "gige/GvspFrameSink.h"

#include <opencv2/core.hpp>

#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <sstream>

namespace XEVLibrary {

namespace asio = boost::asio;
using udp = asio::ip::udp;
using Clock = std::chrono::steady_clock;
using detail::DiagnosticKind;

namespace {

constexpr uint32_t StreamSourcePortRegister = 0x0D1C;
constexpr std::size_t IpUdpBytes = 28;
constexpr std::size_t HeaderBytes = PacketHeader::Size;
constexpr unsigned DefaultPacketSize = 1500;
/// Below this a packet carries next to no image data: the camera's value is
/// not believed.
constexpr unsigned MinimumPacketSize = 64;
constexpr uint64_t MaxBytesPerPixel = 4;
constexpr std::array<unsigned, 9> Candidates{500, 1500, 3000, 4000, 5000, 6000, 7000, 8000, 9000};
constexpr std::chrono::milliseconds TestPacketWait{100};
/// How long a cancelled test receive may take to report.
constexpr std::chrono::milliseconds TestReceiveEnd{1000};
constexpr int NegotiationReceiveBuffer = 9000;
/// How long destruction waits for the handlers of the receives it ended;
/// only an io_context that runs no more reaches it.
constexpr std::chrono::seconds HandlerWait{5};
/// Datagrams asked of the kernel per recvmmsg call: a burst of the camera
/// (64 KiB) in one or two calls.
constexpr unsigned Batch = 64;
/// The largest datagram, or run of datagrams coalesced by the kernel, one
/// receive returns.
constexpr std::size_t LargestReceive = 65535;
/// Buffers a coalesced receive may fill at most: more than one call passes.
constexpr std::size_t LargestRun = 1024;
/// The ring's buffers start on cache lines.
constexpr std::size_t BufferAlignment = 64;
/// Datagrams one wake-up handles at most, so that a camera sending without
/// pause does not keep an io thread for ever.
constexpr std::size_t MaxPerWakeUp = 4096;
/// Readiness waits whose memory is kept: the pending one and one cancelled
/// by a restart whose handler has not run yet.
constexpr std::size_t HandlerBlocks = 2;
/// Frames assembled at once: the newest few; more means lost packets.
constexpr std::size_t FrameRecords = 8;
/// Packets of blocks up to this far behind the last delivered frame are late;
/// farther means the camera restarted its numbering.
constexpr int LateWindow = 1024;
constexpr auto DiscardAge = std::chrono::seconds(1);

/// Wrap-aware order of 16-bit block ids: positive when @p a is newer.
int BlockDistance(uint16_t a, uint16_t b) {
    return static_cast<int16_t>(static_cast<uint16_t>(a - b));
}

/// The counters are written under the channel's lock: no locked increment.
void Bump(std::atomic<uint64_t>& counter, uint64_t by = 1) {
    counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

/// Exchanges the first and third byte of every pixel: red and blue change
/// places relative to the wire (OpenCV's colour images hold blue first).
void SwapRedBlue(uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 3)
        std::swap(pixels[0], pixels[2]);
}

/// The size of the datagrams a receive of @p bytes joined: as told by the
/// kernel, else one datagram.
std::size_t SegmentSize(msghdr& header, std::size_t bytes) {
    for (cmsghdr* control = CMSG_FIRSTHDR(&header); control != nullptr;
         control = CMSG_NXTHDR(&header, control))
        if (control->cmsg_level == SOL_UDP && control->cmsg_type == UDP_GRO &&
            control->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int size = 0;
            std::memcpy(&size, CMSG_DATA(control), sizeof size);
            if (size > 0 && static_cast<std::size_t>(size) < bytes)
                return static_cast<std::size_t>(size);
        }
    return std::max<std::size_t>(bytes, 1);
}

std::string Text(const udp::endpoint& endpoint) {
    std::ostringstream text;
    text << endpoint;
    return text.str();
}

} // namespace

struct GvspChannel::Counters {
    std::atomic<uint64_t> framesCompleted{0};
    std::atomic<uint64_t> framesDroppedIncomplete{0};
    std::atomic<uint64_t> packetsReceived{0};
    std::atomic<uint64_t> packetsMissing{0};
    std::atomic<uint64_t> packetsDuplicated{0};
    std::atomic<uint64_t> packetsOutOfOrder{0};
    std::atomic<uint64_t> packetsRejected{0};
};

/// One block being assembled: where each of its payload packets lies in the
/// ring. Records are reused; a packet entry is present when it carries the
/// record's serial, so nothing is cleared between frames.
struct GvspChannel::Frame {
    enum class State : uint8_t { Free, Assembling, Dead };
    struct Packet {
        uint64_t serial = 0;
        uint32_t buffer = 0;
        uint32_t length = 0;
    };

    State state = State::Free;
    uint16_t blockId = 0;
    uint64_t serial = 0;
    Clock::time_point created{};
    uint32_t expected = 0; ///< payload packets the leader announced; 0 before it
    uint32_t stored = 0;
    uint32_t highest = 0;
    bool trailer = false;
    int width = 0;
    int height = 0;
    int type = 0;
    std::size_t bytes = 0;
    std::vector<Packet> packets; ///< by packet id - 1, one per packet of the largest frame
};

/// Frames, ring ownership and the receive state (under the channel's lock).
struct GvspChannel::Assembly {
    /// The frame that holds a packet in a ring buffer.
    struct Owner {
        uint64_t serial = 0;
        uint32_t frame = 0;
    };

    std::vector<Frame> frames;
    std::vector<Owner> owners;
    uint64_t nextSerial = 0;
    bool ignoreLeaders = false;
    bool delivered = false;
    uint16_t lastDelivered = 0;

    uint64_t generation = 0; ///< changes when the wait is cancelled
    uint32_t next = 0;       ///< the ring buffer the next datagram lands in
    /// One recvmmsg call's messages, each pointing at its ring buffer; or
    /// the run of buffers one coalesced receive fills.
    std::array<mmsghdr, Batch> messages{};
    std::vector<iovec> vectors;
    /// Where a coalesced receive tells the size of the datagrams it joined.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))]{};
    /// One datagram on its way to its own buffer (Spread()).
    std::vector<uint8_t> scratch;
};

namespace {

/// Memory for the readiness waits: asio allocates one per wait, and blocks
/// reused keep the packet path free of allocations. Taken under the
/// channel's lock, given back from any io thread.
class HandlerMemory {
public:
    void* Allocate(std::size_t bytes) {
        if (bytes <= BlockBytes)
            for (Block& block : m_blocks) {
                bool used = false;
                if (block.used.compare_exchange_strong(used, true, std::memory_order_acquire))
                    return block.bytes;
            }
        return ::operator new(bytes);
    }
    void Deallocate(void* memory) {
        for (Block& block : m_blocks)
            if (memory == block.bytes) {
                block.used.store(false, std::memory_order_release);
                return;
            }
        ::operator delete(memory);
    }

private:
    static constexpr std::size_t BlockBytes = 512;
    struct Block {
        alignas(std::max_align_t) unsigned char bytes[BlockBytes];
        std::atomic<bool> used{false};
    };
    std::array<Block, HandlerBlocks> m_blocks;
};

/// The allocator asio finds on a receive handler.
template <class T>
class HandlerAllocator {
public:
    using value_type = T;
    explicit HandlerAllocator(HandlerMemory& memory) noexcept : m_memory(&memory) {}
    template <class U>
    HandlerAllocator(const HandlerAllocator<U>& other) noexcept : m_memory(other.m_memory) {}
    T* allocate(std::size_t n) { return static_cast<T*>(m_memory->Allocate(sizeof(T) * n)); }
    void deallocate(T* memory, std::size_t) noexcept { m_memory->Deallocate(memory); }
    template <class U>
    bool operator==(const HandlerAllocator<U>& other) const noexcept {
        return m_memory == other.m_memory;
    }
    template <class U>
    bool operator!=(const HandlerAllocator<U>& other) const noexcept {
        return m_memory != other.m_memory;
    }

private:
    template <class U>
    friend class HandlerAllocator;
    HandlerMemory* m_memory;
};

} // namespace

/// Shared with every handler that refers to the channel, which outlives
/// none of them unless its io_context is stopped.
struct GvspChannel::Life {
    std::atomic<bool> alive{true};
    std::atomic<unsigned> handlers{0};
    std::mutex lock;
    std::condition_variable idle;
    HandlerMemory memory;
};

/// Travels with each handler: counted while the handler exists, so that the
/// channel waits for the last one before it goes.
class GvspChannel::Ticket {
public:
    explicit Ticket(std::shared_ptr<Life> life) : m_life(std::move(life)) {
        m_life->handlers.fetch_add(1, std::memory_order_relaxed);
    }
    Ticket(Ticket&& other) noexcept = default;
    Ticket& operator=(Ticket&&) = delete;
    ~Ticket() {
        if (m_life && m_life->handlers.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> hold(m_life->lock);
            m_life->idle.notify_all();
        }
    }
    bool Valid() const { return m_life->alive.load(std::memory_order_acquire); }
    HandlerMemory& Memory() const { return m_life->memory; }

private:
    std::shared_ptr<Life> m_life;
};

/// Completion of the readiness wait, with the capture it belongs to.
class GvspChannel::ReadableHandler {
public:
    using allocator_type = HandlerAllocator<void>;

    ReadableHandler(GvspChannel& channel, uint64_t generation)
        : m_channel(&channel), m_ticket(channel.m_life), m_generation(generation) {}

    allocator_type get_allocator() const noexcept { return allocator_type(m_ticket.Memory()); }

    void operator()(const boost::system::error_code& error) {
        if (!m_ticket.Valid())
            return;
        std::lock_guard<std::mutex> hold(m_channel->m_lock);
        m_channel->OnReadable(error, m_generation);
    }

private:
    GvspChannel* m_channel;
    Ticket m_ticket;
    uint64_t m_generation;
};

namespace {

/// One packet size test: its own buffer and outcome, so that a late
/// completion of a cancelled test touches nothing of the next one.
struct TestReceive {
    explicit TestReceive(unsigned size) : buffer(size) {}
    std::vector<uint8_t> buffer;
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool arrived = false;
};

} // namespace

// --- Construction --------------------------------------------------------------------

GvspChannel::GvspChannel(asio::io_context& io, GvcpChannel& gvcp, const std::string& localIp,
                         unsigned short /*port*/, const std::string& cameraIp,
                         const std::string& firmwareVersion, unsigned sensorWidth,
                         unsigned sensorHeight, GvspFrameSink& sink)
    : m_io(io), m_gvcp(gvcp), m_sink(sink), m_socket(io), m_localIp(localIp), m_cameraIp(cameraIp),
      m_firmwareVersion(firmwareVersion), m_sensorWidth(sensorWidth), m_sensorHeight(sensorHeight),
      m_counters(std::make_unique<Counters>()), m_assembly(std::make_unique<Assembly>()),
      m_life(std::make_shared<Life>()) {
    try {
        boost::system::error_code error;
        const auto local = asio::ip::make_address_v4(m_localIp, error);
        if (!error)
            m_socket.open(udp::v4(), error);
        if (!error)
            m_socket.bind(udp::endpoint(local, 0), error);
        if (!error)
            m_localPort = m_socket.local_endpoint(error).port();
        if (!error)
            m_socket.non_blocking(true, error); // the handler takes what is queued, no more
        if (error)
            detail::inform("GVSP: Unable to open a socket on " + m_localIp + ": " +
                           error.message());

        const std::string model = m_gvcp.ReadStringRegister("GevModelName");
        detail::inform("cam name = " + model);
        const bool kestrel = model == "KestrelGigE";
        // Before 02.01 the firmware has no source port register: the stream
        // is taken as coming from the port it is sent to.
        m_cameraPort = kestrel || m_firmwareVersion >= "02.01"
                           ? static_cast<unsigned short>(
                                 m_gvcp.ReadRegister(StreamSourcePortRegister) & 0xFFFF)
                           : m_localPort;
        if (kestrel || m_firmwareVersion >= "01.04")
            NegociatePacketSize();

        m_packetSize = m_gvcp.GetPacketSize(0) & 0xFFFF;
        if (m_packetSize < MinimumPacketSize)
            m_packetSize = DefaultPacketSize;
        m_receiveBufferSize = m_packetSize - IpUdpBytes;
        m_payloadSize = m_receiveBufferSize - HeaderBytes;
        const uint64_t frameBytes = uint64_t(m_sensorWidth) * m_sensorHeight * MaxBytesPerPixel;
        m_packetsPerFrame = std::max<std::size_t>(
            1, static_cast<std::size_t>((frameBytes + m_payloadSize - 1) / m_payloadSize));
        // Never fewer buffers than two receive batches.
        const std::size_t buffers = std::max<std::size_t>(3 * m_packetsPerFrame, 2 * Batch);
        m_ring.stride = (m_receiveBufferSize + BufferAlignment) / BufferAlignment * BufferAlignment;
        m_ring.count = buffers;
        m_ring.memory.assign(buffers * m_ring.stride + BufferAlignment - 1, 0);
        m_ring.first = m_ring.memory.data() +
                       (BufferAlignment -
                        reinterpret_cast<std::uintptr_t>(m_ring.memory.data()) % BufferAlignment) %
                           BufferAlignment;
        // The kernel may join datagrams of the same size that come in a row
        // into one receive, a fraction of the work per datagram; allowed
        // when one receive's run of buffers is a small part of the ring.
        const std::size_t run = (LargestReceive + m_receiveBufferSize - 1) / m_receiveBufferSize;
        const int on = 1;
        // XEV_GVSP_GRO=0 receives datagram by datagram, for a kernel or a
        // network path that joins datagrams badly.
        const char* joining = std::getenv("XEV_GVSP_GRO");
        const bool joinAllowed = joining == nullptr || std::string(joining) != "0";
        if (joinAllowed && m_socket.is_open() && run <= LargestRun && 4 * run <= buffers &&
            ::setsockopt(m_socket.native_handle(), SOL_UDP, UDP_GRO, &on, sizeof on) == 0)
            m_runBuffers = static_cast<uint32_t>(run);
        m_assembly->vectors.resize(std::max<std::size_t>(Batch, m_runBuffers));
        m_assembly->scratch.resize(m_receiveBufferSize + 1);
        m_assembly->owners.assign(buffers, {});
        m_assembly->frames.resize(FrameRecords);
        for (Frame& frame : m_assembly->frames)
            frame.packets.assign(m_packetsPerFrame, {});
        Open();
    } catch (...) {
        Quiesce();
        throw;
    }
}

GvspChannel::~GvspChannel() {
    try {
        Close();
    } catch (const std::exception& error) {
        detail::inform(std::string("GvspChannel: ") + error.what());
    } catch (...) {
        detail::inform("GvspChannel: stopping the stream failed");
    }
    Quiesce();
}

bool GvspChannel::Open() {
    detail::diagnosticf(DiagnosticKind::Information, "SetStreamDestinationIp %s, %u",
                        m_localIp.c_str(), unsigned(m_localPort));
    bool open = m_gvcp.SetStreamDestinationIp(0, m_localIp);
    if (open)
        open = m_gvcp.SetStreamPort(0, m_localPort);
    m_open = open;
    bool connected = false;
    int granted = 0;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        connected = Connect();
        if (m_socket.is_open())
            granted = SetReceiveBuffer(ReceiveBufferBytes);
    }
    if (!connected) {
        detail::inform("GVSP: Unable to connect to " + m_cameraIp);
        m_open = false;
    }
    m_grantedReceiveBuffer = granted;
    static std::atomic<bool> told{false};
    if (granted > 0 && granted < ReceiveBufferBytes && !told.exchange(true))
        detail::diagnosticf(DiagnosticKind::Error,
                            "GVSP: the system granted a socket receive buffer of %d bytes instead "
                            "of %d; frames may be lost at high rates. Raise the limit with: sysctl "
                            "-w net.core.rmem_max=%d",
                            granted, ReceiveBufferBytes, ReceiveBufferBytes);
    return m_open;
}

bool GvspChannel::Connect() {
    if (!m_socket.is_open())
        return false;
    boost::system::error_code error;
    const auto camera = asio::ip::make_address_v4(m_cameraIp, error);
    if (!error)
        m_socket.connect(udp::endpoint(camera, m_cameraPort), error);
    return !error;
}

int GvspChannel::SetReceiveBuffer(int bytes) {
    const int socket = m_socket.native_handle();
    // SO_RCVBUFFORCE passes net.core.rmem_max when privileged; else the
    // plain request, which the kernel caps.
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int reported = 0;
    socklen_t size = sizeof reported;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &reported, &size) != 0)
        return 0;
    return reported / 2; // the kernel reports twice what it granted
}

void GvspChannel::NegociatePacketSize() {
    bool open = m_gvcp.SetStreamDestinationIp(0, m_localIp);
    if (open)
        open = m_gvcp.SetStreamPort(0, m_localPort);
    m_open = open;
    detail::diagnosticf(DiagnosticKind::Information, "camport = %u", unsigned(m_cameraPort));
    bool connected = false;
    std::string local = "?", remote = "?";
    {
        std::lock_guard<std::mutex> hold(m_lock);
        connected = Connect();
        boost::system::error_code error;
        if (m_socket.is_open())
            local = Text(m_socket.local_endpoint(error));
        if (connected)
            remote = Text(m_socket.remote_endpoint(error));
        if (connected)
            SetReceiveBuffer(NegotiationReceiveBuffer);
    }
    detail::inform("Negociate: " + local + ", " + remote);
    if (!connected) {
        detail::inform("GVSP: Unable to connect to " + m_cameraIp);
        m_open = false;
        return;
    }

    // From the largest down; the smallest candidate is never tried.
    for (std::size_t i = Candidates.size() - 1; i >= 1; --i) {
        const unsigned size = Candidates[i];
        m_tested.push_back(size);
        detail::diagnosticf(DiagnosticKind::Information, "Test : %u", size);
        auto test = std::make_shared<TestReceive>(size);
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_socket.async_receive(asio::buffer(test->buffer),
                                   [this, test, ticket = Ticket(m_life)](
                                       const boost::system::error_code& error, std::size_t) {
                                       if (!error && ticket.Valid()) {
                                           std::lock_guard<std::mutex> hold(m_lock);
                                           Bump(m_counters->packetsReceived);
                                       }
                                       std::lock_guard<std::mutex> hold(test->lock);
                                       test->finished = true;
                                       test->arrived = !error;
                                       test->done.notify_all();
                                   });
        }
        const bool fired = m_gvcp.SetPacketSize(0, static_cast<unsigned short>(size), true);
        const auto finished = [&test](std::chrono::milliseconds wait) {
            std::unique_lock<std::mutex> hold(test->lock);
            return test->done.wait_for(hold, wait, [&] { return test->finished; });
        };
        if (!fired || !finished(TestPacketWait)) {
            // A test packet already waiting in the socket arrived in time;
            // otherwise the receive is cancelled. Either way it reports
            // before the next size is tried.
            const auto cancel = [this](bool unlessWaiting) {
                std::lock_guard<std::mutex> hold(m_lock);
                boost::system::error_code error;
                if (!unlessWaiting || m_socket.available(error) == 0)
                    m_socket.cancel(error);
            };
            cancel(fired);
            if (!finished(TestReceiveEnd)) {
                cancel(false);
                finished(TestReceiveEnd);
            }
        }
        std::lock_guard<std::mutex> hold(test->lock);
        if (test->finished && test->arrived)
            break;
    }
    // No stream until a capture starts.
    m_gvcp.SetStreamPort(0, 0);
}

// --- Capture control (caller's thread) ------------------------------------------------

void GvspChannel::StartCapture() {
    m_stopped = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        boost::system::error_code error;
        m_socket.cancel(error); // a capture already running starts over
        ++m_assembly->generation;
        ResetFrames(true);
        Drain();
    }
    if (m_firstStart) {
        m_gvcp.SetStreamPort(0, m_localPort);
        m_firstStart = false;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        Grab(false);
    }
    m_gvcp.Start();
}

void GvspChannel::StopCapture(bool /*ignored*/) {
    m_stopped = true;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        boost::system::error_code error;
        m_socket.cancel(error);
        ++m_assembly->generation;
    }
    m_firstStart = true;
    m_gvcp.Stop();
    m_gvcp.SetStreamPort(0, 0);
}

XEVGigeStreamStatistics GvspChannel::Statistics() const {
    const auto read = [](const std::atomic<uint64_t>& counter) {
        return counter.load(std::memory_order_relaxed);
    };
    XEVGigeStreamStatistics statistics;
    statistics.framesCompleted = read(m_counters->framesCompleted);
    statistics.framesDroppedIncomplete = read(m_counters->framesDroppedIncomplete);
    statistics.packetsReceived = read(m_counters->packetsReceived);
    statistics.packetsMissing = read(m_counters->packetsMissing);
    statistics.packetsDuplicated = read(m_counters->packetsDuplicated);
    statistics.packetsOutOfOrder = read(m_counters->packetsOutOfOrder);
    statistics.packetsRejected = read(m_counters->packetsRejected);
    return statistics;
}

void GvspChannel::Quiesce() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        boost::system::error_code error;
        m_socket.close(error);
        ++m_assembly->generation;
    }
    // A stopped io_context runs no handler any more; a running one runs
    // those of the receives just ended.
    if (!m_io.stopped()) {
        std::unique_lock<std::mutex> hold(m_life->lock);
        if (!m_life->idle.wait_for(hold, HandlerWait, [this] {
                return m_life->handlers.load(std::memory_order_acquire) == 0;
            }))
            detail::diagnosticf(DiagnosticKind::Error,
                                "GVSP: receive handlers of the stream from %s did not end",
                                m_cameraIp.c_str());
    }
    // Handlers left in a stopped io_context must not touch this channel.
    m_life->alive.store(false, std::memory_order_release);
}

// --- Receiving (under m_lock) --------------------------------------------------------

void GvspChannel::Grab(bool ignoreLeaders) {
    if (m_stopped)
        return;
    Assembly& a = *m_assembly;
    boost::system::error_code error;
    m_socket.cancel(error);
    ++a.generation;
    a.ignoreLeaders = ignoreLeaders;
    Arm();
}

void GvspChannel::Drain() {
    Assembly& a = *m_assembly;
    for (std::size_t n = 0; n < m_ring.size() && m_socket.is_open();) {
        // The frames are reset: the first buffer is free. MSG_TRUNC gives
        // the length of what is discarded, which tells its datagrams.
        iovec vector{m_ring[0], m_ring.stride};
        msghdr header{};
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        header.msg_control = a.control;
        header.msg_controllen = sizeof a.control;
        const ssize_t got = ::recvmsg(m_socket.native_handle(), &header, MSG_DONTWAIT | MSG_TRUNC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        const auto bytes = static_cast<std::size_t>(got);
        const std::size_t segment = SegmentSize(header, bytes);
        const std::size_t count = bytes == 0 ? 1 : (bytes + segment - 1) / segment;
        Bump(m_counters->packetsReceived, count);
        n += count;
    }
}

void GvspChannel::Arm() {
    // asio registers the wait with the reactor again, which reports a socket
    // that is readable already: nothing queued before this is missed.
    m_socket.async_wait(udp::socket::wait_read, ReadableHandler(*this, m_assembly->generation));
}

void GvspChannel::OnReadable(const boost::system::error_code& error, uint64_t generation) {
    if (generation != m_assembly->generation)
        return; // the wait of an earlier capture, cancelled
    if (m_stopped)
        return;
    if (error) {
        detail::diagnosticf(DiagnosticKind::Information,
                            "GVSP: waiting for the stream from %s failed: %s", m_cameraIp.c_str(),
                            error.message().c_str());
        return; // the stream ends
    }
    if (ReceiveQueued())
        Arm();
}

bool GvspChannel::ReceiveQueued() {
    return m_runBuffers != 0 ? ReceiveCoalesced() : ReceiveSingles();
}

bool GvspChannel::ReceiveSingles() {
    Assembly& a = *m_assembly;
    const auto ring = static_cast<uint32_t>(m_ring.size());
    const int socket = m_socket.native_handle();
    std::size_t total = 0;
    while (total < MaxPerWakeUp) {
        const auto asked =
            static_cast<unsigned>(std::min<std::size_t>(Batch, MaxPerWakeUp - total));
        for (unsigned k = 0, index = a.next; k < asked;
             ++k, index = index + 1 == ring ? 0 : index + 1) {
            ReleaseBuffer(index);
            a.vectors[k] = {m_ring[index], m_receiveBufferSize + 1};
            msghdr& header = a.messages[k].msg_hdr;
            header.msg_iov = &a.vectors[k];
            header.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(socket, a.messages.data(), asked, MSG_DONTWAIT, nullptr);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            return Failed(errno);
        }
        for (int k = 0; k < got; ++k) {
            // A datagram longer than its buffer comes cut to it (MSG_TRUNC),
            // one byte longer than any packet expected: it is rejected.
            HandleDatagram(a.next, a.messages[k].msg_len);
            a.next = a.next + 1 == ring ? 0 : a.next + 1;
            // Counted once handled: whoever sees the count sees its outcome.
            Bump(m_counters->packetsReceived);
        }
        total += static_cast<std::size_t>(got);
        if (static_cast<unsigned>(got) < asked)
            return true; // the queue is empty: the wait reports what comes next
    }
    return true;
}

bool GvspChannel::ReceiveCoalesced() {
    Assembly& a = *m_assembly;
    const auto ring = static_cast<uint32_t>(m_ring.size());
    const int socket = m_socket.native_handle();
    const std::size_t buffer = m_receiveBufferSize;
    std::size_t total = 0;
    while (total < MaxPerWakeUp) {
        // The buffers from the next one on, each as long as a datagram
        // expected: joined datagrams of that size land one per buffer. The
        // byte past each one stays free for the oversize mark.
        for (uint32_t k = 0, index = a.next; k < m_runBuffers;
             ++k, index = index + 1 == ring ? 0 : index + 1) {
            ReleaseBuffer(index);
            a.vectors[k] = {m_ring[index], buffer};
        }
        msghdr header{};
        header.msg_iov = a.vectors.data();
        header.msg_iovlen = m_runBuffers;
        header.msg_control = a.control;
        header.msg_controllen = sizeof a.control;
        const ssize_t got = ::recvmsg(socket, &header, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            return Failed(errno);
        }
        const auto bytes = static_cast<std::size_t>(got);
        const std::size_t segment = SegmentSize(header, bytes);
        const auto count = static_cast<uint32_t>(bytes == 0 ? 1 : (bytes + segment - 1) / segment);
        const uint32_t placed =
            count > 1 && segment != buffer ? Spread(segment, bytes, count) : count;
        for (uint32_t k = 0; k < placed; ++k) {
            // A datagram longer than a buffer goes on to the next ones: it is
            // seen one byte longer than any packet expected, and rejected.
            const std::size_t length = std::min(segment, bytes - k * segment);
            HandleDatagram(a.next, std::min(length, buffer + 1));
            a.next = a.next + 1 == ring ? 0 : a.next + 1;
            Bump(m_counters->packetsReceived);
        }
        if (placed < count) { // more short datagrams than buffers: not kept
            Bump(m_counters->packetsRejected, count - placed);
            Bump(m_counters->packetsReceived, count - placed);
        }
        total += count;
    }
    return true;
}

uint32_t GvspChannel::Spread(std::size_t segment, std::size_t bytes, uint32_t count) {
    // The receive filled the run of buffers as one stream of bytes, cut at
    // each buffer's size; datagram k starts k * segment bytes into it. Each
    // goes through the scratch to the start of buffer k: from the last one
    // down when they are shorter than a buffer, from the first one up when
    // longer (only the oversize mark of those is kept), so that no move
    // overwrites a datagram not moved yet. Only unusual senders come here.
    Assembly& a = *m_assembly;
    const auto ring = static_cast<uint32_t>(m_ring.size());
    const std::size_t buffer = m_receiveBufferSize;
    const uint32_t placed = std::min(count, m_runBuffers);
    const auto move = [&](uint32_t k) {
        const std::size_t start = std::size_t(k) * segment;
        const std::size_t length = std::min({segment, bytes - start, buffer + 1});
        for (std::size_t done = 0; done < length;) {
            const std::size_t at = start + done;
            const std::size_t offset = at % buffer;
            const std::size_t piece = std::min(length - done, buffer - offset);
            std::memcpy(a.scratch.data() + done, m_ring[(a.next + at / buffer) % ring] + offset,
                        piece);
            done += piece;
        }
        std::memcpy(m_ring[(a.next + k) % ring], a.scratch.data(), length);
    };
    if (segment < buffer)
        for (uint32_t k = placed; k-- > 1;)
            move(k);
    else
        for (uint32_t k = 1; k < placed; ++k)
            move(k);
    return placed;
}

bool GvspChannel::Failed(int failure) {
    detail::diagnosticf(
        DiagnosticKind::Information, "GVSP: receiving the stream from %s failed: %s",
        m_cameraIp.c_str(),
        boost::system::error_code(failure, boost::system::system_category()).message().c_str());
    // A reported network error (an ICMP message) passes; a socket unusable
    // for good ends the stream.
    return failure != EBADF && failure != ENOTSOCK && failure != EINVAL && failure != EFAULT;
}

// --- Packets (under m_lock) -----------------------------------------------------------
// Handled in the wait's handler rather than posted on: a post per datagram
// costs a scheduling and an allocation, for frame state that has one user at
// a time anyway.

void GvspChannel::HandleDatagram(uint32_t index, std::size_t bytes) {
    const uint8_t* datagram = m_ring[index];
    const PacketHeader header(datagram, bytes);
    if (!header.Complete()) {
        Bump(m_counters->packetsRejected);
        return;
    }
    switch (header.Format()) {
    case Gvsp::FormatLeader:
        HandleLeader(datagram, bytes, header.BlockId());
        break;
    case Gvsp::FormatPayload:
        HandleFrameData(header.BlockId(), header.PacketId(), bytes, index);
        break;
    case Gvsp::FormatTrailer:
        HandleTrailer(header.BlockId());
        break;
    default:
        Bump(m_counters->packetsRejected);
        break;
    }
}

void GvspChannel::HandleLeader(const uint8_t* datagram, std::size_t bytes, uint16_t blockId) {
    const ImageLeader leader(datagram, bytes);
    if (!leader.Complete()) {
        Bump(m_counters->packetsRejected);
        return;
    }
    if (leader.PayloadType() != ImageLeader::PayloadTypeImage) {
        detail::inform("Unsupported payload type. Payload type must be Uncompressed Image");
        if (Frame* frame = Acquire(blockId, false))
            Drop(*frame, true);
        return;
    }
    if (m_assembly->ignoreLeaders)
        return;
    Frame* frame = Acquire(blockId, false);
    if (frame == nullptr || frame->state != Frame::State::Assembling || frame->expected != 0)
        return; // late, given up, or a repeated leader
    const uint64_t pixelBytes = leader.EffectiveBitsPerPixel() / 8;
    const uint64_t width = leader.Width(), height = leader.Height();
    const uint64_t room = uint64_t(m_packetsPerFrame) * m_payloadSize;
    // The slot holds width x height pixels of the type chosen here: an image
    // beyond the ring's frame, or a pixel size no type matches (0, or more
    // than 3 bytes), cannot be placed.
    const uint64_t side = uint64_t(std::numeric_limits<int>::max());
    if (pixelBytes == 0 || pixelBytes > 3 || width == 0 || height == 0 || width > side ||
        height > side || width > room / height || pixelBytes * width * height > room) {
        Drop(*frame, true);
        return;
    }
    frame->width = static_cast<int>(width);
    frame->height = static_cast<int>(height);
    frame->type = pixelBytes == 2 ? CV_16UC1 : pixelBytes == 3 ? CV_8UC3 : CV_8UC1;
    frame->bytes = static_cast<std::size_t>(pixelBytes * width * height);
    frame->expected = static_cast<uint32_t>((frame->bytes + m_payloadSize - 1) / m_payloadSize);
    // Packets that came before the leader are checked now.
    for (uint32_t id = 1; frame->stored > 0 && id <= frame->highest; ++id) {
        const Frame::Packet& packet = frame->packets[id - 1];
        if (packet.serial == frame->serial && !Fits(*frame, id, packet.length)) {
            Forget(*frame, id);
            Bump(m_counters->packetsRejected);
        }
    }
    TryComplete(*frame);
}

void GvspChannel::HandleFrameData(uint16_t blockId, uint32_t id, std::size_t bytes,
                                  uint32_t index) {
    const std::size_t length = bytes - HeaderBytes;
    if (id == 0 || id > m_packetsPerFrame || length > m_payloadSize) {
        Bump(m_counters->packetsRejected);
        return;
    }
    Frame* frame = Acquire(blockId, true);
    if (frame == nullptr || frame->state != Frame::State::Assembling)
        return;
    if (frame->expected != 0 && !Fits(*frame, id, length)) {
        Bump(m_counters->packetsRejected);
        return;
    }
    Assembly& a = *m_assembly;
    Frame::Packet& packet = frame->packets[id - 1];
    if (packet.serial == frame->serial) {
        Bump(m_counters->packetsDuplicated);
        a.owners[packet.buffer].serial = 0; // the newer copy replaces it
    } else {
        ++frame->stored;
        if (id < frame->highest)
            Bump(m_counters->packetsOutOfOrder);
    }
    frame->highest = std::max(frame->highest, id);
    packet = {frame->serial, index, static_cast<uint32_t>(length)};
    a.owners[index] = {frame->serial, static_cast<uint32_t>(frame - a.frames.data())};
    TryComplete(*frame);
}

void GvspChannel::HandleTrailer(uint16_t blockId) {
    Frame* frame = Acquire(blockId, false);
    if (frame == nullptr || frame->state != Frame::State::Assembling)
        return;
    frame->trailer = true;
    TryComplete(*frame);
}

GvspChannel::Frame* GvspChannel::Acquire(uint16_t blockId, bool payload) {
    Assembly& a = *m_assembly;
    if (a.delivered) {
        const int distance = BlockDistance(blockId, a.lastDelivered);
        if (distance <= 0 && distance > -LateWindow) {
            if (distance == 0 && payload)
                Bump(m_counters->packetsDuplicated);
            return nullptr; // its frame was delivered or can only come out of order
        }
    }
    for (Frame& frame : a.frames)
        if (frame.state != Frame::State::Free && frame.blockId == blockId)
            return &frame;
    // A record for a new block: a free one, else the oldest given-up one,
    // else the oldest being assembled, which is given up.
    Frame* pick = nullptr;
    const auto rank = [](const Frame& frame) {
        return frame.state == Frame::State::Free ? 0 : frame.state == Frame::State::Dead ? 1 : 2;
    };
    for (Frame& frame : a.frames)
        if (pick == nullptr || rank(frame) < rank(*pick) ||
            (rank(frame) == rank(*pick) && frame.created < pick->created))
            pick = &frame;
    Drop(*pick, false);
    pick->state = Frame::State::Assembling;
    pick->blockId = blockId;
    pick->serial = ++a.nextSerial;
    pick->created = Clock::now();
    pick->expected = pick->stored = pick->highest = 0;
    pick->trailer = false;
    pick->bytes = 0;
    return pick;
}

void GvspChannel::ReleaseBuffer(uint32_t index) {
    Assembly& a = *m_assembly;
    Assembly::Owner& owner = a.owners[index];
    if (owner.serial == 0)
        return;
    Frame& frame = a.frames[owner.frame];
    if (frame.state == Frame::State::Assembling && frame.serial == owner.serial)
        Drop(frame, true); // the datagram about to land here would overwrite its packet
    owner.serial = 0;
}

bool GvspChannel::Fits(const Frame& frame, uint32_t packetId, std::size_t length) const {
    if (packetId == 0 || packetId > frame.expected || length > m_payloadSize)
        return false;
    // Every packet fills its place but the last, which may be padded.
    const std::size_t needed = packetId < frame.expected
                                   ? m_payloadSize
                                   : frame.bytes - std::size_t(frame.expected - 1) * m_payloadSize;
    return length >= needed;
}

void GvspChannel::Forget(Frame& frame, uint32_t packetId) {
    Frame::Packet& packet = frame.packets[packetId - 1];
    m_assembly->owners[packet.buffer].serial = 0;
    packet.serial = 0;
    --frame.stored;
}

void GvspChannel::TryComplete(Frame& frame) {
    if (frame.trailer && frame.expected != 0 && frame.stored == frame.expected)
        Complete(frame);
}

void GvspChannel::Complete(Frame& frame) {
    Assembly& a = *m_assembly;
    m_sink.PrepareFrameFormat(frame.width, frame.height, frame.type);
    cv::Mat* slot = m_sink.ReserveFrame();
    if (slot == nullptr) {
        Drop(frame, false);
        return;
    }
    // The FIFO may have been given another format meanwhile.
    if (slot->cols != frame.width || slot->rows != frame.height || slot->type() != frame.type ||
        !slot->isContinuous()) {
        m_sink.CancelFrame();
        Drop(frame, false);
        return;
    }
    uint8_t* pixels = slot->data;
    for (uint32_t id = 1; id <= frame.expected; ++id) {
        const Frame::Packet& packet = frame.packets[id - 1];
        const std::size_t offset = std::size_t(id - 1) * m_payloadSize;
        std::memcpy(pixels + offset, m_ring[packet.buffer] + HeaderBytes,
                    std::min<std::size_t>(packet.length, frame.bytes - offset));
    }
    if (frame.type == CV_8UC3)
        SwapRedBlue(pixels, std::size_t(frame.width) * std::size_t(frame.height));

    XEVFrameInfo info;
    info.frameNumber = frame.blockId;
    info.temperature = XEVFrameInfo::NoTemperature;
    info.width = slot->cols;
    info.height = slot->rows;

    frame.state = Frame::State::Free;
    a.delivered = true;
    a.lastDelivered = frame.blockId;
    // Older frames could only be delivered out of order; frames started long
    // before this one will not complete.
    for (Frame& other : a.frames)
        if (other.state != Frame::State::Free && (BlockDistance(other.blockId, frame.blockId) < 0 ||
                                                  other.created + DiscardAge < frame.created))
            Drop(other, false);
    Bump(m_counters->framesCompleted);
    m_sink.OnNewImage(info);
}

void GvspChannel::Drop(Frame& frame, bool tombstone) {
    if (frame.state == Frame::State::Assembling) {
        Bump(m_counters->framesDroppedIncomplete);
        const uint32_t total = frame.expected != 0 ? frame.expected : frame.highest;
        if (total > frame.stored)
            Bump(m_counters->packetsMissing, total - frame.stored);
    }
    if (frame.state != Frame::State::Free)
        frame.state = tombstone ? Frame::State::Dead : Frame::State::Free;
}

void GvspChannel::ResetFrames(bool countDropped) {
    Assembly& a = *m_assembly;
    for (Frame& frame : a.frames) {
        if (countDropped)
            Drop(frame, false);
        frame.state = Frame::State::Free;
    }
    a.delivered = false;
}

} // namespace XEVLibrary
