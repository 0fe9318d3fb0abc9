#include "platform/netlink_message.h"

#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>

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
    EXPECT_TRUE(usable(route, {0, IFF_UP | IFF_RUNNING}));
    EXPECT_FALSE(usable(route, {0, IFF_UP})) << "no carrier";
    EXPECT_FALSE(usable({0, RTN_BLACKHOLE, 2}, {0, IFF_UP | IFF_RUNNING}));
    EXPECT_FALSE(usable({0, RTN_UNREACHABLE, 2}, {0, IFF_UP | IFF_RUNNING}));
    EXPECT_TRUE(usable({0, RTN_LOCAL, 1}, {0, IFF_UP | IFF_RUNNING | IFF_LOOPBACK}));

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

}  // namespace
}  // namespace hw::netlink
