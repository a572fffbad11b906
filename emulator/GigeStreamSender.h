#pragma once

#include "PcapWriter.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVSyntheticScene.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// What one frame of the stream is made of, read from the camera's registers.
struct GigeStreamSettings {
    uint32_t destinationIp = 0; ///< host order
    uint16_t destinationPort = 0;
    unsigned packetSize = 1500; ///< IP packet size: payload data = packetSize - 36
    unsigned width = 0;
    unsigned height = 0;
    unsigned offsetX = 0;
    unsigned offsetY = 0;
    uint32_t pixelFormat = 0;
    double framesPerSecond = 25;
    double exposureUs = 2000;
    uint64_t frameLimit = 0; ///< 0: until stopped
};

/**
 * The camera's GVSP sender: while running, sends the synthetic scene in the
 * programmed window and pixel format, each frame as a leader, payload packets
 * and a trailer, paced by the frame rate, committing the stream faults asked
 * for. Owns its thread; the socket is the camera's.
 *
 * Cheap enough to stream gigabit rates from one core: the scene is rendered
 * once per exposure, windowed and converted once per format, and each frame
 * is copied once into ready-made datagrams (headers written in place). Runs
 * of payload packets go to the kernel as one buffer each (UDP segmentation
 * offload, where offered), in sendmmsg batches spread over the time a
 * gigabit link would take, at most 90 % of the frame period: receivers sized
 * for one frame keep up.
 */
class GigeStreamSender {
public:
    using SettingsSource = std::function<GigeStreamSettings()>;
    using FaultSource = std::function<XEVGigeFaults()>;
    /// Called once per datagram sent (for the capture file and counters).
    using SentObserver = std::function<void(const uint8_t*, std::size_t, uint32_t, uint16_t)>;

    GigeStreamSender(int socket, unsigned sensorWidth, unsigned sensorHeight, uint32_t seed,
                     SettingsSource settings, FaultSource faults, SentObserver sent);
    ~GigeStreamSender();
    GigeStreamSender(const GigeStreamSender&) = delete;
    GigeStreamSender& operator=(const GigeStreamSender&) = delete;

    void start();
    void stop();
    bool running() const { return m_running; }
    uint64_t framesSent() const { return m_frames; }

    /// Sends one test packet of an IP packet size of @p packetSize.
    void sendTestPacket(uint32_t ip, uint16_t port, unsigned packetSize);

private:
    /// The settings the prepared images and datagrams were made for.
    struct Shape {
        unsigned width = 0;
        unsigned height = 0;
        unsigned offsetX = 0;
        unsigned offsetY = 0;
        uint32_t pixelFormat = 0;
        unsigned packetSize = 0;
        bool operator==(const Shape& o) const {
            return width == o.width && height == o.height && offsetX == o.offsetX &&
                   offsetY == o.offsetY && pixelFormat == o.pixelFormat &&
                   packetSize == o.packetSize;
        }
    };

    void run();
    void prepare(const GigeStreamSettings& settings);
    void sendFrame(const GigeStreamSettings& settings, const XEVGigeFaults& faults);
    void compose(const GigeStreamSettings& settings);
    void drawSquare();
    void chooseOrder(const XEVGigeFaults& faults);
    using Clock = std::chrono::steady_clock;
    void transmit(uint32_t ip, uint16_t port, std::chrono::duration<double> spread);
    void buildRuns();
    std::size_t sendMessages(Clock::time_point start, std::chrono::duration<double> spread);
    void addMessage(uint8_t* data, std::size_t size, uint16_t segment);
    uint8_t* datagram(std::size_t index) { return &m_datagrams[index * m_slot]; }

    int m_socket;
    unsigned m_sensorWidth;
    unsigned m_sensorHeight;
    uint32_t m_seed;
    SettingsSource m_settings;
    FaultSource m_faults;
    SentObserver m_sent;

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopRequested = false;
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_frames{0};
    std::thread m_thread;

    uint16_t m_blockId = 0;
    uint64_t m_frameIndex = 0;
    double m_renderedExposure = -1;
    std::vector<cv::Mat> m_sensor; // sensor frames with their own noise, 16-bit
    Shape m_shape;
    bool m_prepared = false;
    std::vector<std::vector<uint8_t>> m_images; // m_sensor windowed, in the pixel format
    uint8_t m_squareColour[4] = {};             // one pixel of the moving square
    unsigned m_pixelBytes = 2;                  // bytes per pixel of m_images
    unsigned m_imageWidth = 0;                  // columns of m_images
    unsigned m_imageHeight = 0;
    std::size_t m_dataPerPacket = 0;
    std::size_t m_slot = 0;           // bytes between datagrams in m_datagrams
    std::vector<uint8_t> m_datagrams; // leader, payload packets, trailer
    std::vector<uint32_t> m_sizes;    // each datagram's size
    std::vector<uint32_t> m_order;    // datagram indices in sending order
    bool m_inOrder = true;            // m_order is every datagram, once, in order
    /// Whether the kernel cuts runs of payload packets into datagrams itself
    /// (UDP segmentation offload); off for good after a refusal.
    bool m_segmentation = true;
    struct Control {
        alignas(cmsghdr) uint8_t bytes[CMSG_SPACE(sizeof(uint16_t))];
    };
    std::vector<mmsghdr> m_messages; // room for every datagram sent twice
    std::vector<iovec> m_vectors;
    std::vector<Control> m_controls;
    std::vector<std::size_t> m_firstOf; // m_order position of each message's first datagram
    std::size_t m_messageCount = 0;
    sockaddr_in m_destination{};
};

} // namespace Emulator
} // namespace XEVLibrary
