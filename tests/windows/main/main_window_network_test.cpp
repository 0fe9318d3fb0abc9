#include <gmock/gmock.h>

#include "main_window_fixture.h"

namespace hw::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

struct NetworkSetup : MainWindowFixture {
    NetworkSetup() {
        open();
        model.isLoggedInUser = true;
        model.wi_fi_SecurityEnabled = true;
        pane->calls.clear();
    }
    void changeNetwork() { wifiInfo->setNetworkWiFi_SSID_hasChanged(true); }
    int probes() const { return static_cast<int>(http.requests.size()); }
};

struct MainWindowNetwork : NetworkSetup, ::testing::Test {};

TEST_F(MainWindowNetwork, InsecureWiFiWhileDisconnected) {
    struct Row {
        const char* name;
        bool signedIn;
        bool security;
        bool buttonConnecting;
        const char* banner;  // "" for none
        int probes;
    };
    const Row rows[] = {
        {"nobody signed in", false, true, false, "insecureWiFiNotLoggedInBanner", 0},
        {"security off", true, false, false, "insecureWiFiBanner", 0},
        {"security on", true, true, false, "", 1},
        {"already connecting", true, true, true, "", 0},
    };
    for (const Row& r : rows) {
        NetworkSetup f;
        f.model.isLoggedInUser = r.signedIn;
        f.model.wi_fi_SecurityEnabled = r.security;
        if (r.buttonConnecting) f.pane->buttonState = ConnectButtonStates::connecting;
        f.controller->showWiFiInsecureNotification();
        f.controller->showWiFiInsecureNotification();  // no rate limit on banners, one probe at a time
        if (*r.banner) {
            EXPECT_THAT(f.shell.calls, ElementsAre(r.banner, r.banner)) << r.name;
        } else {
            EXPECT_TRUE(f.shell.calls.empty()) << r.name;
        }
        EXPECT_EQ(f.probes(), r.probes) << r.name;
    }
}

TEST_F(MainWindowNetwork, ProbeSuccessConnectsAfterOneMillisecondOnlyWhenStillWanted) {
    struct Row {
        const char* name;
        std::function<void(NetworkSetup&)> meanwhile;
        bool connects;
    };
    const Row rows[] = {
        {"nothing changed", [](NetworkSetup&) {}, true},
        {"signed out", [](NetworkSetup& f) { f.model.isLoggedInUser = false; }, false},
        {"security turned off", [](NetworkSetup& f) { f.model.wi_fi_SecurityEnabled = false; }, false},
        {"user connected",
         [](NetworkSetup& f) { f.model.setCurrentConnectionState(ConnectionStates::connecting); }, false},
        {"button busy", [](NetworkSetup& f) { f.pane->buttonState = ConnectButtonStates::disconnect; }, false},
    };
    for (const Row& r : rows) {
        NetworkSetup f;
        f.controller->onProbeURL_Succeded();
        r.meanwhile(f);
        f.queue.advance(0);
        EXPECT_EQ(f.pane->count("startConnectionRequest"), 0) << r.name;
        f.queue.advance(1);
        EXPECT_EQ(f.pane->count("startConnectionRequest"), r.connects ? 1 : 0) << r.name;
        EXPECT_EQ(f.model.unsecured_Wi_Fi_VPN_activated, r.connects) << r.name;
    }
}

TEST_F(MainWindowNetwork, ProbeThroughTheRealCheckerReachesTheController) {
    http.responder = [](const HttpRequest&) { return FakeHttpClient::ok("ok"); };
    controller->showWiFiInsecureNotification();
    queue.advance(1);
    EXPECT_EQ(pane->count("startConnectionRequest"), 1);
    EXPECT_EQ(http.requests.at(0).url, "https://probe.example/ping");
}

TEST_F(MainWindowNetwork, AfterAWiFiSecurityDisconnectTheNextInsecureEventWaitsHalfASecond) {
    model.setIntensionallyDisconnectedVPN(true);
    engine.recordedIntents.endedOnPurpose = true;
    controller->showWiFiInsecureNotification();
    controller->showWiFiInsecureNotification();
    EXPECT_EQ(probes(), 0);
    queue.advance(499);
    controller->showWiFiInsecureNotification();
    EXPECT_EQ(probes(), 0);
    queue.advance(1);
    controller->showWiFiInsecureNotification();
    EXPECT_EQ(probes(), 1);
    // The end stays the machine's: the window never clears it.
    EXPECT_TRUE(model.intensionallyDisconnectedVPN());
}

TEST_F(MainWindowNetwork, NetworkChangeWhileConnectedIsToldToTheConnectionLayer) {
    struct Row {
        const char* name;
        std::optional<VPNTypes> type;
        bool insecure;
    };
    const Row rows[] = {
        {"OpenVPN, insecure", VPNTypesOpenVPN, true},
        {"L2TP, secure", VPNTypesL2TP, false},
        {"no provider", std::nullopt, false},
    };
    for (const Row& r : rows) {
        NetworkSetup f;
        f.pane->connected = true;
        f.engine.providerType = r.type;
        f.changeNetwork();
        if (r.insecure) f.controller->showWiFiInsecureNotification(); else f.controller->showConnectedToWiFiNotification();
        // Whether the tunnel restarts is the connection layer's to say, by its protocol.
        EXPECT_EQ(f.engine.count("intents.wifiNetworkChanged"), 1) << r.name;
        EXPECT_EQ(f.pane->count("requestReconnect:the network changed"), 0) << r.name;
        EXPECT_EQ(f.pane->count("requestAutoReconnect"), 0) << r.name;
        EXPECT_EQ(f.engine.dnsInstalls, 0) << r.name;
        // Handled, whatever the protocol: a later drop is not left to this change.
        EXPECT_FALSE(f.wifiInfo->networkWiFi_SSID_hasChanged()) << r.name;
    }
}

// Only a tunnel the machine holds settled (no try of a reconnect running or
// due) gets its DNS refreshed; a flag the window holds says nothing of it.
TEST_F(MainWindowNetwork, SameNetworkRefreshesStrongSwanDnsOnlyWhenSettled) {
    using State = ConnectionLife::State;
    for (const State state : {State::connected, State::connecting, State::waiting, State::waitingForNetwork,
                              State::heldByLock, State::disconnected}) {
        SCOPED_TRACE(ConnectionLife::stateName(state));
        NetworkSetup f;
        f.pane->connected = true;
        f.engine.providerType = VPNTypesIKEv2_StrongSwan;
        f.engine.recordedIntents.lifeState = state;
        f.controller->showConnectedToWiFiNotification();
        EXPECT_EQ(f.engine.dnsInstalls, state == State::connected ? 1 : 0);
        EXPECT_EQ(f.pane->count("requestAutoReconnect"), 0);
    }
    // Without a Wi-Fi information object the network reads as unchanged:
    // the DNS again, no reconnect.
    NetworkSetup f;
    f.wifiInfo = nullptr;
    f.pane->connected = true;
    f.engine.providerType = VPNTypesIKEv2_StrongSwan;
    f.engine.recordedIntents.lifeState = State::connected;
    f.controller->showWiFiInsecureNotification();
    EXPECT_EQ(f.engine.dnsInstalls, 1);
    EXPECT_EQ(f.pane->count("requestReconnect:the network changed"), 0);
}

// Whether a secure network ends the connection is the pane's to say: the
// main window asks, whatever the state.
TEST_F(MainWindowNetwork, ASecureNetworkAsksThePaneToEndWiFiSecuritysConnection) {
    for (const bool bySecurity : {true, false}) {
        SCOPED_TRACE(bySecurity ? "Wi-Fi security's" : "the user's");
        NetworkSetup f;
        f.pane->byWiFiSecurity = bySecurity;
        f.model.pendingVPN_Activated_on_UnsecuredWiFi = true;
        f.notifications.deliver({"t", "i"});
        f.controller->showConnectedToWiFiNotification();
        EXPECT_EQ(f.pane->count("secureNetworkJoined"), 1);
        EXPECT_EQ(f.notifications.removeAllCount, bySecurity ? 1 : 0);
        EXPECT_FALSE(f.model.pendingVPN_Activated_on_UnsecuredWiFi);
        EXPECT_EQ(f.controller->lastTimeOf_showConnectedToWiFiNotification_occured(), f.queue.wallSeconds());
    }
}

TEST_F(MainWindowNetwork, InternetLossAndReturn) {
    engine.providerType = VPNTypesOpenVPN;
    model.setCurrentConnectionState(ConnectionStates::connected);
    controller->showNoOnternetConnectionOverlay();
    EXPECT_THAT(pane->errorBars, ElementsAre("no internet"));
    // The pane's policy decides what a loss and a return mean for the tunnel.
    EXPECT_EQ(pane->count("reachabilityChanged:0"), 1);

    model.setAutoReconnectInProgress(true);
    model.setAutoReconnectAttemptsCount(2);
    controller->hideNoOnternetConnectionOverlay();
    EXPECT_EQ(pane->count("reachabilityChanged:1"), 1);
    EXPECT_EQ(pane->count("requestAutoReconnect"), 0);
    EXPECT_EQ(pane->count("hideErrorNotificationBar"), 1);
    EXPECT_EQ(pane->count("refreshIPAddressIfBlank"), 1) << "an outage may have left the public address blank";
    EXPECT_EQ(pane->viewHidden, false);
    EXPECT_EQ(view.overlayHidden, true);
    EXPECT_EQ(view.searchHidden, false);

    // Another error stays; connecting under the lock shows none.
    pane->showErrorNotificationBar("other");
    controller->hideNoOnternetConnectionOverlay();
    EXPECT_EQ(pane->count("hideErrorNotificationBar"), 1);
    model.networkLockActivated = true;
    model.setCurrentConnectionState(ConnectionStates::connecting);
    controller->showNoOnternetConnectionOverlay();
    EXPECT_EQ(pane->errorBars.size(), 2u);
}

// One policy for every protocol: the window only tells, and leaves the
// reconnect's flags and count to it.
TEST_F(MainWindowNetwork, InternetReturnIsToldToThePanesPolicyWhateverTheProtocol) {
    for (auto type : {VPNTypesIKEv2_StrongSwan, VPNTypesL2TP, VPNTypesOpenVPN}) {
        NetworkSetup f;
        f.engine.providerType = type;
        f.model.setAutoReconnectInProgress(true);
        f.model.setAutoReconnectAttemptsCount(2);
        f.controller->hideNoOnternetConnectionOverlay();
        EXPECT_EQ(f.pane->count("reachabilityChanged:1"), 1) << type;
        EXPECT_TRUE(f.model.autoReconnectInProgress()) << type;
        EXPECT_EQ(f.model.autoReconnectAttemptsCount(), 2) << type;
    }
}

}  // namespace
}  // namespace hw::test
