#include "platform/netlink_message.h"

#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <cstring>
#include <tuple>

namespace hw::netlink {

namespace {

void putAttribute(std::vector<std::uint8_t>& buf, unsigned short type, const void* data, std::size_t len) {
    rtattr rta{};
    rta.rta_type = type;
    rta.rta_len = static_cast<unsigned short>(RTA_LENGTH(len));
    auto at = buf.size();
    buf.resize(at + RTA_SPACE(len), 0);
    std::memcpy(buf.data() + at, &rta, sizeof rta);
    std::memcpy(buf.data() + at + RTA_LENGTH(0), data, len);
}

void finish(std::vector<std::uint8_t>& buf) {
    auto len = static_cast<std::uint32_t>(buf.size());
    std::memcpy(buf.data() + offsetof(nlmsghdr, nlmsg_len), &len, sizeof len);
}

template <typename Body>
std::vector<std::uint8_t> header(std::uint16_t type, std::uint32_t seq, const Body& body) {
    std::vector<std::uint8_t> buf(NLMSG_SPACE(sizeof(Body)), 0);
    nlmsghdr h{};
    h.nlmsg_type = type;
    h.nlmsg_flags = NLM_F_REQUEST;
    h.nlmsg_seq = seq;
    std::memcpy(buf.data(), &h, sizeof h);
    std::memcpy(buf.data() + NLMSG_HDRLEN, &body, sizeof body);
    return buf;
}

// Walks the messages of one datagram; `visit` returns true to stop.
template <typename Visit>
void walk(const std::uint8_t* data, std::size_t size, Visit visit) {
    while (size >= sizeof(nlmsghdr)) {
        nlmsghdr h;
        std::memcpy(&h, data, sizeof h);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > size) return;
        if (visit(h, data + NLMSG_HDRLEN, h.nlmsg_len - NLMSG_HDRLEN)) return;
        std::size_t step = NLMSG_ALIGN(h.nlmsg_len);
        if (step >= size) return;
        data += step;
        size -= step;
    }
}

// Each attribute of a message or nested attribute from `start` on; `visit`
// gets its type, payload and payload length.
template <typename Visit>
void eachAttribute(const std::uint8_t* payload, std::size_t len, std::size_t start, Visit visit) {
    std::size_t off = NLMSG_ALIGN(start);
    while (off + sizeof(rtattr) <= len) {
        rtattr rta;
        std::memcpy(&rta, payload + off, sizeof rta);
        if (rta.rta_len < sizeof(rtattr) || off + rta.rta_len > len) return;
        visit(rta.rta_type, payload + off + RTA_LENGTH(0), static_cast<std::size_t>(rta.rta_len - RTA_LENGTH(0)));
        off += RTA_ALIGN(rta.rta_len);
    }
}

std::optional<int> errorOf(const std::uint8_t* payload, std::size_t len) {
    if (len < sizeof(nlmsgerr)) return std::nullopt;
    nlmsgerr e;
    std::memcpy(&e, payload, sizeof e);
    return -e.error;
}

}  // namespace

std::vector<std::uint8_t> routeRequest(const std::string& address, std::uint32_t seq) {
    unsigned char raw[16];
    rtmsg rt{};
    std::size_t len;
    if (inet_pton(AF_INET, address.c_str(), raw) == 1) {
        rt.rtm_family = AF_INET;
        rt.rtm_dst_len = 32;
        len = 4;
    } else if (inet_pton(AF_INET6, address.c_str(), raw) == 1) {
        rt.rtm_family = AF_INET6;
        rt.rtm_dst_len = 128;
        len = 16;
    } else {
        return {};
    }
    auto buf = header(RTM_GETROUTE, seq, rt);
    putAttribute(buf, RTA_DST, raw, len);
    finish(buf);
    return buf;
}

std::vector<std::uint8_t> linkRequest(int ifindex, std::uint32_t seq) {
    ifinfomsg ifi{};
    ifi.ifi_family = AF_UNSPEC;
    ifi.ifi_index = ifindex;
    auto buf = header(RTM_GETLINK, seq, ifi);
    finish(buf);
    return buf;
}

std::optional<RouteAnswer> parseRouteReply(const std::uint8_t* data, std::size_t size, std::uint32_t seq) {
    std::optional<RouteAnswer> answer;
    walk(data, size, [&](const nlmsghdr& h, const std::uint8_t* payload, std::size_t len) {
        if (h.nlmsg_seq != seq) return false;
        if (h.nlmsg_type == NLMSG_ERROR) {
            auto e = errorOf(payload, len);
            if (e && *e != 0) answer = RouteAnswer{*e, 0, 0};
            return e.has_value() && *e != 0;
        }
        if (h.nlmsg_type != RTM_NEWROUTE || len < sizeof(rtmsg)) return false;
        rtmsg rt;
        std::memcpy(&rt, payload, sizeof rt);
        RouteAnswer a;
        a.type = rt.rtm_type;
        std::size_t off = NLMSG_ALIGN(sizeof(rtmsg));
        while (off + sizeof(rtattr) <= len) {
            rtattr rta;
            std::memcpy(&rta, payload + off, sizeof rta);
            if (rta.rta_len < sizeof(rtattr) || off + rta.rta_len > len) break;
            if (rta.rta_type == RTA_OIF && rta.rta_len >= RTA_LENGTH(sizeof(int))) {
                std::memcpy(&a.outputInterface, payload + off + RTA_LENGTH(0), sizeof(int));
            }
            off += RTA_ALIGN(rta.rta_len);
        }
        answer = a;
        return true;
    });
    return answer;
}

std::optional<LinkAnswer> parseLinkReply(const std::uint8_t* data, std::size_t size, std::uint32_t seq) {
    std::optional<LinkAnswer> answer;
    walk(data, size, [&](const nlmsghdr& h, const std::uint8_t* payload, std::size_t len) {
        if (h.nlmsg_seq != seq) return false;
        if (h.nlmsg_type == NLMSG_ERROR) {
            auto e = errorOf(payload, len);
            if (e && *e != 0) answer = LinkAnswer{*e, 0, {}};
            return e.has_value() && *e != 0;
        }
        if (h.nlmsg_type != RTM_NEWLINK || len < sizeof(ifinfomsg)) return false;
        ifinfomsg ifi;
        std::memcpy(&ifi, payload, sizeof ifi);
        answer = LinkAnswer{0, ifi.ifi_flags, {}};
        eachAttribute(payload, len, sizeof(ifinfomsg), [&](unsigned short type, const std::uint8_t* value, std::size_t n) {
            if ((type & NLA_TYPE_MASK) != IFLA_LINKINFO) return;
            eachAttribute(value, n, 0, [&](unsigned short inner, const std::uint8_t* text, std::size_t m) {
                if ((inner & NLA_TYPE_MASK) != IFLA_INFO_KIND || m == 0 || m > IFNAMSIZ) return;
                answer->kind.assign(reinterpret_cast<const char*>(text), strnlen(reinterpret_cast<const char*>(text), m));
            });
        });
        return true;
    });
    return answer;
}

bool carriesChange(const std::uint8_t* data, std::size_t size) {
    bool change = false;
    walk(data, size, [&](const nlmsghdr& h, const std::uint8_t*, std::size_t) {
        switch (h.nlmsg_type) {
        case RTM_NEWLINK: case RTM_DELLINK: case RTM_NEWADDR: case RTM_DELADDR: case RTM_NEWROUTE: case RTM_DELROUTE:
            change = true;
            return true;
        default:
            return false;
        }
    });
    return change;
}

bool usable(const RouteAnswer& route, const LinkAnswer& link) {
    if (route.error != 0 || link.error != 0) return false;
    if (route.type != RTN_UNICAST && route.type != RTN_LOCAL) return false;
    return (link.flags & IFF_UP) && (link.flags & IFF_RUNNING);
}

bool tunnelLink(const LinkAnswer& link) {
    // By the driver, not the name: openvpn's and strongSwan's (libipsec)
    // devices are "tun". A PPP link may be the machine's own uplink (PPPoE),
    // and a raw-IP modem looks like a tun by its flags: neither counts.
    static constexpr const char* kTunnels[] = {"tun", "wireguard", "xfrm", "vti", "vti6", "ipip", "gre", "sit", "ip6tnl"};
    for (const char* kind : kTunnels)
        if (link.kind == kind) return true;
    return false;
}

namespace {

std::size_t addressLength(unsigned char family) {
    return family == AF_INET ? 4 : family == AF_INET6 ? 16 : 0;
}

// Each attribute of one message, with its payload.
template <typename Visit>
void attributes(const std::uint8_t* payload, std::size_t len, std::size_t start, Visit visit) {
    std::size_t off = NLMSG_ALIGN(start);
    while (off + sizeof(rtattr) <= len) {
        rtattr rta;
        std::memcpy(&rta, payload + off, sizeof rta);
        if (rta.rta_len < sizeof(rtattr) || off + rta.rta_len > len) return;
        visit(rta.rta_type, payload + off + RTA_LENGTH(0), rta.rta_len - RTA_LENGTH(0));
        off += RTA_ALIGN(rta.rta_len);
    }
}

// Whether this message closes a dump: done, or the kernel's refusal.
bool dumpEnded(const nlmsghdr& h, const std::uint8_t* payload, std::size_t len, int* error) {
    if (h.nlmsg_type != NLMSG_DONE && h.nlmsg_type != NLMSG_ERROR) return false;
    auto e = h.nlmsg_type == NLMSG_ERROR ? errorOf(payload, len) : std::optional<int>(0);
    if (error) *error = e.value_or(EPROTO);
    return true;
}

// Reads one datagram of a dump answering `seq`: each message of type
// `type` goes to `take` with its fixed header; true once the dump is over.
template <typename Header, typename Take>
bool readDump(const std::uint8_t* data, std::size_t size, std::uint32_t seq, std::uint16_t type, int* error,
              Take take) {
    bool finished = false;
    walk(data, size, [&](const nlmsghdr& h, const std::uint8_t* payload, std::size_t len) {
        if (h.nlmsg_seq != seq) return false;
        if (dumpEnded(h, payload, len, error)) return finished = true;
        if (h.nlmsg_type != type || len < sizeof(Header)) return false;
        Header fixed;
        std::memcpy(&fixed, payload, sizeof fixed);
        take(fixed, payload, len);
        return false;
    });
    return finished;
}

template <typename Body>
std::vector<std::uint8_t> dumpRequest(std::uint16_t type, std::uint32_t seq, const Body& body) {
    auto buf = header(type, seq, body);
    const std::uint16_t flags = NLM_F_REQUEST | NLM_F_DUMP;
    std::memcpy(buf.data() + offsetof(nlmsghdr, nlmsg_flags), &flags, sizeof flags);
    finish(buf);
    return buf;
}

}  // namespace

std::vector<std::uint8_t> routeChange(bool add, const RouteEntry& route, std::uint32_t seq) {
    const std::size_t length = addressLength(route.family);
    if (length == 0 || (!route.destination.empty() && route.destination.size() != length) ||
        (!route.gateway.empty() && route.gateway.size() != length) ||
        route.destinationLength > length * 8)
        return {};
    rtmsg rt{};
    rt.rtm_family = route.family;
    rt.rtm_dst_len = route.destinationLength;
    rt.rtm_table = RT_TABLE_MAIN;
    if (add) {
        rt.rtm_protocol = route.protocol ? route.protocol : RTPROT_BOOT;
        rt.rtm_type = RTN_UNICAST;
        // Without a gateway the route stays on the link, as ip makes it.
        rt.rtm_scope = route.gateway.empty() ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE;
    } else {
        rt.rtm_scope = RT_SCOPE_NOWHERE;
    }
    auto buf = header(add ? RTM_NEWROUTE : RTM_DELROUTE, seq, rt);
    std::uint16_t flags = NLM_F_REQUEST | NLM_F_ACK;
    if (add) flags |= NLM_F_CREATE | NLM_F_REPLACE;
    std::memcpy(buf.data() + offsetof(nlmsghdr, nlmsg_flags), &flags, sizeof flags);
    if (!route.destination.empty()) putAttribute(buf, RTA_DST, route.destination.data(), length);
    if (!route.gateway.empty()) putAttribute(buf, RTA_GATEWAY, route.gateway.data(), length);
    if (route.outputInterface > 0) putAttribute(buf, RTA_OIF, &route.outputInterface, sizeof(int));
    if (route.priority) putAttribute(buf, RTA_PRIORITY, &*route.priority, sizeof(std::uint32_t));
    finish(buf);
    return buf;
}

std::vector<std::uint8_t> routeDump(unsigned char family, std::uint32_t seq) {
    rtmsg rt{};
    rt.rtm_family = family;
    return dumpRequest(RTM_GETROUTE, seq, rt);
}

std::optional<int> parseAck(const std::uint8_t* data, std::size_t size, std::uint32_t seq) {
    std::optional<int> error;
    walk(data, size, [&](const nlmsghdr& h, const std::uint8_t* payload, std::size_t len) {
        if (h.nlmsg_seq != seq || h.nlmsg_type != NLMSG_ERROR) return false;
        error = errorOf(payload, len);
        return error.has_value();
    });
    return error;
}

bool parseRouteDump(const std::uint8_t* data, std::size_t size, std::uint32_t seq, std::vector<RouteEntry>& out,
                    int* error) {
    return readDump<rtmsg>(data, size, seq, RTM_NEWROUTE, error, [&](const rtmsg& rt, const std::uint8_t* payload,
                                                                      std::size_t len) {
        RouteEntry r;
        r.family = rt.rtm_family;
        r.destinationLength = rt.rtm_dst_len;
        r.table = rt.rtm_table;
        r.protocol = rt.rtm_protocol;
        r.type = rt.rtm_type;
        const std::size_t length = addressLength(rt.rtm_family);
        attributes(payload, len, sizeof(rtmsg), [&](unsigned short type, const std::uint8_t* value, std::size_t n) {
            if ((type == RTA_DST || type == RTA_GATEWAY) && n == length && length > 0)
                (type == RTA_DST ? r.destination : r.gateway).assign(value, value + n);
            else if (type == RTA_OIF && n >= sizeof(int)) std::memcpy(&r.outputInterface, value, sizeof(int));
            else if (type == RTA_PRIORITY && n >= sizeof(std::uint32_t)) {
                std::uint32_t p;
                std::memcpy(&p, value, sizeof p);
                r.priority = p;
            } else if (type == RTA_TABLE && n >= sizeof(std::uint32_t)) {
                std::uint32_t t;
                std::memcpy(&t, value, sizeof t);
                r.table = static_cast<unsigned char>(t > 255 ? 0 : t);
            } else if (type == RTA_MULTIPATH) r.multipath = true;
        });
        out.push_back(std::move(r));
    });
}

std::vector<std::uint8_t> addressChange(const AddressEntry& address, std::uint32_t seq) {
    const std::size_t length = addressLength(address.family);
    if (length == 0 || address.address.size() != length || address.prefixLength > length * 8 || address.interface <= 0)
        return {};
    ifaddrmsg ifa{};
    ifa.ifa_family = address.family;
    ifa.ifa_prefixlen = address.prefixLength;
    ifa.ifa_scope = address.scope;
    ifa.ifa_index = static_cast<std::uint32_t>(address.interface);
    auto buf = header(RTM_NEWADDR, seq, ifa);
    const std::uint16_t flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE;
    std::memcpy(buf.data() + offsetof(nlmsghdr, nlmsg_flags), &flags, sizeof flags);
    putAttribute(buf, IFA_LOCAL, address.address.data(), length);
    putAttribute(buf, IFA_ADDRESS, address.address.data(), length);
    finish(buf);
    return buf;
}

std::vector<std::uint8_t> addressDump(unsigned char family, std::uint32_t seq) {
    ifaddrmsg ifa{};
    ifa.ifa_family = family;
    return dumpRequest(RTM_GETADDR, seq, ifa);
}

bool parseAddressDump(const std::uint8_t* data, std::size_t size, std::uint32_t seq, std::vector<AddressEntry>& out,
                      int* error) {
    return readDump<ifaddrmsg>(data, size, seq, RTM_NEWADDR, error, [&](const ifaddrmsg& ifa,
                                                                         const std::uint8_t* payload, std::size_t len) {
        AddressEntry a;
        a.family = ifa.ifa_family;
        a.prefixLength = ifa.ifa_prefixlen;
        a.scope = ifa.ifa_scope;
        a.flags = ifa.ifa_flags;
        a.interface = static_cast<int>(ifa.ifa_index);
        const std::size_t length = addressLength(ifa.ifa_family);
        std::vector<std::uint8_t> local, peer;
        attributes(payload, len, sizeof(ifaddrmsg), [&](unsigned short type, const std::uint8_t* value, std::size_t n) {
            if (type == IFA_LOCAL && n == length && length > 0) local.assign(value, value + n);
            else if (type == IFA_ADDRESS && n == length && length > 0) peer.assign(value, value + n);
            else if (type == IFA_FLAGS && n >= sizeof(std::uint32_t)) std::memcpy(&a.flags, value, sizeof a.flags);
        });
        a.address = !local.empty() ? local : peer;
        if (!a.address.empty()) out.push_back(std::move(a));
    });
}

bool wayOutOutsideTunnels(const std::vector<RouteEntry>& routes,
                          const std::function<std::optional<LinkAnswer>(int)>& link) {
    for (const auto& r : routes) {
        if (r.type != RTN_UNICAST || r.table == RT_TABLE_LOCAL || r.outputInterface <= 0) continue;
        const std::size_t full = addressLength(r.family) * 8;
        const bool isDefault = r.destinationLength == 0;
        const bool hostViaGateway = full > 0 && r.destinationLength == full && !r.gateway.empty();
        if (!isDefault && !hostViaGateway) continue;
        const auto answer = link(r.outputInterface);
        if (!answer || answer->error != 0 || tunnelLink(*answer)) continue;
        if ((answer->flags & IFF_UP) && (answer->flags & IFF_RUNNING)) return true;
    }
    return false;
}

std::optional<int> wayOutLink(const std::vector<RouteEntry>& routes,
                              const std::function<std::optional<LinkAnswer>(int)>& link) {
    std::optional<int> best;
    // Ranked: a default route before a host route, the main table first, then the metric.
    std::tuple<bool, bool, std::uint32_t> bestRank{};
    for (const auto& r : routes) {
        if (r.family != AF_INET || r.type != RTN_UNICAST || r.table == RT_TABLE_LOCAL || r.outputInterface <= 0)
            continue;
        const bool isDefault = r.destinationLength == 0;
        if (!isDefault && !(r.destinationLength == 32 && !r.gateway.empty())) continue;
        const std::tuple<bool, bool, std::uint32_t> rank{!isDefault, r.table != RT_TABLE_MAIN, r.priority.value_or(0)};
        if (best && !(rank < bestRank)) continue;
        const auto answer = link(r.outputInterface);
        if (!answer || answer->error != 0 || tunnelLink(*answer) || (answer->flags & IFF_POINTOPOINT)) continue;
        if (!(answer->flags & IFF_UP) || !(answer->flags & IFF_RUNNING)) continue;
        best = r.outputInterface;
        bestRank = rank;
    }
    return best;
}

}  // namespace hw::netlink
