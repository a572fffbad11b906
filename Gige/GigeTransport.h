#pragma once

#include "Gige/DeviceInfo.h"

#include <string>
#include <utility>
#include <vector>

namespace XEVLibrary {

/**
 * Finding GigE Vision cameras and giving them an address.
 *
 * Discovery broadcasts DISCOVERY on every local interface that is up and not
 * loopback, and sends it to each address of a list of known cameras (those
 * that broadcast cannot reach: on loopback, behind a router); it decides
 * for each answer whether the camera is one of the maker's and whether the
 * host routes to it. Route lookups ask the kernel's routing table through
 * netlink. Every operation is synchronous: it opens its own sockets and
 * closes them before returning. Diagnostics go through the library's
 * diagnostics output.
 */
class GigeTransport {
public:
    /// Discovers for at most @p timeInSeconds cycles of one second, stopping
    /// after the cycle in which @p maxDevices cameras were found; then puts
    /// the first link-local camera first and keeps @p maxDevices cameras.
    /// @p unicastCameras (host-order addresses) are asked directly in every
    /// cycle; @p broadcast false sends nothing on the interfaces, and the
    /// discovery ends as soon as each of them has answered.
    static std::vector<DeviceInfo> Discover(int timeInSeconds, int maxDevices,
                                            const std::vector<uint32_t>& unicastCameras = {},
                                            bool broadcast = true);

    /// Broadcasts FORCEIP on every local interface (and sends it to each of
    /// @p unicastCameras); no acknowledge is awaited. False when an address
    /// text is invalid or a socket fails.
    static bool ForceIp2(const std::string& mac, const std::string& ip, const std::string& mask,
                         const std::string& gateway,
                         const std::vector<uint32_t>& unicastCameras = {});

    /// FORCEIP to one discovered camera, waiting at most one second for its
    /// acknowledge; on success the device's address fields are updated.
    static bool ForceIp(DeviceInfo& device, const std::string& ip, const std::string& mask,
                        const std::string& gateway);
};

/// The local address list, each entry printed as "ADDRESSE: <ip>, index = <n>".
std::vector<std::pair<unsigned, unsigned>> GetUnicastAddresses();
/// Appends the local address list to @p addresses without printing.
void get_local_ips(std::vector<std::pair<unsigned, unsigned>>& addresses);
/// True when the host routes to the camera's current address; fills its
/// local address and interface index. The second argument is not used.
bool IsReachable(DeviceInfo& device, unsigned ifIndex = 0);
/// The local source address (host order) for reaching @p cameraIp, or 0.
/// The second argument is not used.
unsigned GetBestIp(unsigned cameraIp, unsigned ifIndex = 0);

} // namespace XEVLibrary
