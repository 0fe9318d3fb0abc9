#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "helper/nft_ruleset.h"
#include "support/capture_log.h"

namespace hw::helper {
namespace {

using test::FakeNetwork;

class NetworkCommands : public test::HelperFixture {
protected:
    std::shared_ptr<hw::test::CaptureLog> log_ = hw::test::CaptureLog::install();
};

TEST_F(NetworkCommands, LockFailsClosedThenDropsTheDefaultRouteAndAnswersTheOldGateway) {
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    ASSERT_GE(net_.ops.size(), 3u);
    EXPECT_EQ(net_.ops[1], "nft");
    EXPECT_EQ(net_.ops[2], "show default");
    EXPECT_TRUE(net_.tablePresent);
    EXPECT_TRUE(net_.defaults.empty());
    EXPECT_EQ(net_.lastRuleset.rfind("table inet havenway {}\ndelete table inet havenway\n", 0), 0u);

    // Engaged again (every reconnect does so): the answer is still the way
    // out from before the lock, not "no gateway".
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "192.168.1.1");
    // And so after a helper restart.
    restart();
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
}

TEST_F(NetworkCommands, AfterARebootTheOldLockRecordsAreVoid) {
    std::filesystem::create_directories(dir_ / "proc/sys/kernel/random");
    paths_.procRoot = dir_ / "proc";
    std::ofstream(dir_ / "proc/sys/kernel/random/boot_id") << "boot-1\n";
    restart();
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    rpc("install_DNS_for_VPN");

    // Rebooted onto another network: the table is gone, a new gateway rules.
    std::ofstream(dir_ / "proc/sys/kernel/random/boot_id") << "boot-2\n";
    net_ = FakeNetwork{};
    net_.defaults = {{"10.0.0.1", "wlan0", 600}};
    restart();
    EXPECT_FALSE(services_->lock.active());
    EXPECT_TRUE(services_->context.state.dns.saved);  // resolv.conf outlives a reboot
    EXPECT_EQ(rpc("enableNetworkLock"), "10.0.0.1");
}

TEST_F(NetworkCommands, ReleasePutsTheGatewayBackEvenWithoutOne) {
    // Without a gateway from the app (none stored, or an outdated app) the
    // lock is still lifted and the saved way out restored.
    for (const HelperDictionary& p : {HelperDictionary{{"gatewayAddress", "192.168.1.1"}}, HelperDictionary{}}) {
        rpc("enableNetworkLock");
        EXPECT_EQ(rpc("disableNetworkLock", p), "YES");
        EXPECT_FALSE(net_.tablePresent);
        ASSERT_EQ(net_.defaults.size(), 1u);
        EXPECT_EQ(net_.ops.back(), "replace default via 192.168.1.1 dev eth0 metric 100 proto dhcp");
    }
}

TEST_F(NetworkCommands, ReleaseWithAGatewayThatCannotBeInstalledFallsBackToTheSavedOne) {
    // The app's stored gateway may be stale after a network change, or no
    // address at all; the way out saved at engage time still works.
    for (const char* given : {"0.0.0.0", "10.99.0.1"}) {
        net_ = FakeNetwork{};
        net_.unreachable.push_back("10.99.0.1");
        rpc("enableNetworkLock");
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", given}}), "YES") << given;
        EXPECT_FALSE(net_.tablePresent) << given;
        EXPECT_EQ(net_.ops.back(), "replace default via 192.168.1.1 dev eth0 metric 100 proto dhcp") << given;
        EXPECT_EQ(services_->context.state.lock.gateway, "") << given;
    }
}

// A hint is only a hint: one that is no usable gateway never stands for the
// way out, and never makes the release fail.
TEST_F(NetworkCommands, ReleaseWithAnyHintPutsBackAGatewayThatAnswers) {
    struct Row {
        const char* name;
        HelperValue hint;
        std::string expected;
    };
    const Row rows[] = {
        {"on the link, no host there", HelperValue("192.168.1.77"), "192.168.1.1"},
        {"our own address", HelperValue("192.168.1.20"), "192.168.1.1"},
        {"loopback", HelperValue("127.0.0.1"), "192.168.1.1"},
        {"another loopback", HelperValue("127.3.2.1"), "192.168.1.1"},
        {"IPv6 unspecified", HelperValue("::"), "192.168.1.1"},
        {"mapped unspecified", HelperValue("::ffff:0.0.0.0"), "192.168.1.1"},
        {"empty", HelperValue(""), "192.168.1.1"},
        {"no address", HelperValue("abc"), "192.168.1.1"},
        {"unspecified", HelperValue("0.0.0.0"), "192.168.1.1"},
        {"stale, on no link", HelperValue("10.99.0.1"), "192.168.1.1"},
        {"not a string", HelperValue(std::int64_t{3232235777}), "192.168.1.1"},
        // The route the lock took answers: it comes back as it was.
        {"another gateway that answers", HelperValue("192.168.1.254"), "192.168.1.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        net_ = FakeNetwork{};
        net_.silent = {"192.168.1.77"};
        net_.unreachable.push_back("10.99.0.1");
        rpc("enableNetworkLock");
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", row.hint}}), "YES");
        EXPECT_FALSE(net_.tablePresent);
        ASSERT_EQ(net_.defaults.size(), 1u);
        EXPECT_EQ(net_.defaults[0].gateway, row.expected);
        EXPECT_EQ(std::count_if(net_.ops.begin(), net_.ops.end(),
                                [](const std::string& op) { return op.rfind("replace default", 0) == 0; }),
                  1);
        EXPECT_EQ(services_->context.state.lock.gateway, "");
    }
    // Where it does not, a newer gateway the app knows that answers is put beside it.
    net_ = FakeNetwork{};
    rpc("enableNetworkLock");
    net_.silent = {"192.168.1.1"};
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.254"}}), "YES");
    EXPECT_TRUE(net_.did("replace default via 192.168.1.254"));
}

// A server pushes the gateway the app passes on: none may send every packet
// to loopback, back to this machine, or nowhere.
TEST_F(NetworkCommands, GatewaysThatLeadNowhereAreRefused) {
    struct Row {
        const char* gateway;
        const char* reason;
    };
    for (const Row& row : {Row{"127.0.0.1", "a loopback address"}, Row{"127.3.2.1", "a loopback address"},
                           Row{"::1", "a loopback address"}, Row{"::ffff:127.0.0.1", "an IPv4 address written as IPv6"},
                           Row{"192.168.1.20", "this machine's own address"},
                           Row{"0.0.0.0", "an unspecified address"}, Row{"224.0.0.1", "a multicast address"},
                           Row{"ff02::1", "a multicast address"}, Row{"255.255.255.255", "the broadcast address"}}) {
        SCOPED_TRACE(row.gateway);
        net_.ops.clear();
        EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", row.gateway}}), "NO");
        EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", row.gateway}}),
                  "NO");
        EXPECT_TRUE(log_->contains(std::string("\"") + row.gateway + "\": " + row.reason));
        EXPECT_TRUE(net_.ops.empty());
        ASSERT_EQ(net_.defaults.size(), 1u);
        EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1");
    }
    EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", "10.8.0.1"}}), "YES");  // the tunnel's
    EXPECT_EQ(net_.defaults.back().gateway, "10.8.0.1");
}

// A default route through loopback (put there by hand, or by an older
// helper) is never the way out: not saved, answered, nor put back.
TEST_F(NetworkCommands, TheLockNeverSavesNorRestoresAGatewayThatLeadsNowhere) {
    net_.defaults = {{"127.0.0.1", "lo", 0}, {"192.168.1.1", "eth0", 100}};
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "192.168.1.1");
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    EXPECT_TRUE(net_.defaults.empty());
    EXPECT_EQ(services_->context.state.lock.gateway, "192.168.1.1");
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "127.0.0.1"}}), "YES");
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1");

    net_.defaults = {{"127.0.0.1", "lo", 0}};
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "NO");
    EXPECT_EQ(rpc("enableNetworkLock"), "NO");
    EXPECT_EQ(services_->context.state.lock.gateway, "");
    EXPECT_TRUE(services_->lock.reset());

    // Records an older helper left: a release and a reset pass them over.
    for (bool byReset : {false, true}) {
        SCOPED_TRACE(byReset ? "reset" : "release");
        net_ = FakeNetwork{};
        services_->context.state.lock.active = true;
        services_->context.state.lock.gateway = "127.0.0.1";
        services_->context.state.lock.device = "lo";
        ASSERT_TRUE(services_->context.saveState());
        restart();
        EXPECT_EQ(rpc("retrieveDefaultGateway"), "192.168.1.1");
        if (byReset) EXPECT_TRUE(services_->resetAll());
        else EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "127.0.0.1"}}), "YES");
        EXPECT_FALSE(net_.did("replace default via 127.0.0.1 dev lo"));
        ASSERT_EQ(net_.defaults.size(), 1u);
        EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1");
        EXPECT_EQ(services_->context.state.lock.gateway, "");
    }
}

// The saved gateway is put back but no host answers there (the network is
// not back yet): the record stays, and a later --reset restores the route.
TEST_F(NetworkCommands, ARouteThatDoesNotAnswerKeepsTheSavedRecordForReset) {
    rpc("enableNetworkLock");
    net_.silent = {"192.168.1.1", "192.168.1.77"};
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.77"}}), "NO");
    EXPECT_FALSE(net_.tablePresent);
    EXPECT_EQ(services_->context.state.lock.gateway, "192.168.1.1");

    net_.silent.clear();
    net_.defaults.clear();
    restart();
    EXPECT_TRUE(services_->resetAll());
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1");
    EXPECT_EQ(services_->context.state.lock.gateway, "");
}

TEST_F(NetworkCommands, AFailedReleaseKeepsTheSavedRouteForTheNextReleaseAndForReset) {
    struct Row {
        const char* name;
        bool byReset;
    };
    for (const Row& row : {Row{"released again", false}, Row{"reset by a new helper", true}}) {
        net_ = FakeNetwork{};
        rpc("enableNetworkLock");
        // The old network is gone for now: nothing can be put back.
        net_.unreachable.push_back("192.168.1.1");
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "0.0.0.0"}}), "NO") << row.name;
        EXPECT_FALSE(net_.tablePresent) << row.name;  // never blocking for nothing
        EXPECT_TRUE(net_.defaults.empty()) << row.name;
        EXPECT_EQ(services_->context.state.lock.gateway, "192.168.1.1") << row.name;
        // Engaging again meanwhile keeps that record: there is no route to take.
        rpc("enableNetworkLock");
        EXPECT_EQ(services_->context.state.lock.gateway, "192.168.1.1") << row.name;

        net_.unreachable.pop_back();
        if (row.byReset) {
            restart();
            EXPECT_TRUE(services_->resetAll()) << row.name;
        } else {
            EXPECT_EQ(rpc("disableNetworkLock"), "YES") << row.name;
        }
        EXPECT_FALSE(net_.tablePresent) << row.name;
        ASSERT_EQ(net_.defaults.size(), 1u) << row.name;
        EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1") << row.name;
        EXPECT_EQ(services_->context.state.lock.gateway, "") << row.name;
    }
    // A reset that cannot bring the route back says so.
    rpc("enableNetworkLock");
    net_.unreachable.push_back("192.168.1.1");
    restart();
    EXPECT_FALSE(services_->resetAll());
    EXPECT_EQ(services_->context.state.lock.gateway, "192.168.1.1");
}

TEST_F(NetworkCommands, NoAsAnswerTellsWhetherTheLockIsEngaged) {
    auto engage = [&] {
        auto reply = test::call(dispatcher_, {{"type", kHelperToolRpc}, {"rpc", "enableNetworkLock"}});
        EXPECT_TRUE(reply);
        return std::pair{*helperString(*reply, "reply"), helperBool(*reply, "engaged")};
    };
    struct Row {
        const char* name;
        bool withDefaultRoute, nftFails;
        std::string reply;
        bool engaged;
    };
    for (const Row& row : {Row{"gateway", true, false, "192.168.1.1", true},
                           Row{"no default route", false, false, "NO", true},
                           Row{"table refused", true, true, "NO", false}}) {
        services_->lock.reset();
        net_ = FakeNetwork{};
        if (!row.withDefaultRoute) net_.defaults.clear();
        net_.nftFails = row.nftFails;
        auto [reply, engaged] = engage();
        EXPECT_EQ(reply, row.reply) << row.name;
        EXPECT_EQ(engaged, row.engaged) << row.name;
        EXPECT_EQ(net_.tablePresent, row.engaged) << row.name;
        // A refused table leaves the routes alone.
        EXPECT_EQ(net_.defaults.size(), row.withDefaultRoute && !row.engaged ? 1u : 0u) << row.name;
        EXPECT_EQ(services_->lock.active(), row.engaged) << row.name;
        if (!row.nftFails) {  // the release tells whether anything leads out
            EXPECT_EQ(rpc("disableNetworkLock"), row.withDefaultRoute ? "YES" : "NO") << row.name;
        }
    }
}

TEST_F(NetworkCommands, ReleaseRemovesTheServersHostRouteUnlessATunnelRuns) {
    const std::string removal = "del 203.0.113.5 via 192.168.1.1";
    bool tunnelUp = false;
    services_->lock.addTunnelCheck([&] { return tunnelUp; });
    for (bool up : {false, true}) {
        tunnelUp = up;
        net_.ops.clear();
        rpc("enableNetworkLock");
        rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}});
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}), "YES");
        EXPECT_EQ(net_.did(removal), !up) << "tunnel up: " << up;
        EXPECT_EQ(services_->context.state.routes.empty(), !up);
    }
    // Its end takes the kept route with it; under a new lock it stays.
    rpc("enableNetworkLock");
    services_->lock.tunnelEnded();
    EXPECT_FALSE(services_->context.state.routes.empty());
    rpc("disableNetworkLock");
    net_.ops.clear();
    services_->lock.tunnelEnded();
    EXPECT_TRUE(net_.did(removal));
    EXPECT_TRUE(services_->context.state.routes.empty());
    rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}});
    // What stayed for the tunnel still goes with a reset by the next helper.
    rpc("enableNetworkLock");
    restart();
    net_.ops.clear();
    EXPECT_TRUE(services_->resetAll());
    EXPECT_TRUE(net_.did(removal));
    EXPECT_FALSE(net_.tablePresent);
    EXPECT_EQ(net_.defaults[0].gateway, "192.168.1.1");
    EXPECT_TRUE(services_->context.state.routes.empty());
    EXPECT_FALSE(services_->lock.active());
}

TEST_F(NetworkCommands, ServerRouteOpensTheLockForThatServerOnly) {
    rpc("enableNetworkLock", {{"dnsResolver", "8.8.4.4"}, {"dnsResolverSecondary", "2001:4860:4860::8888"}});
    EXPECT_NE(net_.lastRuleset.find("set dns4 { type ipv4_addr; elements = { 8.8.4.4 }; }"), std::string::npos);
    EXPECT_NE(net_.lastRuleset.find("set dns6 { type ipv6_addr; elements = { 2001:4860:4860::8888 }; }"),
              std::string::npos);
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}}),
              "203.0.113.5");
    EXPECT_TRUE(net_.did("replace 203.0.113.5 via 192.168.1.1"));
    EXPECT_EQ(net_.lastRuleset, "add element inet havenway servers4 { 203.0.113.5 }\n") << "into the table in place";
    // A table someone removed meanwhile is made anew, with every server.
    net_.tablePresent = false;
    EXPECT_EQ(rpc("staticRouteAddingProcessing",
                  {{"vpnServerAddress", "2001:db8::5"}, {"defaultGateway", "fe80::1"}}),
              "2001:db8::5");
    EXPECT_NE(net_.lastRuleset.find("elements = { 203.0.113.5 }"), std::string::npos);
    EXPECT_NE(net_.lastRuleset.find("set servers6 { type ipv6_addr; elements = { 2001:db8::5 }; }"), std::string::npos);

    EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", "10.8.0.1"}}), "YES");
    EXPECT_EQ(net_.defaults[0].gateway, "10.8.0.1");
}

TEST_F(NetworkCommands, AServerRouteWithoutAGatewayTakesTheWayOutTheHelperKnows) {
    // The app's first lock: it has not learnt the gateway yet.
    const HelperDictionary serverOnly{{"vpnServerAddress", "203.0.113.5"}};
    EXPECT_EQ(rpc("staticRouteAddingProcessing", serverOnly), "203.0.113.5");
    EXPECT_TRUE(net_.did("replace 203.0.113.5 via 192.168.1.1"));
    // Under the lock the default route is gone: the saved one still leads out.
    rpc("enableNetworkLock");
    net_.ops.clear();
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.6"}}), "203.0.113.6");
    EXPECT_TRUE(net_.did("replace 203.0.113.6 via 192.168.1.1"));
    // No way out at all: refused.
    services_->lock.reset();
    net_.defaults.clear();
    EXPECT_EQ(rpc("staticRouteAddingProcessing", serverOnly), "NO");
}

TEST_F(NetworkCommands, HostileParametersChangeNothing) {
    const std::vector<std::string> hostile = {
        "192.168.1.1; rm -rf /", "$(reboot)", "192.168.1.1\nflush ruleset", "`id`", "1.2.3.4/0", "default",
        "-j", "", std::string(5000, '1'), "192.168.1.1 dev lo", "1.2.3.4 }; chain x { policy accept",
        std::string("1.2.3.4\0evil", 12)};
    for (const auto& bad : hostile) {
        // disableNetworkLock is not here: a release never fails on its hint.
        for (auto [command, key] : {std::pair{"addDefaultGatewayForOpenVPN", "gatewayAddress"},
                                    {"staticRouteAddingProcessing", "vpnServerAddress"},
                                    {"staticRouteAddingProcessing", "defaultGateway"},
                                    {"enableNetworkLock", "dnsResolver"},
                                    {"resolveVPNServerHost", "dnsResolver"}}) {
            HelperDictionary p{{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"},
                               {"vpnServerHost", "vpn.example.com"}};
            p[key] = HelperValue(bad);
            // Strings with NUL cannot even be sent; the rest must be refused.
            auto reply = rpc(command, p);
            EXPECT_TRUE(reply == "NO" || reply == "<no reply>") << command << " " << key;
        }
    }
    EXPECT_TRUE(net_.ops.empty());
    EXPECT_GE(log_->countAtLeast(LogLevel::Warning), 1u);
    // Wrong types are refused too.
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 2}}), "NO");
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"skipFallback", "1"}}), "NO");
    EXPECT_TRUE(net_.ops.empty());
    EXPECT_TRUE(runner_.requests.empty());
}

// A resolver, a server and a gateway are hosts: an address that names no
// host is refused, and the log says what kind of address it is.
TEST_F(NetworkCommands, AddressesOfNoHostAreRefusedWithTheirReason) {
    const char* unspecified = "an unspecified address";
    const char* broadcast = "the broadcast address";
    const char* multicast = "a multicast address";
    const std::pair<const char*, const char*> rows[] = {
        {"0.0.0.0", unspecified},        {"0.1.2.3", unspecified},        {"::", unspecified},
        {"::ffff:0.0.0.0", unspecified}, {"255.255.255.255", broadcast},  {"::ffff:255.255.255.255", broadcast},
        {"224.0.0.1", multicast},        {"239.255.255.250", multicast}, {"ff02::1", multicast},
        // Short forms only the resolver reads, "0x0" as 0.0.0.0: no address at all here.
        {"0", "not an IP address"},      {"0x0", "not an IP address"},   {"0xffffffff", "not an IP address"},
        {"0xe0000001", "not an IP address"}, {"3232235777", "not an IP address"}, {"127.1", "not an IP address"},
        {"010.0.0.1", "not an IP address"},
        // This machine, by any name: loopback, IPv4 written as IPv6, its own.
        {"127.0.0.1", "a loopback address"}, {"127.3.2.1", "a loopback address"}, {"::1", "a loopback address"},
        {"::ffff:192.0.2.1", "an IPv4 address written as IPv6"}, {"::192.0.2.1", "an IPv4 address written as IPv6"},
        {"192.168.1.20", "this machine's own address"},
    };
    for (const auto& [address, reason] : rows) {
        // disableNetworkLock is not here: a release never fails on its hint.
        for (auto [command, key] : {std::pair{"addDefaultGatewayForOpenVPN", "gatewayAddress"},
                                    {"staticRouteAddingProcessing", "vpnServerAddress"},
                                    {"staticRouteAddingProcessing", "defaultGateway"},
                                    {"enableNetworkLock", "dnsResolver"},
                                    {"enableNetworkLock", "dnsResolverSecondary"}}) {
            SCOPED_TRACE(std::string(command) + " " + key + " " + address);
            HelperDictionary p{{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}};
            p[key] = HelperValue(std::string(address));
            EXPECT_EQ(rpc(command, p), "NO");
            EXPECT_TRUE(log_->contains(std::string(key) + " \"" + address + "\": " + reason));
        }
    }
    EXPECT_TRUE(net_.ops.empty());
    EXPECT_FALSE(services_->lock.active());
    for (const char* host :
         {"203.0.113.5", "10.8.0.1", "2001:db8::1", "fe80::1", "64:ff9b::c000:201", "223.255.255.254"})
        EXPECT_TRUE(isHostAddress(host)) << host;
    // Servers the tunnel pushes are checked the same way.
    for (const char* pushed : {"127.0.0.53", "::ffff:10.67.0.1", "192.168.1.20"})
        EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}, {"pushedServers", pushed}}), "NO") << pushed;
}

TEST_F(NetworkCommands, TheLockStateSurvivesAHelperRestartAndEndsWithTheRelease) {
    EXPECT_EQ(rpc("networkLockState"), "NO");
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    restart();
    EXPECT_EQ(rpc("networkLockState"), "YES");
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}), "YES");
    EXPECT_EQ(rpc("networkLockState"), "NO");
    // Its record of the way out lost: the server's host route still names it.
    rpc("enableNetworkLock");
    rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}});
    services_->context.state.lock.gateway.clear();
    services_->context.state.lock.device.clear();
    services_->context.state.lock.taken.clear();
    EXPECT_EQ(rpc("disableNetworkLock"), "YES");
    EXPECT_TRUE(net_.did("replace default via 192.168.1.1"));
}

// A link that drops takes the server's host route with it; without it the
// tunnel's own packets would go into the tunnel. While a tunnel runs the
// route comes back through the way out there is now, and only when missing.
TEST_F(NetworkCommands, WhileATunnelRunsAServerRouteTheLinkTookComesBackThroughTheWayOutThereIsNow) {
    bool tunnel = true;
    services_->lock.addTunnelCheck([&] { return tunnel; });
    services_->lock.addTunnelDevices([&] { return tunnel ? std::vector<std::string>{"tun0"} : std::vector<std::string>{}; });
    auto hostVia = [&](const std::string& server) {
        for (const auto& h : net_.hosts)
            if (h.destination == server) return h.gateway;
        return std::string("<none>");
    };
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}}),
              "203.0.113.5");
    // openvpn's own host route to its server, outside the lock's.
    services_->lock.setTunnelServerRoute(HelperState::Route{"198.51.100.9", "192.168.1.1"});
    net_.hosts.push_back({"198.51.100.9", "192.168.1.1", "eth0", std::nullopt, ""});

    // The link is gone: nothing can be put back yet.
    net_.hosts.clear();
    net_.unreachable.push_back("192.168.1.1");
    services_->lock.keepServerRoutes();
    EXPECT_EQ(hostVia("203.0.113.5"), "<none>");

    // It comes back on another network, DHCP's default route with it.
    net_.unreachable.pop_back();
    net_.defaults = {{"10.0.0.1", "wlan0", 600}, {"10.67.0.1", "tun0", 0}};
    services_->lock.keepServerRoutes();
    EXPECT_EQ(hostVia("203.0.113.5"), "10.0.0.1");
    EXPECT_EQ(hostVia("198.51.100.9"), "10.0.0.1");
    const auto ops = net_.ops.size();
    services_->lock.keepServerRoutes();
    EXPECT_EQ(std::count_if(net_.ops.begin() + static_cast<long>(ops), net_.ops.end(),
                            [](const std::string& op) { return op.rfind("replace", 0) == 0; }),
              0)
        << "routes in place are left alone";
    // The release removes the route by the way it goes now.
    tunnel = false;
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}), "YES");
    EXPECT_TRUE(net_.did("del 203.0.113.5 via 10.0.0.1"));
    // No tunnel: a dropped route stays dropped.
    net_.hosts.clear();
    services_->lock.keepServerRoutes();
    EXPECT_EQ(hostVia("198.51.100.9"), "<none>");
}

// Under the lock the app's next lookup of its server must reach the resolvers
// it names: a way there while no tunnel carries, taken back by the tunnel's
// default route and by the release.
TEST_F(NetworkCommands, TheLockRoutesTheResolversItLetsThroughUntilATunnelCarriesThem) {
    auto hostVia = [&](const std::string& host) {
        for (const auto& h : net_.hosts)
            if (h.destination == host) return h.gateway;
        return std::string("<none>");
    };
    EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "8.8.4.4"}, {"dnsResolverSecondary", "2620:fe::fe"}}),
              "192.168.1.1");
    EXPECT_EQ(hostVia("8.8.4.4"), "192.168.1.1");
    EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", "10.8.0.1"}}), "YES");
    EXPECT_EQ(hostVia("8.8.4.4"), "<none>");
    // Engaged again after the tunnel went (its route with it): the way is
    // back, and the release takes it.
    net_.defaults.clear();
    EXPECT_EQ(rpc("enableNetworkLock"), "192.168.1.1");
    EXPECT_EQ(hostVia("8.8.4.4"), "192.168.1.1");
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}), "YES");
    EXPECT_EQ(hostVia("8.8.4.4"), "<none>");
}

TEST_F(NetworkCommands, RetrieveDefaultGatewayWithoutAnyRouteSaysNo) {
    net_.defaults.clear();
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "NO");
    net_.defaults = {{"10.0.0.1", "wlan0", 600}, {"192.168.1.1", "eth0", 100}};
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "192.168.1.1");  // the lowest metric wins
}

TEST_F(NetworkCommands, EachCommandOfTheRoadLogsOneLineWhenItWorksAndItsCauseWhenNot) {
    struct Row {
        const char* command;
        HelperDictionary parameters;
    };
    const Row road[] = {{"retrieveDefaultGateway", {}},
                        {"enableNetworkLock", {{"dnsResolver", "8.8.4.4"}}},
                        {"staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}}},
                        {"addDefaultGatewayForOpenVPN", {{"gatewayAddress", "10.8.0.1"}}},
                        {"install_DNS_for_VPN", {}},
                        {"restore_DNS_to_original", {}},
                        {"disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}},
                        {"closeHelperTool", {}}};
    for (const Row& row : road) {
        const auto lines = log_->countAtLeast(LogLevel::Info);
        EXPECT_NE(rpc(row.command, row.parameters), "NO") << row.command;
        EXPECT_EQ(log_->countAtLeast(LogLevel::Info), lines + 1) << row.command;
        EXPECT_EQ(log_->countAtLeast(LogLevel::Warning), 0u) << row.command;
    }
    // A refused table says why, beside the command's own line.
    net_.nftFails = true;
    EXPECT_EQ(rpc("enableNetworkLock"), "NO");
    EXPECT_GE(log_->countAtLeast(LogLevel::Warning), 1u);
}

TEST(NftRuleset, OnlyValidatedAddressesReachTheRuleset) {
    auto r = buildLockRuleset({{"203.0.113.5", "1.2.3.4 }; chain evil {", "2001:db8::1"}, {"9.9.9.9"}, {}});
    EXPECT_NE(r.find("elements = { 203.0.113.5 }"), std::string::npos);
    EXPECT_NE(r.find("elements = { 2001:db8::1 }"), std::string::npos);
    EXPECT_EQ(r.find("evil"), std::string::npos);
    EXPECT_NE(r.find("chain output {\n    type filter hook output priority filter; policy drop;"), std::string::npos);
    EXPECT_NE(r.find("chain input {\n    type filter hook input priority filter; policy drop;"), std::string::npos);
}

// openvpn's own host route to its server, moved by a link change to the way
// out there is now: openvpn would delete it by the old way, or not at all
// once it forgot its server. Its end, or --reset in a later process, removes
// it as it is now.
TEST_F(NetworkCommands, OpenVPNsHostRouteGoesWithItsTunnelAndWithResetWhereverItWasMoved) {
    for (const bool byReset : {false, true}) {
        SCOPED_TRACE(byReset ? "--reset" : "the tunnel's end");
        restart();
        net_ = FakeNetwork{};
        services_->lock.addTunnelCheck([] { return true; });
        services_->lock.addTunnelDevices([] { return std::vector<std::string>{"tun0"}; });
        services_->lock.setTunnelServerRoute(HelperState::Route{"198.51.100.9", "192.168.1.1"});
        // The link went and came back on another network, without the route.
        net_.defaults = {{"10.0.0.1", "wlan0", 600}, {"10.67.0.1", "tun0", 0}};
        services_->lock.keepServerRoutes();
        ASSERT_EQ(net_.hosts.size(), 1u);
        if (byReset) {
            restart();
            EXPECT_TRUE(services_->resetAll());
        } else {
            services_->lock.tunnelEnded();
        }
        EXPECT_TRUE(net_.did("del 198.51.100.9 via 10.0.0.1"));
        EXPECT_TRUE(net_.hosts.empty());
        EXPECT_FALSE(services_->context.state.tunnelRoute);
    }
}

}  // namespace
}  // namespace hw::helper
