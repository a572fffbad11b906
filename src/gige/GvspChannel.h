#pragma once

#include "XEVGigeStreamStatistics.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace XEVLibrary {

class GvcpChannel;
class GvspFrameSink;

/**
 * The image stream of one opened GigE camera (stream channel 0): GVSP
 * datagrams received on a UDP socket, assembled into frames straight from the
 * receive buffers into the sink's FIFO slots.
 *
 * Construction asks the camera for its model, its stream source port and the
 * largest packet size that reaches this host, sizes a ring of receive
 * buffers for frames of the sensor's size, and programs the stream
 * destination. StartCapture() makes the camera stream; StopCapture() stops
 * it. Register writes run on the caller's thread, through the control
 * channel.
 *
 * Receiving: one readiness wait is kept pending on the (non-blocking) socket;
 * when it fires, its handler takes every datagram queued: runs of datagrams
 * the kernel joined (UDP GRO), one run per receive straight into the next
 * ring buffers, or else recvmmsg batches of 64 (also with XEV_GVSP_GRO=0);
 * it handles them in arrival order and arms the wait again. At a camera's
 * rate a receive per datagram cost a wake-up of an io thread and a turn of
 * the channel's lock for each one, most of the processor time; a wake-up now
 * serves a whole burst. A bound on the datagrams of one wake-up lets the io
 * thread go now and then.
 *
 * Threads: the io threads of the device run the wait's handler and the packet
 * handling, one handler at a time; the io_context must run while the channel
 * is built (the packet size test waits for it) and, unless it is stopped,
 * when it is destroyed. The sink is called from there, so StartCapture() and
 * StopCapture() must not be called holding a lock the sink takes. Packets are
 * kept in the receive buffers they arrived in and copied
 * once, into the FIFO slot, when their frame is complete. A frame is
 * delivered only when every packet of it arrived, and frames are delivered in
 * block id order; a frame that cannot complete is dropped, never delivered
 * with missing or overwritten data.
 * Nothing a datagram holds can make the channel write outside a buffer.
 */
class GvspChannel {
public:
    /// The socket receive buffer asked for: bursts at gigabit rate.
    static constexpr int ReceiveBufferBytes = 11865396;

    /// @p sensorWidth and @p sensorHeight bound the frames the ring is sized
    /// for (4 bytes per pixel). @p port is not used: the system assigns the
    /// local port.
    GvspChannel(boost::asio::io_context& io, GvcpChannel& gvcp, const std::string& localIp,
                unsigned short port, const std::string& cameraIp,
                const std::string& firmwareVersion, unsigned sensorWidth, unsigned sensorHeight,
                GvspFrameSink& sink);
    ~GvspChannel();
    GvspChannel(const GvspChannel&) = delete;
    GvspChannel& operator=(const GvspChannel&) = delete;

    /// Programs the stream destination and connects the socket to the camera.
    bool Open();
    void StartCapture();
    void StopCapture(bool ignored = false);
    void Close() { StopCapture(false); }

    unsigned PacketSize() const { return m_packetSize; }
    unsigned short LocalPort() const { return m_localPort; }
    unsigned short CameraSourcePort() const { return m_cameraPort; }
    /// Bytes of image data per payload packet.
    std::size_t PayloadSize() const { return m_payloadSize; }
    std::size_t PacketsPerFrame() const { return m_packetsPerFrame; }
    std::size_t RingSize() const { return m_ring.size(); }
    /// The packet sizes tried by the negotiation, in order.
    const std::vector<unsigned>& TestedPacketSizes() const { return m_tested; }
    /// The socket receive buffer the kernel granted, in bytes.
    int GrantedReceiveBuffer() const { return m_grantedReceiveBuffer; }
    XEVGigeStreamStatistics Statistics() const;

private:
    struct Counters;
    struct Frame;
    struct Assembly;
    struct Life;
    class Ticket;
    class ReadableHandler;

    // Caller's thread.
    void NegociatePacketSize();
    /// Ends every receive and waits for the handlers that still refer to
    /// this channel.
    void Quiesce();

    // Under m_lock.
    /// Connects the socket to the camera's stream source.
    bool Connect();
    /// Sets the socket receive buffer to @p bytes; returns what the kernel
    /// granted (half what it reports).
    int SetReceiveBuffer(int bytes);
    void Grab(bool ignoreLeaders);
    void Drain();
    /// Waits for the socket to become readable, for the current capture.
    void Arm();
    void OnReadable(const boost::system::error_code& error, uint64_t generation);
    /// Receives and handles the datagrams queued, up to a bound; false when
    /// the socket failed for good.
    bool ReceiveQueued();
    /// Takes the queued datagrams one batch of single datagrams at a time.
    bool ReceiveSingles();
    /// Takes the queued datagrams with the runs the kernel coalesced.
    bool ReceiveCoalesced();
    /// Moves the datagrams of a coalesced run cut at @p segment bytes, which
    /// is not the buffer size, each to its own buffer; returns how many.
    uint32_t Spread(std::size_t segment, std::size_t bytes, uint32_t count);
    /// Receive failure @p failure reported; false when it ends the stream.
    bool Failed(int failure);
    void HandleDatagram(uint32_t index, std::size_t bytes);
    void HandleLeader(const uint8_t* datagram, std::size_t bytes, uint16_t blockId);
    void HandleFrameData(uint16_t blockId, uint32_t packetId, std::size_t bytes, uint32_t index);
    void HandleTrailer(uint16_t blockId);
    Frame* Acquire(uint16_t blockId, bool payload);
    void ReleaseBuffer(uint32_t index);
    bool Fits(const Frame& frame, uint32_t packetId, std::size_t length) const;
    void Forget(Frame& frame, uint32_t packetId);
    void TryComplete(Frame& frame);
    void Complete(Frame& frame);
    /// Gives up @p frame; a tombstone keeps absorbing its late packets.
    void Drop(Frame& frame, bool tombstone);
    void ResetFrames(bool countDropped);

    boost::asio::io_context& m_io;
    GvcpChannel& m_gvcp;
    GvspFrameSink& m_sink;
    boost::asio::ip::udp::socket m_socket;
    /// Serialises the socket, the ring and the frames between the wait's
    /// handler and the caller. Not a strand: a strand schedules each
    /// completion with an allocation of its own.
    std::mutex m_lock;
    std::string m_localIp;
    std::string m_cameraIp;
    std::string m_firmwareVersion;
    unsigned m_sensorWidth;
    unsigned m_sensorHeight;
    unsigned short m_localPort = 0;
    unsigned short m_cameraPort = 0;
    unsigned m_packetSize = 1500;
    std::size_t m_receiveBufferSize = 0;
    std::size_t m_payloadSize = 0;
    std::size_t m_packetsPerFrame = 0;
    /// The receive buffers, in one allocation at a fixed stride: datagrams
    /// that follow each other lie in memory that follows, and one receive
    /// can fill a run of buffers.
    struct Ring {
        std::vector<uint8_t> memory;
        uint8_t* first = nullptr; ///< cache-line aligned, in memory
        std::size_t stride = 0;
        std::size_t count = 0;
        std::size_t size() const { return count; }
        uint8_t* operator[](uint32_t index) const { return first + index * stride; }
    };

    /// Each buffer holds one byte more than the largest datagram expected, so
    /// that a longer one shows up (the kernel truncates to the buffer).
    Ring m_ring;
    /// Buffers one coalesced receive may fill; 0 when the kernel does not
    /// coalesce for this socket.
    uint32_t m_runBuffers = 0;
    std::vector<unsigned> m_tested;
    int m_grantedReceiveBuffer = 0;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_stopped{true};
    bool m_firstStart = true;
    std::unique_ptr<Counters> m_counters;
    std::unique_ptr<Assembly> m_assembly; // under m_lock
    std::shared_ptr<Life> m_life;
};

} // namespace XEVLibrary
