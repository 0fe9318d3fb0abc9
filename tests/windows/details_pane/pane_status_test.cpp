// Status reports, the reconnect loop and connection errors of the details pane.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/capture_log.h"
#include "texts/locale_data.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

struct PaneStatusTest : PaneFixture, ::testing::Test {};

TEST_F(PaneStatusTest, EstablishedShowsTheConnectedLookOnceAndRefreshesTheAddress) {
    connectAndEstablish();
    EXPECT_TRUE(pane->isConnectedToVPN());
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::connected);
    EXPECT_EQ(view.connectTo, "Connected to");
    EXPECT_FALSE(view.connectedMarkHidden);
    EXPECT_EQ(view.darkMap, true);
    EXPECT_FALSE(view.changeLocationEnabled);
    EXPECT_TRUE(model.vpnSettingsChangingDisabled());
    EXPECT_EQ(statuses.back(), "Connected");
    EXPECT_EQ(ipRefreshes, 1);
    EXPECT_EQ(banners(), std::vector<std::string>{"connectedBanner:Netherlands"});

    // A second report changes nothing on screen but is still counted.
    engine.closures.established();
    queue.runUntilIdle();
    EXPECT_EQ(ipRefreshes, 1);
    EXPECT_EQ(banners().size(), 1u);
    const auto names = eventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ae_vpn_connected"), 2);
}

// A lookup that failed in a backend outage left the line blank: once the
// internet is back it is asked again; an address still shown is kept.
TEST_F(PaneStatusTest, ABlankPublicAddressIsLookedUpAgainWhenTheInternetIsBack) {
    model.userPublicIP = std::string();
    const int before = ipRefreshes;
    pane->refreshIPAddressIfBlank();
    model.userPublicIP = "203.0.113.9";  // the lookup's answer
    queue.runUntilIdle();
    EXPECT_EQ(ipRefreshes, before + 1);
    EXPECT_EQ(view.publicIP, "203.0.113.9");
    pane->refreshIPAddressIfBlank();
    queue.runUntilIdle();
    EXPECT_EQ(ipRefreshes, before + 1);
}

// Disconnect asks for the address; a Connect before the answer keeps
// "Refreshing…" on the card until its own tunnel is asked for.
TEST_F(PaneStatusTest, AnAddressAskedBeforeANewConnectIsNotShownWhileItConnects) {
    connectAndEstablish();
    queue.advance(1000);
    holdIPAnswers = true;
    click();
    queue.advance(2000);
    ASSERT_FALSE(heldIPAnswers.empty());
    click();
    ASSERT_EQ(model.currentConnectionState(), ConnectionStates::connecting);
    model.userPublicIP = "203.0.113.9";
    for (auto& answer : heldIPAnswers) answer();
    heldIPAnswers.clear();
    queue.runUntilIdle();
    EXPECT_EQ(view.publicIP, LocaleData::connection_IP_address_refreshing_label());
}

TEST_F(PaneStatusTest, DropTable) {
    struct Row {
        const char* name;
        std::function<void(PaneFixture&)> setUp;
        bool force;
        bool reconnects;
    };
    const Row rows[] = {
        {"unexpected", [](PaneFixture&) {}, false, true},
        {"forced", [](PaneFixture&) {}, true, false},
        {"intentional", [](PaneFixture& f) { f.engine.connectionLife().life().cancel(); }, false, false},
        {"signed out", [](PaneFixture& f) { f.model.isLoggedInUser = false; }, false, false},
        // Wi-Fi security's tunnel is as worth keeping: its drop is retried too.
        {"Wi-Fi security", [](PaneFixture& f) { f.model.unsecured_Wi_Fi_VPN_activated = true; }, false, true},
        {"SSID changed", [](PaneFixture& f) { f.wifiInfo->setNetworkWiFi_SSID_hasChanged(true); }, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PaneFixture f;
        f.connectAndEstablish();
        f.shell.calls.clear();
        f.events.clear();
        row.setUp(f);
        f.engine.closures.disconnected(row.force, false);
        f.queue.runUntilIdle();
        // Connected before: the drop is reported whatever follows.
        EXPECT_EQ(f.eventNames().front(), "ae_vpn_disconnected");
        // One notification per drop: the reconnect's banner when it is retried.
        EXPECT_EQ(f.banners().front(), row.reconnects ? "reconnectBanner" : "disconnectedBanner:Netherlands");
        EXPECT_EQ(f.model.autoReconnectInProgress(), row.reconnects);
        EXPECT_FALSE(f.model.unsecured_Wi_Fi_VPN_activated);
        if (row.reconnects) {
            // A tunnel that went down is no longer shown connected: reconnecting at once.
            EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connecting);
            EXPECT_FALSE(f.view.changeLocationEnabled);
            f.queue.advance(500);
            EXPECT_EQ(f.engine.connects.size(), 2u);
        } else {
            EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
            EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::disconnected);
            EXPECT_TRUE(f.view.changeLocationEnabled);
            EXPECT_EQ(f.view.connectTo, "Connect to");
            f.queue.advance(2000);
            EXPECT_EQ(f.engine.connects.size(), 1u);
        }
    }
}

TEST_F(PaneStatusTest, AFailedFirstAttemptSendsNothingAndTheNextClickConnectsAgain) {
    click();
    queue.advance(200);
    events.clear();
    engine.closures.error("Some server error");
    queue.runUntilIdle();
    EXPECT_TRUE(eventNames().empty());
    EXPECT_EQ(banners(), std::vector<std::string>{"reconnectBanner:first"});
    // Its reconnect ends too; the look is ready and the state says so.
    queue.advance(500);
    model.setAutoReconnectInProgress(false);
    pane->performIntentionalDisconnect();
    queue.runUntilIdle();
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::disconnected);
    queue.advance(1000);
    engine.connects.clear();
    click();
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connecting);
    queue.advance(200);
    EXPECT_EQ(engine.connects.size(), 1u);
}

TEST_F(PaneStatusTest, AttemptLimitsWithoutTheKillSwitch) {
    struct Row {
        const char* name;
        std::optional<VPNTypes> provider;
        bool discovery;
        int limit;
    };
    for (const auto& row : {Row{"no provider", std::nullopt, false, 4}, Row{"OpenVPN", VPNTypesOpenVPN, false, 4},
                            Row{"strongSwan", VPNTypesIKEv2_StrongSwan, false, 10},
                            Row{"protocol search", VPNTypesIKEv2_StrongSwan, true, 4}}) {
        SCOPED_TRACE(row.name);
        PaneFixture f;
        f.engine.providerType = row.provider;
        f.engine.discovery = row.discovery;
        f.pane->startConnectionRequest();
        f.queue.runUntilIdle();
        for (int i = 0; i < row.limit; ++i) {
            f.engine.connectionLife().tryEnded();
            f.engine.connectionLife().tryEnded();  // the same end told twice: one count
            f.queue.advance(30000);
        }
        EXPECT_EQ(f.model.autoReconnectAttemptsCount(), row.limit);
        EXPECT_TRUE(f.view.errorBar.upperText.empty());
        f.engine.connectionLife().tryEnded();
        f.queue.runUntilIdle();
        EXPECT_EQ(f.view.errorBar.lowerText, LocaleData::vpn_connection_generic_error());
        // The attempt ended: the next Connect starts its count afresh.
        EXPECT_EQ(f.model.autoReconnectAttemptsCount(), 0);
        EXPECT_FALSE(f.model.autoReconnectInProgress());
        f.queue.advance(120000);
        EXPECT_EQ(f.engine.connects.size(), static_cast<std::size_t>(row.limit + 1));
    }
}

TEST_F(PaneStatusTest, KillSwitchReappliesTheLockOnEveryDropHasNoLimitAndShowsTheOverlay) {
    model.setUseNetworkLock(true);
    model.networkLockActivated = true;
    pane->onDisconnectedStateNotification(true, false);
    pane->onDisconnectedStateNotification(false, false);
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "reapplyNetworkLock"), 2);
    model.setAutoReconnectInProgress(false);
    model.setAutoReconnectAttemptsCount(0);
    pane->startConnectionRequest();
    queue.runUntilIdle();
    for (int i = 0; i < 12; ++i) {
        engine.connectionLife().tryEnded();
        queue.advance(30000);
    }
    EXPECT_EQ(model.autoReconnectAttemptsCount(), 12);
    EXPECT_EQ(engine.locks.size(), 13u) << "a try after each end, one at a time";
    EXPECT_TRUE(view.errorBar.upperText.empty());
    EXPECT_FALSE(view.overlayHidden);
    EXPECT_TRUE(view.overlaySpinning);
    EXPECT_EQ(banners().front(), "reconnectBanner:lock:first");
}

// The lock hides the network's return from the watch: a loss under it
// never parks the attempt waiting for a return it cannot see.
TEST_F(PaneStatusTest, UnderTheLockALostLinkKeepsTheTriesGoingInsteadOfWaitingForTheNetwork) {
    model.setUseNetworkLock(true);
    connectAndEstablish();
    model.networkLockActivated = true;
    auto tries = [&] { return engine.connects.size() + engine.locks.size(); };
    const auto before = tries();
    pane->reachabilityChanged(false);
    queue.advance(500);
    EXPECT_EQ(tries(), before + 1);
    EXPECT_TRUE(model.autoReconnectInProgress());
    // That try found no way out yet; the next one comes all the same.
    engine.connectionLife().tryEnded();
    pane->reachabilityChanged(false);
    queue.advance(30000);
    EXPECT_EQ(tries(), before + 2);

    // Lost in the Connect's first moment, read before the lock engaged: the same.
    PaneFixture f;
    f.model.setUseNetworkLock(true);
    f.click();
    f.pane->reachabilityChanged(false);
    f.queue.advance(200);
    ASSERT_EQ(f.engine.locks.size(), 1u);
    f.engine.locks.front().completion("203.0.113.9");
    f.queue.runUntilIdle();
    f.engine.closures.disconnected(false, false);
    f.queue.advance(30000);
    EXPECT_GE(f.engine.locks.size() + f.engine.connects.size(), 3u) << "the tries go on";
    EXPECT_NE(f.pane->connectionLife().state(), ConnectionLife::State::waitingForNetwork);
}

TEST_F(PaneStatusTest, ADropAndItsErrorEchoAreOneEndWithOneTryAndNoErrorBar) {
    connectAndEstablish();
    engine.closures.disconnected(false, false);
    engine.closures.error(LocaleData::vpn_connection_generic_error());
    queue.runUntilIdle();
    EXPECT_TRUE(model.autoReconnectInProgress());
    EXPECT_EQ(model.autoReconnectAttemptsCount(), 0);
    EXPECT_TRUE(view.errorBar.upperText.empty()) << "no error bar under the reconnecting look";
    EXPECT_EQ(shell.count("disconnectedBanner:" + pane->dataObject()->name), 0) << "one notification per drop";
    queue.advance(500);
    EXPECT_EQ(engine.connects.size(), 2u);
}

// A refusal is not tried again. Without the lock the pane is ready at once;
// under it the window keeps the lock's look (never Connect with it engaged)
// for exactly as long as the lock: turning the kill switch off ends both.
TEST_F(PaneStatusTest, ARefusalEndsTheAttemptAndTheLocksLookLastsAsLongAsTheLock) {
    for (const bool lock : {false, true}) {
        SCOPED_TRACE(lock ? "locked" : "unlocked");
        PaneFixture f;
        f.model.setUseNetworkLock(lock);
        f.click();
        f.queue.advance(200);
        if (lock) f.engine.locks.at(0).completion("203.0.113.9");
        f.queue.runUntilIdle();
        ASSERT_EQ(f.engine.connects.size(), 1u);
        f.engine.closures.refused(LocaleData::vpn_ppp_error_new_4());
        f.engine.closures.disconnected(false, false);  // the manager's echo
        f.queue.runUntilIdle();
        EXPECT_EQ(f.view.errorBar.multiLineText, LocaleData::vpn_ppp_error_new_4());
        f.queue.advance(120000);
        EXPECT_EQ(f.engine.connects.size(), 1u) << "a refusal is not tried again";
        EXPECT_FALSE(f.model.autoReconnectInProgress());
        if (!lock) {
            EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
            EXPECT_TRUE(f.view.overlayHidden);
            continue;
        }
        EXPECT_TRUE(f.pane->lockHeld());
        EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::disconnect) << "nothing is tried: no CONNECTING";
        EXPECT_NE(f.view.overlaySubheader.find(LocaleData::vpn_ppp_error_new_4()), std::string::npos);
        EXPECT_FALSE(f.view.overlayHidden);
        EXPECT_FALSE(f.view.overlaySpinning);
        EXPECT_LE(f.shell.count("reconnectBanner:lock"), 1);
        // The kill switch turned off (as the settings apply it) lifts the lock, and the look goes with it.
        f.model.releaseNetworkLock();
        f.queue.runUntilIdle();
        EXPECT_FALSE(f.pane->lockHeld());
        EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
        EXPECT_TRUE(f.view.overlayHidden);
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::disconnected);
    }
}

// An end the user chose is final: a late "established" after a Cancel (or
// a sign-out) ends its tunnel and is never shown; no blip after it reconnects.
TEST_F(PaneStatusTest, AfterACancelOrASignOutNothingComesBackUnasked) {
    for (const bool signOut : {false, true}) {
        SCOPED_TRACE(signOut ? "signed out" : "cancelled");
        PaneFixture f;
        f.click();
        f.queue.advance(200);
        if (signOut) {
            f.model.isLoggedInUser = false;
            f.engine.closures.disconnected(false, false);
            f.queue.runUntilIdle();
            f.model.isLoggedInUser = true;  // and in again, without connecting
        } else {
            f.pane->performIntentionalDisconnect();  // the connecting button's ×
            f.queue.runUntilIdle();
        }
        f.engine.calls.clear();
        f.engine.closures.established();
        f.queue.runUntilIdle();
        EXPECT_EQ(std::count(f.engine.calls.begin(), f.engine.calls.end(), "cleanUpSession:1"), 1);
        EXPECT_EQ(f.pane->connectButtonState(), ConnectButtonStates::connect);
        EXPECT_FALSE(f.pane->isConnectedToVPN());
        f.pane->reachabilityChanged(false);
        f.queue.advance(5000);
        f.pane->reachabilityChanged(true);
        f.pane->requestReconnect(ReconnectReason::networkChanged);
        f.queue.advance(60000);
        EXPECT_EQ(f.engine.connects.size(), 1u) << "no tunnel the user never asked for";
        EXPECT_FALSE(f.model.autoReconnectInProgress());
        EXPECT_EQ(f.shell.count("connectedBanner:Netherlands"), 0);
    }
}

TEST_F(PaneStatusTest, ErrorBarTexts) {
    const std::string text49(49, 'x'), text50(50, 'x');
    struct Row {
        std::string text;
        std::string upper;
        std::string lower;
        bool multiLine;
        bool link;
    };
    const Row rows[] = {
        {text49, "Cannot connect to Netherlands.", text49, false, false},
        {text50, "Cannot connect to Netherlands.", "", true, false},
        {"Please reconnect, or contact us.", "Connection lost", "Please reconnect, or contact us.", false, false},
        {"Please, try again or pick a ", "Cannot connect to Netherlands.", "Please, try again or pick a ", false, true},
        {LocaleData::helper_tool_command_execute_error(), LocaleData::helper_tool_command_execute_error_upper(),
         LocaleData::helper_tool_command_execute_error_lower(), false, false},
        {pane->internetNotReachableError(), LocaleData::internet_connection_unavailable_error_part_1(),
         LocaleData::internet_connection_unavailable_error_part_2(), false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        pane->showErrorNotificationBar(row.text);
        EXPECT_EQ(view.errorBar.upperText, row.upper);
        EXPECT_EQ(view.errorBar.lowerText, row.lower);
        EXPECT_EQ(view.errorBar.multiLine, row.multiLine);
        EXPECT_EQ(view.errorBar.multiLineText, row.multiLine ? row.text : "");
        EXPECT_EQ(view.errorBar.upperTextTopConstraint, row.multiLine ? -1.0 : 6.0);
        EXPECT_EQ(view.errorBar.pickDifferentLocationLinkVisible, row.link);
    }
}

TEST_F(PaneStatusTest, AnErrorWithoutAChosenLocationNamesNoneAndIsLogged) {
    auto log = CaptureLog::install();
    for (const auto& location : {LocationsListItemPtr(), configuredLocation("xx", " ")}) {
        auto bare = makePane();
        if (location) bare->changeDetailsView(location);
        bare->showErrorNotificationBar("boom");
        EXPECT_EQ(view.errorBar.upperText, "Cannot connect.");
        EXPECT_EQ(view.errorBar.lowerText, "boom");
    }
    EXPECT_TRUE(log->contains("connection error without a chosen location: boom"));
    log::setSink(nullptr);
}

TEST_F(PaneStatusTest, ErrorsAfterSignOutOrAUserDisconnectStartNoReconnect) {
    model.isLoggedInUser = false;
    engine.closures.error("boom");
    EXPECT_TRUE(view.errorBar.upperText.empty());
    model.isLoggedInUser = true;
    engine.connectionLife().life().cancel();
    engine.closures.error("boom");
    EXPECT_EQ(view.errorBar.lowerText, "boom");
    EXPECT_FALSE(model.autoReconnectInProgress());
    queue.advance(1000);
    EXPECT_TRUE(engine.connects.empty());
}

TEST_F(PaneStatusTest, OpenVPNNotReachableIsHandledOnceUntilTheUserDisconnects) {
    const auto text = LocaleData::openvpn_not_reachable_error_notification();
    connectAndEstablish();
    engine.closures.error(text);
    // It tries again by itself: no "check your Internet" bar while it does.
    EXPECT_TRUE(view.errorBar.upperText.empty());
    EXPECT_TRUE(model.autoReconnectInProgress());
    queue.advance(500);
    EXPECT_EQ(engine.connects.size(), 2u);

    engine.closures.error(text);
    queue.advance(60000);
    EXPECT_EQ(engine.connects.size(), 2u) << "taken once";

    pane->performIntentionalDisconnect();
    queue.runUntilIdle();
    EXPECT_FALSE(model.openvpn_not_reachable_error_notification_arrived);
}

TEST_F(PaneStatusTest, ALockTurnedOffWhileTheTunnelRanEndsWithTheTunnel) {
    model.networkLockActivated = true;  // engaged, then the setting went off
    journal.calls.clear();
    pane->onDisconnectedStateNotification(false, false);
    EXPECT_EQ(std::count(journal.calls.begin(), journal.calls.end(), "disableNetworkLock"), 1);
    EXPECT_FALSE(model.networkLockActivated);
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "reapplyNetworkLock"), 0);
    // The reconnect that follows is the plain one, with its limit.
    EXPECT_TRUE(view.overlayHidden);
}

TEST_F(PaneStatusTest, OpenVPNNotReachableAfterSleepUnderTheKillSwitchOnlyArmsItsFlag) {
    model.deviceEnteredSleepMode = true;
    model.networkLockActivated = true;
    view.detailsBoxHidden = false;
    engine.closures.error(LocaleData::openvpn_not_reachable_error_notification());
    EXPECT_TRUE(model.openvpn_not_reachable_error_notification_arrived);
    EXPECT_TRUE(view.detailsBoxHidden);
    EXPECT_TRUE(view.errorBar.upperText.empty());
    EXPECT_FALSE(model.autoReconnectInProgress());
}

TEST_F(PaneStatusTest, TeardownLeavesNoClosureBehind) {
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = [] {};
    ASSERT_TRUE(engine.closures.established);
    ASSERT_TRUE(engine.tick);
    pane.reset();
    EXPECT_FALSE(engine.closures.established);
    EXPECT_FALSE(engine.closures.error);
    EXPECT_FALSE(engine.closures.connecting);
    EXPECT_FALSE(engine.closures.disconnected);
    EXPECT_FALSE(engine.tick);
    EXPECT_FALSE(ConnectButtonCallbacks::onMouseHoverDelayedCallback);
    queue.advance(5000);  // nothing posted reaches the dead pane
}

}  // namespace
}  // namespace hw::test
