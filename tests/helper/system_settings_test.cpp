#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fake_system.h"
#include "helper/helper_files.h"

namespace hw::helper {
namespace {

class SystemSettings : public test::HelperFixture {
protected:
    void write(const std::string& path, const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << content;
    }
    std::string read(const std::string& path) { return readFile(path).value_or("<missing>"); }
    std::string sysctl(const std::string& iface) { return dir_ / ("sys/net/ipv6/conf/" + iface + "/disable_ipv6"); }
};

TEST_F(SystemSettings, DnsIsSavedOnceAndRestoredByteForByte) {
    const std::string original = "# by DHCP\nnameserver 192.168.1.1\nsearch lan\n\xff odd bytes\n";
    auto path = dir_ / "resolv.conf";
    write(path, original);
    ::chmod(path.c_str(), 0640);
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(read(path), "# Written by havenway-helper for the VPN; restored when it ends.\nnameserver 8.8.4.4\nnameserver 8.8.8.8\n");
    // Installing again must not take our own file for the original.
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");
    EXPECT_EQ(read(path), original);
    EXPECT_EQ(dir_.mode(path), 0640u);
    // Restoring twice changes nothing more.
    write(path, "changed by the user\n");
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
    EXPECT_EQ(read(path), "changed by the user\n");
}

// The backup staged while openvpn starts stands only for the file it copied:
// a file changed since, or a backup a reset removed, is backed up afresh.
TEST_F(SystemSettings, AStagedDnsBackupStandsOnlyForTheFileItCopied) {
    auto path = dir_ / "resolv.conf";
    write(path, "nameserver 192.168.1.1\n");
    services_->dns.stageBackup();
    EXPECT_EQ(read(services_->dns.backupFile()), "nameserver 192.168.1.1\n");
    write(path, "nameserver 192.168.7.7\n");  // DHCP, meanwhile
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");
    EXPECT_EQ(read(path), "nameserver 192.168.7.7\n");

    services_->dns.stageBackup();
    std::filesystem::remove(services_->dns.backupFile());
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");
    EXPECT_EQ(read(path), "nameserver 192.168.7.7\n");
}

// openvpn can report connected before its up event reaches us: the servers
// it pushed then replace the fallback already written, and only while ours.
TEST_F(SystemSettings, ATunnelsServersArrivingAfterTheInstallReplaceTheFallback) {
    auto path = dir_ / "resolv.conf";
    write(path, "nameserver 192.168.1.1\n");
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_NE(read(path).find("nameserver 8.8.8.8\n"), std::string::npos);
    services_->dns.setTunnelServers({"10.67.0.1"}, "tun0");
    EXPECT_EQ(read(path), "# Written by havenway-helper for the VPN; restored when it ends.\nnameserver 10.67.0.1\n");
    services_->dns.setTunnelServers({}, "");  // the tunnel's down event
    EXPECT_NE(read(path).find("nameserver 10.67.0.1\n"), std::string::npos);
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
    services_->dns.setTunnelServers({"10.67.0.9"}, "tun0");
    EXPECT_EQ(read(path), "nameserver 192.168.1.1\n");
}

// A helper that started after openvpn's up event (killed and restarted
// mid-connect) does not know what the server pushed: an OpenVPN install is
// refused then, rather than passing other servers off as the tunnel's.
TEST_F(SystemSettings, AnOpenVPNInstallTakesOnlyTheServersAnUpEventNamed) {
    auto path = dir_ / "resolv.conf";
    write(path, "nameserver 192.168.1.1\n");
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "NO");
    EXPECT_EQ(read(path), "nameserver 192.168.1.1\n");
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 2}}), "NO");
    services_->dns.setTunnelServers({"10.67.0.1"}, "tun0");
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "YES");
    EXPECT_EQ(read(path), "# Written by havenway-helper for the VPN; restored when it ends.\nnameserver 10.67.0.1\n");
    services_->dns.setTunnelServers({}, "");  // the down event
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "NO");
    // What the app saw the server push stands in for the lost event.
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}, {"pushedServers", "10.67.0.1,bad"}}), "NO");
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}, {"pushedServers", "10.67.0.9"}}), "YES");
    EXPECT_EQ(read(path), "# Written by havenway-helper for the VPN; restored when it ends.\nnameserver 10.67.0.9\n");
    services_->dns.setTunnelServers({}, "tun1");  // an up event naming no servers
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
    EXPECT_EQ(read(path), "nameserver 192.168.1.1\n");
}

TEST_F(SystemSettings, AResetByAnotherRunIsWhatTheNextCommandSees) {
    auto path = dir_ / "resolv.conf";
    write(path, "nameserver 192.168.1.1\n");
    auto command = [&](const std::string& name) {
        auto held = services_->context.holdState();
        return rpc(name, {{"forOpenVPN", 0}, {"skipFallback", 0}});
    };
    EXPECT_EQ(command("install_DNS_for_VPN"), "YES");
    {
        HelperServices reset(runner_, net_, test::scratchPaths(dir_));
        auto held = reset.context.holdState();
        EXPECT_TRUE(reset.resetAll());
    }
    EXPECT_EQ(read(path), "nameserver 192.168.1.1\n");
    EXPECT_EQ(read(dir_ / "state/helper-state.json"), "<missing>");
    EXPECT_EQ(command("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(command("restore_DNS_to_original"), "YES");
    EXPECT_EQ(read(path), "nameserver 192.168.1.1\n");
}

// The daemon reads the files again only when the folders' watch says another
// run changed them; it must not miss a change, even after the folders were
// removed and made anew.
TEST_F(SystemSettings, EveryChangeByAnotherRunIsSeenByTheNextHold) {
    HelperServices other(runner_, net_, test::scratchPaths(dir_));
    auto& mine = services_->context;
    auto lockedBy = [](HelperServices& s, bool active) {
        auto held = s.context.holdState();
        s.context.state.lock.active = active;
        s.context.state.servers = active ? std::vector<std::string>{"198.51.100.7"} : std::vector<std::string>{};
        EXPECT_TRUE(s.context.saveState());
    };
    auto seen = [&] {
        auto held = mine.holdState();
        return mine.state.lock.active && mine.state.servers == std::vector<std::string>{"198.51.100.7"};
    };
    lockedBy(*services_, false);  // both folders exist and are watched from here on
    EXPECT_FALSE(seen());

    lockedBy(other, true);
    EXPECT_TRUE(seen()) << "a file replaced";
    lockedBy(*services_, false);
    EXPECT_FALSE(seen()) << "its own change is kept";
    lockedBy(other, true);
    std::filesystem::remove_all(paths_.recordsDir());
    EXPECT_FALSE(seen()) << "the records folder removed";
    lockedBy(other, true);
    EXPECT_TRUE(seen()) << "the folder made anew, and watched again";
    lockedBy(*services_, false);
    {
        auto held = other.context.holdState();
        other.context.removeStateFiles();
    }
    lockedBy(other, true);
    EXPECT_TRUE(seen());
}

TEST_F(SystemSettings, DnsUsesTheResolversTheAppNamedAndKeepsSymlinks) {
    auto path = dir_ / "resolv.conf";
    write(dir_ / "stub-resolv.conf", "nameserver 127.0.0.53\n");
    ASSERT_EQ(::symlink((dir_ / "stub-resolv.conf").c_str(), path.c_str()), 0);
    rpc("enableNetworkLock", {{"dnsResolver", "9.9.9.9"}});
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_NE(read(path).find("nameserver 9.9.9.9\n"), std::string::npos);
    EXPECT_EQ(read(dir_ / "stub-resolv.conf"), "nameserver 127.0.0.53\n");  // written beside, not through
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_symlink(path, ec));
    EXPECT_EQ(std::filesystem::read_symlink(path, ec), dir_ / "stub-resolv.conf");
}

TEST_F(SystemSettings, DnsGoesThroughResolvedOnTheTunnelLinkWhenItRuns) {
    write(dir_ / "no-resolved/io.systemd.Resolve", "");
    services_->dns.setTunnelServers({"10.8.0.1", "not an address"}, "tun0");
    net_.links.push_back("tun0");
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
    EXPECT_EQ(runner_.argvs(), (std::vector<std::vector<std::string>>{
                                   {"resolvectl", "dns", "tun0", "10.8.0.1"},
                                   {"resolvectl", "domain", "tun0", "~."},
                                   {"resolvectl", "revert", "tun0"}}));
    EXPECT_EQ(read(dir_ / "resolv.conf"), "<missing>");

    // A revert that fails on a link still there is no success; once the
    // link is gone, its settings went with it.
    runner_.responder = [&](const ProcessRequest& r) {
        return hw::test::FakeProcessRunner::exited(r.argv[0] == "resolvectl" && r.argv[1] == "revert" ? 1 : 0);
    };
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(rpc("restore_DNS_to_original"), "NO");
    net_.links.pop_back();
    EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
}

TEST_F(SystemSettings, Ipv6IsSwitchedOffExceptLoopbackAndComesBackExactly) {
    auto sysctls = [&] {
        std::string out;
        for (const char* i : {"lo", "all", "default", "eth0", "wlan0", "tun0"}) out += i + ("=" + read(sysctl(i)).substr(0, 1)) + " ";
        return out;
    };
    for (const char* i : {"lo", "all", "default", "eth0"}) write(sysctl(i), "0\n");
    write(sysctl("wlan0"), "1\n");  // the user had it off already
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    EXPECT_EQ(sysctls(), "lo=0 all=0 default=1 eth0=1 wlan0=1 tun0=< ");
    // Every attempt sends it again; what was saved first stays, and an
    // interface that appeared since is remembered as it was.
    write(sysctl("tun0"), "0\n");
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    EXPECT_EQ(sysctls(), "lo=0 all=0 default=1 eth0=1 wlan0=1 tun0=1 ");
    // A link that comes up meanwhile takes IPv6 off from "default".
    write(sysctl("usb0"), "1\n");
    EXPECT_EQ(rpc("reEnableIPV6"), "YES");
    EXPECT_EQ(sysctls(), "lo=0 all=0 default=0 eth0=0 wlan0=1 tun0=0 ");
    EXPECT_EQ(read(sysctl("usb0")), "0\n");
    EXPECT_FALSE(services_->context.state.ipv6.saved);
    // Re-enabling with nothing saved touches nothing.
    write(sysctl("eth0"), "1\n");
    EXPECT_EQ(rpc("reEnableIPV6"), "YES");
    EXPECT_EQ(read(sysctl("eth0")), "1\n");
}

TEST_F(SystemSettings, Ipv6PutsBackOnlyTheStaticAddressesAndRoutesTheKernelFlushed) {
    write(sysctl("eth0"), "0\n");
    net_.addresses["eth0"] = {{"2001:db8::2/64", true, false, false},
                              {"2001:db8::abcd/64", true, true, false},
                              {"2001:db8::9/64", true, false, true},
                              {"fe80::1/64", false, false, false},
                              {"2001:db8::3 dev lo/64", true, false, false}};
    net_.routes["eth0"] = {{"2001:db8::/64", "", "eth0", 256, "kernel"},
                           {"default", "fe80::1", "eth0", 1024, "ra"},
                           {"default", "2001:db8::1", "eth0", 1024, "boot"},
                           {"default", "", "eth0", 2048, "static"},
                           {"2001:db8:1::/48", "2001:db8::1; reboot", "eth0", std::nullopt, "static"},
                           {"2001:db8:3::/48", "2001:db8::1", "eth0", std::nullopt, "static"}};
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    net_.ops.clear();
    EXPECT_EQ(rpc("reEnableIPV6"), "YES");
    EXPECT_EQ(net_.ops, (std::vector<std::string>{"address 2001:db8::2/64 dev eth0",
                                                  "replace default via 2001:db8::1 dev eth0 metric 1024 proto boot",
                                                  "replace ::/0 dev eth0 metric 2048 proto static",
                                                  "replace 2001:db8:3::/48 via 2001:db8::1 dev eth0 proto static"}));
    EXPECT_TRUE(services_->context.state.ipv6.addresses.empty());
}

TEST_F(SystemSettings, OnlyTheDnsRecordGoesToTheDiskAndOnlyWhenItChanges) {
    write(dir_ / "resolv.conf", "nameserver 192.168.1.1\n");
    write(sysctl("eth0"), "0\n");
    struct stat before{}, after{};
    EXPECT_EQ(rpc("install_DNS_for_VPN"), "YES");
    ASSERT_EQ(::stat((dir_ / "state/helper-state.json").c_str(), &before), 0);
    EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "9.9.9.9"}}), "192.168.1.1");
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    ::stat((dir_ / "state/helper-state.json").c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the lock and IPv6 changed only the records";
    auto records = HelperState::parse(std::nullopt, readFile(dir_ / "run/state/helper-state.json"));
    EXPECT_TRUE(records.lock.active);
    EXPECT_TRUE(records.ipv6.saved);
    EXPECT_FALSE(records.dns.saved);
    ::stat((dir_ / "run/state").c_str(), &after);
    EXPECT_EQ(after.st_mode & 0777, 0700u);
    ::stat((dir_ / "run").c_str(), &after);
    EXPECT_EQ(after.st_mode & 0055, 0055u) << "the run folder, made on the way, still lets the app reach the socket";

    // A run after a crash finds both parts.
    HelperServices next(runner_, net_, test::scratchPaths(dir_));
    EXPECT_TRUE(next.context.state.dns.saved);
    EXPECT_TRUE(next.context.state.lock.active);
}

// A connect asks again once its tunnel is up: the tunnel's interface, born
// with IPv6 off from "default", costs no write of the records.
TEST_F(SystemSettings, ANewInterfaceWithIpv6OffAlreadyCostsNoWriteOfTheRecords) {
    struct stat before{}, after{};
    const std::string records = dir_ / "run/state/helper-state.json";
    write(sysctl("eth0"), "0\n");
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    ASSERT_EQ(::stat(records.c_str(), &before), 0);
    write(sysctl("tun0"), "1\n");
    EXPECT_EQ(rpc("disableIPV6"), "YES");
    ASSERT_EQ(::stat(records.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// The up event installed the servers: the app's request writes nothing,
// unless the file changed meanwhile.
TEST_F(SystemSettings, ServersInPlaceAlreadyAreNotWrittenAgain) {
    struct stat before{}, after{};
    const std::string path = dir_ / "resolv.conf";
    write(path, "nameserver 192.168.1.1\n");
    services_->dns.setTunnelServers({"10.67.0.1"}, "tun0");
    ASSERT_TRUE(services_->dns.install());
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "YES");
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    write(path, "nameserver 192.168.1.1\n");
    EXPECT_EQ(rpc("install_DNS_for_VPN", {{"forOpenVPN", 1}}), "YES");
    EXPECT_NE(read(path).find("nameserver 10.67.0.1\n"), std::string::npos);
}

TEST(HelperStateFile, AnOlderSingleFileStillCountsAndTheRecordsFileWins) {
    HelperState s;
    s.dns.saved = true;
    s.lock = {true, "192.168.1.1", "eth0", {"8.8.4.4"},
              {{"192.168.1.1", "eth0", 100, "dhcp"}, {"10.0.0.1", "wlan0", std::nullopt, ""}, {"", "ppp0", 50, ""}}};
    s.routes = {{"203.0.113.5", "192.168.1.1"}, {"198.51.100.7", "", "ppp0"}};
    s.resolverRoutes = {{"8.8.4.4", "192.168.1.1"}};
    s.ipv6.disableIpv6 = {{"eth0", "0"}};
    s.ipv6.addresses = {{"eth0", "2001:db8::2/64"}};
    s.ipv6.routes = {{"eth0", "default", "2001:db8::1", "1024", "boot"}};
    // The file an older helper wrote held everything in one object.
    auto old = nlohmann::json::parse(s.recordsText());
    old.update(nlohmann::json::parse(s.dnsText()));
    auto back = HelperState::parse(old.dump(), std::nullopt);
    EXPECT_TRUE(back.dns.saved);
    EXPECT_TRUE(back.lock.active);
    EXPECT_EQ(back.lock.dnsResolvers, s.lock.dnsResolvers);
    EXPECT_EQ(back.routes, s.routes);
    EXPECT_EQ(back.lock.taken, s.lock.taken);
    EXPECT_EQ(back.resolverRoutes, s.resolverRoutes);
    EXPECT_EQ(back.ipv6.disableIpv6, s.ipv6.disableIpv6);
    EXPECT_EQ(back.ipv6.addresses, s.ipv6.addresses);
    EXPECT_EQ(back.ipv6.routes, s.ipv6.routes);
    EXPECT_FALSE(HelperState::parse(old.dump(), HelperState{}.recordsText()).lock.active);
    EXPECT_TRUE(HelperState::parse(old.dump(), R"({"lock": {"active": "yes"}})").dns.saved) << "one bad part only";
    EXPECT_FALSE(HelperState::parse(old.dump(), R"({"lock": {"active": "yes"}})").lock.active);
}

// The helper died under a running openvpn and its service started it again:
// the tunnel ends, and the DNS, IPv6 and host route set up for it come back.
// An openvpn whose end the helper saw leaves that to the app's disconnect.
TEST_F(SystemSettings, ARestartedHelperEndsTheTunnelADeadOneLeftAndPutsTheNetworkBack) {
    const std::string original = "nameserver 192.168.1.1\n";
    for (const bool endSeen : {false, true}) {
        SCOPED_TRACE(endSeen ? "its end seen" : "left running");
        write(dir_ / "resolv.conf", original);
        write(sysctl("eth0"), "0\n");
        ASSERT_EQ(rpc("install_DNS_for_VPN"), "YES");
        ASSERT_EQ(rpc("disableIPV6"), "YES");
        services_->lock.setTunnelServerRoute(HelperState::Route{"198.51.100.9", "192.168.1.1"});
        const pid_t openvpn = ::fork();
        if (openvpn == 0) {
            for (;;) ::pause();
        }
        ASSERT_GT(openvpn, 0);
        ASSERT_TRUE(services_->openvpnProcesses.record(openvpn));
        if (endSeen) {
            ::kill(openvpn, SIGKILL);
            ::waitpid(openvpn, nullptr, 0);
            services_->openvpnProcesses.forget(openvpn);
        }
        net_.ops.clear();
        restart();
        if (endSeen) {
            EXPECT_NE(read(dir_ / "resolv.conf"), original);
            EXPECT_EQ(read(sysctl("eth0")), "1\n");
            EXPECT_EQ(rpc("restore_DNS_to_original"), "YES");
            EXPECT_EQ(rpc("reEnableIPV6"), "YES");
            continue;
        }
        const bool running = ::waitpid(openvpn, nullptr, WNOHANG) == 0;
        EXPECT_FALSE(running);
        if (running) ::kill(openvpn, SIGKILL), ::waitpid(openvpn, nullptr, 0);
        EXPECT_EQ(read(dir_ / "resolv.conf"), original);
        EXPECT_EQ(read(sysctl("eth0")), "0\n");
        EXPECT_TRUE(net_.did("del 198.51.100.9 via 192.168.1.1"));
    }
}

}  // namespace
}  // namespace hw::helper
