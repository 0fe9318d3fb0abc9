#include <gtest/gtest.h>

#include "settings_window_fixture.h"
#include "support/capture_log.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;
const std::string kProtocolItem = "com.havenway.Havenway.TouchBarItem.ProtocolItem";

TEST(SettingsWindowApply, EditsWaitForApplyWhichStoresThemFeedsTheModelAndCloses) {
    SettingsWindowFixture f;
    f.open();
    EXPECT_EQ(f.view.applyEnabled, false);
    f.model.startMinimized = true;
    f.edit(Keys::useNetworkLock, true);
    f.edit(Keys::vpnProtocols, *settingsProtocolText(2));
    f.controller->onParametersChanges();
    EXPECT_TRUE(f.controller->applyEnabled());
    EXPECT_EQ(f.stored(Keys::useNetworkLock), std::nullopt) << "stored before Apply";
    f.controller->onApplyButtonClick();
    EXPECT_EQ(f.stored(Keys::useNetworkLock), SettingValue(true));
    EXPECT_EQ(f.stored(Keys::vpnProtocols), SettingValue(std::string(" L2TP over IPSec")));
    EXPECT_EQ(f.model.vpnProtocol, VPNTypesL2TP);
    EXPECT_FALSE(f.model.startMinimized);
    EXPECT_EQ(f.shell.count("closeSettingsWindow"), 1);
    EXPECT_FALSE(f.controller->skipSettingsRestore()) << "the close that follows Apply clears it";
}

TEST(SettingsWindowApply, CloseOrCancelThrowsPendingEditsAwayAndTheNextOpeningShowsStoredValues) {
    for (const bool viaCancel : {false, true}) {
        SettingsWindowFixture f;
        f.open();
        f.edit(Keys::startMinimized, true);
        f.controller->onAuto_WiFi_Plus_Button_Click();
        f.background.runUntilIdle();
        f.queue.runUntilIdle();
        f.controller->addToTrustedNetworksWithInputNetwork({"Cafe", "CC"});
        if (viaCancel) f.controller->cancelChanges();
        else f.window.userCloses();
        EXPECT_FALSE(f.defaults.hasUnappliedChanges()) << viaCancel;
        EXPECT_FALSE(f.defaults.boolValue(Keys::startMinimized)) << viaCancel;
        EXPECT_TRUE(f.model.trustedNetworks.empty()) << viaCancel;
        f.open();
        EXPECT_TRUE(f.view.trusted.rows.empty()) << "the working list starts again from the stored one";
        EXPECT_EQ(f.view.applyEnabled, false);
    }
}

TEST(SettingsWindowApply, TrustedNetworkEditsToggleApplyAndAloneStoreOnlyTheList) {
    SettingsWindowFixture f;
    f.model.trustedNetworks = {{"Home", "AA"}};
    f.open();
    f.controller->addToTrustedNetworksWithInputNetwork({"Cafe", "CC"});
    EXPECT_TRUE(f.controller->applyEnabled());
    f.view.trusted.selected = 1;
    f.controller->onAuto_WiFi_Trusted_table_Segmented_control_Click(1);
    EXPECT_FALSE(f.controller->applyEnabled()) << "added then removed: the lists are equal again";
    f.view.trusted.selected = -1;
    f.controller->onAuto_WiFi_Minus_Button_Click();
    EXPECT_EQ(f.view.trusted.rows.size(), 1u);

    f.controller->addToTrustedNetworksWithInputNetwork({"Cafe", "CC"});
    f.controller->onApplyButtonClick();
    EXPECT_EQ(f.model.trustedNetworks, (std::vector<TrustedNetworkItem>{{"Home", "AA"}, {"Cafe", "CC"}}));
    EXPECT_EQ(f.stored(Keys::trustedNetworks), SettingValue(archiveTrustedNetworks(f.model.trustedNetworks)));
    EXPECT_EQ(f.store.stored().size(), 1u) << "only the list was written";
    EXPECT_EQ(f.shell.count("closeSettingsWindow"), 1);
}

TEST(SettingsWindowLock, ProtocolAndKillSwitchFollowTheLockOnTheNextTurn) {
    SettingsWindowFixture f;
    f.model.setVpnSettingsChangingDisabled(true);
    f.controller->showWindow();
    EXPECT_EQ(f.view.killSwitchEnabled, std::nullopt) << "queued, not at once";
    EXPECT_EQ(f.view.protocols.groupEnabled, true) << "queued, not at once";
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.killSwitchEnabled, false) << "at opening";
    EXPECT_EQ(f.view.protocols.groupEnabled, false) << "at opening";
    EXPECT_FALSE(f.controller->vpnProtocolsViewController().protocolsChangingEnabled());

    f.view.killSwitchEnabled.reset();
    f.view.protocols.groupEnabled.reset();
    f.view.bar.clickItem(kProtocolItem);
    EXPECT_EQ(f.view.tab, "2");
    EXPECT_EQ(f.view.killSwitchEnabled, std::nullopt);
    EXPECT_EQ(f.view.protocols.groupEnabled, std::nullopt);
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.killSwitchEnabled, false) << "on choosing Protocol";
    EXPECT_EQ(f.view.protocols.groupEnabled, false) << "on choosing Protocol";

    f.model.setVpnSettingsChangingDisabled(false);
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.killSwitchEnabled, true) << "live change";
    EXPECT_EQ(f.view.protocols.groupEnabled, true) << "live change";
}

// A live tunnel keeps protocol and kill switch out of its way; an attempt
// between tries (a back-off, a held lock) takes them for its next try.
TEST(SettingsWindowLock, ApplyUnderTheLockKeepsProtocolAndKillSwitchFromALiveTunnelOnly) {
    struct Row {
        const char* name;
        ConnectionStates state;
        bool applied;
    };
    const Row rows[] = {{"a live tunnel", ConnectionStates::connected, false},
                        {"a back-off between tries", ConnectionStates::connecting, true},
                        {"a held lock, nothing tried", ConnectionStates::disconnected, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SettingsWindowFixture f;
        f.open();
        std::vector<std::string> redisplayed;
        f.defaults.observe([&](const std::string& key) { redisplayed.push_back(key); });
        f.edit(Keys::vpnProtocols, std::string(" OpenVPN"));
        f.edit(Keys::useNetworkLock, true);
        f.edit(Keys::startMinimized, true);
        f.model.setCurrentConnectionState(row.state);
        f.model.setVpnSettingsChangingDisabled(true);
        redisplayed.clear();
        f.controller->onApplyButtonClick();
        EXPECT_EQ(f.stored(Keys::vpnProtocols),
                  row.applied ? std::optional<SettingValue>(std::string(" OpenVPN")) : std::nullopt);
        EXPECT_EQ(f.stored(Keys::useNetworkLock), row.applied ? std::optional<SettingValue>(true) : std::nullopt);
        EXPECT_EQ(f.model.vpnProtocol, row.applied ? VPNTypesOpenVPN : VPNTypesAutomatic);
        EXPECT_EQ(f.stored(Keys::startMinimized), SettingValue(true));
        if (!row.applied) {
            EXPECT_EQ(redisplayed, (std::vector<std::string>{Keys::vpnProtocols, Keys::useNetworkLock}))
                << "the locked controls show the stored values again";
        }
    }
}

TEST(SettingsWindowLock, ApplyUnderTheLockWithOnlyLockedEditsSavesNothing) {
    SettingsWindowFixture f;
    f.open();
    f.edit(Keys::vpnProtocols, std::string(" OpenVPN"));
    f.model.setCurrentConnectionState(ConnectionStates::connected);
    f.model.setVpnSettingsChangingDisabled(true);
    const int syncs = f.store.syncCount;
    f.controller->onApplyButtonClick();
    EXPECT_EQ(f.stored(Keys::vpnProtocols), std::nullopt);
    EXPECT_EQ(f.store.syncCount, syncs + 1) << "only the trusted list";
}

TEST(SettingsWindowLock, FiveOpeningsRegisterOneObserver) {
    SettingsWindowFixture f;
    const auto before = f.model.vpnSettingsChangingDisabledObserverCount();
    for (int i = 0; i < 5; ++i) {
        f.open();
        f.controller->cancelChanges();
    }
    EXPECT_EQ(f.model.vpnSettingsChangingDisabledObserverCount(), before + 1);
    f.controller.reset();
    f.model.setVpnSettingsChangingDisabled(true);  // must not reach the dead controller
    f.queue.runUntilIdle();
}

TEST(SettingsWindowWiFi, SecuritySwitchGovernsTheTrustedControls) {
    SettingsWindowFixture f;
    f.open();
    f.controller->onWiFiSecurity_Enabled_Changed(false);
    EXPECT_EQ(f.view.trustedCheckboxEnabled, false);
    EXPECT_EQ(f.view.trustedEditingEnabled, false);
    f.controller->onTrustedNetworksManagementChanged(false);
    f.controller->onWiFiSecurity_Enabled_Changed(true);
    EXPECT_EQ(f.view.trustedCheckboxEnabled, true);
    EXPECT_EQ(f.view.trustedEditingEnabled, true) << "whatever the trusted box shows";
}

TEST(SettingsWindowWiFi, ScanFillsTheSheetOnTheMainThreadAndAddsTheChosenNetwork) {
    SettingsWindowFixture f;
    f.model.trustedNetworks = {{"Home", "AA"}};
    f.wifi.setScan({{"Home", "AA"}, {"Cafe", "CC"}, {"Lib", std::nullopt}});
    f.open();
    f.controller->onAuto_WiFi_Trusted_table_Segmented_control_Click(0);
    EXPECT_TRUE(f.view.addSheet);
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.addLoading, true);
    EXPECT_EQ(f.wifi.scans, 0) << "the scan waits for the background queue";
    f.background.runUntilIdle();
    EXPECT_EQ(f.view.available.reloads, 0) << "rows arrive through the main queue";
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.available.rows, (std::vector<TrustedNetworkItem>{{"Cafe", "CC"}}));
    EXPECT_EQ(f.view.addLoading, false);

    for (long row : {-1L, 1L, 7L}) {
        f.view.available.selected = row;
        f.controller->onAddNetworkButton_Click();
    }
    EXPECT_TRUE(f.view.addSheet) << "no row, or one past the list, adds nothing";
    f.view.available.selected = 0;
    f.controller->onAddNetworkButton_Click();
    EXPECT_FALSE(f.view.addSheet);
    EXPECT_EQ(f.view.trusted.rows.size(), 2u);
    EXPECT_TRUE(f.controller->applyEnabled());
}

TEST(SettingsWindowWiFi, AScanThatTimedOutSaysSoInTheSheetUntilTheNextFilling) {
    SettingsWindowFixture f;
    f.wifi.setScan({{"Cafe", "CC"}}, true);
    f.open();
    f.controller->onAuto_WiFi_Plus_Button_Click();
    f.background.runUntilIdle();
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.available.rows, (std::vector<TrustedNetworkItem>{{"Cafe", "CC"}}));
    EXPECT_EQ(f.view.addMessage, LocaleData::settings_window_scan_timed_out());

    f.wifi.setScan({{"Cafe", "CC"}});
    f.controller->onCloseTrustedNetworkModalWindow();
    f.controller->onAuto_WiFi_Plus_Button_Click();
    EXPECT_EQ(f.view.addMessage, "") << "an old failure is not shown over a new scan";
    f.background.runUntilIdle();
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.addMessage, "");
}

TEST(SettingsWindowWiFi, LateScanIsDroppedAndNoWiFiScansNothing) {
    SettingsWindowFixture f;
    f.wifi.setScan({{"Cafe", "CC"}});
    f.open();
    f.controller->onAuto_WiFi_Plus_Button_Click();
    f.controller->onCloseTrustedNetworkModalWindow();
    f.background.runUntilIdle();
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.available.reloads, 0) << "the sheet closed before the scan ended";

    f.controller->onAuto_WiFi_Plus_Button_Click();
    f.controller->onAuto_WiFi_Plus_Button_Click();
    f.background.runUntilIdle();
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.available.reloads, 1) << "only the latest filling lands";

    f.hasWiFi = false;
    f.controller->onAuto_WiFi_Plus_Button_Click();
    const int scans = f.wifi.scans;
    f.queue.runUntilIdle();
    EXPECT_EQ(f.wifi.scans, scans);
    EXPECT_TRUE(f.view.available.rows.empty());
    EXPECT_EQ(f.view.addLoading, false);
}

TEST(SettingsWindowSupport, SubmitOpensTheMailClientAndEndsTheSheet) {
    SettingsWindowFixture f;
    f.open();
    f.controller->openSupportTicketButton_Click();
    EXPECT_TRUE(f.view.supportSheet);
    f.view.body = "a b";
    f.controller->onOpenSupportTicket_Submit_button_Click();
    ASSERT_EQ(f.urlOpener.opened.size(), 1u);
    EXPECT_EQ(f.urlOpener.opened[0],
              supportRequestMailto("support@havenway.test", LocaleData::settings_window_open_support_ticket_subject(),
                                   "Billing", "a b"));
    EXPECT_FALSE(f.view.supportSheet);

    f.controller->openSupportTicketButton_Click();
    f.view.body.reset();
    f.controller->onOpenSupportTicket_Submit_button_Click();
    EXPECT_EQ(f.urlOpener.opened.size(), 1u) << "no body field: nothing opens";
    EXPECT_FALSE(f.view.supportSheet);
}

TEST(SettingsWindowSupport, WebLinksOpenOnlyAsWebAddressesAndAreNeverLogged) {
    SettingsWindowFixture f(true);
    f.open();
    auto log = CaptureLog::install();
    f.knowledgeBase = "https://kb.havenway.test/x";
    f.speedTest = "javascript:alert(1)";
    f.supportTicket = "https://help.havenway.test/?token=secret";
    f.controller->onKnowledgeBase_click();
    f.controller->onRunSpeedTest_click();
    f.controller->entirePageSettingsController()->onOpenSupportTicket_click();
    EXPECT_EQ(f.urlOpener.opened,
              (std::vector<std::string>{"https://kb.havenway.test/x", "https://help.havenway.test/?token=secret"}));
    EXPECT_FALSE(log->contains("secret"));
    EXPECT_FALSE(log->contains("javascript"));
    f.supportTicket.reset();
    f.controller->entirePageSettingsController()->onOpenSupportTicket_click();
    EXPECT_EQ(f.urlOpener.opened.size(), 2u) << "nobody signed in: no link";
}

TEST(SettingsWindowUpdate, UpToDateIsASheetWithTheVersion) {
    SettingsWindowFixture f;
    f.open();
    f.controller->onCheckForUpdatesButtonClick();
    ASSERT_EQ(f.window.alertView.shown.size(), 1u);
    const auto& alert = f.window.alertView.shown[0].request;
    EXPECT_EQ(alert.modality, AlertModality::Sheet);
    EXPECT_EQ(alert.title, "You are up to date!");
    EXPECT_EQ(alert.message, "Latest version is installed (" + f.model.appVersion + ")");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"OK"}));
    EXPECT_TRUE(f.window.alertView.answer());
    EXPECT_TRUE(f.view.overlay.empty());
}

TEST(SettingsWindowUpdate, AutoUpdaterSheetDimsTheWindowUntilItsEndIsReported) {
    SettingsWindowFixture f;
    f.newerVersion = true;
    f.model.useAutoUpdater = true;
    WindowView* parent = nullptr;
    f.shell.onStartAutoUpdater = [&](WindowView& w) { parent = &w; };
    f.open();
    f.controller->onCheckForUpdatesButtonClick();
    EXPECT_EQ(f.view.overlay, (std::vector<std::string>{"in 0.3"}));
    EXPECT_EQ(parent, &f.window);
    f.controller->autoUpdaterSheetEnded();
    EXPECT_EQ(f.view.overlay, (std::vector<std::string>{"in 0.3", "out 1.0"}));
    ASSERT_TRUE(f.view.fadeOutDone);
    f.view.fadeOutDone();
    EXPECT_EQ(f.view.overlay.back(), "hide");
}

TEST(SettingsWindowUpdate, WithoutAutoUpdaterTheAlertOffersTheDownloadLinkIfItIsAWebAddress) {
    struct Row {
        int button;
        std::optional<std::string> link;
        std::vector<std::string> opened;
    };
    const Row rows[] = {
        {0, "https://havenway.test/download", {"https://havenway.test/download"}},
        {1, "https://havenway.test/download", {}},
        {0, "file:///etc/passwd", {}},
        {0, std::nullopt, {}},
    };
    for (const auto& row : rows) {
        SettingsWindowFixture f;
        f.newerVersion = true;
        f.model.useAutoUpdater = false;
        f.model.newAppVersionDowloadLink = row.link;
        f.open();
        auto log = CaptureLog::install();
        f.controller->onCheckForUpdatesButtonClick();
        ASSERT_EQ(f.window.alertView.shown.size(), 1u);
        const auto& alert = f.window.alertView.shown[0].request;
        EXPECT_EQ(alert.modality, AlertModality::Application);
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Update", "Cancel"}));
        f.window.alertView.answer(row.button);
        EXPECT_EQ(f.urlOpener.opened, row.opened);
        EXPECT_FALSE(log->contains("passwd"));
        EXPECT_EQ(f.shell.count("startAutoUpdater"), 0);
    }
}

TEST(SettingsWindowNavigation, EachCellAndToolbarItemShowsItsTabAndOthersNone) {
    SettingsWindowFixture f;
    f.open();
    const auto& cells = f.view.bar.groups().at(0).cells;
    ASSERT_EQ(cells.size(), 5u);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string tab = std::to_string(i + 1);
        f.view.tab = "0";
        f.controller->toolbarItemForItemIdentifier(cells[i].identifier(), true).action();
        EXPECT_EQ(f.view.tab, tab) << cells[i].title();
        f.view.tab = "0";
        f.view.bar.clickItem(cells[i].identifier());
        EXPECT_EQ(f.view.tab, tab) << cells[i].title();
    }
    f.controller->tabbarDidSelectItemWithIdentifier(f.view.bar, "elsewhere");
    EXPECT_EQ(f.view.tab, "5");
    EXPECT_FALSE(f.controller->toolbarItemForItemIdentifier("elsewhere", true).action);
}

TEST(SettingsWindowNavigation, SetupAgainMarksGeneralButKeepsThePaneShown) {
    SettingsWindowFixture f;
    f.open();
    f.controller->onSupportItemClick();
    EXPECT_EQ(f.view.bar.selectedIdentifier(), "com.havenway.Havenway.TouchBarItem.GeneralItem");
    f.controller->setupComponents();
    EXPECT_EQ(f.view.tab, "5");
    EXPECT_EQ(f.view.version, "Version " + f.model.appVersion);
}

TEST(SettingsWindowList, RowsScrollTheDetailsAndScrollingSelectsTheRow) {
    SettingsWindowFixture f(true);
    f.open();
    ASSERT_EQ(f.view.listRows.size(), 5u);
    EXPECT_TRUE(f.controller->tableViewShouldSelectRow(1));
    EXPECT_EQ(f.view.scrolls.back(), 684.0);
    EXPECT_EQ(f.view.rowColours[1], "#4b4e51");
    EXPECT_TRUE(f.controller->tableViewShouldSelectRow(0));
    EXPECT_EQ(f.view.scrolls.back(), f.view.documentHeight);
    EXPECT_EQ(f.view.rowColours[1], "#373a3d");
    EXPECT_FALSE(f.controller->tableViewShouldSelectRow(5));

    f.controller->onViewScrolling(684.0);
    EXPECT_EQ(f.view.listSelection, 1);
    EXPECT_EQ(f.controller->previouslySelectedRow(), 1);
    EXPECT_EQ(f.view.rowColours[0], "#373a3d");
    EXPECT_EQ(f.view.rowColours[1], "#4b4e51");
}

TEST(SettingsWindowList, SinglePageFollowsProtocolWiFiAndTheLock) {
    SettingsWindowFixture f(true);
    f.edit(Keys::vpnProtocols, std::string(" OpenVPN"));
    f.model.setVpnSettingsChangingDisabled(true);
    f.open();
    EXPECT_EQ(f.page.menu, (std::vector<std::string>{"Automatic", "OpenVPN", "L2TP over IPSec"}));
    EXPECT_EQ(f.page.selected, 1);
    EXPECT_EQ(f.page.description, LocaleData::settings_window_vpn_protocols_open_vpn_description());
    EXPECT_EQ(f.page.version, "Version " + f.model.appVersion);
    EXPECT_EQ(f.page.protocolsEnabled, false);

    f.page.selected = 2;
    f.controller->onVPNProtocolSelectionChanged();
    EXPECT_EQ(f.page.description, LocaleData::settings_window_vpn_protocols_l2tp_description());
    f.page.calls.clear();
    f.controller->onWiFiSecurity_Enabled_Changed(false);
    f.controller->onWiFiSecurity_Enabled_Changed(true);
    EXPECT_EQ(f.page.calls, (std::vector<std::string>{"padding 42", "slide 100", "padding 59", "hide alert"}));
}

}  // namespace
}  // namespace hw::test
