#include "GigeStreamSender.h"

#include "Gige/ByteOrder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <random>

namespace XEVLibrary {
namespace Emulator {

namespace {

constexpr unsigned HeaderBytes = 8;
constexpr unsigned IpUdpBytes = 28;
constexpr unsigned Variants = 4;
constexpr uint32_t Rgb8 = 0x02180014;

using ByteOrder::Store16;
using ByteOrder::Store32;

/// GVSP header: status 0, block id, packet format, 24-bit packet id.
void Header(std::vector<uint8_t>& d, uint16_t blockId, uint8_t format, uint32_t packetId) {
    d.assign(HeaderBytes, 0);
    Store16(&d[2], blockId);
    d[4] = format;
    d[5] = static_cast<uint8_t>(packetId >> 16);
    d[6] = static_cast<uint8_t>(packetId >> 8);
    d[7] = static_cast<uint8_t>(packetId);
}

unsigned BytesPerPixel(uint32_t pixelFormat) {
    return (pixelFormat >> 16 & 0xFF) / 8;
}

} // namespace

GigeStreamSender::GigeStreamSender(int socket, unsigned sensorWidth, unsigned sensorHeight,
                                   uint32_t seed, SettingsSource settings, FaultSource faults,
                                   SentObserver sent)
    : m_socket(socket), m_sensorWidth(sensorWidth), m_sensorHeight(sensorHeight), m_seed(seed),
      m_settings(std::move(settings)), m_faults(std::move(faults)), m_sent(std::move(sent)) {}

GigeStreamSender::~GigeStreamSender() {
    stop();
}

void GigeStreamSender::start() {
    stop();
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopRequested = false;
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

void GigeStreamSender::stop() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    m_running = false;
}

void GigeStreamSender::run() {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    uint64_t sentThisRun = 0;
    for (;;) {
        const GigeStreamSettings settings = m_settings();
        if (settings.destinationPort != 0 && settings.destinationIp != 0) {
            sendFrame(settings, m_faults());
            ++sentThisRun;
        }
        if (settings.frameLimit != 0 && sentThisRun >= settings.frameLimit)
            break;
        const double fps = std::max(settings.framesPerSecond, 0.1);
        next +=
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_wake.wait_until(hold, next, [this] { return m_stopRequested; }))
            break;
        // A sender that fell far behind starts afresh rather than bursting.
        if (Clock::now() - next > std::chrono::seconds(1))
            next = Clock::now();
    }
    m_running = false;
}

void GigeStreamSender::render(const GigeStreamSettings& s, std::vector<uint8_t>& image) {
    if (m_variants.empty() || s.exposureUs != m_renderedExposure) {
        XEVSyntheticScene::Options options;
        options.width = static_cast<int>(m_sensorWidth);
        options.height = static_cast<int>(m_sensorHeight);
        options.seed = m_seed;
        options.temporalNoise = 6.0;
        const XEVSyntheticScene scene(options);
        m_variants.clear();
        for (unsigned i = 0; i < Variants; ++i)
            m_variants.push_back(scene.renderRaw(s.exposureUs / 2000.0, i));
        m_renderedExposure = s.exposureUs;
    }
    const cv::Mat& sensor = m_variants[m_frameIndex % Variants];
    const unsigned width = std::min(s.width, m_sensorWidth - std::min(s.offsetX, m_sensorWidth));
    const unsigned height =
        std::min(s.height, m_sensorHeight - std::min(s.offsetY, m_sensorHeight));
    cv::Mat window = sensor(cv::Rect(static_cast<int>(s.offsetX), static_cast<int>(s.offsetY),
                                     static_cast<int>(width), static_cast<int>(height)))
                         .clone();
    // Something that moves: a warm square crossing the picture.
    const int side = std::max(4, static_cast<int>(height) / 10);
    const int span = std::max(1, static_cast<int>(width) - side);
    const int x = static_cast<int>((m_frameIndex * 4) % static_cast<uint64_t>(span));
    cv::rectangle(window, cv::Rect(x, static_cast<int>(height) / 2 - side / 2, side, side),
                  cv::Scalar(12000), cv::FILLED);

    cv::Mat out;
    const unsigned bytes = BytesPerPixel(s.pixelFormat);
    if (bytes == 1)
        window.convertTo(out, CV_8U, 1.0 / 64.0);
    else if (s.pixelFormat == Rgb8 || bytes == 3)
        cv::cvtColor(
            [&] {
                cv::Mat eight;
                window.convertTo(eight, CV_8U, 1.0 / 64.0);
                return eight;
            }(),
            out, cv::COLOR_GRAY2RGB);
    else
        out = window;
    image.assign(out.datastart, out.dataend);
}

void GigeStreamSender::sendFrame(const GigeStreamSettings& s, const XEVGigeFaults& faults) {
    render(s, m_image);
    if (++m_blockId == 0) // block id 0 is reserved
        m_blockId = 1;
    ++m_frameIndex;
    const unsigned width = static_cast<unsigned>(m_image.size()) /
                           std::max(1u, s.height * BytesPerPixel(s.pixelFormat));
    const unsigned dataPerPacket =
        std::max(s.packetSize, IpUdpBytes + HeaderBytes + 4) - IpUdpBytes - HeaderBytes;
    const uint32_t payloadPackets =
        static_cast<uint32_t>((m_image.size() + dataPerPacket - 1) / dataPerPacket);

    std::vector<std::vector<uint8_t>> packets;
    packets.reserve(payloadPackets + 2);
    Header(m_datagram, m_blockId, 1, 0);
    m_datagram.resize(HeaderBytes + 36, 0);
    uint8_t* leader = &m_datagram[HeaderBytes];
    Store16(leader + 2, 1); // uncompressed image
    const uint64_t stamp =
        m_frameIndex * 1000000000ull / static_cast<uint64_t>(std::max(s.framesPerSecond, 0.1));
    Store32(leader + 4, static_cast<uint32_t>(stamp >> 32));
    Store32(leader + 8, static_cast<uint32_t>(stamp));
    Store32(leader + 12, s.pixelFormat);
    Store32(leader + 16, width);
    Store32(leader + 20, s.height);
    Store32(leader + 24, s.offsetX);
    Store32(leader + 28, s.offsetY);
    packets.push_back(m_datagram);
    for (uint32_t id = 1; id <= payloadPackets; ++id) {
        Header(m_datagram, m_blockId, 3, id);
        const std::size_t start = std::size_t(id - 1) * dataPerPacket;
        const std::size_t size = std::min<std::size_t>(dataPerPacket, m_image.size() - start);
        m_datagram.insert(m_datagram.end(), m_image.begin() + static_cast<std::ptrdiff_t>(start),
                          m_image.begin() + static_cast<std::ptrdiff_t>(start + size));
        packets.push_back(m_datagram);
    }
    Header(m_datagram, m_blockId, 2, payloadPackets + 1);
    m_datagram.resize(HeaderBytes + 8, 0);
    Store16(&m_datagram[HeaderBytes + 2], 1);
    Store32(&m_datagram[HeaderBytes + 4], s.height);
    packets.push_back(m_datagram);
    if (faults.trailerBeforeLastPayload && packets.size() >= 3)
        std::swap(packets[packets.size() - 1], packets[packets.size() - 2]);

    std::mt19937 random(static_cast<uint32_t>(m_seed * 7919u + m_frameIndex));
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<uint8_t> held;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::vector<uint8_t>& p = packets[i];
        const uint32_t packetId = uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
        const bool payload = p[4] == 3;
        if (payload && std::find(faults.dropPacketIds.begin(), faults.dropPacketIds.end(),
                                 packetId) != faults.dropPacketIds.end())
            continue;
        if (faults.dropRatio > 0 && chance(random) < faults.dropRatio)
            continue;
        if (held.empty() && faults.reorderRatio > 0 && i + 1 < packets.size() &&
            chance(random) < faults.reorderRatio) {
            held = p;
            continue;
        }
        send(p, s.destinationIp, s.destinationPort);
        if (faults.duplicateRatio > 0 && chance(random) < faults.duplicateRatio)
            send(p, s.destinationIp, s.destinationPort);
        if (!held.empty()) {
            send(held, s.destinationIp, s.destinationPort);
            held.clear();
        }
    }
    ++m_frames;
}

void GigeStreamSender::send(const std::vector<uint8_t>& datagram, uint32_t ip, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    // A full socket buffer loses the datagram, as a full link would.
    ::sendto(m_socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    if (m_sent)
        m_sent(datagram.data(), datagram.size(), ip, port);
}

void GigeStreamSender::sendTestPacket(uint32_t ip, uint16_t port, unsigned packetSize) {
    if (packetSize < IpUdpBytes + HeaderBytes || port == 0 || ip == 0)
        return;
    std::vector<uint8_t> datagram;
    Header(datagram, 0, 3, 0);
    datagram.resize(packetSize - IpUdpBytes, 0);
    send(datagram, ip, port);
}

} // namespace Emulator
} // namespace XEVLibrary
