#include "platform/netlink_message.h"

#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <map>

namespace hw::netlink {
namespace {

// A kernel answer as the kernel lays it out: header, body, attributes.
std::vector<std::uint8_t> reply(std::uint16_t type, std::uint32_t seq, const void* body, std::size_t bodyLen,
                                std::vector<std::uint8_t> attrs = {}) {
    std::vector<std::uint8_t> buf(NLMSG_HDRLEN + NLMSG_ALIGN(bodyLen), 0);
    std::memcpy(buf.data() + NLMSG_HDRLEN, body, bodyLen);
    buf.insert(buf.end(), attrs.begin(), attrs.end());
    nlmsghdr h{};
    h.nlmsg_len = static_cast<std::uint32_t>(buf.size());
    h.nlmsg_type = type;
    h.nlmsg_seq = seq;
    std::memcpy(buf.data(), &h, sizeof h);
    return buf;
}

std::vector<std::uint8_t> oif(int index) {
    std::vector<std::uint8_t> a(RTA_SPACE(sizeof(int)), 0);
    rtattr rta{static_cast<unsigned short>(RTA_LENGTH(sizeof(int))), RTA_OIF};
    std::memcpy(a.data(), &rta, sizeof rta);
    std::memcpy(a.data() + RTA_LENGTH(0), &index, sizeof index);
    return a;
}

TEST(NetlinkMessage, RouteRepliesAreMatchedBySequenceAndReadDefensively) {
    rtmsg rt{};
    rt.rtm_type = RTN_UNICAST;
    auto stale = reply(RTM_NEWROUTE, 3, &rt, sizeof rt, oif(9));
    auto good = reply(RTM_NEWROUTE, 4, &rt, sizeof rt, oif(2));
    auto both = stale;
    both.insert(both.end(), good.begin(), good.end());
    auto answer = parseRouteReply(both.data(), both.size(), 4);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->outputInterface, 2);

    nlmsgerr err{};
    err.error = -ENETUNREACH;
    auto refused = reply(NLMSG_ERROR, 4, &err, sizeof err);
    ASSERT_TRUE(parseRouteReply(refused.data(), refused.size(), 4));
    EXPECT_EQ(parseRouteReply(refused.data(), refused.size(), 4)->error, ENETUNREACH);

    // A lying length never reads past the datagram (truncations: the fuzz target).
    auto liar = good;
    std::uint32_t huge = 0xffff;
    std::memcpy(liar.data(), &huge, sizeof huge);
    EXPECT_FALSE(parseRouteReply(liar.data(), liar.size(), 4));
}

TEST(NetlinkMessage, OnlyUnicastOrLocalRoutesOutOfARunningLinkCarryTraffic) {
    RouteAnswer route{0, RTN_UNICAST, 2};
    EXPECT_TRUE(usable(route, {0, IFF_UP | IFF_RUNNING, ""}));
    EXPECT_FALSE(usable(route, {0, IFF_UP, ""})) << "no carrier";
    EXPECT_FALSE(usable({0, RTN_BLACKHOLE, 2}, {0, IFF_UP | IFF_RUNNING, ""}));
    EXPECT_FALSE(usable({0, RTN_UNREACHABLE, 2}, {0, IFF_UP | IFF_RUNNING, ""}));
    EXPECT_TRUE(usable({0, RTN_LOCAL, 1}, {0, IFF_UP | IFF_RUNNING | IFF_LOOPBACK, ""}));

    ifinfomsg ifi{};
    ifi.ifi_flags = IFF_UP | IFF_RUNNING;
    auto link = reply(RTM_NEWLINK, 5, &ifi, sizeof ifi);
    EXPECT_TRUE(carriesChange(link.data(), link.size()));
    auto answer = parseLinkReply(link.data(), link.size(), 5);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->flags, static_cast<unsigned>(IFF_UP | IFF_RUNNING));
    auto other = reply(NLMSG_DONE, 5, &ifi, sizeof ifi);
    EXPECT_FALSE(carriesChange(other.data(), other.size()));
}

// A link attribute holding the driver's kind, nested as the kernel nests it.
std::vector<std::uint8_t> linkKind(const std::string& kind) {
    std::vector<std::uint8_t> inner(RTA_SPACE(kind.size() + 1), 0);
    rtattr k{static_cast<unsigned short>(RTA_LENGTH(kind.size() + 1)), IFLA_INFO_KIND};
    std::memcpy(inner.data(), &k, sizeof k);
    std::memcpy(inner.data() + RTA_LENGTH(0), kind.c_str(), kind.size() + 1);
    std::vector<std::uint8_t> outer(RTA_LENGTH(0), 0);
    rtattr info{static_cast<unsigned short>(RTA_LENGTH(inner.size())), static_cast<unsigned short>(IFLA_LINKINFO | NLA_F_NESTED)};
    std::memcpy(outer.data(), &info, sizeof info);
    outer.insert(outer.end(), inner.begin(), inner.end());
    return outer;
}

TEST(NetlinkMessage, ALinkReplyNamesItsDriversKindSoTunnelsAreKnownByIt) {
    ifinfomsg ifi{};
    ifi.ifi_flags = IFF_UP | IFF_RUNNING | IFF_POINTOPOINT;
    auto tun = reply(RTM_NEWLINK, 7, &ifi, sizeof ifi, linkKind("tun"));
    auto answer = parseLinkReply(tun.data(), tun.size(), 7);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, "tun");
    EXPECT_TRUE(tunnelLink(*answer));

    auto plain = reply(RTM_NEWLINK, 8, &ifi, sizeof ifi);
    answer = parseLinkReply(plain.data(), plain.size(), 8);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, "");
    EXPECT_FALSE(tunnelLink(*answer)) << "a raw-IP modem is point-to-point too, and is the way out";
    EXPECT_FALSE(tunnelLink({0, IFF_UP | IFF_RUNNING, "ppp"})) << "PPPoE may be the uplink itself";
    EXPECT_TRUE(tunnelLink({0, IFF_UP | IFF_RUNNING, "wireguard"}));

    // A kind cut short is read only as far as it goes.
    auto cut = reply(RTM_NEWLINK, 9, &ifi, sizeof ifi, linkKind("tun"));
    cut.resize(cut.size() - 4);
    std::uint32_t len = static_cast<std::uint32_t>(cut.size());
    std::memcpy(cut.data(), &len, sizeof len);
    answer = parseLinkReply(cut.data(), cut.size(), 9);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(tunnelLink(*answer));
}

// Links by index: 2 the wired uplink, 3 a tunnel, 4 a link without carrier,
// 5 Wi-Fi, 6 a PPP link (L2TP's, or PPPoE).
struct WayOutRow {
    const char* name;
    std::vector<RouteEntry> routes;
    bool wayOut;
    std::optional<int> wayOutLink;  // the interface the way out leaves by
};

RouteEntry route(unsigned char length, int link, bool gateway = true, unsigned char type = RTN_UNICAST,
                 unsigned char table = RT_TABLE_MAIN, std::optional<std::uint32_t> metric = std::nullopt) {
    RouteEntry r;
    r.priority = metric;
    r.family = AF_INET;
    r.destinationLength = length;
    r.outputInterface = link;
    r.type = type;
    r.table = table;
    if (length) r.destination = {198, 18, 0, 2};
    if (gateway) r.gateway = {10, 66, 0, 1};
    return r;
}

TEST(NetlinkMessage, AWayOutIsADefaultOrServerRouteThroughAUsableLinkThatIsNoTunnel) {
    const std::map<int, LinkAnswer> links{{2, {0, IFF_UP | IFF_RUNNING, ""}},
                                          {3, {0, IFF_UP | IFF_RUNNING | IFF_POINTOPOINT, "tun"}},
                                          {4, {0, IFF_UP, ""}},
                                          {5, {0, IFF_UP | IFF_RUNNING, ""}},
                                          {6, {0, IFF_UP | IFF_RUNNING | IFF_POINTOPOINT, ""}}};
    const auto link = [&](int index) -> std::optional<LinkAnswer> {
        auto it = links.find(index);
        if (it == links.end()) return std::nullopt;
        return it->second;
    };
    const WayOutRow rows[] = {
        {"the uplink's default route (no lock)", {route(0, 3), route(0, 2)}, true, 2},
        {"the server's host route, the lock having taken the default away", {route(0, 3), route(32, 2)}, true, 2},
        {"the server's route in a table of its own (libipsec)", {route(0, 3, false, RTN_UNICAST, 220), route(32, 2, true, RTN_UNICAST, 220)}, true, 2},
        {"only the tunnel's default route: the link went down", {route(0, 3)}, false, {}},
        {"the uplink without carrier", {route(0, 4), route(32, 4)}, false, {}},
        {"a link the kernel no longer knows", {route(0, 9)}, false, {}},
        {"only the uplink's own subnet", {route(24, 2, false)}, false, {}},
        {"an on-link host route leads nowhere beyond", {route(32, 2, false)}, false, {}},
        {"a blackhole default route", {route(0, 2, false, RTN_BLACKHOLE)}, false, {}},
        {"the local table's own addresses", {route(32, 2, true, RTN_UNICAST, RT_TABLE_LOCAL)}, false, {}},
        {"wired and Wi-Fi both up: the lower metric leads out", {route(0, 5, true, RTN_UNICAST, RT_TABLE_MAIN, 600), route(0, 2, true, RTN_UNICAST, RT_TABLE_MAIN, 100)}, true, 2},
        {"a default route before a server's host route", {route(32, 5), route(0, 2, true, RTN_UNICAST, RT_TABLE_MAIN, 100)}, true, 2},
        {"a PPP default (L2TP's) never moves the way out", {route(0, 6, false, RTN_UNICAST, RT_TABLE_MAIN, 0), route(32, 5)}, true, 5},
        {"a PPP uplink alone leads out, yet names no way out", {route(0, 6, false)}, true, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(wayOutOutsideTunnels(row.routes, link), row.wayOut) << row.name;
        EXPECT_EQ(wayOutLink(row.routes, link), row.wayOutLink) << row.name;
    }
}

}  // namespace
}  // namespace hw::netlink
