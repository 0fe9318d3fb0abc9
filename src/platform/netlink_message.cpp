#include "platform/netlink_message.h"

#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>

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
            if (e && *e != 0) answer = LinkAnswer{*e, 0};
            return e.has_value() && *e != 0;
        }
        if (h.nlmsg_type != RTM_NEWLINK || len < sizeof(ifinfomsg)) return false;
        ifinfomsg ifi;
        std::memcpy(&ifi, payload, sizeof ifi);
        answer = LinkAnswer{0, ifi.ifi_flags};
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

}  // namespace hw::netlink
