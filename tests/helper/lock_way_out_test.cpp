#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "helper/server_lookups.h"
#include "support/capture_log.h"

namespace hw::helper {
namespace {

class LockWayOut : public test::HelperFixture {
protected:
    std::string hostVia(const std::string& server) {
        for (const auto& h : net_.hosts)
            if (h.destination == server) return h.gateway;
        return "<none>";
    }
    // The Wi-Fi link (eth0) drops with its routes; the wired one comes up
    // with DHCP's default route.
    void moveToWired() {
        net_.unreachable.push_back("192.168.1.1");
        net_.hosts.clear();
        net_.defaults = {{"10.0.0.1", "eth1", 100}};
    }
    void routesChanged() {
        services_->lock.followWayOut();
        services_->lock.keepServerRoutes();
        services_->lock.dropRoutesNoTunnelNeeds();
    }
    std::shared_ptr<hw::test::CaptureLog> log_ = hw::test::CaptureLog::install();
};

const HelperDictionary kServerViaWiFi{{"vpnServerAddress", "203.0.113.5"}, {"defaultGateway", "192.168.1.1"}};

// The release by Disconnect is walked on the kernel itself (the namespace
// tests); here the one a later --reset makes.
TEST_F(LockWayOut, ANewNetworkUnderTheLockBecomesTheWayOutOfTriesAndOfTheReset) {
    ASSERT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "8.8.4.4"}}), "192.168.1.1");
    ASSERT_EQ(rpc("staticRouteAddingProcessing", kServerViaWiFi), "203.0.113.5");
    moveToWired();
    routesChanged();
    EXPECT_TRUE(net_.defaults.empty()) << "the lock still holds it";
    EXPECT_EQ(hostVia("203.0.113.5"), "10.0.0.1");
    EXPECT_EQ(hostVia("8.8.4.4"), "10.0.0.1");
    // The app still names the Wi-Fi's gateway: the try goes by the wire.
    net_.hosts.clear();
    EXPECT_EQ(rpc("staticRouteAddingProcessing", kServerViaWiFi), "203.0.113.5");
    EXPECT_EQ(hostVia("203.0.113.5"), "10.0.0.1");
    // A reconnect's engage tells the app the new way out.
    EXPECT_EQ(rpc("enableNetworkLock"), "10.0.0.1");
    restart();
    EXPECT_TRUE(services_->resetAll());
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].gateway, "10.0.0.1");
    EXPECT_EQ(net_.defaults[0].device, "eth1");
    EXPECT_EQ(hostVia("203.0.113.5"), "<none>");
}

TEST_F(LockWayOut, ATunnelsOwnDefaultRouteStaysWhenANewNetworkComesUnderIt) {
    services_->lock.addTunnelCheck([] { return true; });
    services_->lock.addTunnelDevices([] { return std::vector<std::string>{"tun0"}; });
    rpc("enableNetworkLock");
    rpc("staticRouteAddingProcessing", kServerViaWiFi);
    ASSERT_EQ(rpc("addDefaultGatewayForOpenVPN", {{"gatewayAddress", "10.8.0.1"}}), "YES");
    net_.defaults = {{"10.8.0.1", "tun0", 0}};
    moveToWired();
    net_.defaults.push_back({"10.8.0.1", "tun0", 0});
    routesChanged();
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].device, "tun0");
    EXPECT_EQ(hostVia("203.0.113.5"), "10.0.0.1");
    EXPECT_EQ(services_->context.state.lock.gateway, "10.0.0.1");
}

// A release while openvpn exits keeps the host route its tunnel needed;
// openvpn's end takes it, but not a route a later try added meanwhile.
// Each resolver's host route goes, the first of several too.
TEST_F(LockWayOut, EveryResolversHostRouteGoesWithTheLock) {
    ASSERT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "8.8.8.8"}, {"dnsResolverSecondary", "8.8.4.4"}}), "192.168.1.1");
    ASSERT_EQ(hostVia("8.8.8.8"), "192.168.1.1");
    ASSERT_EQ(hostVia("8.8.4.4"), "192.168.1.1");
    EXPECT_EQ(rpc("disableNetworkLock"), "YES");
    EXPECT_EQ(hostVia("8.8.8.8"), "<none>");
    EXPECT_EQ(hostVia("8.8.4.4"), "<none>");
}

TEST_F(LockWayOut, HostRoutesKeptForAnExitingTunnelGoOnceItIsGone) {
    bool running = true;
    services_->lock.addTunnelCheck([&] { return running; });
    services_->lock.setRecheck([this] { routesChanged(); });
    for (bool laterTry : {false, true}) {
        SCOPED_TRACE(laterTry ? "a later try's route" : "the cancelled try's route");
        running = true;
        net_.ops.clear();
        rpc("enableNetworkLock");
        rpc("staticRouteAddingProcessing", kServerViaWiFi);
        EXPECT_EQ(rpc("disableNetworkLock"), "YES");
        EXPECT_EQ(hostVia("203.0.113.5"), "192.168.1.1");
        if (laterTry) rpc("staticRouteAddingProcessing", kServerViaWiFi);
        routesChanged();  // the release's own route changes, openvpn still there
        EXPECT_EQ(hostVia("203.0.113.5"), "192.168.1.1");
        running = false;
        services_->lock.tunnelProcessGone();
        EXPECT_EQ(net_.did("del 203.0.113.5 via 192.168.1.1"), !laterTry);
        EXPECT_EQ(services_->context.state.routes.empty(), !laterTry);
        services_->lock.reset();
    }
}

TEST_F(LockWayOut, TheLocksServersStayAHandfulAndTheirRecordIsWrittenOnlyWhenItChanges) {
    // The first server is also the lock's resolver, as where one host serves both.
    rpc("enableNetworkLock", {{"dnsResolver", "203.0.113.1"}});
    for (int i = 1; i <= 40; ++i)
        ASSERT_EQ(rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113." + std::to_string(i)}}),
                  "203.0.113." + std::to_string(i));
    const auto& servers = services_->context.state.servers;
    ASSERT_EQ(servers.size(), 6u);
    EXPECT_EQ(servers.front(), "203.0.113.35");
    EXPECT_EQ(services_->context.state.routes.size(), 6u);
    EXPECT_EQ(hostVia("203.0.113.34"), "<none>") << "the oldest's host route goes with it";
    EXPECT_EQ(hostVia("203.0.113.1"), "192.168.1.1") << "the resolver at a dropped server's address is still reached";
    EXPECT_EQ(net_.lastRuleset.find("203.0.113.34"), std::string::npos) << "the table made anew leaves it out";

    struct stat before {}, after {};
    ASSERT_EQ(::stat(paths_.recordsFile().c_str(), &before), 0);
    EXPECT_LT(before.st_size, 2000);
    for (int i = 0; i < 5; ++i) rpc("staticRouteAddingProcessing", {{"vpnServerAddress", "203.0.113.40"}});
    ASSERT_EQ(::stat(paths_.recordsFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the same route again rewrote the records";
}

// A modem's PPP link is a way out like any other; what the lock lets out
// beside marked traffic is the tunnel the helper made, by its device.
TEST_F(LockWayOut, AModemIsAWayOutAndOnlyTheSessionsTunnelIsLetOut) {
    net_.defaults = {{"10.64.64.64", "ppp0", 0}};
    EXPECT_EQ(rpc("enableNetworkLock"), "10.64.64.64");
    EXPECT_TRUE(net_.defaults.empty());
    EXPECT_EQ(net_.lastRuleset.find("ppp"), std::string::npos);
    bool up = false;
    services_->lock.addTunnelCheck([&] { return up; });
    services_->lock.addTunnelDevices([&] { return up ? std::vector<std::string>{"tun3", "bad\"name"} : std::vector<std::string>{}; });
    up = true;
    services_->lock.tunnelsChanged();
    EXPECT_EQ(net_.lastRuleset, "flush set inet havenway tunnels\nadd element inet havenway tunnels { \"tun3\" }\n");
    // The tunnel's default route stays; the modem's, back meanwhile, goes.
    net_.defaults = {{"10.64.64.64", "ppp0", 0}, {"10.8.0.1", "tun3", 1}};
    routesChanged();
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].device, "tun3");
    EXPECT_EQ(services_->context.state.lock.gateway, "10.64.64.64");
    up = false;
    net_.defaults.clear();
    EXPECT_EQ(rpc("disableNetworkLock"), "YES");
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].device, "ppp0");
}

// A modem's link without a gateway: the way out all the same, its host
// routes go out of the link and go once, and it comes back with its metric,
// also after a restart. A PPP tunnel's own such route stays meanwhile.
TEST_F(LockWayOut, ALinkWithoutAGatewayIsAWayOutAndComesBackAsItWas) {
    net_.defaults = {{"", "ppp0", 50}};
    EXPECT_EQ(rpc("enableNetworkLock", {{"dnsResolver", "8.8.4.4"}}), "NO") << "no gateway to name";
    EXPECT_TRUE(services_->lock.active());
    EXPECT_TRUE(net_.defaults.empty());
    EXPECT_TRUE(net_.did("replace 8.8.4.4 dev ppp0"));
    EXPECT_EQ(rpc("staticRouteAddingProcessing", kServerViaWiFi), "203.0.113.5");
    EXPECT_TRUE(net_.did("replace 203.0.113.5 dev ppp0")) << "the helper's way out before the app's stale gateway";
    services_->lock.addTunnelDevices([] { return std::vector<std::string>{"ppp1"}; });
    net_.defaults = {{"", "ppp1", 0}};
    routesChanged();
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(services_->context.state.lock.device, "ppp0");

    restart();
    net_.defaults.clear();
    net_.ops.clear();
    EXPECT_EQ(rpc("disableNetworkLock", {{"gatewayAddress", "192.168.1.1"}}), "YES");
    ASSERT_EQ(net_.defaults.size(), 1u);
    EXPECT_EQ(net_.defaults[0].gateway, "");
    EXPECT_EQ(net_.defaults[0].device, "ppp0");
    EXPECT_EQ(net_.defaults[0].metric, 50u);
    EXPECT_EQ(std::count(net_.ops.begin(), net_.ops.end(), "del 203.0.113.5 dev ppp0"), 1);
    EXPECT_EQ(std::count(net_.ops.begin(), net_.ops.end(), "del 8.8.4.4 dev ppp0"), 1);
    EXPECT_TRUE(net_.hosts.empty());
}

TEST_F(LockWayOut, LookupsAreTheLocksOnlyAndAnsweredOffTheCommandThread) {
    EXPECT_EQ(rpc("resolveVPNServerHost", {{"vpnServerHost", "203.0.113.9"}}), "NO") << "without the lock";
    rpc("enableNetworkLock");
    EXPECT_EQ(rpc("resolveVPNServerHost", {{"vpnServerHost", "203.0.113.9"}}), "203.0.113.9");
}

// A lookup that ends only when the test says so.
struct HeldLookup {
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    std::vector<std::chrono::milliseconds> shares;
    std::optional<std::string> operator()(const std::string& host, const std::vector<std::string>&,
                                          std::chrono::milliseconds share) {
        std::unique_lock lock(mutex);
        shares.push_back(share);
        cv.wait(lock, [&] { return release; });
        return host;
    }
    void let() {
        std::lock_guard lock(mutex);
        release = true;
        cv.notify_all();
    }
};

TEST(ServerLookups, OneAtATimeAFewAMinuteEachWithinItsBound) {
    HeldLookup held;
    auto now = std::chrono::steady_clock::time_point{};
    ServerLookups lookups([&](auto& h, auto& r, auto s) { return held(h, r, s); }, [&] { return now; });
    std::mutex doneMutex;
    std::condition_variable doneCv;
    int done = 0;
    auto count = [&](std::optional<std::string>) {
        std::lock_guard lock(doneMutex);
        ++done;
        doneCv.notify_all();
    };
    auto waitFor = [&](int n) {
        std::unique_lock lock(doneMutex);
        return doneCv.wait_for(lock, std::chrono::seconds(10), [&] { return done >= n; });
    };
    ASSERT_EQ(lookups.refusal(), "");
    lookups.start("a.example", {"1.1.1.1", "8.8.8.8", "9.9.9.9"}, count);
    EXPECT_EQ(lookups.refusal(), "another lookup is under way");
    held.let();
    ASSERT_TRUE(waitFor(1));
    for (int i = 1; i < static_cast<int>(ServerLookups::kPerMinute); ++i) {
        ASSERT_EQ(lookups.refusal(), "") << i;
        lookups.start("b.example", {"1.1.1.1"}, count);
        ASSERT_TRUE(waitFor(i + 1));
    }
    EXPECT_EQ(lookups.refusal(), "too many lookups this minute");
    now += std::chrono::seconds(60);
    EXPECT_EQ(lookups.refusal(), "");
    // Three resolvers share the whole bound; one has at most its own.
    EXPECT_EQ(held.shares.front(), ServerLookups::kWhole / 3);
    EXPECT_EQ(held.shares.back(), std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace hw::helper
