// Launch, windows and commands of the application delegate.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "app/app_auto_load_on_startup_helper.h"

#include "app/hub_shell_services.h"
#include "app_delegate_fixture.h"
#include "core/settings_user_defaults.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

TEST_F(AppDelegateTest, LaunchRunsItsStepsInOrderAndKeepsThePortsOthersSet) {
    launch();
    const std::vector<std::string> expected{
        "prepareConnectionManager", "welcome.show", "initParse", "terminatePreviousOpenVPNProcesses",
        "applyCachedParseConfig", "trackAppOpened"};
    std::vector<std::string> seen;
    for (const auto& e : journal)
        if (std::find(expected.begin(), expected.end(), e) != expected.end()) seen.push_back(e);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(count("prepareConnectionManager"), 1u);
    // The hub's locations port stays; the shell is added.
    EXPECT_EQ(model().ports().locations, &factory->locations);
    EXPECT_EQ(model().ports().shell, delegate.get());
    EXPECT_EQ(hub->shell().appDelegate, delegate.get());
    ASSERT_TRUE(hub->shell().compareIfVersionIsLowerThanWithAnotherVersion);
    EXPECT_FALSE(hub->shell().compareIfVersionIsLowerThanWithAnotherVersion("1.0.0", "2.5"));
    // The reachability check after the cached configuration.
    EXPECT_EQ(factory->reachability->checks.size(), 1u);
    struct stat st{};
    ASSERT_EQ(::stat((dir.path() + "/logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A second call does not launch again.
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(count("prepareConnectionManager"), 1u);
}

TEST_F(AppDelegateTest, AnExceptionInALaunchStepSkipsTheRestAndIsReported) {
    struct Row {
        std::string failing;
        std::string firstSkipped;
    };
    for (const Row& row : {Row{"prepareConnectionManager", "initParse"}, Row{"initParse", "trackAppOpened"},
                           Row{"terminatePreviousOpenVPNProcesses", "applyCachedParseConfig"},
                           Row{"trackAppOpened", "report:none"}}) {
        SCOPED_TRACE(row.failing);
        journal.clear();
        delegate.reset();
        hub.reset();
        factory = std::make_shared<FakeHubFactory>();
        services.throwOn = row.failing;
        launch();
        EXPECT_TRUE(journaled(row.failing));
        EXPECT_TRUE(journaled("report:std::runtime_error"));
        EXPECT_FALSE(journaled(row.firstSkipped));
    }
}

TEST_F(AppDelegateTest, OnlyTheFirstTenExceptionsAreReported) {
    make();
    for (int i = 0; i < 12; ++i) delegate->handleException(std::runtime_error("boom"));
    EXPECT_EQ(count("report:std::runtime_error"), 10u);
    EXPECT_THROW(delegate->wrapMainProcessingWithExceptionHandling([] { throw 42; }), int);
}

TEST_F(AppDelegateTest, AFatalExceptionsReportIsSentByTheNextLaunch) {
    reportPath = dir.path() + "/data/exception.json";
    ASSERT_EQ(::mkdir((dir.path() + "/data").c_str(), 0700), 0);
    {
        std::ofstream(reportPath) << R"({"type":"std::bad_alloc","stack":"a  |   b"})";
    }
    launch();
    EXPECT_TRUE(journaled("report:std::bad_alloc"));
    EXPECT_NE(::access(reportPath.c_str(), F_OK), 0);
}

TEST_F(AppDelegateTest, TheFirstStartStoresItsArgumentsOnceButNoApplicationURL) {
    arguments.push_back("havenway://oauth/callback?code=secret");
    launch();
    EXPECT_TRUE(model().isFirstTimeLaunch);
    EXPECT_EQ(factory->store.stringListForKey(Keys::appLaunchParameters),
              (StringList{"/usr/bin/havenway", "-utm_source", "ads"}));
    EXPECT_FALSE(log->contains("code=secret"));

    delegate.reset();
    hub.reset();
    journal.clear();
    arguments = {"/usr/bin/havenway", "--hidden"};
    auto store = factory->store.snapshot();
    factory = std::make_shared<FakeHubFactory>();
    for (const auto& [k, v] : store) factory->store.set(k, v);
    launch();
    EXPECT_FALSE(model().isFirstTimeLaunch);
    EXPECT_EQ(factory->store.stringListForKey(Keys::appLaunchParameters),
              (StringList{"/usr/bin/havenway", "-utm_source", "ads"}));
}

TEST_F(AppDelegateTest, TheFirstWindowFollowsTheWelcomeSettingTheBuildAndStartMinimised) {
    struct Row {
        bool showWelcome;
        bool enterprise;
        bool minimized;
        bool hidden;  // started from the login items
        std::string expected;
        std::string current;
    };
    for (const Row& row : {Row{true, false, false, false, "welcome.show", "welcome"},
                           Row{true, false, true, false, "welcome.orderOut", "welcome"},
                           Row{false, false, false, false, "auth.show", "auth"},
                           Row{true, true, false, false, "auth.show", "auth"},
                           Row{false, false, true, false, "auth.setupAfterOpening", "auth"},
                           Row{false, false, false, true, "auth.orderOut", "auth"}}) {
        SCOPED_TRACE(row.expected);
        delegate.reset();
        hub.reset();
        journal.clear();
        factory = std::make_shared<FakeHubFactory>();
        factory->store.set(Keys::showWelcomePage, row.showWelcome);
        enterprise = row.enterprise;
        hideOnLaunch = row.hidden;
        make();
        model().startMinimized = row.minimized;
        delegate->prepareUI();
        EXPECT_TRUE(journaled(row.expected));
        // Hidden only this once: later windows follow the setting.
        EXPECT_EQ(model().startMinimized, row.minimized);
        auto* current = dynamic_cast<RecordingWindow*>(delegate->currentWindowController());
        ASSERT_TRUE(current);
        EXPECT_EQ(current->name, row.current);
    }
}

TEST_F(AppDelegateTest, SkippingTheWelcomePageStoresItAndOpensTheSignIn) {
    launch();
    delegate->skipWelcomePage();
    EXPECT_FALSE(factory->store.boolForKey(Keys::showWelcomePage));
    EXPECT_LT(at("welcome.close"), at("auth.show"));
    EXPECT_EQ(delegate->currentWindowController(), authWindow);
    EXPECT_TRUE(delegate->settingsAppliesImmediately());
}

TEST_F(AppDelegateTest, TheCurrentWindowIsTheOneShownOrClosedLast) {
    launch();
    delegate->openMainWindow();
    EXPECT_EQ(delegate->currentWindowController(), mainWindow);
    delegate->openLocationsWindow();
    EXPECT_EQ(delegate->currentWindowController(), mainWindow);
    EXPECT_LT(at("main.closeConnectButtonPopover"), at("locations.show"));
    model().startMinimized = true;
    delegate->openSettingsWindow(true);
    EXPECT_TRUE(journaled("settings.orderOut"));
    EXPECT_FALSE(journaled("settings.center"));
    EXPECT_TRUE(journaled("settings.setupComponents"));
    EXPECT_EQ(delegate->currentWindowController(), settingsWindow);
    // The main window closing by itself makes it current.
    mainWindow->close();
    EXPECT_EQ(delegate->currentWindowController(), mainWindow);
    delegate->closeSettingsWindow();
    EXPECT_EQ(delegate->currentWindowController(), settingsWindow);
    EXPECT_TRUE(journaled("main.afterSettingsClosed"));
}

TEST_F(AppDelegateTest, AFailingSettingsWindowIsCaughtAndReported) {
    launch();
    delegate->openSettingsWindow();
    settingsWindow->throwOn = "show";
    delegate->openSettingsWindow();
    EXPECT_TRUE(journaled("report:std::runtime_error"));
}

TEST_F(AppDelegateTest, ALocationFromTheMenuIsSelectedThenConnected) {
    launch();
    delegate->performSelectLocationCommand(nullptr);
    ASSERT_TRUE(journaled("main.selectLocation:0"));
    EXPECT_LT(at("main.selectLocation:0"), at("main.performConnectCommand"));
}

TEST_F(AppDelegateTest, InsecureWiFiBeforeSignInIsWatchedOnTheBackendHost) {
    launch();
    model().reachabilityDomainName = "backend.example";
    delegate->prepareWiFiUnsecured_EarlyDetection();
    EXPECT_TRUE(journaled("watchInsecureWiFi:backend.example"));
    services.insecure();
    EXPECT_TRUE(log->contains("!!! === showWiFiInsecureNotification"));
}

TEST_F(AppDelegateTest, TheUpdateOfferWaitsFourSecondsAndNeverComesInEnterpriseBuilds) {
    for (bool isEnterprise : {false, true}) {
        delegate.reset();
        hub.reset();
        journal.clear();
        factory = std::make_shared<FakeHubFactory>();
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

TEST_F(AppDelegateTest, LogOutTakesTheSessionDownInOrderAndReturnsToTheSignIn) {
    launch();
    delegate->openMainWindow();
    model().setAutoReconnectInProgress(true);
    model().setAutoReconnectAttemptsCount(3);
    model().isLoggedInUser = true;
    model().networkLockActivated = true;
    journal.clear();
    delegate->performLogout();
    const std::vector<std::string> order{"main.hideAutoReconnectOverlay", "disableNetworkLock",
                                         "terminatePreviousOpenVPNProcesses", "connectionInitiateCanceled:0",
                                         "clearAllReachabilityObservers", "stopReachability", "auth.signUpCompleted:0",
                                         "cleanUpSessionAndNotifyDisconnected", "disconnect", "logOut",
                                         "main.close", "locations.close", "main.afterSettingsClosed", "auth.show"};
    for (std::size_t i = 1; i < order.size(); ++i) EXPECT_LT(at(order[i - 1]), at(order[i])) << order[i];
    EXPECT_FALSE(journaled("clearEnterpriseCookies"));
    EXPECT_FALSE(model().autoReconnectInProgress());
    EXPECT_EQ(model().autoReconnectAttemptsCount(), 0);
    EXPECT_FALSE(model().isLoggedInUser);
    EXPECT_FALSE(model().networkLockActivated);
    EXPECT_EQ(notifications.removeAllCount, 1);
    EXPECT_TRUE(factory->store.boolForKey(Keys::skipCachedDataLoad));
    EXPECT_EQ(delegate->currentWindowController(), authWindow);
}

TEST_F(AppDelegateTest, TheShellRunsOnAHubWithoutReachabilityOrEngine) {
    make();
    ParseClient parse(ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-test", "", "", 1000},
                      factory->http, factory->queue, factory->keychain, factory->store);
    HubShellServices real(*hub, parse, factory->queue);
    real.clearAllReachabilityObservers();
    real.stopReachability();
    real.watchInsecureWiFi("backend.example", [] {});
    real.disableNetworkLock();
    bool done = false;
    real.prepareForTermination([&] { done = true; });
    factory->queue.runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_TRUE(log->contains("no reachability helper"));
}

TEST_F(AppDelegateTest, TheExitWaitsForTheHelperToTakeTheLastMessagesButNotForever) {
    make();
    ParseClient parse(ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-test", "", "", 1000},
                      factory->http, factory->queue, factory->keychain, factory->store);
    std::function<void()> taken;
    HubShellServices real(*hub, parse, factory->queue, [&](std::function<void()> done) { taken = std::move(done); });
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
}

TEST_F(AppDelegateTest, StartAtLoginFollowsTheSetting) {
    int toggles = 0;
    struct CountingItems final : LoginItems {
        explicit CountingItems(int& n) : n(n) {}
        std::optional<std::vector<Item>> snapshot() override { return items; }
        bool remove(const std::string& id) override {
            ++n;
            std::erase_if(items, [&](const Item& i) { return i.id == id; });
            return true;
        }
        bool add(const std::string& program, bool) override {
            ++n;
            items.push_back({"havenway.desktop", program});
            return true;
        }
        int& n;
        std::vector<Item> items;
    } items(toggles);
    launch();
    hub->setStartOnOSStartUpHelper(std::make_shared<AppAutoLoadOnStartupHelper>(items, "/opt/havenway/havenway"));
    model().setStartOnOsStartup(true);
    model().setStartOnOsStartup(true);
    EXPECT_EQ(toggles, 1);
    model().setStartOnOsStartup(false);
    EXPECT_EQ(toggles, 2);
    EXPECT_TRUE(items.items.empty());
}

TEST_F(AppDelegateTest, SleepWakeAndShutdownReachTheEngineWhenTheSessionTellsThem) {
    launch();
    EXPECT_TRUE(log->contains("no system bus"));

    delegate.reset();
    hub.reset();
    ManualSleepWatch watch;
    sleepWatch = &watch;
    launch();
    watch.handlers.willSleep();
    watch.handlers.didWake();
    EXPECT_LT(at("onDeviceWillSleep"), at("onDeviceDidWake"));
    watch.handlers.willShutDown();
    EXPECT_TRUE(alerts.pending.empty());
    ASSERT_TRUE(services.terminationDone);
    services.terminationDone();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
}

}  // namespace
}  // namespace hw::test
