#include <algorithm>

#include "connection/vpn_connection_manager_fixture.h"
#include "support/capture_log.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

// openvpn reports its tunnel up; the helper answers the IPv6 and DNS steps as
// the row says (a helper killed and restarting answers "NO" for a while; one
// that started after the tunnel's up event cannot name its DNS servers).
struct SettingsCase {
    const char* name;
    std::deque<std::string> ipv6Replies;
    std::deque<std::string> dnsReplies;
    bool userDisconnectsAfterFirst;
    std::vector<std::string> events;
    int ipv6Sends;
    int dnsSends;
    std::string logNames;  // what the log says failed; empty when nothing did
};

std::string generic() { return "error:" + LocaleData::vpn_connection_generic_error(); }

class TunnelSettings : public ManagerFixture, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(TunnelSettings, AnOpenVPNTunnelIsConnectedOnlyWithIPv6OffAndItsDNSInPlace) {
    const auto& c = GetParam();
    make();
    connectThrough();
    helper.ipv6Replies = c.ipv6Replies;
    helper.dnsReplies = c.dnsReplies;
    helper.sent.clear();
    openvpn->calls.clear();
    auto log = CaptureLog::install();
    openvpn->report(2);
    queue.runUntilIdle();
    if (c.userDisconnectsAfterFirst) manager->disconnect();
    queue.advance(10000);
    log::setSink(nullptr);

    EXPECT_EQ(events, c.events);
    EXPECT_EQ(helper.count("disableIPV6"), c.ipv6Sends);
    EXPECT_EQ(helper.count("install_DNS_for_VPN:openvpn"), c.dnsSends);
    const bool ended = std::count(openvpn->calls.begin(), openvpn->calls.end(), "disconnect") > 0;
    EXPECT_EQ(ended, c.events != std::vector<std::string>{"established"});
    EXPECT_EQ(manager->currentVPNConnection().isTimerValid(), c.events == std::vector<std::string>{"established"});
    std::string failures;
    for (const auto& line : log->lines())
        if (line.message.find("could not be") != std::string::npos) failures += line.message + "\n";
    if (c.logNames.empty()) EXPECT_EQ(failures, "");
    else EXPECT_NE(failures.find(c.logNames), std::string::npos) << failures;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TunnelSettings,
    ::testing::Values(
        SettingsCase{"BothInPlace", {}, {}, false, {"established"}, 1, 1, ""},
        SettingsCase{"HelperBackOnTheThirdTry", {"NO", "NO"}, {"NO", "NO"}, false, {"established"}, 3, 3, "IPv6"},
        // The up event lands just after openvpn's connected report: only the DNS is asked again.
        SettingsCase{"UpEventHeardLate", {}, {"NO"}, false, {"established"}, 1, 2, "DNS"},
        SettingsCase{"IPv6NeverOff", {"NO", "NO", "NO", "NO"}, {}, false, {generic()}, 4, 1, "IPv6"},
        SettingsCase{"DNSNeverInstalled", {}, {"NO", "NO", "NO", "NO"}, false, {generic()}, 1, 4, "DNS"},
        SettingsCase{"UserDisconnectsWhileWaiting", {"NO"}, {}, true, {}, 1, 1, "IPv6"}),
    [](const auto& info) { return std::string(info.param.name); });

// What openvpn showed the server pushing goes with the DNS step: a helper
// restarted after the tunnel's up event has only that to go by.
TEST_F(TunnelSettings, TheServersTheTunnelPushedGoWithTheDNSStep) {
    make();
    connectThrough();
    openvpn->pushedDNS = {"10.67.0.1"};
    openvpn->report(2);
    queue.runUntilIdle();
    ASSERT_EQ(helper.dnsPushed.size(), 1u);
    EXPECT_EQ(helper.dnsPushed[0], std::vector<std::string>{"10.67.0.1"});
}

// Under the kill switch the tunnel's route comes first: DNS servers inside the
// tunnel are reached only through it.
TEST_F(TunnelSettings, UnderTheLockTheRouteGoesInBeforeTheSettings) {
    make();
    context.lockActivated = true;
    openvpn->gateway = "10.8.0.1";
    connectThrough();
    helper.sent.clear();
    openvpn->report(2);
    queue.runUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"established"});
    EXPECT_EQ(helper.sent, (std::vector<std::string>{"addDefaultGatewayForOpenVPN:10.8.0.1", "disableIPV6",
                                                     "install_DNS_for_VPN:openvpn"}));
}

// A helper's answer acts once, and only for the try that asked: a slow one
// may answer after a Cancel or the next Connect.
TEST_F(TunnelSettings, AHelperReplyActsOnceAndOnlyForTheTryThatAsked) {
    enum Then { nothing, cancel, nextTry };
    struct Row { const char* name; bool lock; int replies; Then then; bool established; int ipv6Sends; };
    for (const Row& row : {Row{"settings answered twice", false, 2, nothing, true, 1},
                           Row{"route answered twice", true, 2, nothing, true, 1},
                           Row{"route answered after the next Connect", true, 1, nextTry, false, 0},
                           Row{"route answered after a Cancel", true, 1, cancel, false, 0}}) {
        SCOPED_TRACE(row.name);
        events.clear();
        context.lockActivated = row.lock;
        context.tryInForce = ConnectionTicket{1, 1};
        make();
        connectThrough();
        helper.sent.clear();
        helper.replyDelayMs = 300;
        helper.repliesPerCommand = row.replies;
        openvpn->report(2);
        queue.runUntilIdle();
        if (row.then == cancel) manager->disconnect();
        if (row.then == nextTry) context.tryInForce = ConnectionTicket{2, 1};
        queue.advance(10000);
        EXPECT_EQ(events, row.established ? std::vector<std::string>{"established"} : std::vector<std::string>{});
        EXPECT_EQ(helper.count("disableIPV6"), row.ipv6Sends);
    }
}

// The strongSwan tunnel carries IPv4 alone: it is Connected once IPv6 is off,
// and its DNS is left to the main window.
struct IKEv2Case {
    const char* name;
    std::deque<std::string> ipv6Replies;
    std::vector<std::string> events;
    int ipv6Sends;
};

class IKEv2Settings : public ManagerFixture, public ::testing::WithParamInterface<IKEv2Case> {};

TEST_P(IKEv2Settings, AnIKEv2TunnelIsConnectedOnlyWithIPv6Off) {
    const auto& c = GetParam();
    context.protocol = VPNTypesIKEv2_StrongSwan;
    make();
    connectThrough();
    helper.ipv6Replies = c.ipv6Replies;
    helper.sent.clear();
    providerOf(VPNTypesIKEv2_StrongSwan).report(2);
    queue.runUntilIdle();
    queue.advance(10000);
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(helper.count("disableIPV6"), c.ipv6Sends);
    EXPECT_EQ(helper.count("install_DNS_for_VPN:openvpn"), 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, IKEv2Settings,
                         ::testing::Values(IKEv2Case{"IPv6Off", {}, {"established"}, 1},
                                           IKEv2Case{"HelperBackOnTheSecondTry", {"NO"}, {"established"}, 2},
                                           IKEv2Case{"IPv6NeverOff", {"NO", "NO", "NO", "NO"}, {generic()}, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hw::test
