// Where an event enters the attempt from outside its own tries, through the
// pane and the real manager: Automatic's remembered road, the helper's death
// and return, the lock's answers. Each event early, late, twice and stale.
#include <gtest/gtest.h>

#include "connection/openvpn_constants.h"
#include "support/protocol_choice.h"
#include "texts/locale_data.h"
#include "windows/details_pane/pane_manager_fixture.h"

namespace hw::test {
namespace {

enum class When { early, late, twice, stale };

const char* whenName(When when) {
    switch (when) {
        case When::early: return "early";
        case When::late: return "late";
        case When::twice: return "twice";
        case When::stale: return "stale";
    }
    return "?";
}

struct PaneManagerSeams : PaneManagerTest {
    FakeProvider& road(VPNTypes type) { return type == VPNTypesOpenVPN ? *openvpn : *ike; }
    int tries(VPNTypes type) { return type == VPNTypesOpenVPN ? openvpn->count("startDial") : ike->count("connect"); }
    void fail(VPNTypes type) {
        if (type == VPNTypesOpenVPN) road(type).report(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4));
        else road(type).report(VPNStatusCodes::disconnected);
        f.queue.runUntilIdle();
    }
    void disconnectNow() {
        pane->performIntentionalDisconnect();
        f.queue.advance(2000);
    }
    bool helperBarShown() const { return pane->errorBar().upperText == LocaleData::helper_unreachable_error_upper(); }
};

// The road that won is tried first; when it fails, the rest of the order
// follows in the same try (no reconnect announced), lock or not, and the
// road that connects is the next winner. Its failure told twice, late (after
// the next road started) or by the attempt before changes nothing more.
TEST_F(PaneManagerSeams, AutomaticTriesTheLastWinnerFirstAndFallsBackInTheSameTry) {
    struct Row {
        VPNTypes winner;
        bool locked;
        When when;
    };
    RegisteredPane registered(*this);
    applyProtocolChoice(f.model, *manager, VPNTypesAutomatic);
    f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    // Each way round, lock on and off, among the rows.
    for (const Row& row : {Row{VPNTypesIKEv2_StrongSwan, false, When::early}, Row{VPNTypesOpenVPN, false, When::twice},
                           Row{VPNTypesOpenVPN, true, When::late}, Row{VPNTypesIKEv2_StrongSwan, true, When::stale}}) {
        const VPNTypes other = row.winner == VPNTypesOpenVPN ? VPNTypesIKEv2_StrongSwan : VPNTypesOpenVPN;
        SCOPED_TRACE(std::string(row.winner == VPNTypesOpenVPN ? "OpenVPN won" : "IKEv2 won") +
                     (row.locked ? ", locked, " : ", ") + whenName(row.when));
        f.model.setUseNetworkLock(row.locked);
        // The address an earlier connect stored (the road without the lock forgets it).
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        // The winner connects (after the roads before it, if it is not first).
        clickToDial();
        for (int i = 0; i < 3 && manager->currentProvider()->type() != row.winner; ++i) {
            fail(*manager->currentProvider()->type());
            f.queue.advance(1200);
        }
        road(row.winner).report(VPNStatusCodes::connected);
        f.queue.runUntilIdle();
        ASSERT_EQ(manager->preferedVPNProtocolForAutomaticMode(), row.winner);
        const ManagerStatusCallback earlier = road(row.winner).callback;
        disconnectNow();
        f.shell.calls.clear();

        // Its ports dropped: it is tried first, then the other road.
        const int winnerTries = tries(row.winner), otherTries = tries(other);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        clickToDial();
        ASSERT_EQ(tries(row.winner), winnerTries + 1);
        if (row.when == When::stale) {
            earlier(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4), row.winner);
            f.queue.advance(1200);
            EXPECT_EQ(manager->currentProvider()->type(), row.winner) << "the attempt before moved the order";
        }
        const ManagerStatusCallback winnerNow = road(row.winner).callback;
        fail(row.winner);
        if (row.when == When::twice) fail(row.winner);
        f.queue.advance(1200);
        EXPECT_EQ(manager->currentProvider()->type(), other);
        EXPECT_EQ(tries(other), otherTries + 1) << "the rest of the order was not tried";
        if (row.when == When::late) {
            winnerNow(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4), row.winner);
            f.queue.advance(1200);
            EXPECT_EQ(tries(other), otherTries + 1);
        }
        EXPECT_EQ(f.shell.count("reconnectBanner"), 0) << "a fallback is no reconnect";
        road(other).report(VPNStatusCodes::connected);
        f.queue.runUntilIdle();
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        EXPECT_EQ(manager->preferedVPNProtocolForAutomaticMode(), other);
        disconnectNow();
    }
}

// strongSwan's road reaches the helper on its own connection: a Connect with
// the helper gone but not yet noticed ends in the helper's error at once (the
// lock holds if it was put in place), never paced tries behind a banner. The
// death told twice changes nothing; the answer after a Cancel shows nothing.
TEST_F(PaneManagerSeams, AnIKEv2ConnectThatFindsNoHelperEndsInItsError) {
    struct Row {
        When when;
        bool locked;
    };
    RegisteredPane registered(*this);
    applyProtocolChoice(f.model, *manager, VPNTypesIKEv2_StrongSwan);
    f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
    for (const Row& row : {Row{When::early, true}, Row{When::twice, false}, Row{When::stale, false}}) {
        SCOPED_TRACE(std::string(whenName(row.when)) + (row.locked ? ", locked" : ""));
        f.model.setUseNetworkLock(row.locked);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        pane->hideErrorNotificationBar();
        f.shell.calls.clear();
        helper.lockHeld = std::nullopt;  // no answer
        helper.lockStateDelayMs = row.when == When::stale ? 1000 : 0;
        const int connects = ike->count("connect");
        if (row.when == When::stale) {
            pane->onConnectButtonClick();
            f.queue.advance(500);
            ASSERT_GE(helper.count("networkLockState"), 1);
            disconnectNow();
        } else {
            clickToDial();
        }
        if (row.when == When::twice) {
            manager->helperDied(true);
            manager->helperDied(true);
        }
        f.queue.advance(120000);
        EXPECT_EQ(ike->count("connect"), connects) << "tried with no helper";
        EXPECT_EQ(f.shell.count("reconnectBanner"), 0);
        EXPECT_EQ(helperBarShown(), row.when != When::stale);
        EXPECT_EQ(pane->lockHeld(), row.locked);
        if (row.locked) pane->onConnectButtonClick();
        f.queue.advance(2000);
        expectReadyLook();
        helper.lockHeld = false;
        manager->helperDied(false);
    }
}

// The words after a Disconnect follow what the helper did: one back but not
// yet noticed carries it out and no error is said; one still gone is said so,
// and the bar goes once it has carried the Disconnect out on its return (told
// twice: the same), not on the return alone. Told with no Disconnect left to
// it, another bar stays. The bar its loss put up goes once it answers again.
TEST_F(PaneManagerSeams, TheWordsAfterADisconnectFollowWhatTheHelperDid) {
    struct Row {
        const char* name;
        bool goneAtDisconnect;  // else back, unnoticed
        int carriedOutTold;
        bool otherBar;  // the bar shows another error when the helper is back
        bool lossTold;  // its loss ended the attempt before the Disconnect
        bool returnTold;
        bool barAfter;
    };
    for (const Row& row : {Row{"back, unnoticed", false, 0, false, false, false, false},
                           Row{"gone, back told twice", true, 2, false, false, false, false},
                           Row{"gone, never back", true, 0, false, false, false, true},
                           Row{"gone, back but nothing carried out yet", true, 0, false, false, true, true},
                           Row{"back while another error shows", true, 1, true, false, false, true},
                           Row{"loss told, back unnoticed", false, 0, false, true, true, false}}) {
        SCOPED_TRACE(row.name);
        f.model.setUseNetworkLock(true);
        f.nl->vpnConfig->setVPNServerIPAddress("198.51.100.7");
        pane->hideErrorNotificationBar();
        clickToDial();
        report(VPNStatusCodes::connected);
        ASSERT_EQ(f.model.currentConnectionState(), ConnectionStates::connected);
        if (row.lossTold) {
            helper.died = true;
            report(VPNStatusCodes::disconnected);
            manager->helperDied(true);
            f.queue.runUntilIdle();
            ASSERT_TRUE(helperBarShown());
        }
        helper.died = row.goneAtDisconnect;
        helper.backUnnoticed = !row.goneAtDisconnect;
        f.queue.advance(1000);
        engine->intents().connectOrEnd();
        f.queue.advance(2000);
        EXPECT_EQ(helperBarShown(), row.goneAtDisconnect || row.lossTold);
        helper.died = helper.backUnnoticed = false;
        if (row.otherBar) pane->showErrorNotificationBar(LocaleData::vpn_connection_generic_error());
        if (row.returnTold) manager->helperDied(false);
        for (int i = 0; i < row.carriedOutTold; ++i) helper.teardownCarriedOut();
        f.queue.runUntilIdle();
        EXPECT_EQ(!pane->errorBar().upperText.empty(), row.barAfter);
        if (row.otherBar) {
            EXPECT_FALSE(helperBarShown());
        }
        manager->helperDied(false);
    }
}

// Without the lock a helper that dies under a connected tunnel ends the
// attempt in its error; no "Reconnecting" banner comes after that end, from
// the tunnel's own end reported late or twice. Its bar goes once it answers again.
TEST_F(PaneManagerSeams, AHelperDeathUnderATunnelShowsNoReconnectAfterTheEnd) {
    RegisteredPane registered(*this);
    for (const When when : {When::late, When::twice}) {
        SCOPED_TRACE(whenName(when));
        pane->hideErrorNotificationBar();
        clickToDial();
        report(VPNStatusCodes::connected);
        f.shell.calls.clear();
        helper.died = true;
        if (when != When::late) report(VPNStatusCodes::disconnected);
        if (when == When::twice) report(VPNStatusCodes::disconnected);
        manager->helperDied(true);
        f.queue.runUntilIdle();
        if (when == When::late) report(VPNStatusCodes::disconnected);
        f.queue.advance(120000);
        EXPECT_TRUE(helperBarShown());
        EXPECT_EQ(pane->connectionLife().state(), ConnectionLife::State::disconnected);
        // A banner the tunnel's drop put out before the death was known is withdrawn.
        EXPECT_EQ(f.shell.count("reconnectBanner"), 1);
        EXPECT_EQ(f.shell.count("reconnectBannerWithdrawn"), f.shell.count("reconnectBanner"));
        helper.died = false;
        manager->helperDied(false);
        f.queue.runUntilIdle();
        EXPECT_FALSE(helperBarShown());
        expectReadyLook();
    }
}

// An engagement's answer read after the lock's release is not a lock in
// place: a helper lost afterwards holds nothing and says nothing is blocked.
// One asked after the release, or never released, is in place.
TEST_F(PaneManagerSeams, ALockAnswerReadAfterItsReleaseIsNoLockInPlace) {
    struct Row {
        const char* name;
        bool released;
        bool askedAgain;
        int answers;
        bool held;
    };
    for (const Row& row : {Row{"answered, not released", false, false, 1, true},
                           Row{"answered twice after its release", true, false, 2, false},
                           Row{"asked again after the release", true, true, 1, true}}) {
        SCOPED_TRACE(row.name);
        helper.lockReplyDelayMs = 500;
        for (int i = 0; i < row.answers; ++i) manager->enableNetworkLock();
        if (row.released) manager->disableNetworkLock();
        if (row.askedAgain) manager->enableNetworkLock();
        f.queue.advance(500);
        helper.lockReplyDelayMs = 0;
        // A try without the lock, which the helper's loss ends.
        f.model.setUseNetworkLock(false);
        clickToDial();
        manager->helperDied(true);
        f.queue.runUntilIdle();
        EXPECT_EQ(pane->lockHeld(), row.held);
        EXPECT_TRUE(helperBarShown());
        manager->helperDied(false);
        if (row.held) pane->onConnectButtonClick();
        f.queue.advance(2000);
        manager->disableNetworkLock();
        expectReadyLook();
    }
}

}  // namespace
}  // namespace hw::test
