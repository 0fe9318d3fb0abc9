// Connect, cancel and disconnect requests of the details pane, in virtual time.
#include <gtest/gtest.h>

#include "core/global_constants.h"
#include "texts/locale_data.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

struct PaneRequestsTest : PaneFixture, ::testing::Test {};

TEST_F(PaneRequestsTest, DirectRoadConnectsAfter200msWithCredentialsThatTheLocationNeverKeeps) {
    nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    click();
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connecting);
    queue.advance(199);
    EXPECT_TRUE(engine.connects.empty());
    queue.advance(1);
    ASSERT_EQ(engine.connects.size(), 1u);
    EXPECT_EQ(engine.connects[0].username, "demo@example.test");
    EXPECT_EQ(engine.connects[0].password, "s3cret");
    EXPECT_EQ(engine.connects[0].dnsPrefix, "nl-1");
    // The engine resolves the server again, and the stored record holds no secret.
    EXPECT_EQ(nl->vpnConfig->vpnServerIPAddress, "");
    EXPECT_FALSE(nl->vpnConfig->username);
    EXPECT_FALSE(nl->vpnConfig->password);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::connecting);
    EXPECT_EQ(view.connectTo, "Connecting to");

    // Clicks within a second of the first are ignored; the button re-arms at one second.
    queue.advance(300);
    click();
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connecting);
    queue.advance(499);
    EXPECT_FALSE(pane->isConnectedButtonActive());
    queue.advance(1);
    EXPECT_TRUE(pane->isConnectedButtonActive());
    EXPECT_EQ(engine.connects.size(), 1u);
}

TEST_F(PaneRequestsTest, AStopWithin200msOfTheClickMeansNoRequest) {
    click();
    queue.advance(100);
    pane->performIntentionalDisconnect();
    queue.advance(200);
    EXPECT_TRUE(engine.connects.empty());
    EXPECT_TRUE(engine.locks.empty());
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::disconnected);
}

TEST_F(PaneRequestsTest, StrongSwanReportsConnectingAtOnceOnTheDirectRoad) {
    engine.providerType = VPNTypesIKEv2_StrongSwan;
    click();
    queue.advance(200);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"ae_vpn_connecting"});
    EXPECT_EQ(engine.connects.size(), 1u);
}

// Under the lock a connect goes only where a lock was engaged for: the
// reported address, or after a failed lookup the stored one, locked in turn.
TEST_F(PaneRequestsTest, LockRoadTakesTheProvidersHostThenTheReportedOrElseTheStoredAddressUnderItsOwnLock) {
    model.setUseNetworkLock(true);
    struct Row {
        std::optional<VPNTypes> provider;
        std::string host, reported, expected;
    };
    for (const auto& row : {Row{std::nullopt, "nl-1.havenway.test", "203.0.113.9", "203.0.113.9"},
                            Row{VPNTypesIKEv2_StrongSwan, "nl-1.vpn.havenway.test", "NO", "198.51.100.7"},
                            Row{std::nullopt, "nl-1.havenway.test", "", "198.51.100.7"}}) {
        SCOPED_TRACE(row.host + " " + row.reported);
        engine.connects.clear();
        engine.locks.clear();
        engine.providerType = row.provider;
        nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        pane->startConnectionRequest();
        queue.runUntilIdle();
        ASSERT_EQ(engine.locks.size(), 1u);
        EXPECT_EQ(engine.locks[0].host, row.host);
        EXPECT_TRUE(pane->pendingConnectAttemptRequest());
        EXPECT_TRUE(model.networkLockActivated);
        engine.locks[0].completion(row.reported);
        queue.runUntilIdle();
        if (row.reported != row.expected) {
            EXPECT_TRUE(engine.connects.empty()) << "connected before the lock held the stored address";
            ASSERT_EQ(engine.locks.size(), 2u);
            EXPECT_EQ(engine.locks[1].host, row.expected);
            engine.locks[1].completion(row.expected);
            queue.runUntilIdle();
        }
        ASSERT_EQ(engine.connects.size(), 1u);
        EXPECT_EQ(engine.connects[0].vpnServerIPAddress, row.expected);
    }
}

TEST_F(PaneRequestsTest, LockRoadLooksTheServerUpWithTheBackendsResolversOnceSent) {
    model.setUseNetworkLock(true);
    struct Row {
        const char* name;
        std::optional<std::string> primary, secondary;
        std::string dns1, dns2;
    } rows[] = {
        {"none sent", std::nullopt, std::nullopt, "8.8.8.8", "8.8.4.4"},
        {"both sent", "9.9.9.9", "2620:fe::fe", "9.9.9.9", "2620:fe::fe"},
        {"only the first", "1.1.1.1", std::nullopt, "1.1.1.1", "8.8.4.4"},
        {"a bad first", "dns.example", "149.112.112.112", "8.8.8.8", "149.112.112.112"},
    };
    for (const auto& row : rows) {
        GlobalConstants::resetDnsResolvers();
        if (row.primary) GlobalConstants::setDnsResolver(*row.primary);
        if (row.secondary) GlobalConstants::setDnsResolverSecondary(*row.secondary);
        engine.locks.clear();
        pane->startConnectionRequest();
        queue.runUntilIdle();
        ASSERT_EQ(engine.locks.size(), 1u) << row.name;
        EXPECT_EQ(engine.locks[0].dns1, row.dns1) << row.name;
        EXPECT_EQ(engine.locks[0].dns2, row.dns2) << row.name;
    }
    GlobalConstants::resetDnsResolvers();
}

// The stored address could not be locked either: the attempt fails closed.
TEST_F(PaneRequestsTest, AStoredAddressTheLockCannotHoldIsNeverConnected) {
    struct Row {
        const char* name;
        std::string storedReport;
        bool lockTurnedOff;
    };
    for (const Row& row : {Row{"the lock answers no", "NO", false}, Row{"another address", "203.0.113.9", false},
                           Row{"the lock was turned off", "", true}}) {
        SCOPED_TRACE(row.name);
        engine.connects.clear();
        engine.locks.clear();
        engine.lockWaits = true;
        view.errorBar = {};
        model.setUseNetworkLock(true);
        nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        pane->startConnectionRequest();
        queue.runUntilIdle();
        engine.lockWaits = !row.lockTurnedOff;
        engine.locks.at(0).completion("NO");
        queue.runUntilIdle();
        ASSERT_EQ(engine.locks.size(), 2u);
        if (!row.lockTurnedOff) engine.locks[1].completion(row.storedReport);
        queue.runUntilIdle();
        EXPECT_TRUE(engine.connects.empty());
        EXPECT_TRUE(view.errorBar.lowerText.empty()) << "no error bar under the reconnecting look";
        // The window keeps saying that the lock holds: never CONNECT under it.
        EXPECT_NE(pane->connectButtonState(), ConnectButtonStates::connect);
        EXPECT_EQ(engine.locks.size(), 2u) << "no third try at once";
        pane->performIntentionalDisconnect();
        queue.runUntilIdle();
    }
}

// Each paced try gives Automatic's order its round again (the manager keeps
// a protocol that connected): a search that ended never leaves one road alone.
TEST_F(PaneRequestsTest, EachTryStartsTheAutomaticOrderAgain) {
    click();
    queue.advance(200);
    EXPECT_EQ(engine.userConnects, 1);
    engine.connectionLife().tryEnded();
    queue.advance(500);
    EXPECT_EQ(engine.connects.size(), 2u);
    EXPECT_EQ(engine.userConnects, 2);
}

// L2TP's reconnect under the lock adds the server's route first; a try due
// meanwhile is parked, and goes on once: when the route is there or when an
// earlier lock answers, whichever comes first, and never after a Cancel.
TEST_F(PaneRequestsTest, LockRoadParksTheAttemptWhileARouteIsBeingAdded) {
    struct Row {
        const char* name;
        bool cancel, lockAnswers, routeAdded;
        std::size_t lockRequests;
    };
    for (const Row& row : {Row{"the route is added", false, false, true, 1}, Row{"a lock answers", false, true, false, 1},
                           Row{"both, once", false, true, true, 1}, Row{"after a Cancel", true, true, true, 0}}) {
        SCOPED_TRACE(row.name);
        PaneFixture f;
        f.model.setUseNetworkLock(true);
        f.engine.providerType = VPNTypesL2TP;
        f.click();
        f.queue.advance(200);
        ASSERT_EQ(f.engine.locks.size(), 1u);
        f.engine.locks[0].completion("203.0.113.9");
        f.queue.runUntilIdle();
        f.engine.closures.established();
        f.queue.runUntilIdle();
        f.engine.connectionLife().tryEnded();
        f.queue.runUntilIdle();
        ASSERT_EQ(f.engine.routes.size(), 1u);
        f.engine.routeBeingAdded = true;
        f.engine.locks.clear();
        f.queue.advance(500);
        EXPECT_TRUE(f.engine.locks.empty());
        EXPECT_EQ(f.pane->pendingConnectAttemptRequest_VPNServer(), "nl-1.havenway.test");
        if (row.cancel) {
            f.queue.advance(1000);  // the button takes no click within a second of the last
            f.click();
        }
        if (row.lockAnswers) f.pane->onNetworkLockEnabled("203.0.113.9");
        if (row.routeAdded) f.engine.routes[0].completion(std::string("198.51.100.7"));
        f.queue.runUntilIdle();
        ASSERT_EQ(f.engine.locks.size(), row.lockRequests);
        if (row.lockRequests) {
            EXPECT_EQ(f.engine.locks[0].host, "nl-1.havenway.test");
        }
        EXPECT_FALSE(f.pane->pendingConnectAttemptRequest());
        EXPECT_FALSE(f.pane->pendingConnectAttemptRequest_VPNServer());
    }
}

// Under the lock a lookup that failed is a try that ended: the window keeps
// the lock's look, and the next try comes paced, not at once.
TEST_F(PaneRequestsTest, LockWithoutAnyAddressKeepsTheLocksLookAndRetriesPaced) {
    model.setUseNetworkLock(true);
    nl->vpnConfig->vpnServerIPAddress.clear();
    click();
    queue.advance(200);
    engine.locks.at(0).completion("NO");
    queue.runUntilIdle();
    EXPECT_TRUE(engine.connects.empty());
    EXPECT_TRUE(view.errorBar.lowerText.empty()) << "no error bar under the reconnecting look";
    EXPECT_NE(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_EQ(engine.locks.size(), 1u);
    queue.advance(499);
    EXPECT_EQ(engine.locks.size(), 1u);
    queue.advance(1);
    ASSERT_EQ(engine.locks.size(), 2u);
    // The next failure waits twice as long.
    engine.locks[1].completion("");
    queue.runUntilIdle();
    queue.advance(999);
    EXPECT_EQ(engine.locks.size(), 2u);
    queue.advance(1);
    EXPECT_EQ(engine.locks.size(), 3u);
    // One cancel ends it all, and the lock with it.
    pane->performIntentionalDisconnect();
    queue.advance(60000);
    EXPECT_EQ(engine.locks.size(), 3u);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_FALSE(model.networkLockActivated);
}

TEST_F(PaneRequestsTest, MissingCredentialsOrConfigurationShowTheGenericErrorInsteadOfConnectingForever) {
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        PaneFixture f;
        if (row == 0) f.login.data.reset();
        else f.nl->vpnConfig.reset();
        f.click();
        f.queue.advance(200);
        EXPECT_TRUE(f.engine.connects.empty());
        EXPECT_EQ(f.view.errorBar.lowerText, LocaleData::vpn_connection_generic_error());
        EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
        EXPECT_FALSE(f.model.autoReconnectInProgress());
        f.queue.advance(5000);
        EXPECT_TRUE(f.engine.connects.empty());
    }
}

TEST_F(PaneRequestsTest, UserDisconnectResetsEveryFlagAndL2TPReportsItsOwnDropFirst) {
    for (auto provider : {VPNTypesOpenVPN, VPNTypesL2TP}) {
        SCOPED_TRACE(provider);
        PaneFixture f;
        f.connectAndEstablish();
        f.engine.providerType = provider;
        f.model.openvpn_not_reachable_error_notification_arrived = true;
        f.queue.advance(1000);
        f.engine.calls.clear();
        f.click();
        EXPECT_TRUE(f.model.intensionallyDisconnectedVPN());
        EXPECT_TRUE(f.pane->connectionInitiateCanceled());
        EXPECT_EQ(f.model.autoReconnectAttemptsCount(), 0);
        EXPECT_FALSE(f.model.openvpn_not_reachable_error_notification_arrived);
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::disconnected);
        // Only the L2TP road runs the drop handler itself, which re-arms the button.
        EXPECT_EQ(f.pane->isConnectedButtonActive(), provider == VPNTypesL2TP);
        EXPECT_EQ(f.engine.calls.front(), "disconnect");
        EXPECT_EQ(f.engine.calls.back(), "cleanUpSession:0");
        EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
        // The user's own disconnect is no drop: nothing reconnects.
        f.engine.closures.disconnected(false, false);
        f.queue.advance(2000);
        EXPECT_EQ(f.engine.connects.size(), 1u);
    }
}

}  // namespace
}  // namespace hw::test
