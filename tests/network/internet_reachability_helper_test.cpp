#include "network/internet_reachability_helper.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread_pool.h"
#include "support/fake_netlink_watch.h"
#include "support/poll_until.h"
#include "support/fake_wifi.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using test::FakeWiFi;

constexpr const char* kHost = "api.havenway.test";
constexpr const char* kAddr = "198.51.100.7";

class InternetReachabilityHelperTest : public ::testing::Test {
protected:
    InternetReachabilityHelperTest() {
        resolver.set(kHost, {kAddr});
        routes.setRoutable(kAddr, true);
        WiFiSecurityPolicy policy;
        policy.enableTrustedNetworksManagement = [this] { return management; };
        policy.trustedNetworks = [this] { return trusted; };
        helper = std::make_unique<InternetReachabilityHelper>(
            InternetReachabilityHelper::Ports{queue, queue, routes, resolver, info, policy});
        helper->addOnInternetReachableObserver([this] { events.push_back("reachable"); });
        helper->addOnInternetNotReachableObserver([this] { events.push_back("unreachable"); });
        helper->addOnWiFiConnectionINSECUREObserver([this] { events.push_back("insecure"); });
        helper->addOnConnectedToWiFiNetworkObserver([this] { events.push_back("connected"); });
    }

    // A running watch whose first report was taken.
    void watch() {
        helper->reach(kHost);
        queue.runUntilIdle();
        take();
    }
    // One burst of kernel events, then the settle delay.
    void kernelEvent() {
        routes.changed();
        queue.advance(InternetReachabilityHelper::kSettleMs);
    }
    std::vector<std::string> take() {
        auto e = events;
        events.clear();
        return e;
    }

    test::ManualQueue queue;
    test::FakeRouteWatch routes{queue};
    test::FakeNameResolver resolver;
    FakeWiFi wifi;
    WiFi_InfoHelperObjC info{wifi};
    bool management = true;
    std::vector<TrustedNetwork> trusted;
    std::unique_ptr<InternetReachabilityHelper> helper;
    std::vector<std::string> events;
};

using V = std::vector<std::string>;

TEST_F(InternetReachabilityHelperTest, LinkLossAndReturnReachObserversOncePerChange) {
    watch();
    int bursts = 0;
    helper->addOnRoutesChangedObserver([&] { ++bursts; });

    routes.setRoutable(kAddr, false);
    routes.changed();
    routes.changed();
    routes.changed();
    queue.advance(InternetReachabilityHelper::kSettleMs);
    EXPECT_EQ(take(), (V{"unreachable"}));
    EXPECT_EQ(resolver.lookups.size(), 2u) << "a burst of events is one look";

    kernelEvent();  // nothing changed: nothing reported
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(bursts, 2) << "every settled burst is told, reported or not";

    routes.setRoutable(kAddr, true);
    kernelEvent();
    EXPECT_EQ(take(), (V{"reachable", "connected"}));
}

TEST_F(InternetReachabilityHelperTest, ReportsOnTheMainQueueAndReachDuringAWatchDoesNothingUntilStopped) {
    resolver.set("other.havenway.test", {"203.0.113.9"});
    helper->addOnInternetReachableObserver([this] { events.push_back("reachable-2"); });
    // Built here, not in the thread: GCC 12 at -O2 warns falsely (-Warray-bounds) on the inlined string +.
    const std::string withPort = std::string(kHost).append(":28443");  // a domain with a port
    std::thread shell([this, &withPort] { helper->reach(withPort); });
    shell.join();
    EXPECT_TRUE(helper->checkInProgress());
    EXPECT_TRUE(events.empty()) << "nothing may run off the main queue";
    helper->reach("other.havenway.test");
    helper->reachByIP("203.0.113.9");
    queue.runUntilIdle();
    EXPECT_EQ(take(), (V{"reachable", "reachable-2", "connected"}));
    EXPECT_EQ(resolver.lookups, (V{kHost}));
    EXPECT_EQ(routes.starts, 1);

    helper->stopReachability();
    EXPECT_FALSE(helper->checkInProgress());
    helper->reachByIP("203.0.113.9");
    queue.runUntilIdle();
    EXPECT_EQ(take(), (V{"unreachable"})) << "a new watch reports its own start";
    EXPECT_EQ(routes.asked.back(), (V{"203.0.113.9"}));
    EXPECT_EQ(resolver.lookups.size(), 1u);
}

TEST_F(InternetReachabilityHelperTest, StopSilencesEverythingStillOnItsWay) {
    watch();
    routes.setRoutable(kAddr, false);
    routes.changed();
    std::thread shell([this] { helper->stopReachability(); });
    shell.join();
    queue.advance(10000);
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(routes.watching());

    // A look already running when the watch stops is dropped too.
    helper->reach(kHost);
    helper->stopReachability();
    queue.runUntilIdle();
    EXPECT_TRUE(take().empty());

    // A watch started right after a stop is kept and reports.
    routes.setRoutable(kAddr, true);
    helper->reach(kHost);
    queue.runUntilIdle();
    EXPECT_TRUE(routes.watching());
    EXPECT_EQ(take(), (V{"reachable", "connected"}));
}

TEST_F(InternetReachabilityHelperTest, InvalidTargetsStartNoWatch) {
    for (const char* host : {"evil.test/path?x", "", "host.test:0"}) helper->reach(host);
    helper->reachByIP("not-an-address");
    queue.runUntilIdle();
    EXPECT_FALSE(helper->checkInProgress());
    EXPECT_EQ(routes.starts, 0);
    EXPECT_TRUE(take().empty());
}

TEST_F(InternetReachabilityHelperTest, AFailingResolverKeepsTheAddressesLastResolved) {
    watch();
    resolver.set(kHost, {});
    kernelEvent();
    EXPECT_TRUE(take().empty()) << "a DNS hiccup is not a lost internet";
    routes.setRoutable(kAddr, false);
    kernelEvent();
    EXPECT_EQ(take(), (V{"unreachable"}));

    helper->stopReachability();
    helper->reach("never.resolved.test");
    queue.runUntilIdle();
    EXPECT_EQ(take(), (V{"unreachable"}));
}

// A resolver whose server is out of reach: it answers only when let.
class HeldResolver final : public NameResolver {
public:
    std::vector<std::string> resolve(const std::string&) override {
        std::unique_lock lock(mutex_);
        ++calls_;
        cv_.wait(lock, [&] { return open_; });
        return {kAddr};
    }
    void hold() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = true;
    int calls_ = 0;
};

// The link goes, and the resolver with it: the loss is told while the
// lookup still waits for its time-out, not when it gives up.
TEST_F(InternetReachabilityHelperTest, ALostWayIsReportedBeforeTheResolverGivesUp) {
    HeldResolver held;
    ThreadPool pool(1);
    InternetReachabilityHelper watcher({queue, pool, routes, held, info, {}});
    V seen;
    watcher.addOnInternetReachableObserver([&] { seen.push_back("reachable"); });
    watcher.addOnInternetNotReachableObserver([&] { seen.push_back("unreachable"); });
    const auto until = [&](const V& wanted) {
        return test::pollUntil(
            [&] {
                queue.runUntilIdle();
                return seen == wanted;
            },
            std::chrono::seconds(5), std::chrono::milliseconds(1));
    };
    watcher.reach(kHost);
    ASSERT_TRUE(until(V{"reachable"}));

    held.hold();
    routes.setRoutable(kAddr, false);
    routes.changed();
    queue.advance(InternetReachabilityHelper::kSettleMs);
    EXPECT_TRUE(until(V{"reachable", "unreachable"}));
    EXPECT_EQ(held.calls(), 2) << "the lookup is still waiting";

    held.release();
    routes.setRoutable(kAddr, true);
    routes.changed();
    queue.advance(InternetReachabilityHelper::kSettleMs);
    EXPECT_TRUE(until(V{"reachable", "unreachable", "reachable"})) << "the way back is seen once it is there";
    watcher.stopReachability();
    queue.runUntilIdle();
}

TEST_F(InternetReachabilityHelperTest, InsecureUntrustedWiFiGoesToTheInsecureList) {
    trusted = {{"Cafe", "AA:BB:CC:00:00:01"}};
    helper->reach(kHost);
    queue.runUntilIdle();
    take();
    struct Row {
        const char* name;
        WiFiNetwork network;
        bool management;
        const char* expected;
    };
    const Row rows[] = {
        {"open and untrusted", FakeWiFi::open("Bar", "AA:BB:CC:00:00:05"), true, "insecure"},
        {"protected", FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"), true, "connected"},
        {"trusted", FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"), true, "connected"},
        {"same name, another access point", FakeWiFi::open("Cafe", "AA:BB:CC:00:00:99"), true, "insecure"},
        {"management off ignores the list", FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"), false, "insecure"},
    };
    for (const auto& row : rows) {
        management = row.management;
        wifi.join(row.network);
        kernelEvent();
        EXPECT_EQ(take(), (V{"reachable", row.expected})) << row.name;
    }
}

TEST_F(InternetReachabilityHelperTest, ClearAllObserversLeavesTheInsecureList) {
    wifi.join(FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"));
    helper->clearAllObservers();
    helper->reach(kHost);
    queue.runUntilIdle();
    EXPECT_EQ(take(), (V{"insecure"}));

    helper->clearOnWiFiConnectionINSECUREObservers();
    helper->addOnWiFiConnectionINSECUREObserver([this] { events.push_back("insecure-new"); });
    wifi.join(FakeWiFi::open("Bar", "AA:BB:CC:00:00:05"));
    kernelEvent();
    EXPECT_EQ(take(), (V{"insecure-new"}));
}

TEST_F(InternetReachabilityHelperTest, SsidChangeIsRaisedOnlyForAnotherNetwork) {
    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    helper->addOnConnectedToWiFiNetworkObserver([this] {
        events.push_back(info.networkWiFi_SSID_hasChanged() ? "changed" : "same");
        info.setNetworkWiFi_SSID_hasChanged(false);
    });
    helper->reach(kHost);
    queue.runUntilIdle();
    EXPECT_EQ(take(), (V{"reachable", "connected", "same"})) << "the first network is no change";

    wifi.leave();  // wired for a while
    kernelEvent();
    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    kernelEvent();
    EXPECT_EQ(take(), (V{"reachable", "connected", "same", "reachable", "connected", "same"}));

    wifi.join(FakeWiFi::wpa("Office", "AA:BB:CC:00:00:07"));
    kernelEvent();
    EXPECT_EQ(take(), (V{"reachable", "connected", "changed"}));
}

// Wi-Fi to wired and back moves the way out: each is a change of network,
// whatever the SSIDs; a spell with no way out in between is not one.
TEST_F(InternetReachabilityHelperTest, AChangeOfTheWayOutIsAChangeOfNetwork) {
    helper->addOnConnectedToWiFiNetworkObserver([this] {
        events.push_back(info.networkWiFi_SSID_hasChanged() ? "changed" : "same");
        info.setNetworkWiFi_SSID_hasChanged(false);
    });
    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    routes.setWayOut("wlan0");
    watch();

    wifi.leave();
    routes.setWayOut("eth0");
    kernelEvent();
    EXPECT_EQ(take(), (V{"reachable", "connected", "changed"})) << "Wi-Fi to wired";

    kernelEvent();
    EXPECT_TRUE(take().empty()) << "the same way out again is no report";

    routes.setRoutable(kAddr, false);
    routes.setWayOut(std::nullopt);
    kernelEvent();
    routes.setRoutable(kAddr, true);
    routes.setWayOut("eth0");
    kernelEvent();
    EXPECT_EQ(take(), (V{"unreachable", "reachable", "connected", "same"})) << "the cable out and back in";

    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    routes.setWayOut("wlan0");
    kernelEvent();
    EXPECT_EQ(take(), (V{"reachable", "connected", "changed"})) << "wired to the same Wi-Fi as before";
}

// A NetworkManager gone, late or erring says nothing of the network: the
// connected list hears of it with the security unknown (never the verdict
// "secure"), and the Wi-Fi alone is asked again, less and less often, until
// its answer goes where the rules of Wi-Fi security send it.
TEST_F(InternetReachabilityHelperTest, AWiFiWithoutAnAnswerIsUnknownAndAskedAgainUntilItAnswers) {
    helper->addOnConnectedToWiFiNetworkObserver([this] { events.push_back(info.wiFiSecurityKnown() ? "known" : "unknown"); });
    wifi.join(FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"));
    watch();
    wifi.silence();
    kernelEvent();
    kernelEvent();  // twice: the same unknown is no second report
    EXPECT_EQ(take(), (V{"reachable", "connected", "unknown"}));

    // Asked again 1, 3, 7, 15 and 23 s on (1, 2, 4, 8, 8 s apart), without the resolver.
    const int calls = wifi.currentCalls;
    const auto lookups = resolver.lookups.size();
    queue.advance(30000);
    EXPECT_EQ(wifi.currentCalls - calls, 5);
    EXPECT_EQ(resolver.lookups.size(), lookups);
    EXPECT_TRUE(take().empty());

    wifi.silence(false);
    queue.advance(8000);
    EXPECT_EQ(take(), (V{"reachable", "insecure"}));
    const int answered = wifi.currentCalls;
    queue.advance(60000);
    EXPECT_EQ(wifi.currentCalls, answered) << "an answer ends the asking";
}

// NetworkManager's word is a second source beside the kernel's: a change of
// access point with no kernel event is seen after the same settling, with
// the addresses last resolved and nothing told to the routes' observers.
TEST_F(InternetReachabilityHelperTest, NetworkManagersWordIsLookedAtWithoutAKernelEvent) {
    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    watch();
    ASSERT_TRUE(wifi.watching());
    int bursts = 0;
    helper->addOnRoutesChangedObserver([&] { ++bursts; });
    const auto lookups = resolver.lookups.size();

    wifi.join(FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"));
    wifi.announce();
    wifi.announce();
    queue.advance(InternetReachabilityHelper::kSettleMs - 1);
    EXPECT_TRUE(take().empty());
    queue.advance(1);
    EXPECT_EQ(take(), (V{"reachable", "insecure"}));
    EXPECT_EQ(resolver.lookups.size(), lookups);
    EXPECT_EQ(bursts, 0);

    wifi.join(FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"));
    wifi.announce();
    routes.changed();  // both sources in one burst: one look, the kernel's
    queue.advance(InternetReachabilityHelper::kSettleMs);
    EXPECT_EQ(take(), (V{"reachable", "connected"}));
    EXPECT_EQ(resolver.lookups.size(), lookups + 1);
    EXPECT_EQ(bursts, 1);

    helper->stopReachability();
    queue.runUntilIdle();
    EXPECT_FALSE(wifi.watching());
}

// A NetworkManager that is not on the bus announces its return: nothing
// asks for it meanwhile. One that cannot be watched is asked again, less
// and less often, down to once a minute.
TEST_F(InternetReachabilityHelperTest, ANetworkManagerOffTheBusIsAwaitedNotAskedFor) {
    for (const bool watchable : {true, false}) {
        SCOPED_TRACE(watchable ? "watched" : "not watchable");
        helper->stopReachability();
        queue.runUntilIdle();
        wifi.watchable = watchable;
        wifi.vanish(false);
        wifi.join(FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"));
        watch();

        wifi.vanish();
        wifi.announce();  // its name gone
        routes.changed();
        queue.advance(InternetReachabilityHelper::kSettleMs);
        EXPECT_EQ(take(), (V{"reachable", "connected"}));
        const int calls = wifi.currentCalls;
        queue.advance(60000);
        // Asked again 1, 3, 7, 15 and 31 s on when nothing announces it, then once a minute.
        EXPECT_EQ(wifi.currentCalls - calls, watchable ? 0 : 5);

        wifi.vanish(false);
        wifi.announce();  // its name back
        queue.advance(watchable ? InternetReachabilityHelper::kSettleMs : 3000);
        EXPECT_EQ(take(), (V{"reachable", "insecure"}));
    }
}

// The window reads the mark at each report and clears it, as the main window does.
struct ChangeRig : InternetReachabilityHelperTest {
    struct Step {
        std::optional<WiFiNetwork> on;
        bool reachable = true;
        bool answered = true;
    };
    void TestBody() override {}
    void trust(std::vector<TrustedNetwork> networks) { trusted = std::move(networks); }
    // What the last report said, and whether it came marked as a change.
    std::string walk(const std::vector<Step>& steps) {
        std::string last;
        const auto mark = [&](const char* list) {
            last = std::string(list) + (info.networkWiFi_SSID_hasChanged() ? ", changed" : ", same");
            info.setNetworkWiFi_SSID_hasChanged(false);
        };
        helper->addOnWiFiConnectionINSECUREObserver([&] { mark("insecure"); });
        helper->addOnConnectedToWiFiNetworkObserver([&] { mark("connected"); });
        bool first = true;
        for (const Step& s : steps) {
            routes.setRoutable(kAddr, s.reachable);
            wifi.silence(!s.answered);
            if (s.on) wifi.join(*s.on);
            else wifi.leave();
            if (first) helper->reach(kHost);
            first = false;
            wifi.announce();
            queue.advance(InternetReachabilityHelper::kSettleMs);
        }
        helper->clearOnWiFiConnectionINSECUREObservers();
        helper->clearAllObservers();
        return last;
    }
};

TEST(InternetReachabilityHelperChange, ASpellOffWiFiOrOnASafeNetworkBeforeAnOpenOneIsAChange) {
    const WiFiNetwork u = FakeWiFi::open("OpenU", "AA:BB:CC:00:00:0A");
    const WiFiNetwork uProtected = FakeWiFi::wpa("OpenU", "AA:BB:CC:00:00:0B");
    const WiFiNetwork uTrusted = FakeWiFi::open("OpenU", "AA:BB:CC:00:00:0C");
    using Step = ChangeRig::Step;
    struct Row {
        const char* name;
        std::vector<Step> steps;
        const char* last;
    };
    const Row rows[] = {
        {"the first network after launch", {{u}}, "insecure, same"},
        {"back after Wi-Fi off, wired meanwhile", {{u}, {std::nullopt}, {u}}, "insecure, changed"},
        {"back after Wi-Fi off, nothing out meanwhile", {{u}, {std::nullopt, false}, {u}}, "insecure, changed"},
        {"back after a protected one of the same name", {{u}, {uProtected}, {u}}, "insecure, changed"},
        {"after a trusted one of the same name", {{uTrusted}, {u}}, "insecure, changed"},
        {"the same network, its route lost a while", {{u}, {u, false}, {u}}, "insecure, same"},
        {"the same network, NetworkManager silent a while", {{u}, {std::nullopt, true, false}, {u}}, "insecure, same"},
        {"Wi-Fi off is no change by itself", {{u}, {std::nullopt}}, "connected, same"},
    };
    for (const Row& row : rows) {
        ChangeRig rig;
        rig.trust({{"OpenU", "AA:BB:CC:00:00:0C"}});
        EXPECT_EQ(rig.walk(row.steps), row.last) << row.name;
    }
}

}  // namespace
}  // namespace hw
