#include "GigeStreamSender.h"

#include "Gige/ByteOrder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

namespace XEVLibrary {
namespace Emulator {

namespace {

constexpr unsigned HeaderBytes = 8;
constexpr unsigned LeaderBytes = 36;
constexpr unsigned TrailerBytes = 8;
constexpr unsigned IpUdpBytes = 28;
constexpr unsigned Variants = 4;
constexpr uint32_t Rgb8 = 0x02180014;
/// Datagrams per sendmmsg call.
constexpr std::size_t Batch = 128;
/// Bytes handed over at once when a frame is spread over time.
constexpr std::size_t GroupBytes = 65536;
/// Ethernet header, check sum, preamble and gap around each IP packet.
constexpr std::size_t WireBytes = 38;
constexpr double LinkBitsPerSecond = 1e9;

constexpr uint8_t LeaderFormat = 1;
constexpr uint8_t TrailerFormat = 2;
constexpr uint8_t PayloadFormat = 3;

using ByteOrder::Store16;
using ByteOrder::Store32;

/// GVSP header: status 0, block id, packet format, 24-bit packet id.
void Header(uint8_t* d, uint16_t blockId, uint8_t format, uint32_t packetId) {
    std::memset(d, 0, HeaderBytes);
    Store16(d + 2, blockId);
    d[4] = format;
    d[5] = static_cast<uint8_t>(packetId >> 16);
    d[6] = static_cast<uint8_t>(packetId >> 8);
    d[7] = static_cast<uint8_t>(packetId);
}

/// The frame rate asked for, within 0.1 to 100000 (whatever the register holds).
double Rate(const GigeStreamSettings& s) {
    return s.framesPerSecond >= 0.1 ? std::min(s.framesPerSecond, 100000.0) : 0.1;
}

unsigned BytesPerPixel(uint32_t pixelFormat) {
    return (pixelFormat >> 16 & 0xFF) / 8;
}

/// A 16-bit sensor image in the bytes of @p pixelFormat: 8-bit formats keep
/// the upper bits, RGB8 repeats them in each channel, others stay 16-bit.
cv::Mat Convert(const cv::Mat& raw, uint32_t pixelFormat) {
    const unsigned bytes = BytesPerPixel(pixelFormat);
    if (bytes != 1 && bytes != 3 && pixelFormat != Rgb8)
        return raw.clone();
    cv::Mat eight;
    raw.convertTo(eight, CV_8U, 1.0 / 64.0);
    if (bytes == 1)
        return eight;
    cv::Mat rgb;
    cv::cvtColor(eight, rgb, cv::COLOR_GRAY2RGB);
    return rgb;
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
        const double fps = Rate(settings);
        next +=
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_wake.wait_until(hold, next, [this] { return m_stopRequested; }))
            break;
        // A sender that fell behind (the scene rendered, a busy machine)
        // starts afresh rather than bursting the frames it owes.
        if (Clock::now() - next > std::chrono::duration<double>(3.0 / fps))
            next = Clock::now();
    }
    m_running = false;
}

void GigeStreamSender::prepare(const GigeStreamSettings& s) {
    // An exposure that is no number renders as none (not once per frame).
    const double exposureUs = std::isfinite(s.exposureUs) ? s.exposureUs : 0.0;
    if (m_sensor.empty() || exposureUs != m_renderedExposure) {
        XEVSyntheticScene::Options options;
        options.width = static_cast<int>(m_sensorWidth);
        options.height = static_cast<int>(m_sensorHeight);
        options.seed = m_seed;
        options.temporalNoise = 6.0;
        const XEVSyntheticScene scene(options);
        m_sensor.clear();
        for (unsigned i = 0; i < Variants; ++i)
            m_sensor.push_back(scene.renderRaw(exposureUs / 2000.0, i));
        m_renderedExposure = exposureUs;
        m_prepared = false;
    }
    const Shape shape{s.width, s.height, s.offsetX, s.offsetY, s.pixelFormat, s.packetSize};
    if (m_prepared && shape == m_shape)
        return;

    // The window, clipped to the sensor, in the pixel format.
    const unsigned offsetX = std::min(s.offsetX, m_sensorWidth);
    const unsigned offsetY = std::min(s.offsetY, m_sensorHeight);
    m_imageWidth = std::min(s.width, m_sensorWidth - offsetX);
    m_imageHeight = std::min(s.height, m_sensorHeight - offsetY);
    m_images.clear();
    m_pixelBytes = 2;
    for (const cv::Mat& sensor : m_sensor) {
        const cv::Mat window =
            sensor(cv::Rect(static_cast<int>(offsetX), static_cast<int>(offsetY),
                            static_cast<int>(m_imageWidth), static_cast<int>(m_imageHeight)));
        const cv::Mat out = Convert(window, s.pixelFormat);
        m_pixelBytes = static_cast<unsigned>(out.elemSize());
        m_images.emplace_back(out.datastart, out.dataend);
    }
    const cv::Mat square = Convert(cv::Mat(1, 1, CV_16UC1, cv::Scalar(12000)), s.pixelFormat);
    std::memcpy(m_squareColour, square.data, std::min<std::size_t>(square.elemSize(), 4));

    // Every datagram of a frame in a slot of its own, headers written once.
    const std::size_t imageBytes = m_images.front().size();
    m_dataPerPacket =
        std::max(s.packetSize, IpUdpBytes + HeaderBytes + 4) - IpUdpBytes - HeaderBytes;
    const std::size_t payloadPackets = (imageBytes + m_dataPerPacket - 1) / m_dataPerPacket;
    const std::size_t count = payloadPackets + 2;
    m_slot = HeaderBytes + std::max<std::size_t>(m_dataPerPacket, LeaderBytes);
    m_datagrams.assign(count * m_slot, 0);
    m_sizes.assign(count, 0);
    for (std::size_t id = 1; id <= payloadPackets; ++id) {
        Header(datagram(id), 0, PayloadFormat, static_cast<uint32_t>(id));
        const std::size_t start = (id - 1) * m_dataPerPacket;
        m_sizes[id] =
            HeaderBytes + static_cast<uint32_t>(std::min(m_dataPerPacket, imageBytes - start));
    }
    uint8_t* leader = datagram(0);
    Header(leader, 0, LeaderFormat, 0);
    Store16(leader + HeaderBytes + 2, 1); // uncompressed image
    Store32(leader + HeaderBytes + 12, s.pixelFormat);
    Store32(
        leader + HeaderBytes + 16,
        static_cast<uint32_t>(imageBytes / std::max(1u, s.height * BytesPerPixel(s.pixelFormat))));
    Store32(leader + HeaderBytes + 20, s.height);
    Store32(leader + HeaderBytes + 24, s.offsetX);
    Store32(leader + HeaderBytes + 28, s.offsetY);
    m_sizes[0] = HeaderBytes + LeaderBytes;
    uint8_t* trailer = datagram(count - 1);
    Header(trailer, 0, TrailerFormat, static_cast<uint32_t>(count - 1));
    Store16(trailer + HeaderBytes + 2, 1);
    Store32(trailer + HeaderBytes + 4, s.height);
    m_sizes[count - 1] = HeaderBytes + TrailerBytes;

    // Room for every datagram sent twice: frames then allocate nothing.
    m_order.reserve(2 * count);
    m_messages.assign(2 * count, mmsghdr{});
    m_vectors.assign(2 * count, iovec{});
    m_controls.assign(2 * count, Control{});
    m_firstOf.assign(2 * count, 0);
    m_shape = shape;
    m_prepared = true;
}

void GigeStreamSender::compose(const GigeStreamSettings& s) {
    const std::vector<uint8_t>& image = m_images[m_frameIndex % Variants];
    for (std::size_t id = 1; id + 1 < m_sizes.size(); ++id)
        std::memcpy(datagram(id) + HeaderBytes, image.data() + (id - 1) * m_dataPerPacket,
                    m_sizes[id] - HeaderBytes);
    drawSquare();
    if (++m_blockId == 0) // block id 0 is reserved
        m_blockId = 1;
    ++m_frameIndex;
    for (std::size_t i = 0; i < m_sizes.size(); ++i)
        Store16(datagram(i) + 2, m_blockId);
    const uint64_t stamp = static_cast<uint64_t>(double(m_frameIndex) * 1e9 / Rate(s));
    Store32(datagram(0) + HeaderBytes + 4, static_cast<uint32_t>(stamp >> 32));
    Store32(datagram(0) + HeaderBytes + 8, static_cast<uint32_t>(stamp));
}

/// Something that moves: a warm square crossing the picture, written into
/// the payload datagrams where its pixels fall.
void GigeStreamSender::drawSquare() {
    const long width = m_imageWidth;
    const long height = m_imageHeight;
    const long side = std::max(4L, height / 10);
    const long span = std::max(1L, width - side);
    const long x = static_cast<long>((m_frameIndex * 4) % static_cast<uint64_t>(span));
    const long top = height / 2 - side / 2;
    const long left = std::max(0L, x);
    const long right = std::min(width, x + side);
    if (left >= right)
        return;
    for (long row = std::max(0L, top); row < std::min(height, top + side); ++row) {
        std::size_t at = static_cast<std::size_t>(row * width + left) * m_pixelBytes;
        std::size_t remaining = static_cast<std::size_t>(right - left) * m_pixelBytes;
        unsigned phase = 0;
        while (remaining > 0) {
            const std::size_t within = at % m_dataPerPacket;
            const std::size_t n = std::min(remaining, m_dataPerPacket - within);
            uint8_t* to = datagram(1 + at / m_dataPerPacket) + HeaderBytes + within;
            for (std::size_t i = 0; i < n; ++i) {
                to[i] = m_squareColour[phase];
                phase = phase + 1 == m_pixelBytes ? 0 : phase + 1;
            }
            at += n;
            remaining -= n;
        }
    }
}

/// The datagrams in the order they leave, with the faults asked for.
void GigeStreamSender::chooseOrder(const XEVGigeFaults& faults) {
    const std::size_t count = m_sizes.size();
    m_order.clear();
    m_inOrder = faults.dropRatio <= 0 && faults.reorderRatio <= 0 && faults.duplicateRatio <= 0 &&
                faults.dropPacketIds.empty() && !faults.trailerBeforeLastPayload;
    if (m_inOrder) {
        for (std::size_t i = 0; i < count; ++i)
            m_order.push_back(static_cast<uint32_t>(i));
        return;
    }
    auto base = [&](std::size_t i) {
        if (faults.trailerBeforeLastPayload && count >= 3 && i + 2 >= count)
            return static_cast<uint32_t>(i + 2 == count ? count - 1 : count - 2);
        return static_cast<uint32_t>(i);
    };
    std::mt19937 random(static_cast<uint32_t>(m_seed * 7919u + m_frameIndex));
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    bool holding = false;
    uint32_t held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t packet = base(i);
        const bool payload = packet != 0 && packet + 1 != count;
        if (payload && std::find(faults.dropPacketIds.begin(), faults.dropPacketIds.end(),
                                 packet) != faults.dropPacketIds.end())
            continue;
        if (faults.dropRatio > 0 && chance(random) < faults.dropRatio)
            continue;
        if (!holding && faults.reorderRatio > 0 && i + 1 < count &&
            chance(random) < faults.reorderRatio) {
            holding = true;
            held = packet;
            continue;
        }
        m_order.push_back(packet);
        if (faults.duplicateRatio > 0 && chance(random) < faults.duplicateRatio)
            m_order.push_back(packet);
        if (holding) {
            m_order.push_back(held);
            holding = false;
        }
    }
}

void GigeStreamSender::sendFrame(const GigeStreamSettings& s, const XEVGigeFaults& faults) {
    prepare(s);
    compose(s);
    chooseOrder(faults);
    // Spread over the time a gigabit link takes, within the frame period.
    std::size_t bytes = 0;
    for (const uint32_t index : m_order)
        bytes += m_sizes[index] + IpUdpBytes + WireBytes;
    const double seconds = std::min(bytes * 8 / LinkBitsPerSecond, 0.9 / Rate(s));
    transmit(s.destinationIp, s.destinationPort, std::chrono::duration<double>(seconds));
    ++m_frames;
}

void GigeStreamSender::transmit(uint32_t ip, uint16_t port, std::chrono::duration<double> spread) {
    m_destination.sin_family = AF_INET;
    m_destination.sin_addr.s_addr = htonl(ip);
    m_destination.sin_port = htons(port);
    const Clock::time_point start = Clock::now();
    std::size_t from = 0; // the first datagram of m_order not handed over yet
    // Runs need datagrams back to back: not so for payloads smaller than a leader.
    if (m_inOrder && m_segmentation && m_slot == HeaderBytes + m_dataPerPacket) {
        buildRuns();
        const std::size_t done = sendMessages(start, spread);
        if (done < m_messageCount) {
            m_segmentation = false; // not offered here: one datagram at a time from now on
            from = m_firstOf[done];
        } else {
            from = m_order.size();
        }
    }
    if (from < m_order.size()) {
        m_messageCount = 0;
        for (std::size_t at = from; at < m_order.size(); ++at)
            addMessage(datagram(m_order[at]), m_sizes[m_order[at]], 0);
        sendMessages(start, spread);
    }
    if (m_sent)
        for (const uint32_t index : m_order)
            m_sent(datagram(index), m_sizes[index], ip, port);
}

void GigeStreamSender::addMessage(uint8_t* data, std::size_t size, uint16_t segment) {
    const std::size_t k = m_messageCount++;
    m_vectors[k].iov_base = data;
    m_vectors[k].iov_len = size;
    msghdr& header = m_messages[k].msg_hdr;
    header = msghdr{};
    header.msg_name = &m_destination;
    header.msg_namelen = sizeof m_destination;
    header.msg_iov = &m_vectors[k];
    header.msg_iovlen = 1;
    if (segment != 0) {
        header.msg_control = m_controls[k].bytes;
        header.msg_controllen = sizeof m_controls[k].bytes;
        cmsghdr* control = CMSG_FIRSTHDR(&header);
        control->cmsg_level = SOL_UDP;
        control->cmsg_type = UDP_SEGMENT;
        control->cmsg_len = CMSG_LEN(sizeof segment);
        std::memcpy(CMSG_DATA(control), &segment, sizeof segment);
    }
}

/// Messages for the frame in order where runs of payload packets go as one
/// buffer each, which the kernel cuts into datagrams of a slot: a fraction
/// of the work per datagram.
void GigeStreamSender::buildRuns() {
    // Runs of at most 64 datagrams and 64 KiB.
    const std::size_t perRun = std::max<std::size_t>(
        1, std::min<std::size_t>(64, (65535 - IpUdpBytes) / std::max<std::size_t>(m_slot, 1)));
    const std::size_t count = m_sizes.size();
    m_messageCount = 0;
    m_firstOf[m_messageCount] = 0;
    addMessage(datagram(0), m_sizes[0], 0);
    for (std::size_t first = 1; first + 1 < count;) {
        const std::size_t n = std::min(perRun, count - 1 - first);
        m_firstOf[m_messageCount] = first;
        addMessage(datagram(first), (n - 1) * m_slot + m_sizes[first + n - 1],
                   n > 1 ? static_cast<uint16_t>(m_slot) : 0);
        first += n;
    }
    m_firstOf[m_messageCount] = count - 1;
    addMessage(datagram(count - 1), m_sizes[count - 1], 0);
}

/// Sends the messages in groups of about 64 KiB spread evenly over
/// @p spread from @p start. Returns how many were handed over: all, or up to
/// the first one the kernel refused as not supported.
std::size_t GigeStreamSender::sendMessages(Clock::time_point start,
                                           std::chrono::duration<double> spread) {
    std::size_t total = 0;
    for (std::size_t k = 0; k < m_messageCount; ++k)
        total += m_vectors[k].iov_len;
    std::size_t before = 0; // bytes of the groups sent
    for (std::size_t k = 0; k < m_messageCount;) {
        std::size_t end = k;
        std::size_t bytes = 0;
        while (end < m_messageCount && end - k < Batch &&
               (end == k || bytes + m_vectors[end].iov_len <= GroupBytes))
            bytes += m_vectors[end++].iov_len;
        const auto due =
            start + std::chrono::duration_cast<Clock::duration>(
                        spread * (double(before) / double(std::max<std::size_t>(total, 1))));
        if (due > Clock::now())
            std::this_thread::sleep_until(due);
        while (k < end) {
            const int sent =
                ::sendmmsg(m_socket, &m_messages[k], static_cast<unsigned>(end - k), 0);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && errno != ENOBUFS && errno != EAGAIN &&
                m_messages[k].msg_hdr.msg_control != nullptr)
                return k;
            // A datagram refused for full buffers is lost, as on a full link.
            k += sent > 0 ? static_cast<std::size_t>(sent) : 1;
        }
        before += bytes;
    }
    return m_messageCount;
}

void GigeStreamSender::sendTestPacket(uint32_t ip, uint16_t port, unsigned packetSize) {
    if (packetSize < IpUdpBytes + HeaderBytes || port == 0 || ip == 0)
        return;
    std::vector<uint8_t> datagram(packetSize - IpUdpBytes, 0);
    Header(datagram.data(), 0, PayloadFormat, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    ::sendto(m_socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    if (m_sent)
        m_sent(datagram.data(), datagram.size(), ip, port);
}

} // namespace Emulator
} // namespace XEVLibrary
