#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace XEVLibrary {

/// What the routing table says about reaching one IPv4 address.
struct Route {
    unsigned interfaceIndex = 0;
    uint32_t sourceAddress = 0; ///< host order
};

/**
 * Asks the kernel's routing table (through netlink, as "ip route get" does)
 * which interface and source address lead to @p destination (host order).
 * False when there is no route, or the route names no interface or no
 * source address.
 */
bool LookupRoute(uint32_t destination, Route& route);

/// The IPv4 addresses (host order) of the interfaces that are up, running
/// and not loopback, each with its interface index, in the order the system
/// lists them.
std::vector<std::pair<unsigned, unsigned>> LocalIpv4Addresses();

} // namespace XEVLibrary
