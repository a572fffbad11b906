#pragma once

#include <cstdint>

namespace XEVLibrary {

/**
 * What the stream channel of a GigE camera received since the device was
 * opened. Every count only grows; a snapshot is read without stopping the
 * stream, so its counts may be a packet apart from each other.
 */
struct XEVGigeStreamStatistics {
    /// Frames whose every packet arrived, handed to the pipeline.
    uint64_t framesCompleted = 0;
    /// Frames given up: a packet never came, a leader announced an image
    /// larger than negotiated, the receive buffers were reused under them, or
    /// a newer frame was delivered first.
    uint64_t framesDroppedIncomplete = 0;
    /// Stream datagrams received (test packets and stray datagrams included).
    uint64_t packetsReceived = 0;
    /// Payload packets of dropped frames that never arrived.
    uint64_t packetsMissing = 0;
    /// Payload packets that arrived a second time.
    uint64_t packetsDuplicated = 0;
    /// Payload packets that arrived after a packet of a higher id of the same
    /// frame.
    uint64_t packetsOutOfOrder = 0;
    /// Datagrams refused as malformed: unknown format, packet id 0 or beyond
    /// the frame, data longer than a packet's payload.
    uint64_t packetsRejected = 0;
};

} // namespace XEVLibrary
