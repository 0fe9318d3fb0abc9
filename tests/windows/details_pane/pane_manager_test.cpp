// The pane over the real connection manager, with scripted providers and helper.
#include <gtest/gtest.h>

#include "connection/openvpn_constants.h"
#include "support/protocol_choice.h"
#include "texts/locale_data.h"
#include "windows/details_pane/pane_manager_fixture.h"

namespace hw::test {
namespace {

TEST_F(PaneManagerTest, ReportsReachTheLooksAndAUserDisconnectEndsReady) {
    clickToDial();
    ASSERT_EQ(openvpn->count("startDial"), 1);
    report(VPNStatusCodes::connecting);
    EXPECT_EQ(f.view.connectTo, "Connecting to");
    report(VPNStatusCodes::connected);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
    EXPECT_EQ(f.banners(), std::vector<std::string>{"connectedBanner:Netherlands"});

    f.queue.advance(1000);
    const int asked = f.ipRefreshes;
    ASSERT_EQ(engine->intents().primaryIntent(), ConnectionIntent::disconnect);
    engine->intents().connectOrEnd();
    f.queue.runUntilIdle();
    report(VPNStatusCodes::disconnected);  // stale by its ticket: the end on purpose shows itself
    f.queue.advance(2000);
    expectReadyLook();
    // As before the first connect: no mark of the tunnel on the flag, no row
    // of it, and the public address asked again.
    EXPECT_TRUE(f.view.connectedMarkHidden);
    EXPECT_TRUE(f.view.detailsBoxHidden);
    EXPECT_EQ(f.view.darkMap, false);
    EXPECT_GT(f.ipRefreshes, asked);
    EXPECT_NE(f.view.publicIP, LocaleData::connection_IP_address_refreshing_label());
    EXPECT_EQ(openvpn->count("startDial"), 1);  // no reconnect after the user's own disconnect
    EXPECT_LE(f.banners().size(), 2u);
}

TEST_F(PaneManagerTest, AFailedFirstAttemptRetriesToTheLimitAndEndsReady) {
    clickToDial();
    for (int attempt = 0; attempt < 10 && openvpn->callback; ++attempt) {
        report(VPNStatusCodes::disconnected, std::string("Please reconnect, or contact us."));
        // Paced: each retry waits longer than the one before, up to the cap.
        f.queue.advance(30000);
        f.queue.advance(1100);
    }
    // The first attempt and the four retries without the kill switch.
    EXPECT_EQ(openvpn->count("startDial"), 5);
    // The spent tries' error; the reports the test keeps sending after the
    // end are of an ended try, and show nothing.
    EXPECT_EQ(f.view.errorBar.lowerText, LocaleData::vpn_connection_generic_error());
    expectReadyLook();
    EXPECT_TRUE(f.banners().empty() || f.banners().front() != "disconnectedBanner:Netherlands");
}

// Each try that ends as the OpenVPN provider ends one at its bound: without
// the lock the count ends in the error bar; under it the tries go on past that
// count, each behind the lock (a failed lookup: the stored address's), and the
// pane says it is reconnecting.
TEST_F(PaneManagerTest, TriesThatEndAtTheirBoundCountToTheLimitOrGoOnUnderTheLock) {
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "unlocked");
        f.model.setUseNetworkLock(locked);
        // The address an earlier connect stored (the road without the lock forgets it).
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        const int dials = openvpn->count("startDial");
        helper.sent.clear();
        clickToDial();
        for (int attempt = 1; attempt <= 8 && openvpn->count("startDial") == dials + attempt; ++attempt) {
            if (locked) {
                EXPECT_GE(helper.count("enableNetworkLock"), attempt);
                EXPECT_EQ(std::count_if(helper.sent.begin(), helper.sent.end(),
                                        [](const std::string& l) { return l.rfind("staticRoute:198.51.100.7:", 0) == 0; }),
                          attempt);
                EXPECT_TRUE(f.model.networkLockActivated);
            }
            report(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4));
            f.queue.advance(30000);
            f.queue.advance(1100);
        }
        if (!locked) {
            EXPECT_EQ(openvpn->count("startDial"), dials + 5);
            EXPECT_EQ(f.view.errorBar.lowerText, LocaleData::vpn_connection_generic_error());
            expectReadyLook();
            continue;
        }
        EXPECT_EQ(openvpn->count("startDial"), dials + 9);
        EXPECT_GE(f.model.autoReconnectAttemptsCount(), 8);
        EXPECT_FALSE(f.view.overlayHidden);
        EXPECT_TRUE(f.model.autoReconnectInProgress());
        // A first connect that never connected: its banner does not say "has disconnected".
        EXPECT_EQ(f.shell.count("reconnectBanner:lock:first"), 1);
        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
    }
}

TEST_F(PaneManagerTest, ADropReconnectsAndTheReadyLooksOwnCleanUpStartsNothing) {
    clickToDial();
    report(VPNStatusCodes::connected);
    f.shell.calls.clear();
    report(VPNStatusCodes::disconnected);
    EXPECT_TRUE(f.model.autoReconnectInProgress());
    f.queue.advance(500);
    f.queue.advance(1100);
    EXPECT_EQ(openvpn->count("startDial"), 2);
    report(VPNStatusCodes::connected);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(f.model.autoReconnectAttemptsCount(), 0);
    // One notification per drop: the reconnect's banner, not "Disconnected" beside it.
    EXPECT_EQ(f.shell.count("disconnectedBanner:Netherlands"), 0);
    EXPECT_EQ(f.shell.count("reconnectBanner"), 1);
}

// A protocol chosen as the Protocol pane's Apply chooses it (and as the
// testbed's engine does) carries the next connect: IKEv2 after OpenVPN.
TEST_F(PaneManagerTest, AProtocolAppliedAfterAnOpenVPNConnectCarriesTheNextConnect) {
    clickToDial();
    report(VPNStatusCodes::connected);
    ASSERT_EQ(manager->currentProvider(), openvpn);
    pane->performIntentionalDisconnect();
    f.queue.advance(2000);

    applyProtocolChoice(f.model, *manager, VPNTypesIKEv2_StrongSwan);
    ASSERT_EQ(manager->currentProvider(), ike);
    f.queue.advance(1000);
    clickToDial();
    EXPECT_EQ(ike->count("connect"), 1);
    EXPECT_EQ(openvpn->count("startDial"), 1);
    applyProtocolChoice(f.model, *manager, VPNTypesOpenVPN);
    EXPECT_EQ(manager->currentProvider(), openvpn);
}

// Connected over each protocol, lock on and off, the network changes under
// the tunnel: the old session ends (whatever its protocol), the next try goes
// over the same protocol within a second, and one banner says so.
TEST_F(PaneManagerTest, ANetworkChangeReconnectsOverTheSameProtocolEndingTheOldSessionWithOneBanner) {
    struct Row {
        const char* name;
        VPNTypes protocol;
        bool lock;
    };
    for (const Row& row : {Row{"OpenVPN", VPNTypesOpenVPN, false}, Row{"OpenVPN, locked", VPNTypesOpenVPN, true},
                           Row{"IKEv2", VPNTypesIKEv2_StrongSwan, false},
                           Row{"IKEv2, locked", VPNTypesIKEv2_StrongSwan, true}}) {
        SCOPED_TRACE(row.name);
        applyProtocolChoice(f.model, *manager, row.protocol);
        f.model.setUseNetworkLock(row.lock);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        FakeProvider& provider = row.protocol == VPNTypesOpenVPN ? *openvpn : *ike;
        const char* tryCall = row.protocol == VPNTypesOpenVPN ? "startDial" : "connect";
        const int tries = provider.count(tryCall);
        clickToDial();
        ASSERT_EQ(provider.count(tryCall), tries + 1);
        provider.report(VPNStatusCodes::connected);
        f.queue.advance(100);
        ASSERT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        f.shell.calls.clear();
        provider.calls.clear();

        pane->requestReconnect(ReconnectReason::networkChanged);
        f.queue.runUntilIdle();
        EXPECT_EQ(provider.count(row.protocol == VPNTypesOpenVPN ? "disconnect" : "forceDisconnect"), 1)
            << "the old session runs on";
        EXPECT_NE(pane->connectButtonState(), ConnectButtonStates::disconnect) << "shown connected over the old way";
        f.queue.advance(500);
        f.queue.advance(1100);
        EXPECT_EQ(provider.count(tryCall), 1) << "no new try over the same protocol";
        provider.report(VPNStatusCodes::connected);
        f.queue.advance(100);
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        EXPECT_EQ(manager->currentProvider()->type(), row.protocol);
        EXPECT_EQ(f.shell.count(row.lock ? "reconnectBanner:lock" : "reconnectBanner"), 1);
        EXPECT_EQ(f.shell.count("connectedBanner:Netherlands"), 1);
        EXPECT_EQ(f.model.autoReconnectAttemptsCount(), 0);

        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
        EXPECT_FALSE(f.model.networkLockActivated);
    }
}

// Two changes of network under a connected tunnel: within the first second
// of the reconnect the first began, the second (once or twice) folds into it:
// one try, one banner, one "Connected", even when the tunnel's report comes
// late or twice. Later, the second ends the try the first began and starts
// its own.
// Once that reconnect's try has begun (at 0.5 s), the change starts it again
// on the new way out; one banner for the pair either way.
TEST_F(PaneManagerTest, AChangeWithinTheFirstSecondOfAReconnectFoldsIntoItUntilItsTryBegins) {
    struct Row {
        const char* name;
        int gapMs;
        int seconds;  // reports of the second change
        int tries;  // dialled (a try ended before its dial never dials)
        int sessionsEnded;
    };
    for (const Row& row : {Row{"0.3 s", 300, 1, 1, 1}, Row{"0.3 s, twice", 300, 2, 1, 1}, Row{"0.8 s", 800, 1, 1, 2},
                           Row{"0.8 s, twice", 800, 2, 1, 2}, Row{"1.5 s", 1500, 1, 2, 2}}) {
        SCOPED_TRACE(row.name);
        clickToDial();
        report(VPNStatusCodes::connected);
        f.queue.advance(100);
        f.shell.calls.clear();
        openvpn->calls.clear();

        pane->requestReconnect(ReconnectReason::networkChanged);
        f.queue.advance(row.gapMs);
        for (int i = 0; i < row.seconds; ++i) pane->requestReconnect(ReconnectReason::networkChanged);
        f.queue.advance(500);
        f.queue.advance(1100);
        EXPECT_EQ(openvpn->count("startDial"), row.tries);
        EXPECT_EQ(openvpn->count("disconnect"), row.sessionsEnded);
        report(VPNStatusCodes::connected);
        report(VPNStatusCodes::connected);
        f.queue.advance(5000);
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        EXPECT_EQ(f.shell.count("reconnectBanner"), 1);
        EXPECT_EQ(f.shell.count("connectedBanner:Netherlands"), 1);
        EXPECT_EQ(openvpn->count("startDial"), row.tries);

        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
    }
}

// A try the system refuses under the lock is not tried again; the lock
// stays and the window says so (never CONNECT with it engaged); one cancel
// lifts it and leaves the pane ready.
TEST_F(PaneManagerTest, ARefusalUnderTheLockEndsTheAttemptAndOneCancelLiftsTheLock) {
    f.model.setUseNetworkLock(true);
    f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    helper.createSucceeds = false;
    const int before = helper.countStarting("create:");
    const int asked = f.ipRefreshes;
    pane->onConnectButtonClick();
    f.queue.advance(200);
    f.queue.advance(5000);
    EXPECT_EQ(helper.countStarting("create:"), before + 1);
    EXPECT_TRUE(pane->lockHeld());
    EXPECT_GT(f.ipRefreshes, asked) << "the held lock's address left refreshing";
    EXPECT_TRUE(f.model.networkLockActivated);
    EXPECT_NE(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_FALSE(f.view.overlayHidden);
    EXPECT_EQ(f.view.errorBar.lowerText, LocaleData::vpn_connection_generic_error());
    f.queue.advance(120000);
    EXPECT_EQ(helper.countStarting("create:"), before + 1) << "a refusal is not retried";
    EXPECT_LE(f.shell.count("reconnectBanner:lock"), 1);

    EXPECT_FALSE(helper.lockResolvers.empty()) << "the lock lets no resolver through";
    const int releases = helper.countStarting("disableNetworkLock");
    f.queue.advance(1000);
    ASSERT_EQ(engine->intents().primaryIntent(), ConnectionIntent::liftLock);
    engine->intents().connectOrEnd();
    f.queue.runUntilIdle();
    EXPECT_EQ(helper.countStarting("disableNetworkLock"), releases + 1);
    EXPECT_FALSE(f.model.networkLockActivated);
    EXPECT_FALSE(pane->lockHeld());
    expectReadyLook();
    f.queue.advance(60000);
    EXPECT_EQ(helper.countStarting("create:"), before + 1);
}

// Automatic with every VPN port of the server dropped: each round gives
// every road its try (L2TP, which the helper says this machine has no kernel
// support for, is left out after its first), a failed round is one paced try
// of the attempt, never its end, and once the ports open the next round
// connects.
void automaticRoundsUntilThePortsOpen(PaneManagerTest& t, bool locked) {
    RegisteredPane registered(t);
    auto l2tp = std::static_pointer_cast<FakeProvider>(t.providers.L2TP);
    applyProtocolChoice(t.f.model, *t.manager, VPNTypesAutomatic);
    t.f.model.setUseNetworkLock(locked);
    t.f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    t.clickToDial();
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(t.ike->count("connect"), round);
        t.ike->report(VPNStatusCodes::disconnected);
        t.f.queue.advance(1200);
        ASSERT_EQ(t.manager->currentProvider(), t.openvpn);
        t.report(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4));
        t.f.queue.advance(1200);
        if (round == 1) {
            ASSERT_EQ(l2tp->count("startDial"), 1);
            l2tp->report(VPNStatusCodes::disconnected, std::string("4"));
            t.f.queue.runUntilIdle();
        }
        EXPECT_FALSE(t.pane->lockHeld());
        EXPECT_TRUE(t.f.model.autoReconnectInProgress());
        EXPECT_NE(t.pane->connectButtonState(), ConnectButtonStates::connect);
        t.f.queue.advance(30000);
        t.f.queue.advance(1200);
    }
    EXPECT_EQ(l2tp->count("startDial"), 1);
    ASSERT_EQ(t.manager->currentProvider(), t.ike);
    t.ike->report(VPNStatusCodes::connected);
    t.f.queue.runUntilIdle();
    EXPECT_EQ(t.pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(t.f.model.currentConnectionState(), ConnectionStates::connected);
    EXPECT_EQ(t.manager->preferedVPNProtocolForAutomaticMode(), VPNTypesIKEv2_StrongSwan);
}

TEST_F(PaneManagerTest, AutomaticGoesOnRoundAfterRoundAndConnectsOnceThePortsOpen) {
    automaticRoundsUntilThePortsOpen(*this, false);
}

TEST_F(PaneManagerTest, AutomaticUnderTheLockGoesOnRoundAfterRoundAndConnectsOnceThePortsOpen) {
    automaticRoundsUntilThePortsOpen(*this, true);
}

// The responder refuses the account's EAP secret: the attempt ends at once in
// the wrong-password error, as OpenVPN's does, lock or not (the lock then
// holds), and nothing is tried again. The same report twice, after a Cancel,
// or from an earlier try's subscription changes nothing.
TEST_F(PaneManagerTest, AnIKEv2RefusedAccountEndsTheAttemptInTheWrongPasswordError) {
    enum class When { early, twice, afterCancel, fromAnEarlierTry };
    struct Row {
        const char* name;
        When when;
        bool locked;
    };
    RegisteredPane registered(*this);
    const std::string refusal = "Client authentication failed";
    for (const Row& row : {Row{"early", When::early, false}, Row{"early, locked", When::early, true},
                           Row{"twice", When::twice, false}, Row{"twice, locked", When::twice, true},
                           Row{"after a Cancel", When::afterCancel, false},
                           Row{"from an earlier try", When::fromAnEarlierTry, true}}) {
        SCOPED_TRACE(row.name);
        applyProtocolChoice(f.model, *manager, VPNTypesIKEv2_StrongSwan);
        f.model.setUseNetworkLock(row.locked);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        f.view.errorBar = {};
        const int tries = ike->count("connect");
        clickToDial();
        ASSERT_EQ(ike->count("connect"), tries + 1);
        ManagerStatusCallback subscription = ike->callback;
        ASSERT_TRUE(subscription);
        if (row.when == When::afterCancel) {
            pane->performIntentionalDisconnect();
            f.queue.advance(2000);
        } else if (row.when == When::fromAnEarlierTry) {
            ike->report(VPNStatusCodes::disconnected);
            f.queue.advance(30000);
            ASSERT_EQ(ike->count("connect"), tries + 2);
        }
        subscription(VPNStatusCodes::disconnected, refusal, VPNTypesIKEv2_StrongSwan);
        if (row.when == When::twice) subscription(VPNStatusCodes::disconnected, refusal, VPNTypesIKEv2_StrongSwan);
        f.queue.runUntilIdle();
        f.queue.advance(120000);
        const std::string bar = f.view.errorBar.lowerText.empty() ? f.view.errorBar.multiLineText : f.view.errorBar.lowerText;
        if (row.when == When::afterCancel) {
            EXPECT_EQ(ike->count("connect"), tries + 1);
            EXPECT_TRUE(bar.empty());
            expectReadyLook();
            continue;
        }
        if (row.when == When::fromAnEarlierTry) {
            // The try in force runs on, undisturbed.
            EXPECT_EQ(ike->count("connect"), tries + 2);
            EXPECT_FALSE(pane->lockHeld());
            EXPECT_NE(pane->connectButtonState(), ConnectButtonStates::connect);
            EXPECT_NE(bar, OpenVPNConstants::errorText(0));
            pane->performIntentionalDisconnect();
            f.queue.advance(2000);
            continue;
        }
        EXPECT_EQ(ike->count("connect"), tries + 1) << "a refusal is not retried";
        EXPECT_EQ(bar, OpenVPNConstants::errorText(0));
        EXPECT_EQ(pane->lockHeld(), row.locked);
        if (!row.locked) expectReadyLook();
        f.queue.advance(1000);
        if (row.locked) pane->onConnectButtonClick();
        f.queue.advance(2000);
        expectReadyLook();
    }
}

// The internet lost during a first try (no reconnect announced yet), without
// the lock: a second later its session goes and the try is over, so the pane
// waits for the network instead of showing Connecting for good, and the
// network's return starts the next try. The try's own late end, a second
// loss, and an earlier try's end change nothing more.
TEST_F(PaneManagerTest, AFirstTryThatLosesTheInternetWaitsForItAndGoesOn) {
    RegisteredPane registered(*this);
    auto l2tp = std::static_pointer_cast<FakeProvider>(providers.L2TP);
    applyProtocolChoice(f.model, *manager, VPNTypesL2TP);
    enum class Extra { none, lateEnd, secondLoss };
    for (const Extra extra : {Extra::none, Extra::lateEnd, Extra::secondLoss}) {
        SCOPED_TRACE(static_cast<int>(extra));
        const int dials = l2tp->count("startDial");
        clickToDial();
        ASSERT_EQ(l2tp->count("startDial"), dials + 1);
        ManagerStatusCallback subscription = l2tp->callback;
        pane->reachabilityChanged(false);
        manager->onInternetConnectionLost();
        if (extra == Extra::secondLoss) manager->onInternetConnectionLost();
        f.queue.advance(999);
        EXPECT_EQ(f.view.connectTo, "Connecting to");
        f.queue.advance(1);
        f.queue.runUntilIdle();
        EXPECT_EQ(f.view.connectTo, LocaleData::main_view_waiting_for_network_label());
        if (extra == Extra::lateEnd && subscription) subscription(VPNStatusCodes::disconnected, std::string("7"), VPNTypesL2TP);
        f.queue.advance(60000);
        EXPECT_EQ(l2tp->count("startDial"), dials + 1) << "no try without the network";
        pane->reachabilityChanged(true);
        f.queue.advance(2000);
        EXPECT_EQ(l2tp->count("startDial"), dials + 2);
        l2tp->report(VPNStatusCodes::connected);
        f.queue.runUntilIdle();
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        // The first try's subscription, late: its try is long over.
        if (subscription) subscription(VPNStatusCodes::disconnected, std::nullopt, VPNTypesL2TP);
        f.queue.runUntilIdle();
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
    }
}

// The helper's installation dismissed at the first Connect ends the attempt
// as it fails, lock or not, before the sheet is answered: the pane is ready,
// the lock asked for is released with the server's route, and nothing is
// tried again. The answer given twice, or after the next Connect, changes
// nothing more.
TEST_F(PaneManagerTest, AHelperInstallationDismissedEndsItsAttemptOnceInTheReadyLook) {
    enum class When { once, twice, afterNextConnect };
    struct Row {
        const char* name;
        When when;
        bool locked;
    };
    for (const Row& row : {Row{"once", When::once, false}, Row{"once, locked", When::once, true},
                           Row{"twice", When::twice, false}, Row{"after the next Connect", When::afterNextConnect, true}}) {
        SCOPED_TRACE(row.name);
        f.model.setUseNetworkLock(row.locked);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        // An older helper runs (it adds the server's route); the new one is refused.
        helper.installedVersion = "0.9";
        helper.installSucceeds = false;
        helper.installRefused = true;
        alertAnswers.clear();
        const int dials = openvpn->count("startDial");
        helper.sent.clear();
        clickToDial();
        ASSERT_EQ(alertAnswers.size(), 1u);
        expectReadyLook();
        EXPECT_FALSE(f.model.networkLockActivated);
        // The lock's road added the server's route: its release comes after it.
        const auto last = [&](const std::string& prefix) {
            for (auto i = helper.sent.size(); i > 0; --i)
                if (helper.sent[i - 1].rfind(prefix, 0) == 0) return static_cast<int>(i);
            return 0;
        };
        EXPECT_EQ(last("staticRoute:") > 0, row.locked);
        if (row.locked) {
            EXPECT_GT(last("disableNetworkLock"), last("staticRoute:")) << "the server's route is left";
        }
        if (row.when == When::afterNextConnect) {
            f.queue.advance(1000);
            clickToDial();
            ASSERT_EQ(alertAnswers.size(), 2u);
        }
        alertAnswers.front()(0);
        if (row.when == When::twice) alertAnswers.front()(1);
        f.queue.runUntilIdle();
        expectReadyLook();
        EXPECT_EQ(pane->connectionLife().state(), ConnectionLife::State::disconnected);
        f.queue.advance(60000);
        EXPECT_EQ(openvpn->count("startDial"), dials);
        EXPECT_EQ(alertAnswers.size(), row.when == When::afterNextConnect ? 2u : 1u) << "tried again unasked";
        f.queue.advance(1000);
    }
}

// The engine ending a connected tunnel by itself ends the attempt: the
// window and the machine agree it is over, and a later blip of the network
// reconnects nothing.
TEST_F(PaneManagerTest, AForcedEndOfAConnectedTunnelLeavesNothingToReconnect) {
    clickToDial();
    report(VPNStatusCodes::connected);
    ASSERT_EQ(pane->connectionLife().state(), ConnectionLife::State::connected);
    manager->onDisconnectedStateNotification(true, false);
    manager->onDisconnectedStateNotification(true, false);  // twice: the same end
    f.queue.runUntilIdle();
    expectReadyLook();
    EXPECT_EQ(pane->connectionLife().state(), ConnectionLife::State::disconnected);
    for (auto reason : {ReconnectReason::networkLost, ReconnectReason::networkReturned,
                        ReconnectReason::networkChanged, ReconnectReason::woke}) {
        pane->requestReconnect(reason);
        f.queue.advance(2000);
    }
    report(VPNStatusCodes::disconnected);  // the tunnel's own late report
    f.queue.advance(60000);
    EXPECT_EQ(openvpn->count("startDial"), 1);
    expectReadyLook();
}

// A helper lost before a tunnel is a forced end of the machine: under the
// lock the lock holds with the helper's own error, once, and nothing is tried.
TEST_F(PaneManagerTest, AHelperLostMidAttemptUnderTheLockHoldsItInItsOwnError) {
    f.model.setUseNetworkLock(true);
    f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    clickToDial();
    const int creates = helper.countStarting("create:");
    manager->helperDied(true);
    f.queue.runUntilIdle();
    EXPECT_TRUE(pane->lockHeld());
    EXPECT_EQ(f.view.errorBar.upperText, LocaleData::helper_unreachable_error_upper());
    EXPECT_FALSE(f.view.overlayHidden);
    manager->helperDied(true);  // twice: the same end
    f.queue.advance(120000);
    EXPECT_TRUE(pane->lockHeld());
    EXPECT_EQ(helper.countStarting("create:"), creates) << "tried again with no helper";
    pane->onConnectButtonClick();
    f.queue.runUntilIdle();
    EXPECT_FALSE(pane->lockHeld());
    expectReadyLook();
}

// A Connect after the helper died finds no helper for any try: the attempt
// ends at once in the helper's error (held under the lock) instead of
// saying Connecting through tries that cannot work. The death told twice or
// after a Cancel changes nothing; once the helper answers, Connect dials.
TEST_F(PaneManagerTest, AConnectWithTheHelperGoneEndsInItsErrorAndOneAfterItsReturnDials) {
    enum class When { early, twice, afterCancel };
    struct Row {
        const char* name;
        When when;
        bool locked;
    };
    for (const Row& row : {Row{"early", When::early, false}, Row{"early, locked", When::early, true},
                           Row{"twice", When::twice, false}, Row{"after a Cancel", When::afterCancel, true}}) {
        SCOPED_TRACE(row.name);
        f.model.setUseNetworkLock(row.locked);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        f.view.errorBar = {};
        if (row.when == When::afterCancel) {
            clickToDial();
            f.queue.advance(1000);
            pane->onConnectButtonClick();
            f.queue.advance(2000);
        }
        // A helper that is gone carries nothing out.
        helper.died = true;
        helper.createSucceeds = false;
        helper.enableNetworkLockReply = "NO";
        manager->helperDied(true);
        if (row.when == When::twice) manager->helperDied(true);
        f.queue.advance(2000);
        const int creates = helper.countStarting("create:");
        const int routes = helper.countStarting("staticRoute:");
        pane->onConnectButtonClick();
        f.queue.runUntilIdle();
        f.queue.advance(120000);
        EXPECT_EQ(f.view.errorBar.upperText, LocaleData::helper_unreachable_error_upper());
        EXPECT_EQ(helper.countStarting("create:"), creates) << "tried with no helper";
        EXPECT_EQ(helper.countStarting("staticRoute:"), routes) << "tried with no helper";
        // No row's lock was ever put in place: nothing is held back, so
        // none may say traffic is blocked.
        EXPECT_FALSE(pane->lockHeld());
        expectReadyLook();

        helper.died = false;
        helper.createSucceeds = true;
        helper.enableNetworkLockReply = "192.168.1.1\n";
        const int dials = openvpn->count("startDial");
        clickToDial();
        EXPECT_EQ(openvpn->count("startDial"), dials + 1);
        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
    }
}

TEST_F(PaneManagerTest, TeardownLeavesNoClosureInTheManager) {
    pane.reset();
    EXPECT_FALSE(manager->onConnectionEstablishedNotification);
    EXPECT_FALSE(manager->onConnectionErrorNotification);
    EXPECT_FALSE(manager->onConnectingStateNotification);
    EXPECT_FALSE(manager->onDisconnectedStateNotification);
    EXPECT_FALSE(manager->connectionTimerTickCallback);
}

}  // namespace
}  // namespace hw::test
