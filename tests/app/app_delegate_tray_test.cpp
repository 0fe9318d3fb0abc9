#include <gtest/gtest.h>

#include "app/app_delegate_fixture.h"
#include "services/locations_list_model.h"
#include "support/recording_details_pane.h"
#include "texts/locale_data.h"

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
    std::vector<std::string> from(const std::string& first) const {
        return {journal.begin() + static_cast<std::ptrdiff_t>(at(first)), journal.end()};
    }
    const ShellMenus& menus() { return delegate->menuBarMenuController().menus(); }
    std::size_t syncCalls() const {
        return static_cast<std::size_t>(std::count_if(factory->functions->calls.begin(), factory->functions->calls.end(),
                                                      [](const auto& c) { return c.name == "syncVPNAcccountDetails"; }));
    }
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
    EXPECT_EQ(from("main.setupMainView"),
              (std::vector<std::string>{"main.setupMainView", "auth.closeWholeWindow:1", "main.show",
                                        "prepareAfterDataLoaded", "wire:stop", "wire:notReachable", "wire:reachable",
                                        "wire:clearInsecure", "wire:insecure", "wire:connectedToWiFi",
                                        "wire:notReachable", "wire:notReachable", "wire:reachable",
                                        "wire:reach:www.example.test"}));
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
    EXPECT_EQ(delegate->applicationDockMenu(), menus().dockMenu);
    EXPECT_TRUE(mainWindow->callbacks.onIPaddressUpdatedCallback) << "the pane reports to the menus";
    EXPECT_EQ(syncCalls(), 1u);
}

TEST_F(AppDelegateTrayTest, AFailedLoadReachesTheLoginWindowAndSignsOut) {
    factory->parseConfig->configError = "offline";
    signedIn();
    EXPECT_TRUE(journaled("auth.onDataLoadFailed"));
    EXPECT_FALSE(model().isLoggedInUser);
    EXPECT_FALSE(journaled("main.setupMainView"));
    EXPECT_EQ(statusItemView.menu, menus().default_menuBarMenu);
}

TEST_F(AppDelegateTrayTest, NoReachabilityWatchSkipsTheWiringOnly) {
    services.hasReachability = false;
    signedIn();
    dataLoads();
    EXPECT_FALSE(journaled("wire:stop"));
    EXPECT_EQ(syncCalls(), 1u);
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
}

TEST_F(AppDelegateTrayTest, InternetLossSwitchesMenusUnlessTheLockHoldsThem) {
    signedIn();
    dataLoads();
    auto lose = [&] {
        for (auto& o : services.notReachable) o();
    };
    auto regain = [&] {
        for (auto& o : services.reachable) o();
    };
    model().networkLockActivated = true;
    lose();
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
    EXPECT_EQ(delegate->currentDockMenu(), menus().dockMenu);
    model().networkLockActivated = false;
    lose();
    EXPECT_EQ(statusItemView.menu, menus().noInternetConnection_menu);
    EXPECT_EQ(delegate->currentDockMenu(), menus().noInternetConnection_DockMenu);
    lose();
    EXPECT_EQ(statusItemView.menu, menus().noInternetConnection_menu);
    EXPECT_EQ(count("onInternetConnectionLost"), 3u);
    regain();
    EXPECT_EQ(statusItemView.menu, menus().menuBarMenu);
    EXPECT_EQ(delegate->currentDockMenu(), menus().dockMenu);
    delegate->performLogout();
    factory->queue.runUntilIdle();
    EXPECT_EQ(statusItemView.menu, menus().default_menuBarMenu);
    EXPECT_EQ(delegate->currentDockMenu(), menus().default_DockMenuBarMenu);
}

TEST_F(AppDelegateTrayTest, WidgetRefreshFollowsTheIntervalAndARandomDelay) {
    make();
    model().smartWidgetCheckIntervalMin = 5;
    randomValue = 29;
    signedIn();
    dataLoads();
    syncAnswers();
    EXPECT_EQ(count("requestSmartWidgetData:r:session"), 1u) << "loaded once after sign-in";
    services.widgetRequests.at(0)(SmartWidgetReply{"https://l", "t", "i", "s", "go"});
    EXPECT_TRUE(journaled("main.smartWidgetData"));
    ASSERT_TRUE(delegate->hasSmartWidgetScheduleUpdateTimer());

    factory->queue.advance(299999);
    EXPECT_EQ(syncCalls(), 0u);
    factory->queue.advance(1);
    EXPECT_EQ(syncCalls(), 1u) << "300 s for 5 minutes";
    syncAnswers();
    EXPECT_EQ(randomBounds, std::vector<int>{30});
    factory->queue.advance(28999);
    EXPECT_EQ(count("requestSmartWidgetData:r:session"), 1u);
    factory->queue.advance(1);
    EXPECT_EQ(count("requestSmartWidgetData:r:session"), 2u) << "29 s after the synchronisation";
    EXPECT_TRUE(delegate->hasSmartWidgetScheduleUpdateTimer()) << "the chain goes on";

    services.sessionToken.reset();
    factory->queue.advance(300000);
    syncAnswers();
    factory->queue.advance(30000);
    EXPECT_EQ(count("requestSmartWidgetData:r:session"), 2u) << "no session token, no load";
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
    EXPECT_EQ(count("requestSmartWidgetData:r:session"), 1u);
    EXPECT_FALSE(delegate->hasSmartWidgetScheduleUpdateTimer());

    // A chain already running ends at its next firing.
    delegate->sheduleNextSmartWidgetUpdate();
    factory->queue.advance(model().SMART_WIDGET_UPDATE_CHECK_INTERVAL() * 1000.0);
    EXPECT_FALSE(delegate->hasSmartWidgetScheduleUpdateTimer());
}

TEST_F(AppDelegateTrayTest, StatusIconAnimatesWhileConnectingThenShowsTheState) {
    launch();
    EXPECT_EQ(statusItemView.images, std::vector<std::string>{"MenuBar_icon_DISCONNECTED"});
    statusItemView.images.clear();
    model().setCurrentConnectionState(ConnectionStates::connecting);
    factory->queue.advance(169);
    EXPECT_TRUE(statusItemView.images.empty());
    factory->queue.advance(1);
    factory->queue.advance(170 * 2);
    EXPECT_EQ(statusItemView.images, (std::vector<std::string>{"MenuBar_icon_CONNECTING_2", "MenuBar_icon_CONNECTING_3",
                                                               "MenuBar_icon_CONNECTING_1"}));
    model().setCurrentConnectionState(ConnectionStates::connected);
    factory->queue.advance(1000);
    EXPECT_EQ(statusItemView.images.back(), "MenuBar_icon_CONNECTED");
    EXPECT_EQ(statusItemView.images.size(), 4u) << "the animation stopped";
}

TEST_F(AppDelegateTrayTest, ClickingTheTrayItemIsTheReopen) {
    statusItem = true;
    launch();
    delegate->changeAppToBeUserAgent();
    ASSERT_FALSE(welcomeWindow->visible);
    ASSERT_TRUE(statusItemView.onActivated);
    statusItemView.onActivated();
    EXPECT_FALSE(model().isAppInUserAgentMode());
    EXPECT_TRUE(welcomeWindow->visible);
}

class BannerClickTest : public AppDelegateTrayTest {
protected:
    void SetUp() override {
        statusItem = true;
        launch();
        mainWindow->details = &pane;
    }
    void click(const std::function<void()>& show, const std::string& title, UserNotificationCenter::Activation how) {
        delegate->changeAppToBeUserAgent();
        journal.clear();
        show();
        ASSERT_TRUE(notifications.click(title, how)) << title;
    }
    RecordingDetailsPane pane;
    UserNotificationHelper& banners() { return delegate->userNotificationHelper(); }
};

TEST_F(BannerClickTest, ClicksRouteByBannerAndAlwaysLeaveStatusBarOnlyMode) {
    using A = UserNotificationCenter::Activation;
    const std::string insecure = LocaleData::connected_to_insecure_wi_fi_notification_title();
    const std::string notSignedIn = LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title();
    const std::string error = LocaleData::connection_error_minimized_notification_title();
    struct Row {
        const char* name;
        std::function<void()> show;
        std::string title;
        A how;
        ConnectButtonStates button;
        bool connects;
        bool removed;
    } rows[] = {
        {"insecure, Connect", [&] { banners().showInsecureWiFiNotification(); }, insecure, A::actionButtonClicked,
         ConnectButtonStates::connect, true, false},
        {"insecure, Connect while connected", [&] { banners().showInsecureWiFiNotification(); }, insecure,
         A::actionButtonClicked, ConnectButtonStates::disconnect, false, false},
        {"insecure, body", [&] { banners().showInsecureWiFiNotification(); }, insecure, A::contentsClicked,
         ConnectButtonStates::connect, false, true},
        {"not signed in, Protect me", [&] { banners().showInsecureWiFiNotLoggedInNotification(); }, notSignedIn,
         A::actionButtonClicked, ConnectButtonStates::connect, false, false},
        {"error, Retry", [&] { banners().showConnectionErrorNotification(); }, error, A::actionButtonClicked,
         ConnectButtonStates::connect, true, false},
        {"error, Retry while connecting", [&] { banners().showConnectionErrorNotification(); }, error,
         A::actionButtonClicked, ConnectButtonStates::connecting, false, false},
        {"error, body", [&] { banners().showConnectionErrorNotification(); }, error, A::contentsClicked,
         ConnectButtonStates::connect, false, true},
    };
    for (const auto& row : rows) {
        pane.buttonState = row.button;
        model().pendingVPN_Activated_on_UnsecuredWiFi = false;
        factory->queue.advance(20000);  // the throttle
        click(row.show, row.title, row.how);
        EXPECT_EQ(count("main.performConnectCommand"), row.connects ? 1u : 0u) << row.name;
        EXPECT_EQ(model().pendingVPN_Activated_on_UnsecuredWiFi, row.connects && row.title == insecure) << row.name;
        EXPECT_EQ(notifications.delivered.empty(), row.removed) << row.name;
        EXPECT_FALSE(model().isAppInUserAgentMode()) << row.name;
    }

    click([&] { banners().showAutoReconnectWithNetworkLockNotification(); }, "VPN Kill Switch On", A::contentsClicked);
    EXPECT_FALSE(banners().hasAutoReconnectNotification());
    EXPECT_FALSE(model().isAppInUserAgentMode());
}

}  // namespace
}  // namespace hw::test
