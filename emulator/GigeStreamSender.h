#pragma once

#include "PcapWriter.h"
#include "XEVGigeCameraEmulator.h"
#include "XEVSyntheticScene.h"

#include <atomic>
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
 * The camera's GVSP sender: while running, renders the synthetic scene in
 * the programmed window and pixel format and sends each frame as a leader,
 * payload packets and a trailer, paced by the frame rate, committing the
 * stream faults asked for. Owns its thread; the socket is the camera's.
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
    void run();
    void sendFrame(const GigeStreamSettings& settings, const XEVGigeFaults& faults);
    void render(const GigeStreamSettings& settings, std::vector<uint8_t>& image);
    void send(const std::vector<uint8_t>& datagram, uint32_t ip, uint16_t port);

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
    std::vector<cv::Mat> m_variants; // sensor frames with their own noise
    std::vector<uint8_t> m_image;
    std::vector<uint8_t> m_datagram;
};

} // namespace Emulator
} // namespace XEVLibrary
