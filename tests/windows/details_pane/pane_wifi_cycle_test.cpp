// The Wi-Fi security cycle through the real main window and the real pane.
#include <gtest/gtest.h>

#include "support/fake_netlink_watch.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

struct WiFiCycleRig : PaneFixture {
    WiFiCycleRig() {
        pane.reset();  // the window makes its own
        links.probeURLString = "https://probe.example/ping";
        MainWindowEnvironment env{context, window, window, queue, queue, shell, notifications, links, probe,
                                  [this] { return wifiInfo; }, engine, images, nullptr,
                                  [this] {
                                      auto made = makePane();
                                      pane = made;
                                      return std::shared_ptr<DetailsPane>(made);
                                  }};
        controller = std::make_shared<MainWindowViewController>(env);
        controller->showWindow();
        controller->setupMainView(std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{nl}), {});
        queue.runUntilIdle();
        model.wi_fi_SecurityEnabled = true;
    }

    RecordingMainWindowView window;
    FakeUserNotificationCenter notifications;
    std::shared_ptr<ProbeURLReachabilityHelper> probe = std::make_shared<ProbeURLReachabilityHelper>(http, queue);
    RemoteImageLoader images{queue, queue, codec};
    std::shared_ptr<MainWindowViewController> controller;
};

struct PaneWiFiCycle : WiFiCycleRig, ::testing::Test {};

TEST_F(PaneWiFiCycle, InsecureNetworkConnectsAndASecureOneTearsItDown) {
    ASSERT_TRUE(pane);
    ASSERT_EQ(pane->dataObject(), nl);
    controller->showWiFiInsecureNotification();
    ASSERT_EQ(http.requests.size(), 1u);  // the probe
    controller->onProbeURL_Succeded();
    queue.advance(1);
    EXPECT_TRUE(model.unsecured_Wi_Fi_VPN_activated);
    ASSERT_EQ(engine.connects.size(), 1u);
    engine.closures.established();
    queue.runUntilIdle();
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::connected);

    // A secure network: the Wi-Fi security connection goes, and nothing reconnects it.
    wifiInfo->setNetworkWiFi_SSID_hasChanged(true);
    controller->showConnectedToWiFiNotification();
    queue.runUntilIdle();
    engine.closures.disconnected(false, false);  // the manager's own report of it
    queue.advance(5000);
    EXPECT_FALSE(model.unsecured_Wi_Fi_VPN_activated);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::disconnected);
    EXPECT_FALSE(model.autoReconnectInProgress());
    EXPECT_EQ(engine.connects.size(), 1u);
}

TEST_F(PaneWiFiCycle, ANewNetworkRestartsOnlyTunnelsThatDoNotOutliveIt) {
    const std::pair<std::optional<VPNTypes>, bool> rows[] = {
        {VPNTypesOpenVPN, true}, {VPNTypesIKEv2_StrongSwan, true}, {VPNTypesL2TP, false},
        {VPNTypesPPTP, false},   {std::nullopt, false},
    };
    for (const auto& [type, restarts] : rows) {
        SCOPED_TRACE(type ? static_cast<int>(*type) : -1);
        WiFiCycleRig f;
        f.model.wi_fi_SecurityEnabled = false;
        f.engine.providerType = type;
        f.engine.intents().connectOrEnd();
        f.queue.runUntilIdle();
        f.engine.closures.established();
        f.queue.runUntilIdle();
        ASSERT_EQ(f.engine.life->state(), ConnectionLife::State::connected);
        f.engine.calls.clear();
        f.wifiInfo->setNetworkWiFi_SSID_hasChanged(true);
        f.controller->showConnectedToWiFiNotification();
        f.queue.advance(5000);
        // The restart ends the session in force; a tunnel left alone keeps it.
        EXPECT_EQ(f.engine.count("cleanUpSession:1"), restarts ? 1 : 0);
    }
}

// The same cycle fed by the real reachability watch, with a NetworkManager
// that stops answering (gone from the bus, late or erring read the same).
struct WiFiUnknownRig : WiFiCycleRig {
    static constexpr const char* kHost = "api.havenway.test";
    WiFiUnknownRig() {
        resolver.set(kHost, {"198.51.100.9"});
        routes.setRoutable("198.51.100.9", true);
        reachability = std::make_shared<InternetReachabilityHelper>(
            InternetReachabilityHelper::Ports{queue, queue, routes, resolver, *wifiInfo, {}});
        auto c = controller;
        reachability->addOnInternetReachableObserver([c] { c->hideNoOnternetConnectionOverlay(); });
        reachability->addOnInternetNotReachableObserver([c] { c->showNoOnternetConnectionOverlay(); });
        reachability->addOnWiFiConnectionINSECUREObserver([c] { c->showWiFiInsecureNotification(); });
        reachability->addOnConnectedToWiFiNetworkObserver([c] { c->showConnectedToWiFiNotification(); });
    }
    // The watch goes before the route watch it stops.
    ~WiFiUnknownRig() { reachability.reset(); }

    void kernelEvent() {
        routes.changed();
        queue.advance(InternetReachabilityHelper::kSettleMs);
    }
    // Wi-Fi security's tunnel up on an open network.
    void protectedOnOpenWiFi() {
        wifi.join(FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"));
        reachability->reach(kHost);
        queue.runUntilIdle();
        ASSERT_EQ(http.requests.size(), 1u);  // the probe
        controller->onProbeURL_Succeded();
        queue.advance(1);
        ASSERT_EQ(engine.connects.size(), 1u);
        engine.closures.established();
        queue.runUntilIdle();
        ASSERT_EQ(model.currentConnectionState(), ConnectionStates::connected);
        engine.calls.clear();
    }
    bool tunnelUp() const {
        return model.currentConnectionState() == ConnectionStates::connected && model.unsecured_Wi_Fi_VPN_activated &&
               pane->connectButtonState() == ConnectButtonStates::disconnect;
    }

    FakeRouteWatch routes{queue};
    FakeNameResolver resolver;
};

// Silent for a while, with kernel events (one, and two), then answering:
// nothing ends while it is silent; once it answers, its word decides.
TEST(PaneWiFiUnknown, ASilentNetworkManagerEndsNothingAndItsAnswerDecides) {
    struct Row {
        const char* name;
        WiFiNetwork answer;
        bool up;     // Wi-Fi security's tunnel afterwards
        int tries;   // connects after the first
    };
    const Row rows[] = {
        {"the same open network: the tunnel stays", FakeWiFi::open("Cafe", "AA:BB:CC:00:00:01"), true, 0},
        {"a protected network: Wi-Fi security's tunnel ends", FakeWiFi::wpa("Home", "AA:BB:CC:00:00:02"), false, 0},
        {"another open network: the tunnel moves to it", FakeWiFi::open("Bar", "AA:BB:CC:00:00:05"), true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WiFiUnknownRig f;
        f.engine.providerType = VPNTypesOpenVPN;
        f.protectedOnOpenWiFi();
        f.wifi.silence();
        f.kernelEvent();
        f.kernelEvent();
        f.queue.advance(20000);
        EXPECT_TRUE(f.tunnelUp()) << "an unknown network read as a secure one";
        EXPECT_TRUE(f.engine.calls.empty());

        // It answers late: the watch asks again by itself, no kernel event needed.
        f.wifi.join(row.answer);
        f.wifi.silence(false);
        f.queue.advance(8000);
        if (row.tries) {
            f.queue.advance(600);
            ASSERT_EQ(f.engine.connects.size(), 2u);
            f.engine.closures.established();
        }
        f.queue.advance(5000);
        EXPECT_EQ(f.tunnelUp(), row.up);
        EXPECT_EQ(f.engine.connects.size(), 1u + row.tries);
        if (!row.up) {
            EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
        }
    }
}

}  // namespace
}  // namespace hw::test
