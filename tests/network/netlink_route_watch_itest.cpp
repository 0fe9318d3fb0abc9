#include "platform/netlink_route_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include <chrono>
#include <thread>

#include "network/internet_reachability_helper.h"
#include "platform/route_watch_resolver.h"
#include "platform/thread_pool.h"
#include "support/fake_wifi.h"
#include "support/child_process.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using namespace std::chrono_literals;
using V = std::vector<std::string>;

// Runs `ip` with an argv array; a hung child is killed after five seconds.
bool ip(std::vector<std::string> args) {
    args.insert(args.begin(), "ip");
    return test::runChild(std::move(args), 5s);
}

// Each test runs in a network namespace of its own: lo, and a veth pair
// with a default route out of v0.
class NetnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
        if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "cannot create a network namespace";
        ASSERT_TRUE(ip({"link", "set", "lo", "up"}));
        ASSERT_TRUE(ip({"link", "add", "v0", "type", "veth", "peer", "name", "v1"}));
        ASSERT_TRUE(ip({"addr", "add", "10.77.0.1/24", "dev", "v0"}));
        ASSERT_TRUE(ip({"link", "set", "v0", "up"}));
        ASSERT_TRUE(ip({"link", "set", "v1", "up"}));
        ASSERT_TRUE(ip({"route", "add", "default", "via", "10.77.0.2", "dev", "v0"}));
    }

    // Drives the main queue until `done`, five seconds at most.
    template <typename Done>
    bool pump(Done done) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            queue.advance(20);
            std::this_thread::sleep_for(2ms);
        }
        queue.runUntilIdle();
        return true;
    }

    test::ManualQueue queue;
};

TEST_F(NetnsTest, ObserversHearLossThenReturnOfCarrierAndRoute) {
    NetlinkRouteWatch routes(queue);
    SystemNameResolver resolver;
    test::FakeWiFi wifi;
    WiFi_InfoHelperObjC info(wifi);
    ThreadPool pool(2);
    InternetReachabilityHelper helper({queue, pool, routes, resolver, info, {}});
    V events;
    helper.addOnInternetReachableObserver([&] { events.push_back("reachable"); });
    helper.addOnInternetNotReachableObserver([&] { events.push_back("unreachable"); });
    helper.addOnConnectedToWiFiNetworkObserver([&] { events.push_back("connected"); });
    auto next = [&](std::size_t count) {
        bool ok = pump([&] { return events.size() >= count; });
        auto got = events;
        events.clear();
        return ok ? got : V{"timed out"};
    };
    const V far{"192.0.2.10"};
    const V back{"reachable", "connected"};

    helper.reach(far[0]);
    EXPECT_EQ(next(2), back);
    EXPECT_TRUE(routes.hasRoute({"127.0.0.1"}));
    EXPECT_FALSE(routes.hasRoute({"2001:db8::1"})) << "no IPv6 route here";
    EXPECT_FALSE(routes.hasRoute({"not-an-address"}));

    ASSERT_TRUE(ip({"link", "set", "v1", "down"}));  // v0 loses its carrier, keeps its routes
    EXPECT_EQ(next(1), V{"unreachable"});
    EXPECT_TRUE(routes.hasRoute({"2001:db8::1", "127.0.0.1"})) << "any usable address will do";
    ASSERT_TRUE(ip({"link", "set", "v1", "up"}));
    EXPECT_EQ(next(2), back);

    ASSERT_TRUE(ip({"route", "del", "default"}));
    EXPECT_EQ(next(1), V{"unreachable"});
    ASSERT_TRUE(ip({"route", "add", "default", "via", "10.77.0.2", "dev", "v0"}));
    EXPECT_EQ(next(2), back);
    ASSERT_TRUE(ip({"route", "replace", "unreachable", "192.0.2.0/24"}));
    EXPECT_EQ(next(1), V{"unreachable"});

    helper.stopReachability();
    ASSERT_TRUE(ip({"route", "del", "unreachable", "192.0.2.0/24"}));
    queue.advance(1000);
    EXPECT_TRUE(events.empty());
}

// A tun device as openvpn holds it: up with carrier for as long as the
// descriptor stays open.
class HeldTun {
public:
    explicit HeldTun(const char* name) : fd_(::open("/dev/net/tun", O_RDWR | O_CLOEXEC)) {
        if (fd_ < 0) return;
        ifreq ifr{};
        ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
        if (::ioctl(fd_, TUNSETIFF, &ifr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~HeldTun() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// A full tunnel over v0: the tunnel's device stays up whatever happens
// outside, so only the way out beside it says whether it can carry.
TEST_F(NetnsTest, ARouteIntoATunnelCountsOnlyWhileALinkBesideItLeadsOut) {
    HeldTun tun("hwt0");
    if (!tun.ok()) GTEST_SKIP() << "no tun device here";
    ASSERT_TRUE(ip({"addr", "add", "10.67.0.6/24", "dev", "hwt0"}));
    ASSERT_TRUE(ip({"link", "set", "hwt0", "up"}));
    ASSERT_TRUE(ip({"route", "add", "198.51.100.7", "via", "10.77.0.2", "dev", "v0"}));  // the server's
    ASSERT_TRUE(ip({"route", "add", "0.0.0.0/1", "dev", "hwt0"}));
    ASSERT_TRUE(ip({"route", "add", "128.0.0.0/1", "dev", "hwt0"}));
    NetlinkRouteWatch routes(queue);
    const V far{"192.0.2.10"};

    EXPECT_TRUE(routes.hasRoute(far)) << "through the tunnel, the uplink beside it";
    EXPECT_EQ(routes.wayOut(), std::optional<std::string>("v0")) << "the tunnel never is the way out";
    ASSERT_TRUE(ip({"link", "set", "v1", "down"}));  // the cable out: v0 keeps its routes, loses its carrier
    EXPECT_FALSE(routes.hasRoute(far));
    EXPECT_FALSE(routes.hasRoute({"198.51.100.7"})) << "nor the server itself, now routed into its own tunnel";
    ASSERT_TRUE(ip({"link", "set", "v1", "up"}));
    EXPECT_TRUE(routes.hasRoute(far));

    // The lock's shape: no default route, the server's host route the only way out.
    ASSERT_TRUE(ip({"route", "del", "default"}));
    EXPECT_TRUE(routes.hasRoute(far));
    EXPECT_TRUE(routes.hasRoute({"198.51.100.7"}));
    EXPECT_EQ(routes.wayOut(), std::optional<std::string>("v0")) << "under the lock, by the server's route";
    ASSERT_TRUE(ip({"link", "set", "v0", "down"}));  // the link taken down: its routes go with it
    EXPECT_FALSE(routes.hasRoute(far));
    EXPECT_EQ(routes.wayOut(), std::nullopt);
    EXPECT_FALSE(routes.hasRoute({"198.51.100.7"}));
}

}  // namespace
}  // namespace hw
