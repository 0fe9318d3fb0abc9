#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/netlink_message.h"

namespace hw::netlink {
namespace {

std::vector<std::uint8_t> address(int family, const char* text) {
    std::vector<std::uint8_t> out(family == AF_INET ? 4 : 16);
    EXPECT_EQ(::inet_pton(family, text, out.data()), 1) << text;
    return out;
}

// A change request has the layout of a dump's answer, so the reader reads
// back what the writer wrote (a deletion once its type is made an answer's).
std::vector<RouteEntry> readBack(std::vector<std::uint8_t> message, std::uint32_t seq) {
    const std::uint16_t answer = RTM_NEWROUTE;
    std::memcpy(message.data() + offsetof(nlmsghdr, nlmsg_type), &answer, sizeof answer);
    std::vector<RouteEntry> out;
    parseRouteDump(message.data(), message.size(), seq, out, nullptr);
    return out;
}

auto fields(const RouteEntry& r) {
    return std::tuple(r.family, r.destinationLength, r.table, r.protocol, r.destination, r.gateway, r.outputInterface,
                      r.priority);
}

TEST(NetlinkWriter, RouteChangesCarryWhatWasAskedFor) {
    struct Row {
        const char* name;
        bool add;
        RouteEntry route;
    };
    RouteEntry host{AF_INET, 32, 0, 0, 0, address(AF_INET, "203.0.113.5"), address(AF_INET, "192.168.1.1"), 3, {}, false};
    RouteEntry v6default{AF_INET6, 0, 0, RTPROT_STATIC, 0, {}, address(AF_INET6, "2001:db8::1"), 2, 1024u, false};
    RouteEntry anyDefault{AF_INET, 0, 0, 0, 0, {}, {}, 0, {}, false};
    for (const Row& row : {Row{"host route", true, host}, Row{"IPv6 default with metric", true, v6default},
                           Row{"first default, deleted", false, anyDefault}}) {
        auto message = routeChange(row.add, row.route, 7);
        auto back = readBack(message, 7);
        ASSERT_EQ(back.size(), 1u) << row.name;
        auto asked = row.route;
        asked.table = RT_TABLE_MAIN;
        asked.protocol = row.add ? (row.route.protocol ? row.route.protocol : RTPROT_BOOT) : 0;
        EXPECT_EQ(fields(back[0]), fields(asked)) << row.name;
        nlmsghdr h;
        std::memcpy(&h, message.data(), sizeof h);
        EXPECT_EQ(h.nlmsg_type, row.add ? RTM_NEWROUTE : RTM_DELROUTE) << row.name;
        EXPECT_TRUE(h.nlmsg_flags & NLM_F_ACK) << row.name;
        // Only additions replace; a deletion must never create.
        EXPECT_EQ((h.nlmsg_flags & (NLM_F_CREATE | NLM_F_REPLACE)) != 0, row.add) << row.name;
    }
}

TEST(NetlinkWriter, MalformedRequestsAreNotWritten) {
    RouteEntry wrongLength{AF_INET, 32, 0, 0, 0, address(AF_INET6, "2001:db8::5"), {}, 0, {}, false};
    RouteEntry longPrefix{AF_INET, 33, 0, 0, 0, address(AF_INET, "10.0.0.0"), {}, 0, {}, false};
    RouteEntry noFamily{0, 0, 0, 0, 0, {}, {}, 0, {}, false};
    for (const auto& r : {wrongLength, longPrefix, noFamily}) EXPECT_TRUE(routeChange(true, r, 1).empty());
    EXPECT_TRUE(addressChange({AF_INET6, 64, 0, 0, 0, address(AF_INET6, "2001:db8::2")}, 1).empty());  // no interface
    EXPECT_TRUE(addressChange({AF_INET6, 129, 0, 0, 2, address(AF_INET6, "2001:db8::2")}, 1).empty());
}

TEST(NetlinkWriter, AddressChangeReadsBack) {
    AddressEntry a{AF_INET6, 64, RT_SCOPE_UNIVERSE, 0, 4, address(AF_INET6, "2001:db8::2")};
    auto message = addressChange(a, 9);
    std::vector<AddressEntry> back;
    parseAddressDump(message.data(), message.size(), 9, back, nullptr);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(std::tuple(back[0].address, back[0].prefixLength, back[0].interface), std::tuple(a.address, 64, 4));
}

std::vector<std::uint8_t> control(std::uint16_t type, std::uint32_t seq, int error) {
    std::vector<std::uint8_t> buf(NLMSG_SPACE(sizeof(nlmsgerr)), 0);
    nlmsghdr h{};
    h.nlmsg_len = static_cast<std::uint32_t>(buf.size());
    h.nlmsg_type = type;
    h.nlmsg_seq = seq;
    nlmsgerr e{};
    e.error = -error;
    std::memcpy(buf.data(), &h, sizeof h);
    std::memcpy(buf.data() + NLMSG_HDRLEN, &e, sizeof e);
    return buf;
}

TEST(NetlinkWriter, AcknowledgementsAndDumpEndsAreTheirSequencesOwn) {
    EXPECT_EQ(parseAck(control(NLMSG_ERROR, 5, 0).data(), control(NLMSG_ERROR, 5, 0).size(), 5), 0);
    auto refused = control(NLMSG_ERROR, 5, ESRCH);
    EXPECT_EQ(parseAck(refused.data(), refused.size(), 5), ESRCH);
    EXPECT_FALSE(parseAck(refused.data(), refused.size(), 6));            // someone else's
    EXPECT_FALSE(parseAck(refused.data(), refused.size() - 4, 5));        // cut short

    // A dump's routes, then its end, in one datagram.
    auto datagram = routeChange(true, {AF_INET, 0, 0, 0, 0, {}, address(AF_INET, "10.0.0.1"), 1, 100u, false}, 3);
    auto done = control(NLMSG_DONE, 3, 0);
    datagram.insert(datagram.end(), done.begin(), done.end());
    std::vector<RouteEntry> routes;
    int error = -1;
    EXPECT_TRUE(parseRouteDump(datagram.data(), datagram.size(), 3, routes, &error));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(routes.size(), 1u);
    // Without its end the dump goes on in the next datagram.
    routes.clear();
    EXPECT_FALSE(parseRouteDump(datagram.data(), datagram.size() - done.size(), 3, routes, &error));
    auto failed = control(NLMSG_ERROR, 3, EPERM);
    EXPECT_TRUE(parseRouteDump(failed.data(), failed.size(), 3, routes, &error));
    EXPECT_EQ(error, EPERM);
}

}  // namespace
}  // namespace hw::netlink
