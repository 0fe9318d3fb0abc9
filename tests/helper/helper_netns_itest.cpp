// The helper as root in a network namespace, driven over its real socket.
#include <grp.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fake_system.h"
#include "helper/helper_files.h"
#include "netns_testbed.h"
#include "platform/helper_connection.h"
#include "running_helper.h"

namespace hw::helper {
namespace {

constexpr uid_t kInstalledUid = 12345;

class HelperInNetns : public ::testing::Test {
protected:
    void SetUp() override {
        auto why = bed_.setUp();
        if (!why.empty()) GTEST_SKIP() << why;
        std::ofstream(dir_ / "helper.conf") << "uid=" << kInstalledUid << "\n";
        std::ofstream(dir_ / "resolv.conf") << "nameserver 10.77.0.1\nsearch lan\n";
        ASSERT_TRUE(helper_.start());
    }
    void TearDown() override {
        if (helper_.pid() > 0) {
            EXPECT_EQ(helper_.stop(), 0);
        }
    }

    std::string rpc(const std::string& name, HelperDictionary parameters = {}) {
        return helper_.rpc(name, std::move(parameters));
    }
    std::string routes() {
        std::string out;
        bed_.in(bed_.client, {"ip", "route", "show"}, &out);
        return out;
    }

    test::NetnsTestbed bed_;
    test::ScratchDir dir_;
    // No ip or nft to start: routes, the lock, DNS, IPv6 and --reset all
    // go straight to the kernel.
    test::RunningHelper helper_{bed_.client, dir_.path(), {"PATH=" + (dir_ / "no-tools")}};
};

TEST_F(HelperInNetns, KillSwitchLetsOnlyLoopbackAndTheServerThroughAndOutlivesTheHelper) {
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "10.77.0.1");
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));

    EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "203.0.113.20"}}), "10.77.0.1");
    EXPECT_EQ(bed_.defaultRoute(), "");
    EXPECT_FALSE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    // Even when a DHCP client puts a default route back, the table holds.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.77.0.1"}));
    auto before = bed_.droppedOut();
    EXPECT_FALSE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_FALSE(bed_.udpGetsThrough("10.77.0.1", bed_.net));  // not even the gateway itself
    // Not even the resolver: only the helper's own (marked) lookups go there.
    EXPECT_FALSE(bed_.udpGetsThrough("203.0.113.20", bed_.net, 53));
    EXPECT_TRUE(bed_.markedUdpGetsThrough("203.0.113.20", bed_.net, 53));
    // At least: the kernel's own IPv6 listener reports, sent for a while
    // after the link comes up, fall on the same counter.
    EXPECT_GE(bed_.droppedOut(), before + 2);
    EXPECT_TRUE(bed_.udpGetsThrough("127.0.0.1", bed_.client));

    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}, {"defaultGateway", "10.77.0.1"}}),
              "198.51.100.10");
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net));
    EXPECT_FALSE(bed_.markedUdpGetsThrough("203.0.113.20", bed_.net));

    // The helper dies and comes back: the lock holds meanwhile and after.
    EXPECT_EQ(helper_.stop(), 0);
    ASSERT_TRUE(helper_.start());
    EXPECT_FALSE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net));

    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "10.77.0.1"}}), "YES");
    EXPECT_EQ(bed_.defaultRoute(), "default via 10.77.0.1 dev veth0 \n");
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_EQ(bed_.droppedOut(), -1);  // our table is gone
    EXPECT_EQ(routes().find("198.51.100.10"), std::string::npos);  // no tunnel needs the server's route
}

// Whatever hint the app sends, the release brings back the saved way out,
// and it answers.
TEST_F(HelperInNetns, ReleaseWithAnyHintBringsBackTheSavedRouteThatAnswers) {
    for (const std::string hint : {"10.77.0.77" /* on the link, no host */, "10.77.0.2" /* our own */, "127.0.0.1", "::",
                                   "", "abc", "0.0.0.0", "10.99.0.1" /* stale: on no link */}) {
        SCOPED_TRACE(hint);
        EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
        EXPECT_EQ(bed_.defaultRoute(), "");
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", hint}}), "YES");
        EXPECT_EQ(bed_.defaultRoute(), "default via 10.77.0.1 dev veth0 \n");
        EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    }
}

// A gateway on loopback or on this machine leads nowhere: neither the app's
// hint, a route put in front of the real one, nor a record an older helper
// saved takes the real gateway's place, after a release or a --reset.
TEST_F(HelperInNetns, LoopbackGatewaysNeverTakeThePlaceOfTheRealOne) {
    const std::string real = "default via 10.77.0.1 dev veth0 \n";
    for (const char* gateway : {"127.0.0.1", "10.77.0.2", "0.0.0.0", "224.0.0.1"})
        EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", gateway}}), "NO") << gateway;
    EXPECT_EQ(bed_.defaultRoute(), real);

    // A loopback route in front of the real one is not the way out.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "replace", "default", "via", "10.77.0.1", "metric", "100"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "del", "default", "via", "10.77.0.1", "metric", "0"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "127.0.0.1", "dev", "lo"}));
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "10.77.0.1");
    EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "127.0.0.1"}}), "YES");
    EXPECT_EQ(bed_.defaultRoute(), "default via 10.77.0.1 dev veth0 metric 100 \n") << "as the lock found it";
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));

    // A record that names loopback as the way out, as an older helper wrote
    // it; the user's network put the real route back meanwhile.
    EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    helper_.kill();
    const std::string records = dir_ / "run/state/helper-state.json";
    auto text = readFile(records);
    ASSERT_TRUE(text);
    auto older = nlohmann::json::parse(*text);
    ASSERT_EQ(older["lock"]["gateway"], "10.77.0.1");
    older["lock"]["gateway"] = "127.0.0.1";
    older["lock"]["device"] = "lo";
    older["lock"].erase("taken");
    std::ofstream(records) << older.dump();
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.77.0.1"}));
    ASSERT_EQ(helper_.runOnce({"--reset"}), 0);
    EXPECT_EQ(bed_.defaultRoute(), real);
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_EQ(readFile(records).value_or("").find("127.0.0.1"), std::string::npos);
}

// The saved gateway is gone for now: the release cannot bring back a way
// out that answers, keeps its record, and --reset restores the route later.
TEST_F(HelperInNetns, ResetRestoresTheRouteAReleaseCouldNotBringBack) {
    EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    ASSERT_TRUE(bed_.in(bed_.net, {"ip", "addr", "del", "10.77.0.1/24", "dev", "veth1"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "neigh", "flush", "dev", "veth0"}));
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "10.77.0.1"}}), "NO");
    EXPECT_EQ(bed_.droppedOut(), -1);  // never blocking for nothing
    ASSERT_TRUE(bed_.in(bed_.net, {"ip", "addr", "add", "10.77.0.1/24", "dev", "veth1"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "del", "default"}));
    helper_.kill();
    ASSERT_EQ(helper_.runOnce({"--reset"}), 0);
    EXPECT_EQ(bed_.defaultRoute(), "default via 10.77.0.1 dev veth0 \n");
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
}

TEST_F(HelperInNetns, StaticIpv6AddressAndDefaultRouteSurviveASession) {
    ASSERT_TRUE(bed_.in(bed_.net, {"ip", "-6", "addr", "add", "2001:db8:77::1/64", "dev", "veth1", "nodad"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "-6", "addr", "add", "2001:db8:77::2/64", "dev", "veth0"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "-6", "route", "add", "default", "via", "2001:db8:77::1", "dev", "veth0"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "-6", "route", "add", "default", "dev", "veth0", "metric", "2048"}));
    // Addresses without their lifetimes, and every route, in order.
    auto snapshot = [&] {
        std::string addresses, routes, out;
        bed_.in(bed_.client, {"ip", "-6", "-o", "addr", "show", "dev", "veth0"}, &addresses);
        std::istringstream lines(addresses);
        for (std::string line; std::getline(lines, line);) {
            auto from = line.find("inet6"), to = line.find('\\');
            out += line.substr(from, to == std::string::npos ? std::string::npos : to - from) + "\n";
        }
        bed_.in(bed_.client, {"ip", "-6", "route", "show"}, &routes);
        return out + routes;
    };
    // An address added back goes through duplicate address detection again.
    auto settled = [&] {
        std::string now = snapshot();
        for (int i = 0; i < 100 && now.find("tentative") != std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            now = snapshot();
        }
        return now;
    };
    const std::string before = settled();
    ASSERT_TRUE(bed_.udpGetsThrough("2001:db8:77::1", bed_.net));
    ASSERT_NE(before.find("2001:db8:77::2/64"), std::string::npos);
    ASSERT_NE(before.find("default via 2001:db8:77::1"), std::string::npos);

    for (const std::string way : {"reEnableIPV6", "--reset"}) {
        SCOPED_TRACE(way);
        EXPECT_EQ(rpc("disableIPV6"), "YES");
        EXPECT_EQ(snapshot().find("2001:db8:77::2"), std::string::npos);  // the kernel flushed it
        if (way == "--reset") {
            helper_.kill();
            ASSERT_EQ(helper_.runOnce({"--reset"}), 0);
        } else {
            EXPECT_EQ(rpc(way), "YES");
        }
        EXPECT_EQ(settled(), before);
        EXPECT_TRUE(bed_.udpGetsThrough("2001:db8:77::1", bed_.net));
    }
}

TEST_F(HelperInNetns, InjectionAttemptsChangeNothing) {
    auto snapshot = [&] {
        std::string routes, rules;
        bed_.in(bed_.client, {"ip", "route", "show", "table", "all"}, &routes);
        bed_.in(bed_.client, {"nft", "list", "ruleset"}, &rules);
        return routes + "\n--\n" + rules;
    };
    auto before = snapshot();
    for (const std::string& bad : std::vector<std::string>{"10.77.0.1; ip route flush all", "$(ip link del veth0)", "10.77.0.1\nflush ruleset",
                                  "`reboot`", "10.77.0.1 dev lo", "0.0.0.0/0", std::string(4096, '9')}) {
        // A release passes over a hint it cannot use, and there is no lock to release.
        EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", bad}}), "YES");
        EXPECT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", bad}}), "NO");
        EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", bad}, {"defaultGateway", "10.77.0.1"}}), "NO");
        EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", bad}}), "NO");
    }
    EXPECT_EQ(rpc("no;such;command"), "NO");
    EXPECT_EQ(snapshot(), before);
}

// A child that connects as another user and reports whether it got an answer.
int askAs(uid_t uid, const std::string& socketPath) {
    pid_t child = ::fork();
    if (child == 0) {
        // A stranger holds none of our groups (sudo leaves root's group on us).
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(10);
        int s = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, socketPath.c_str(), socketPath.size());
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) ::_exit(errno == EACCES ? 3 : 4);
        auto [mine, theirs] = makeHelperSocketPair();
        if (!sendHelperMessage(s, test::rpcMessage("retrieveDefaultGateway", {}), theirs.get(), 1000, nullptr)) ::_exit(2);
        theirs.reset();
        ::_exit(receiveHelperMessage(mine.get(), 3000, nullptr) ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HelperInNetns, OnlyRootAndTheInstalledUserAreServed) {
    auto socket = dir_ / "helper.sock";
    struct stat st{};
    ASSERT_EQ(::stat(socket.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_uid, kInstalledUid);
    ::chmod(dir_.path().c_str(), 0755);
    EXPECT_EQ(askAs(23456, socket), 3);  // the file's mode stops a stranger
    // With the file opened up, the peer check still refuses the stranger
    // and serves the installed-for user.
    ::chmod(socket.c_str(), 0666);
    EXPECT_EQ(askAs(23456, socket), 2);
    EXPECT_EQ(askAs(kInstalledUid, socket), 0);
}

TEST_F(HelperInNetns, ResetUndoesEverythingAfterACrash) {
    auto original = readFile(dir_ / "resolv.conf");
    EXPECT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}, {"defaultGateway", "10.77.0.1"}}),
              "198.51.100.10");
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    helper_.kill();
    ASSERT_EQ(helper_.runOnce({"--reset"}), 0);
    EXPECT_EQ(bed_.defaultRoute(), "default via 10.77.0.1 dev veth0 \n");
    EXPECT_EQ(bed_.droppedOut(), -1);
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_EQ(routes().find("198.51.100.10"), std::string::npos);
    EXPECT_EQ(readFile(dir_ / "resolv.conf"), original);
    std::string ipv6Off;
    bed_.in(bed_.client, {"cat", "/proc/sys/net/ipv6/conf/veth0/disable_ipv6"}, &ipv6Off);
    EXPECT_EQ(ipv6Off, "0\n");
}

TEST_F(HelperInNetns, ResetBesideARunningHelperNeverCostsTheUsersDns) {
    const auto original = readFile(dir_ / "resolv.conf");
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    helper_.kill();
    ASSERT_TRUE(helper_.start());
    ASSERT_EQ(helper_.runOnce({"--reset"}), 0);
    EXPECT_EQ(readFile(dir_ / "resolv.conf"), original);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "state/resolv.conf.saved"));

    // The running helper must not believe in a backup the reset removed.
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_NE(readFile(dir_ / "resolv.conf"), original);
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 0}, {"skipFallback", 0}}), "YES");
    EXPECT_EQ(readFile(dir_ / "resolv.conf"), original);

    // A backup that is gone can no longer be put back: that is no success.
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    std::filesystem::remove(dir_ / "state/resolv.conf.saved");
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 0}, {"skipFallback", 0}}), "NO");
    EXPECT_EQ(helper_.runOnce({"--reset"}), 1);
}

// The Wi-Fi (veth0) goes and the wire (veth2) comes with DHCP's default
// route while the lock holds: the wire becomes the way out of the next try
// and of the release, on the kernel itself.
TEST_F(HelperInNetns, UnderTheLockTheWayOutFollowsANewLinkAndTheReleasePutsItBack) {
    ASSERT_TRUE(bed_.rig.link(bed_.client, "veth2", "10.78.0.2/24", bed_.net, "veth3", "10.78.0.1/24"));
    ASSERT_EQ(rpc("enableNetworkLock"), "10.77.0.1");
    ASSERT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}}), "198.51.100.10");
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth0", "down"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.78.0.1"}));
    // The helper sees it within its settle time; bounded at many times that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (routes().find("198.51.100.10 via 10.78.0.1") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rpc("retrieveDefaultGateway"), "10.78.0.1");
    EXPECT_EQ(bed_.defaultRoute(), "") << "the lock still holds";
    EXPECT_NE(routes().find("198.51.100.10 via 10.78.0.1"), std::string::npos) << routes();
    // The app names the Wi-Fi's gateway still: the try goes by the wire.
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}, {"defaultGateway", "10.77.0.1"}}),
              "198.51.100.10");
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net));
    EXPECT_FALSE(bed_.udpGetsThrough("203.0.113.20", bed_.net));

    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "10.77.0.1"}}), "YES");
    EXPECT_NE(bed_.defaultRoute().find("via 10.78.0.1"), std::string::npos) << bed_.defaultRoute();
    EXPECT_TRUE(bed_.udpGetsThrough("203.0.113.20", bed_.net));
    EXPECT_EQ(routes().find("198.51.100.10"), std::string::npos) << routes();
}

// A docked laptop: wire and Wi-Fi both with their default routes, the
// server also the lock's resolver, moves under the lock, a link that comes
// up mid-session. Disconnect hands back both routes with their metrics, no
// host route and IPv6 everywhere; and a ppp-named uplink is a way out,
// with its gateway or without one.
TEST_F(HelperInNetns, TheLockHandsBackTheNetworkAsItFoundIt) {
    ASSERT_TRUE(bed_.rig.link(bed_.client, "veth2", "10.78.0.2/24", bed_.net, "veth3", "10.78.0.1/24"));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "replace", "default", "via", "10.77.0.1", "metric", "100"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "del", "default", "via", "10.77.0.1", "metric", "0"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.78.0.1", "metric", "600"}));
    const std::string both = "default via 10.77.0.1 dev veth0 metric 100 \ndefault via 10.78.0.1 dev veth2 metric 600 \n";
    ASSERT_EQ(bed_.defaultRoute(), both);
    auto waitFor = [&](const std::string& route) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (routes().find(route) == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return routes().find(route) != std::string::npos;
    };
    auto ipv6Off = [&](const std::string& link) {
        std::string v;
        bed_.in(bed_.client, {"cat", "/proc/sys/net/ipv6/conf/" + link + "/disable_ipv6"}, &v);
        return v;
    };

    EXPECT_EQ(rpc("disableIPV6"), "YES");
    ASSERT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "198.51.100.10"}}), "10.77.0.1");
    ASSERT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}}), "198.51.100.10");
    EXPECT_EQ(bed_.defaultRoute(), "");
    ASSERT_TRUE(bed_.rig.link(bed_.client, "veth4", "10.79.0.2/24", bed_.net, "veth5", "10.79.0.1/24"));
    EXPECT_EQ(ipv6Off("veth4"), "1\n");
    // The wire goes; the Wi-Fi's DHCP puts its route back; the wire returns.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth0", "down"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.78.0.1", "metric", "600"}));
    ASSERT_TRUE(waitFor("198.51.100.10 via 10.78.0.1")) << routes();
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth0", "up"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "add", "default", "via", "10.77.0.1", "metric", "100"}));
    ASSERT_TRUE(waitFor("198.51.100.10 via 10.77.0.1")) << routes();
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net, 53));

    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "10.78.0.1"}}), "YES");
    EXPECT_EQ(rpc("reEnableIPV6"), "YES");
    EXPECT_EQ(bed_.defaultRoute(), both);
    EXPECT_EQ(routes().find("198.51.100.10"), std::string::npos) << routes();
    for (const char* link : {"veth0", "veth2", "veth4", "default"}) EXPECT_EQ(ipv6Off(link), "0\n") << link;

    // A modem's link (ppp9 by name) as the only way out.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth2", "down"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth2", "name", "ppp9"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "ppp9", "up"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "link", "set", "veth0", "down"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "replace", "default", "via", "10.78.0.1", "dev", "ppp9"}));
    ASSERT_EQ(rpc("enableNetworkLock"), "10.78.0.1");
    ASSERT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}}), "198.51.100.10");
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net));
    EXPECT_FALSE(bed_.udpArrives(bed_.client, bed_.net, "198.51.100.10", 9999, "ppp9"));
    EXPECT_EQ(rpc("disableNetworkLock"), "YES");
    EXPECT_EQ(bed_.defaultRoute(), "default via 10.78.0.1 dev ppp9 \n");

    // The same link as pppd makes it, with no gateway.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "replace", "default", "dev", "ppp9", "metric", "50"}));
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "route", "del", "default", "via", "10.78.0.1"}));
    const std::string onLink = "default dev ppp9 scope link metric 50 \n";
    ASSERT_EQ(bed_.defaultRoute(), onLink);
    EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "203.0.113.20"}}), "NO") << "no gateway to name";
    EXPECT_EQ(bed_.defaultRoute(), "");
    EXPECT_NE(bed_.droppedOut(), -1);
    EXPECT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "198.51.100.10"}}), "198.51.100.10");
    EXPECT_NE(routes().find("198.51.100.10 dev ppp9"), std::string::npos) << routes();
    EXPECT_TRUE(bed_.markedUdpGetsThrough("198.51.100.10", bed_.net));
    EXPECT_TRUE(bed_.markedUdpGetsThrough("203.0.113.20", bed_.net, 53));
    EXPECT_FALSE(bed_.udpGetsThrough("198.51.100.10", bed_.net));
    EXPECT_EQ(rpc("disableNetworkLock"), "YES");
    EXPECT_EQ(bed_.defaultRoute(), onLink);
    EXPECT_EQ(routes().find("198.51.100.10"), std::string::npos) << routes();
    EXPECT_EQ(routes().find("203.0.113.20"), std::string::npos) << routes();
}

}  // namespace
}  // namespace hw::helper
