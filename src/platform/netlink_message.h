#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The few rtnetlink messages the route watch sends and reads, kept apart
// from the sockets so that they can be checked (and fuzzed) on their own.
namespace hw::netlink {

// An RTM_GETROUTE request for one numeric address; empty when the text is
// not a numeric IPv4 or IPv6 address.
std::vector<std::uint8_t> routeRequest(const std::string& address, std::uint32_t seq);
// An RTM_GETLINK request for one interface.
std::vector<std::uint8_t> linkRequest(int ifindex, std::uint32_t seq);

struct RouteAnswer {
    int error = 0;          // errno from the kernel, 0 when a route came back
    unsigned char type = 0;  // RTN_*
    int outputInterface = 0;
};
struct LinkAnswer {
    int error = 0;
    unsigned flags = 0;  // IFF_*
};

// Each finds the answer to `seq` in one datagram; none when it is not there
// or the datagram is malformed.
std::optional<RouteAnswer> parseRouteReply(const std::uint8_t* data, std::size_t size, std::uint32_t seq);
std::optional<LinkAnswer> parseLinkReply(const std::uint8_t* data, std::size_t size, std::uint32_t seq);

// Whether a datagram of the multicast groups reports a link, address or
// route change.
bool carriesChange(const std::uint8_t* data, std::size_t size);

// Whether a route of that type, out of a link with those flags, carries traffic.
bool usable(const RouteAnswer& route, const LinkAnswer& link);

}  // namespace hw::netlink
