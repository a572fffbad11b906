#include "Gige/RouteLookup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace XEVLibrary {

namespace {

/// Closes a descriptor when leaving the scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

bool LookupRoute(uint32_t destination, Route& route) {
    Descriptor netlink{::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE)};
    if (netlink.fd < 0)
        return false;
    struct Request {
        nlmsghdr header;
        rtmsg message;
        char attributes[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = AF_INET;
    request.message.rtm_dst_len = 32;
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = RTA_DST;
    attribute->rta_len = RTA_LENGTH(4);
    const uint32_t networkOrder = htonl(destination);
    std::memcpy(RTA_DATA(attribute), &networkOrder, 4);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_LENGTH(4);
    if (::send(netlink.fd, &request, request.header.nlmsg_len, 0) < 0)
        return false;

    // The kernel answers at once; the wait only bounds a misbehaving system.
    pollfd ready{netlink.fd, POLLIN, 0};
    if (::poll(&ready, 1, 1000) <= 0)
        return false;
    alignas(nlmsghdr) char answer[8192];
    ssize_t size = ::recv(netlink.fd, answer, sizeof answer, 0);
    if (size <= 0)
        return false;
    route = Route();
    for (auto* header = reinterpret_cast<nlmsghdr*>(answer);
         NLMSG_OK(header, static_cast<unsigned>(size)); header = NLMSG_NEXT(header, size)) {
        if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_type != RTM_NEWROUTE)
            return false;
        auto* message = static_cast<rtmsg*>(NLMSG_DATA(header));
        int length = static_cast<int>(RTM_PAYLOAD(header));
        for (auto* a = RTM_RTA(message); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
            if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= 4) {
                int index;
                std::memcpy(&index, RTA_DATA(a), 4);
                route.interfaceIndex = static_cast<unsigned>(index);
            } else if (a->rta_type == RTA_PREFSRC && RTA_PAYLOAD(a) >= 4) {
                uint32_t source;
                std::memcpy(&source, RTA_DATA(a), 4);
                route.sourceAddress = ntohl(source);
            }
        }
        break;
    }
    return route.interfaceIndex != 0 && route.sourceAddress != 0;
}

std::vector<std::pair<unsigned, unsigned>> LocalIpv4Addresses() {
    std::vector<std::pair<unsigned, unsigned>> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || (entry->ifa_flags & IFF_LOOPBACK) ||
            !(entry->ifa_flags & IFF_RUNNING) || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char host[NI_MAXHOST];
        if (::getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                          NI_NUMERICHOST) != 0)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        addresses.emplace_back(ntohl(address->sin_addr.s_addr), ::if_nametoindex(entry->ifa_name));
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace XEVLibrary
