// Launch, windows and commands of the application delegate.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "app/hub_shell_services.h"
#include "app_delegate_fixture.h"
#include "core/settings_user_defaults.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

TEST_F(AppDelegateTest, LaunchRunsItsStepsInOrderAndKeepsThePortsOthersSet) {
    reportPath = dir.file("exception.json");
    std::ofstream(reportPath) << R"({"type":"std::bad_alloc","stack":"a  |   b"})";
    launch();
    const std::vector<std::string> expected{
        "prepareConnectionManager", "welcome.show", "initParse", "adoptOrEndLeftoverTunnel",
        "applyCachedParseConfig", "trackAppOpened"};
    std::vector<std::string> seen;
    std::copy_if(journal.begin(), journal.end(), std::back_inserter(seen),
                 [&](const std::string& e) { return std::find(expected.begin(), expected.end(), e) != expected.end(); });
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(model().ports().locations, &factory->locations);
    EXPECT_EQ(model().ports().shell, delegate.get());
    ASSERT_TRUE(hub->shell().compareIfVersionIsLowerThanWithAnotherVersion);
    EXPECT_FALSE(hub->shell().compareIfVersionIsLowerThanWithAnotherVersion("1.0.0", "2.5"));
    EXPECT_EQ(factory->reachability->checks.size(), 1u);
    EXPECT_EQ(TempDir::mode(dir.path() + "/logs"), 0700u);
    EXPECT_TRUE(journaled("report:std::bad_alloc")) << "the last run's fatal exception";
    EXPECT_NE(::access(reportPath.c_str(), F_OK), 0);

    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(count("prepareConnectionManager"), 1u) << "launched twice";
}

TEST_F(AppDelegateTest, AnExceptionInALaunchStepSkipsTheRestAndIsReported) {
    for (const auto& [failing, firstSkipped] : std::vector<std::pair<std::string, std::string>>{
             {"prepareConnectionManager", "initParse"},
             {"initParse", "trackAppOpened"},
             {"adoptOrEndLeftoverTunnel", "applyCachedParseConfig"},
             {"trackAppOpened", "report:none"}}) {
        SCOPED_TRACE(failing);
        restart();
        services.throwOn = failing;
        launch();
        EXPECT_TRUE(journaled("report:std::runtime_error"));
        EXPECT_FALSE(journaled(firstSkipped));
    }
    for (int i = 0; i < 12; ++i) delegate->handleException(std::runtime_error("boom"));
    EXPECT_EQ(count("report:std::runtime_error"), 10u) << "only the first ten are reported";
    EXPECT_THROW(delegate->wrapMainProcessingWithExceptionHandling([] { throw 42; }), int);
}

// With the kill switch chosen the launch never lifts a lock blind: one left
// by a crash keeps the user's traffic in until the user acts.
TEST_F(AppDelegateTest, TheLaunchKeepsALockLeftEngagedWhenTheKillSwitchIsChosen) {
    for (bool chosen : {true, false}) {
        SCOPED_TRACE(chosen);
        restart();
        factory->store.set(Keys::useNetworkLock, chosen);
        launch();
        EXPECT_FALSE(journaled("disableNetworkLock"));
        EXPECT_EQ(journaled("keepNetworkLockLeftFromEarlierRun"), chosen);
    }
}

TEST_F(AppDelegateTest, TheLaunchPreloadNeverOffersTheUpdate) {
    factory->hubOptions.appVersion = "1.0.0";
    factory->parseConfig->applyConfig = [this] { model().newAppVersionString = "2.0.0"; };
    services.configNeedsFetch = true;
    launch();
    factory->queue.advance(5000);
    EXPECT_NE(model().newAppVersionString, std::nullopt) << "the configuration was loaded";
    EXPECT_FALSE(journaled("main.showUpdateBar"));
}

TEST_F(AppDelegateTest, TheFirstStartStoresItsArgumentsOnceButNoApplicationURL) {
    const StringList stored{"/usr/bin/havenway", "-utm_source", "ads"};
    arguments.push_back("havenway://oauth/callback?code=secret");
    launch();
    EXPECT_TRUE(model().isFirstTimeLaunch);
    EXPECT_EQ(factory->store.stringListForKey(Keys::appLaunchParameters), stored);
    EXPECT_FALSE(log->contains("code=secret"));

    const auto store = factory->store.snapshot();
    restart();
    for (const auto& [k, v] : store) factory->store.set(k, v);
    arguments = {"/usr/bin/havenway", "--hidden"};
    launch();
    EXPECT_FALSE(model().isFirstTimeLaunch);
    EXPECT_EQ(factory->store.stringListForKey(Keys::appLaunchParameters), stored);
}

TEST_F(AppDelegateTest, TheFirstWindowFollowsTheWelcomeSettingTheBuildAndStartMinimised) {
    struct Row {
        bool showWelcome, enterprise, minimized, hidden;  // hidden: started from the login items
        std::string expected, current;
    };
    for (const Row& row : {Row{true, false, false, false, "welcome.show", "welcome"},
                           Row{true, false, true, false, "welcome.orderOut", "welcome"},
                           Row{false, false, false, false, "auth.show", "auth"},
                           Row{true, true, false, false, "auth.show", "auth"},
                           Row{false, false, true, false, "auth.setupAfterOpening", "auth"},
                           Row{false, false, false, true, "auth.orderOut", "auth"}}) {
        SCOPED_TRACE(row.expected);
        restart();
        factory->store.set(Keys::showWelcomePage, row.showWelcome);
        enterprise = row.enterprise;
        hideOnLaunch = row.hidden;
        make();
        model().startMinimized = row.minimized;
        delegate->prepareUI();
        EXPECT_TRUE(journaled(row.expected));
        EXPECT_EQ(model().startMinimized, row.minimized || row.hidden) << "hidden until the user asks";
        auto* current = dynamic_cast<RecordingWindow*>(delegate->currentWindowController());
        ASSERT_TRUE(current);
        EXPECT_EQ(current->name, row.current);
    }
    restart();
    launch().skipWelcomePage();
    EXPECT_FALSE(factory->store.boolForKey(Keys::showWelcomePage));
    EXPECT_LT(at("welcome.close"), at("auth.show"));
    EXPECT_EQ(delegate->currentWindowController(), authWindow);
}

// The keychain may take any while (an unlock prompt, a silent service): the
// login window shows at once, saying it restores the account where one is
// remembered, and the account fills it once it comes, unless the user began
// something meanwhile. A remembered account a store failed to give is said
// to be lost, with the store's answer; one a healthy keyring does not hold is not.
TEST_F(AppDelegateTest, TheLoginWindowShowsAtOnceAndALateAccountFillsItUnlessTheUserActed) {
    struct Row {
        const char* name;
        bool remembered;
        bool acted;
        bool found;
        Journal afterAnswer;
        const char* failure = "";
    };
    const Row rows[] = {
        {"nothing remembered", false, false, true, {"auth.pendingLoginData", "auth.setupAfterOpening"}},
        {"an account remembered", true, false, true,
         {"auth.restoring:0", "auth.pendingLoginData", "auth.setupAfterOpening"}},
        {"the user began a sign-in meanwhile", true, true, true, {"auth.restoring:0"}},
        {"a remembered account the keyring failed to give", true, false, false,
         {"auth.restoring:0", "auth.accountNotRestored:The keyring answered: locked"}, "The keyring answered: locked"},
        {"a remembered account a healthy keyring does not hold", true, false, false, {"auth.restoring:0"}},
        {"nothing remembered and nothing found", false, false, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        factory->store.set(Keys::showWelcomePage, false);
        if (row.remembered) factory->store.set(ParseClient::kCurrentUserKey, std::string(R"({"objectId":"u1"})"));
        services.holdRestore = true;
        services.restoreFailureText = row.failure;
        make().prepareUI();
        EXPECT_TRUE(journaled("auth.show")) << "without waiting";
        EXPECT_EQ(journaled("auth.restoring:1"), row.remembered);
        journal.clear();
        authWindow->acted = row.acted;
        ASSERT_TRUE(services.heldRestore);
        services.heldRestore(row.found ? std::optional<LoginData>(LoginData{"user@example.com", "secret", std::nullopt})
                                       : std::nullopt);
        EXPECT_EQ(journal, row.afterAnswer);
    }

    restart();
    services.holdRestore = true;
    launch().skipWelcomePage();
    EXPECT_TRUE(journaled("auth.show")) << "no gap after the welcome pages";
}

// Started from the login items: nothing maps, the automatic sign-in's main
// window included, until the user asks; every ask shows the window that fits.
TEST_F(AppDelegateTest, AHiddenStartShowsNoWindowUntilTheUserAsks) {
    const UserNotificationCenter::Notification protectMe{
        LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title(),
        LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_description()};
    struct Row {
        std::string ask;
        std::function<void(AppDelegate&)> act;
    };
    const std::vector<Row> asks{
        {"Open Havenway", [](AppDelegate& d) { d.changeAppToBeNormalApp(); }},
        {"Sign In", [](AppDelegate& d) { d.performSignInCommand(); }},
        {"Protect me",
         [&](AppDelegate& d) {
             d.userNotificationCenterDidActivate(protectMe, UserNotificationCenter::Activation::actionButtonClicked);
         }},
        {"a click on the item", [](AppDelegate& d) { d.applicationShouldHandleReopen(d.hasVisibleWindows()); }},
    };
    for (const Row& row : asks) {
        for (bool signedIn : {false, true}) {
            SCOPED_TRACE(row.ask + (signedIn ? ", signed in" : ", signed out"));
            restart();
            factory->store.set(Keys::showWelcomePage, false);
            statusItem = true;
            hideOnLaunch = true;
            launch();
            if (signedIn) delegate->openMainWindow();
            factory->queue.runUntilIdle();
            EXPECT_FALSE(delegate->hasVisibleWindows());
            EXPECT_TRUE(model().isAppInUserAgentMode()) << "the tray offers Open Havenway";
            EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                    [](const std::string& e) { return e.ends_with(".show"); }),
                      0);
            row.act(*delegate);
            factory->queue.runUntilIdle();
            // The login window's opening (the automatic sign-in) ran off the screen already.
            EXPECT_TRUE(journaled(signedIn ? "main.show" : "auth.orderFront"));
            EXPECT_FALSE(model().startMinimized) << "later windows show as usual";
            EXPECT_FALSE(model().isAppInUserAgentMode());
        }
    }
}

TEST_F(AppDelegateTest, SignInFromTheTrayLeavesTheSignUpWindowForTheLoginWindow) {
    factory->store.set(Keys::showWelcomePage, false);
    statusItem = true;
    launch();
    delegate->openFreeTrialSignUpWindow();
    factory->queue.runUntilIdle();
    ASSERT_TRUE(signUpWindow && signUpWindow->visible);
    journal.clear();
    delegate->performSignInCommand();
    factory->queue.runUntilIdle();
    EXPECT_TRUE(journaled("signUp.close"));
    EXPECT_TRUE(journaled("auth.show"));
    EXPECT_EQ(delegate->currentWindowController(), authWindow);
}

TEST_F(AppDelegateTest, TheCurrentWindowIsTheOneShownOrClosedLast) {
    launch();
    delegate->openMainWindow();
    delegate->openLocationsWindow();
    EXPECT_EQ(delegate->currentWindowController(), mainWindow);
    EXPECT_LT(at("main.closeConnectButtonPopover"), at("locations.show"));
    EXPECT_LT(at("main.dropConnectButtonHover"), at("locations.show"));
    model().startMinimized = true;
    delegate->openSettingsWindow(true);
    EXPECT_TRUE(journaled("settings.orderOut"));
    EXPECT_FALSE(journaled("settings.center"));
    EXPECT_EQ(delegate->currentWindowController(), settingsWindow);
    mainWindow->close();
    EXPECT_EQ(delegate->currentWindowController(), mainWindow) << "closing by itself makes it current";
    delegate->closeSettingsWindow();
    EXPECT_EQ(delegate->currentWindowController(), settingsWindow);
    EXPECT_TRUE(journaled("main.afterSettingsClosed"));

    settingsWindow->throwOn = "orderOut";
    delegate->openSettingsWindow();
    EXPECT_TRUE(journaled("report:std::runtime_error")) << "a failing window is caught";

    settingsWindow->throwOn.clear();
    model().startMinimized = false;
    delegate->openSettingsWindowOnPane("com.havenway.Havenway.TouchBarItem.ProtocolItem");
    ASSERT_TRUE(journaled("settings.selectPane:com.havenway.Havenway.TouchBarItem.ProtocolItem"));
    EXPECT_LT(at("settings.show"), at("settings.selectPane:com.havenway.Havenway.TouchBarItem.ProtocolItem"))
        << "the pane is chosen once the window has set itself up";
}

TEST_F(AppDelegateTest, SettingsOnTheProtocolPaneOpensTheWindowFirst) {
    launch();
    delegate->openSettingsWindowOnProtocol();
    ASSERT_TRUE(journaled("settings.selectPane:com.havenway.Havenway.TouchBarItem.ProtocolItem"));
    EXPECT_LT(at("settings.show"), at("settings.selectPane:com.havenway.Havenway.TouchBarItem.ProtocolItem"));
    EXPECT_EQ(delegate->currentWindowController(), settingsWindow);
}

TEST_F(AppDelegateTest, MenuCommandsAndEarlyWarningsReachTheirWindows) {
    launch();
    delegate->performSelectLocationCommand(nullptr);
    ASSERT_TRUE(journaled("main.selectLocation:0"));
    EXPECT_LT(at("main.selectLocation:0"), at("intents.connectOrEnd"));

    model().reachabilityDomainName = "backend.example";
    delegate->prepareWiFiUnsecured_EarlyDetection();
    EXPECT_TRUE(journaled("watchInsecureWiFi:backend.example"));
    services.insecure();
    EXPECT_EQ(notifications.titles(),
              std::vector<std::string>{LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title()});
}

TEST_F(AppDelegateTest, TheUpdateOfferWaitsFourSecondsAndNeverComesInEnterpriseBuilds) {
    for (bool isEnterprise : {false, true}) {
        restart();
        enterprise = isEnterprise;
        make().showAppUpgratePopup();
        factory->queue.advance(3999);
        EXPECT_FALSE(journaled("main.showUpdateBar"));
        factory->queue.advance(1);
        EXPECT_EQ(journaled("main.showUpdateBar"), !isEnterprise);
    }
}

TEST_F(AppDelegateTest, SignUpWindowReplacesTheSignInAfterTheCurrentEvent) {
    launch();
    model().signMeInWhenHavenwayStarts = true;
    delegate->openFreeTrialSignUpWindow();
    EXPECT_EQ(model().loginWindowFrame, (WindowFrame{10, 20, 300, 400}));
    EXPECT_TRUE(journaled("auth.closeWholeWindow:1"));
    EXPECT_FALSE(journaled("signUp.show"));
    factory->queue.runUntilIdle();
    EXPECT_TRUE(journaled("signUp.show"));
    delegate->hideFreeTrialSignUpWindow();
    factory->queue.runUntilIdle();
    EXPECT_TRUE(journaled("signUp.close"));
}

// The connection's machine ends the account's attempt first; its flags follow from it.
TEST_F(AppDelegateTest, LogOutTakesTheSessionDownInOrderAndReturnsToTheSignIn) {
    launch();
    delegate->openMainWindow();
    ASSERT_NE(mainWindow, nullptr);
    model().isLoggedInUser = true;
    model().networkLockActivated = true;
    journal.clear();
    delegate->performLogout();
    const std::vector<std::string> order{"intents.signOut", "disableNetworkLock",
                                         "terminatePreviousOpenVPNProcesses",
                                         "clearAllReachabilityObservers", "stopReachability", "auth.signUpCompleted:0",
                                         "cleanUpSessionAndNotifyDisconnected", "disconnect", "logOut",
                                         "main.close", "locations.close", "main.afterSettingsClosed", "auth.show"};
    for (std::size_t i = 1; i < order.size(); ++i) EXPECT_LT(at(order[i - 1]), at(order[i])) << order[i];
    EXPECT_FALSE(journaled("clearEnterpriseCookies"));
    EXPECT_FALSE(model().isLoggedInUser);
    EXPECT_FALSE(model().networkLockActivated);
    EXPECT_EQ(notifications.removeAllCount, 1);
    EXPECT_TRUE(factory->store.boolForKey(Keys::skipCachedDataLoad));
    EXPECT_EQ(delegate->currentWindowController(), authWindow);
}

class HubShellServicesTest : public AppDelegateTest {
protected:
    void SetUp() override { make(); }
    ParseClient parse{ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-test", "", "", 1000},
                      factory->http, factory->queue, factory->keychain, factory->store};
};

// On a hub without reachability or engine: nothing to stop, but the exit still waits.
TEST_F(HubShellServicesTest, TheExitWaitsForTheHelperToTakeTheLastMessagesButNotForever) {
    std::function<void()> taken;
    HubShellServices real(*hub, parse, factory->queue, [&](std::function<void()> done) { taken = std::move(done); });
    real.clearAllReachabilityObservers();
    real.stopReachability();
    real.watchInsecureWiFi("backend.example", [] {});
    real.disableNetworkLock();
    int finished = 0;
    real.prepareForTermination([&] { ++finished; });
    factory->queue.runUntilIdle();
    EXPECT_EQ(finished, 0);
    taken();
    factory->queue.runUntilIdle();
    EXPECT_EQ(finished, 1);
    factory->queue.advance(HubShellServices::kHelperFlushBoundMs);
    EXPECT_EQ(finished, 1);

    // A helper that never answers holds the exit up for the bound only.
    real.prepareForTermination([&] { ++finished; });
    factory->queue.advance(HubShellServices::kHelperFlushBoundMs - 1);
    EXPECT_EQ(finished, 1);
    factory->queue.advance(1);
    EXPECT_EQ(finished, 2);

    HubShellServices(*hub, parse, factory->queue).prepareForTermination([&] { ++finished; });
    factory->queue.runUntilIdle();
    EXPECT_EQ(finished, 3) << "without a helper to wait for";
}

}  // namespace
}  // namespace hw::test
