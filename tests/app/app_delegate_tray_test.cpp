// Data loading after sign-in, the tray's menus and icon, and the banners' clicks.
#include <gtest/gtest.h>

#include "app/app_delegate_fixture.h"
#include "services/locations_list_model.h"
#include "services/notification_bar_models.h"
#include "support/recording_details_pane.h"
#include "texts/locale_data.h"
#include "windows/login/auth_window_view_controller.h"
#include "core/settings_user_defaults.h"

namespace hw::test {
namespace {

class AppDelegateTrayTest : public AppDelegateTest {
protected:
    AppDelegate& signedIn() {
        if (!delegate) make();
        delegate->applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
        factory->auth->stored = LoginData{"demo", "secret", std::nullopt};
        delegate->onLoginSuccess();
        factory->queue.runUntilIdle();
        return *delegate;
    }
    // The locations branch answers; the data-loaded handling runs.
    void dataLoads() {
        std::vector<LocationsListItemPtr> items{std::make_shared<LocationsListItemModel>("nl", "Netherlands")};
        factory->configs->answer(std::make_shared<LocationsListModel>(std::move(items)));
        factory->queue.runUntilIdle();
    }
    // Answers the account synchronisation calls made so far.
    void syncAnswers() {
        auto calls = std::move(factory->functions->calls);
        factory->functions->calls.clear();
        for (auto& c : calls)
            if (c.name == "syncVPNAcccountDetails") c.completion(true);
        factory->queue.runUntilIdle();
    }
    const ShellMenus& menus() { return delegate->menuBarMenuController().menus(); }
    std::size_t syncCalls() const {
        return static_cast<std::size_t>(std::count_if(factory->functions->calls.begin(), factory->functions->calls.end(),
                                                      [](const auto& c) { return c.name == "syncVPNAcccountDetails"; }));
    }
    std::size_t widgetLoads() const { return count("requestSmartWidgetData:r:session"); }
};

TEST_F(AppDelegateTrayTest, SignInLoadsDataThenSwitchesWindowsMenusAndWiresTheWatchInOrder) {
    make();
    model().setVpnSettingsChangingDisabled(true);
    model().reachabilityDomainName = "www.example.test";
    signedIn();
    EXPECT_TRUE(journaled("main.orderOut"));
    EXPECT_TRUE(model().isLoggedInUser);
    EXPECT_FALSE(model().vpnSettingsChangingDisabled());
    EXPECT_EQ(statusItemView.menu, menus().default_menuBarMenu) << "nothing switches before the data";
    journal.clear();

    dataLoads();
    EXPECT_EQ(journal, (std::vector<std::string>{"main.setupMainView", "auth.closeWholeWindow:1", "main.show",
                                                 "prepareAfterDataLoaded", "wire:stop", "wire:notReachable",
                                                 "wire:reachable", "wire:clearInsecure", "wire:insecure",
                                                 "wire:connectedToWiFi", "wire:notReachable", "wire:notReachable",
                                                 "wire:reachable", "wire:reach:www.example.test"}));
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
    EXPECT_EQ(delegate->applicationDockMenu(), menus().dockMenu);
    EXPECT_TRUE(mainWindow->callbacks.onIPaddressUpdatedCallback) << "the pane reports to the menus";
    EXPECT_EQ(syncCalls(), 1u);

    // Without a reachability watch only the wiring is skipped.
    restart();
    services.hasReachability = false;
    signedIn();
    dataLoads();
    EXPECT_FALSE(journaled("wire:stop"));
    EXPECT_EQ(syncCalls(), 1u);
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
}

TEST_F(AppDelegateTrayTest, AFailedLoadReachesTheLoginWindowAndSignsOut) {
    factory->parseConfig->configError = "offline";
    signedIn();
    EXPECT_TRUE(journaled("auth.onDataLoadFailed"));
    EXPECT_FALSE(model().isLoggedInUser);
    EXPECT_FALSE(journaled("main.setupMainView"));
    EXPECT_FALSE(journaled("main.show"));
    EXPECT_FALSE(journaled("auth.closeWholeWindow:1")) << "the login window stays to say so";
    EXPECT_EQ(statusItemView.menu, menus().default_menuBarMenu);
}

TEST_F(AppDelegateTrayTest, InternetLossSwitchesMenusUnlessTheLockHoldsThem) {
    signedIn();
    dataLoads();
    auto fire = [](const std::vector<std::function<void()>>& observers) {
        for (auto& o : observers) o();
    };
    auto shows = [&](const MenuPtr& bar, const MenuPtr& dock) {
        EXPECT_EQ(statusItemView.menu, bar);
        EXPECT_EQ(delegate->currentDockMenu(), dock);
    };
    model().networkLockActivated = true;
    fire(services.notReachable);
    shows(menus().menuBarMenu, menus().dockMenu);
    model().networkLockActivated = false;
    fire(services.notReachable);
    fire(services.notReachable);
    shows(menus().noInternetConnection_menu, menus().noInternetConnection_DockMenu);
    EXPECT_EQ(count("onInternetConnectionLost"), 3u);
    fire(services.reachable);
    shows(menus().menuBarMenu, menus().dockMenu);
    delegate->performLogout();
    factory->queue.runUntilIdle();
    shows(menus().default_menuBarMenu, menus().default_DockMenuBarMenu);
}

TEST_F(AppDelegateTrayTest, WidgetRefreshFollowsTheIntervalAndARandomDelay) {
    make();
    model().smartWidgetCheckIntervalMin = 5;
    randomValue = 29;
    signedIn();
    dataLoads();
    syncAnswers();
    EXPECT_EQ(widgetLoads(), 1u) << "loaded once after sign-in";
    services.widgetRequests.at(0)(SmartWidgetReply{"https://l", "t", "i", "s", "go"});
    EXPECT_TRUE(journaled("main.smartWidgetData"));

    factory->queue.advance(299999);
    EXPECT_EQ(syncCalls(), 0u);
    factory->queue.advance(1);
    EXPECT_EQ(syncCalls(), 1u) << "300 s for 5 minutes";
    syncAnswers();
    EXPECT_EQ(randomBounds, std::vector<int>{30});
    factory->queue.advance(28999);
    EXPECT_EQ(widgetLoads(), 1u);
    factory->queue.advance(1);
    EXPECT_EQ(widgetLoads(), 2u) << "29 s after the synchronisation";
    EXPECT_TRUE(delegate->hasSmartWidgetScheduleUpdateTimer()) << "the chain goes on";

    services.sessionToken.reset();
    factory->queue.advance(300000);
    syncAnswers();
    factory->queue.advance(30000);
    EXPECT_EQ(widgetLoads(), 2u) << "no session token, no load";
}

TEST_F(AppDelegateTrayTest, ServerBarsAreAskedForAfterSignInAndOnEachRefresh) {
    make();
    model().smartWidgetCheckIntervalMin = 5;
    signedIn();
    EXPECT_TRUE(services.barRequests.empty()) << "not before the data";
    dataLoads();
    ASSERT_EQ(services.barRequests.size(), 1u);
    auto top = std::make_shared<TopNotificationBarModel>("Notice", "https://t", "Notice: read", "tip");
    auto bottom = std::make_shared<BottomNotificationBarModel>("Invite", "https://b", "Invite friends", nullptr);
    services.barRequests[0](top, bottom);
    EXPECT_FALSE(journaled("main.refreshTopNotificationBar")) << "the answer reaches the window on the main queue";
    factory->queue.runUntilIdle();
    EXPECT_EQ(mainWindow->bars.first, top);
    EXPECT_EQ(mainWindow->bars.second, bottom);
    EXPECT_EQ(model().bottomNotificaitonBar, bottom);

    syncAnswers();
    factory->queue.advance(300000);
    syncAnswers();
    factory->queue.advance(30000);
    EXPECT_EQ(services.barRequests.size(), 2u) << "the refresh asks again";
    services.barRequests[1](nullptr, nullptr);
    factory->queue.runUntilIdle();
    EXPECT_EQ(mainWindow->bars.first, nullptr) << "a bar the server dropped leaves";
    EXPECT_EQ(model().bottomNotificaitonBar, nullptr);

    // An answer that arrives after the sign-out is dropped.
    factory->queue.advance(300000);
    syncAnswers();
    factory->queue.advance(30000);
    ASSERT_EQ(services.barRequests.size(), 3u);
    delegate->performLogout();
    factory->queue.runUntilIdle();
    journal.clear();
    services.barRequests[2](top, bottom);
    factory->queue.runUntilIdle();
    EXPECT_FALSE(journaled("main.refreshTopNotificationBar"));
}

TEST_F(AppDelegateTrayTest, ASecondSignInKeepsOneRefreshTimer) {
    signedIn();
    dataLoads();
    syncAnswers();
    delegate->onLoginSuccess();
    factory->queue.runUntilIdle();
    dataLoads();
    syncAnswers();
    factory->queue.advance(model().SMART_WIDGET_UPDATE_CHECK_INTERVAL() * 1000.0);
    EXPECT_EQ(syncCalls(), 1u) << "one chain fires";
}

TEST_F(AppDelegateTrayTest, RefreshStopsInStatusBarOnlyModeWhenStartedMinimised) {
    statusItem = true;
    signedIn();
    model().startMinimized = true;
    delegate->changeAppToBeUserAgent();
    dataLoads();
    syncAnswers();
    EXPECT_EQ(widgetLoads(), 1u);
    EXPECT_FALSE(delegate->hasSmartWidgetScheduleUpdateTimer());

    delegate->sheduleNextSmartWidgetUpdate();
    factory->queue.advance(model().SMART_WIDGET_UPDATE_CHECK_INTERVAL() * 1000.0);
    EXPECT_FALSE(delegate->hasSmartWidgetScheduleUpdateTimer()) << "a running chain ends at its next firing";
}

// Closed into the tray, the signed-in menu offers the window again, and
// that item brings the window back; without a tray nothing changes mode.
TEST_F(AppDelegateTrayTest, TheMainWindowClosedIntoTheTrayLeavesOpenHavenwayInTheMenu) {
    for (bool tray : {true, false}) {
        SCOPED_TRACE(tray ? "a tray" : "no tray");
        restart();
        statusItem = tray;
        factory->store.set(SettingsUserDefaults::showWelcomePage, false);
        signedIn();
        dataLoads();
        const auto open = menus().menuBarMenu->find(menu_tags::app);
        ASSERT_TRUE(open);
        ASSERT_TRUE(mainWindow->visible);
        EXPECT_FALSE(open->visible) << "the window shows: no need for the item";

        const bool closes = delegate->lastWindowMayClose();
        EXPECT_EQ(closes, tray);
        if (closes) mainWindow->close();
        EXPECT_EQ(open->visible, tray);
        EXPECT_EQ(model().isAppInUserAgentMode(), tray);
        if (!tray) continue;

        journal.clear();
        open->action();
        EXPECT_TRUE(journaled("main.show"));
        EXPECT_FALSE(open->visible);
        EXPECT_FALSE(model().isAppInUserAgentMode());
    }
}

// Living hidden in the tray, the user would have no way back once the tray
// ends, and would not learn that the automatic sign-in failed: the login
// window comes at once, as it was set up off the screen. On screen, nothing
// changes.
TEST_F(AppDelegateTrayTest, ATrayThatEndsOrAFailedHiddenSignInBringsTheWindow) {
    struct Row {
        const char* name;
        bool hidden, trayEnds;
    };
    for (const Row& row : {Row{"hidden, the tray ends", true, true}, Row{"hidden, the sign-in fails", true, false},
                           Row{"on screen, the tray ends", false, true}, Row{"on screen, the sign-in fails", false, false}}) {
        SCOPED_TRACE(row.name);
        restart();
        factory->store.set(SettingsUserDefaults::showWelcomePage, false);
        statusItem = true;
        hideOnLaunch = row.hidden;
        launch();
        ASSERT_EQ(authWindow->isVisible(), !row.hidden);
        ASSERT_EQ(model().isAppInUserAgentMode(), row.hidden);
        journal.clear();
        if (row.trayEnds) {
            statusItem = false;
            ASSERT_TRUE(statusItemView.onLost);
            statusItemView.onLost();
        } else {
            delegate->onLoginFailed();
        }
        factory->queue.runUntilIdle();
        EXPECT_TRUE(authWindow->isVisible());
        EXPECT_EQ(count("auth.orderFront"), row.hidden ? 1u : 0u);
        EXPECT_EQ(count("auth.show") + count("main.show"), 0u) << "set up off the screen: it only comes forward";
        EXPECT_FALSE(model().isAppInUserAgentMode());
        EXPECT_FALSE(model().startMinimized);
    }
}

TEST_F(AppDelegateTrayTest, AHiddenStartRefreshesTheWidgetOnceItsWindowShows) {
    statusItem = true;
    hideOnLaunch = true;
    signedIn();
    dataLoads();
    syncAnswers();
    EXPECT_FALSE(delegate->hasSmartWidgetScheduleUpdateTimer());
    delegate->changeAppToBeNormalApp();
    EXPECT_TRUE(journaled("main.show"));
    EXPECT_TRUE(delegate->hasSmartWidgetScheduleUpdateTimer());
}

TEST_F(AppDelegateTrayTest, StatusIconAnimatesWhileConnectingThenShowsTheState) {
    launch();
    EXPECT_EQ(statusItemView.images, std::vector<std::string>{"MenuBar_icon_DISCONNECTED"});
    statusItemView.images.clear();
    model().setCurrentConnectionState(ConnectionStates::connecting);
    factory->queue.advance(169);
    EXPECT_TRUE(statusItemView.images.empty());
    factory->queue.advance(1 + 170 * 2);
    EXPECT_EQ(statusItemView.images, (std::vector<std::string>{"MenuBar_icon_CONNECTING_2", "MenuBar_icon_CONNECTING_3",
                                                               "MenuBar_icon_CONNECTING_1"}));
    model().setCurrentConnectionState(ConnectionStates::connected);
    factory->queue.advance(1000);
    EXPECT_EQ(statusItemView.images.back(), "MenuBar_icon_CONNECTED");
    EXPECT_EQ(statusItemView.images.size(), 4u) << "the animation stopped";
}

TEST_F(AppDelegateTrayTest, InsecureWiFiBannerForASignedInUserComesEveryTimeTheWindowAsks) {
    launch();
    const std::string signedInTitle = LocaleData::connected_to_insecure_wi_fi_notification_title();
    const std::string signedOutTitle = LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title();
    auto delivered = [&](const std::string& title) {
        return std::count_if(notifications.history.begin(), notifications.history.end(),
                             [&](const auto& n) { return n.title == title; });
    };
    ShellCommands& shell = *delegate;
    shell.showInsecureWiFiNotification();
    factory->queue.advance(1000);
    shell.showInsecureWiFiNotification();
    EXPECT_EQ(delivered(signedInTitle), 2);
    // The signed-out banner keeps its 10 s limit.
    shell.showInsecureWiFiNotLoggedInNotification();
    factory->queue.advance(1000);
    shell.showInsecureWiFiNotLoggedInNotification();
    EXPECT_EQ(delivered(signedOutTitle), 1);
}

class BannerClickTest : public AppDelegateTrayTest {};

TEST_F(BannerClickTest, ClicksRouteByBannerAndAlwaysLeaveStatusBarOnlyMode) {
    statusItem = true;
    launch();
    RecordingDetailsPane pane;
    mainWindow->details = &pane;
    UserNotificationHelper& banners = delegate->userNotificationHelper();
    using A = UserNotificationCenter::Activation;
    using B = ConnectButtonStates;
    const std::string insecure = LocaleData::connected_to_insecure_wi_fi_notification_title();
    const std::string notSignedIn = LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title();
    const std::string error = LocaleData::connection_error_minimized_notification_title();
    const std::function<void()> showInsecure = [&] { banners.showInsecureWiFiNotification(); };
    const std::function<void()> showError = [&] { banners.showConnectionErrorNotification(); };
    struct Row {
        const char* name;
        std::function<void()> show;
        std::string title;
        A how;
        B button;
        bool connects, removed;
    } rows[] = {
        {"insecure, Connect", showInsecure, insecure, A::actionButtonClicked, B::connect, true, false},
        {"insecure, Connect while connected", showInsecure, insecure, A::actionButtonClicked, B::disconnect, false, false},
        {"insecure, body", showInsecure, insecure, A::contentsClicked, B::connect, false, true},
        {"not signed in, Protect me", [&] { banners.showInsecureWiFiNotLoggedInNotification(); }, notSignedIn,
         A::actionButtonClicked, B::connect, false, false},
        {"error, Retry", showError, error, A::actionButtonClicked, B::connect, true, false},
        {"error, Retry while connecting", showError, error, A::actionButtonClicked, B::connecting, false, false},
        {"error, body", showError, error, A::contentsClicked, B::connect, false, true},
        {"kill switch, body", [&] { banners.showAutoReconnectWithNetworkLockNotification(); }, "VPN Kill Switch On",
         A::contentsClicked, B::connect, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pane.buttonState = row.button;
        services.intents.intent = row.button == B::connect      ? ConnectionIntent::connect
                                  : row.button == B::connecting ? ConnectionIntent::cancel
                                                                : ConnectionIntent::disconnect;
        model().pendingVPN_Activated_on_UnsecuredWiFi = false;
        factory->queue.advance(20000);  // the throttle
        delegate->changeAppToBeUserAgent();
        journal.clear();
        row.show();
        ASSERT_TRUE(notifications.click(row.title, row.how));
        EXPECT_EQ(count("intents.connectOrEnd"), row.connects ? 1u : 0u);
        EXPECT_EQ(model().pendingVPN_Activated_on_UnsecuredWiFi, row.connects && row.title == insecure);
        EXPECT_EQ(notifications.delivered.empty(), row.removed);
        EXPECT_FALSE(model().isAppInUserAgentMode());
    }
    EXPECT_FALSE(banners.hasAutoReconnectNotification());
}

// The tray's Sign In while the welcome pages show: the login window comes
// forward, in its log-in mode, and the pages go.
TEST_F(AppDelegateTest, SignInFromTheTrayLeavesTheWelcomePagesForTheLoginWindow) {
    for (bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "started into the tray" : "pages on screen");
        restart();
        factory->store.set(SettingsUserDefaults::showWelcomePage, true);
        statusItem = true;
        hideOnLaunch = hidden;
        launch();
        ASSERT_EQ(delegate->currentWindowController(), welcomeWindow);
        journal.clear();
        delegate->performSignInCommand();
        factory->queue.runUntilIdle();
        EXPECT_EQ(delegate->currentWindowController(), authWindow);
        EXPECT_TRUE(authWindow->isVisible());
        EXPECT_FALSE(welcomeWindow->isVisible());
        EXPECT_EQ(count("welcome.show"), 0u) << "no flash of the pages";
        EXPECT_TRUE(AuthWindowViewController::ACTIVATE_LOG_IN_STATE);
    }
}

}  // namespace
}  // namespace hw::test
