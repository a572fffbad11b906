#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace XEVLibrary {
namespace Emulator {

/// The GigE Vision models of the catalog.
enum class GigeModel { CurlewGigE, CurlewcGigE, FulmarGigE, HeronGigE, HeronGigESpot, KestrelGigE };

/// The model name a camera reports ("HeronGigE-SPOT" for HeronGigESpot).
std::string gigeModelName(GigeModel model);

/// Where an emulated GigE camera listens and what it tells about itself.
struct XEVGigeCameraConfig {
    /// The model emulated: its sensor, description and functions.
    GigeModel model = GigeModel::HeronGigE;
    /// The camera's IPv4 address; its GVCP socket is bound to port 3956 of it.
    std::string address = "127.0.0.2";
    ///@{
    /// The subnet mask and gateway the camera reports.
    std::string subnetMask = "255.0.0.0";
    std::string gateway = "0.0.0.0";
    ///@}
    /// Listen on every address of the host (port 3956) rather than on
    /// `address` alone, so that broadcast DISCOVERY and FORCEIP reach the
    /// camera; the camera still reports `address` as its own.
    bool listenOnAllAddresses = false;
    /// The MAC address the camera reports.
    std::array<uint8_t, 6> mac{{0x00, 0x0c, 0x0a, 0x00, 0x00, 0x02}};
    /// Device version text, "<major>.<minor>" with two digits each.
    std::string firmwareVersion = "02.01";
    /// The serial number the camera reports.
    std::string serialNumber = "GE000001";
    /// The user-defined name ("GevUserDefinedName"), empty by default.
    std::string userDefinedName;
    /// The maker's name; another one makes a camera the library leaves alone.
    std::string manufacturerName = "Xev-Sensor-Optical-Works";
    /// Largest IP packet the link carries: a test packet larger than this
    /// never arrives.
    unsigned mtu = 1500;
    /// Seed of the synthetic scene the camera streams.
    uint32_t sceneSeed = 1;
    /// When above 0, the frame-rate ceiling the camera reports (MaxFPS),
    /// instead of the one its exposure and readout give: for benchmarks.
    double maxFps = 0;
    /// When not empty, every datagram sent and received is written there
    /// (pcap, Ethernet + IPv4 + UDP headers made up around each datagram).
    std::string pcapPath;
    /// How long the camera reports itself busy ("NIOS_is_BUSY", and
    /// "NucProcessing_WAIT_plz" where it exists) after a NUC, BPR or
    /// configuration command.
    std::chrono::milliseconds busyTime{300};

    /// The model's sensor, firmware and identity, on @p address.
    static XEVGigeCameraConfig forModel(GigeModel model, const std::string& address = "127.0.0.2");
};

/// How the description file is served.
enum class XEVGigeDescriptionFault {
    None,         ///< a zip archive, announced with its length
    PlainXml,     ///< the XML text itself, not zipped
    Corrupt,      ///< a zip archive whose compressed data are damaged
    Truncated,    ///< the archive announced with half its length
    AbsurdLength, ///< a length of 0xFFFFFFFF in the first URL
    OtherScheme,  ///< a first URL of the form "http://..."
};

/// Faults the camera commits on demand (changeable while it runs).
struct XEVGigeFaults {
    /// Answers nothing on the control channel.
    bool silent = false;
    /// Refuses every write with ACCESS_DENIED (0x8006).
    bool accessDenied = false;
    /// Sends, before each acknowledge, a copy carrying the previous id.
    bool staleAcknowledgeFirst = false;
    /// When not 0, every register or memory acknowledge carries this status.
    uint16_t status = 0;
    /// Stream packets dropped, sent twice, or held back and sent after the
    /// next one, each with this probability.
    ///@{
    double dropRatio = 0;
    double duplicateRatio = 0;
    double reorderRatio = 0;
    ///@}
    /// Payload packet ids dropped in every frame.
    std::vector<uint32_t> dropPacketIds;
    /// Sends each frame's trailer before its last payload packet.
    bool trailerBeforeLastPayload = false;
    /// How the description file is served.
    XEVGigeDescriptionFault description = XEVGigeDescriptionFault::None;
    /// The busy registers never clear.
    bool busyForever = false;
};

/// A register or memory write the camera accepted, as its log keeps it.
struct XEVGigeRegisterWrite {
    /// The feature whose register starts at `address`, or the address in
    /// hexadecimal ("0x0A00") when no feature has it.
    std::string feature;
    /// The register address written.
    uint32_t address = 0;
    /// The 32-bit value (a memory write to a text feature: its first word).
    uint32_t value = 0;
    /// A memory write to a text feature: the text, up to its first zero byte.
    std::string text;
};

/// Control channel and stream counters, for tests and for the tool's report.
struct XEVGigeCameraCounters {
    uint64_t commands = 0; ///< GVCP commands received (valid or not)
    ///@{
    /// Commands of each kind received: DISCOVERY, READREG, WRITEREG, READMEM
    /// and WRITEMEM.
    uint64_t discoveries = 0;
    uint64_t readRegisters = 0;
    uint64_t writeRegisters = 0;
    uint64_t readMemories = 0;
    uint64_t writeMemories = 0;
    ///@}
    uint64_t heartbeats = 0; ///< READREG of the control privilege register by its controller
    uint64_t refused = 0;    ///< commands answered with an error status or dropped as malformed
    ///@{
    /// Frames, stream packets and test packets sent.
    uint64_t framesSent = 0;
    uint64_t packetsSent = 0;
    uint64_t testPackets = 0;
    ///@}
};

/**
 * A GigE Vision camera on this host: a GVCP server on UDP port 3956 of its
 * address, a GVSP stream sender and the camera's registers and GenICam
 * description (served zipped from its memory).
 *
 * It answers DISCOVERY (also when broadcast reaches it) and FORCEIP to its
 * MAC address, READREG, WRITEREG, READMEM and WRITEMEM; grants exclusive
 * control through the control privilege register to one controller at a
 * time, released when the controller's commands stop for longer than the
 * heartbeat timeout; streams the synthetic scene to the programmed
 * destination while acquisition runs. It survives any datagram: malformed
 * commands are counted and answered with an error status or dropped.
 *
 * NUC, BPR and configuration commands keep the busy registers set for the
 * configured busy time. "CamSaveConfiguration" keeps a copy of the camera's
 * own writable settings (the registers past the bootstrap area, texts left
 * out), "CamLoadConfiguration" restores that copy and "CamResetParameter"
 * the description's initial values.
 *
 * Construction binds and starts serving; destruction stops. Several cameras
 * may run at once, each on its own address.
 */
class XEVGigeEmulatedCamera {
public:
    /// Throws std::runtime_error when the address cannot be bound.
    explicit XEVGigeEmulatedCamera(const XEVGigeCameraConfig& config);
    ~XEVGigeEmulatedCamera();
    XEVGigeEmulatedCamera(const XEVGigeEmulatedCamera&) = delete;
    XEVGigeEmulatedCamera& operator=(const XEVGigeEmulatedCamera&) = delete;

    /// The configuration the camera was made with.
    const XEVGigeCameraConfig& config() const;
    /// The camera's current IPv4 address (a FORCEIP changes it).
    std::string address() const;
    /// "00:0c:0a:..." as the camera reports it.
    std::string macAddress() const;

    ///@{
    /// The faults the camera commits, replaced as a whole; safe while it runs.
    void setFaults(const XEVGigeFaults& faults);
    XEVGigeFaults faults() const;
    ///@}
    /// The counters so far.
    XEVGigeCameraCounters counters() const;

    /// A 32-bit register as the camera holds it.
    uint32_t registerValue(uint32_t address) const;
    /// The address of a feature's register in the description (0 if none).
    uint32_t featureAddress(const std::string& feature) const;
    /// The description text the camera serves (before zipping).
    std::string descriptionXml() const;
    /// True while a controller holds the control privilege.
    bool hasController() const;
    /// True while the camera streams.
    bool isStreaming() const;

    /// The writes the camera accepted (WRITEREG, and WRITEMEM: one entry per
    /// register, one per text), oldest first, since construction or the last
    /// clearRegisterWrites(). The log keeps at most 100000 entries.
    std::vector<XEVGigeRegisterWrite> registerWrites() const;
    /// Empties the log of registerWrites().
    void clearRegisterWrites();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace Emulator
} // namespace XEVLibrary
