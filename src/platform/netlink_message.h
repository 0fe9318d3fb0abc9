#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
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
    std::string kind;    // the driver's link kind ("tun", "wireguard"); empty for a plain device
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

// Whether the link is a VPN's tunnel: what goes in travels inside packets to
// its server, so it carries only while some other link leads out.
bool tunnelLink(const LinkAnswer& link);

}  // namespace hw::netlink

// The helper's writer: route changes and the dumps it reads them back with.
namespace hw::netlink {

struct RouteEntry {
    unsigned char family = 0;  // AF_INET / AF_INET6
    unsigned char destinationLength = 0;
    unsigned char table = 0;     // RT_TABLE_*
    unsigned char protocol = 0;  // RTPROT_*
    unsigned char type = 0;      // RTN_*
    std::vector<std::uint8_t> destination;  // empty for a default route
    std::vector<std::uint8_t> gateway;
    int outputInterface = 0;
    std::optional<std::uint32_t> priority;  // the metric
    bool multipath = false;
};

// RTM_NEWROUTE (create or replace) or RTM_DELROUTE in the main table, with
// an acknowledgement asked for. Empty for an unknown family or a mismatched
// address length.
std::vector<std::uint8_t> routeChange(bool add, const RouteEntry& route, std::uint32_t seq);
// A dump of one family's routes.
std::vector<std::uint8_t> routeDump(unsigned char family, std::uint32_t seq);

// The acknowledgement of `seq`: 0 or the kernel's errno; none when absent.
std::optional<int> parseAck(const std::uint8_t* data, std::size_t size, std::uint32_t seq);

// Adds the routes a dump datagram carries; true once the dump is finished
// (done, or an error, which goes to *error).
bool parseRouteDump(const std::uint8_t* data, std::size_t size, std::uint32_t seq, std::vector<RouteEntry>& out,
                    int* error);

struct AddressEntry {
    unsigned char family = 0;
    unsigned char prefixLength = 0;
    unsigned char scope = 0;  // RT_SCOPE_*
    std::uint32_t flags = 0;  // IFA_F_*
    int interface = 0;
    std::vector<std::uint8_t> address;
};

// RTM_NEWADDR (create or replace), acknowledged; empty when malformed.
std::vector<std::uint8_t> addressChange(const AddressEntry& address, std::uint32_t seq);
std::vector<std::uint8_t> addressDump(unsigned char family, std::uint32_t seq);
// As parseRouteDump, for addresses.
bool parseAddressDump(const std::uint8_t* data, std::size_t size, std::uint32_t seq, std::vector<AddressEntry>& out,
                      int* error);

// Whether any of the routes (of every table) leads out of the machine through
// a usable link that is no tunnel: a default route, or a host route through a
// gateway (a tunnel's own way to its server, which the lock keeps). A link
// gone, down or without carrier takes its routes out of the count. `link`
// answers for an interface index, none when it cannot.
bool wayOutOutsideTunnels(const std::vector<RouteEntry>& routes,
                          const std::function<std::optional<LinkAnswer>(int)>& link);

// The interface of the default way out: that of the IPv4 default route with
// the lowest metric through a usable link that is neither a tunnel nor
// point-to-point, else that of such a host route through a gateway (what
// is left under the lock). A VPN's own links never count, so a tunnel
// coming up or going does not move it; none when nothing leads out.
std::optional<int> wayOutLink(const std::vector<RouteEntry>& routes,
                              const std::function<std::optional<LinkAnswer>(int)>& link);

}  // namespace hw::netlink
