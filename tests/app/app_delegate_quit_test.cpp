// Quitting, the application URL, reopen and the process mode.
#include "app_delegate_fixture.h"
#include "core/settings_user_defaults.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

TEST_F(AppDelegateTest, QuitRoads) {
    const std::string question = "alert:" + LocaleData::quit_app_confirmation_popup_title();
    const int quit = ShellAlertPresenter::kFirstButton, cancel = ShellAlertPresenter::kSecondButton;
    struct Row {
        std::string name;
        bool statusItem, openMain, enterprise;
        std::function<void(AppDelegate&)> act;
        std::optional<int> answer;
        std::string alert;  // empty: none asked
        bool terminated;
    };
    const std::vector<Row> rows{
        {"quit key with a status item hides", true, true, false, &AppDelegate::quitKeyPressed, {}, "", false},
        {"quit key without a status item asks", false, true, false, &AppDelegate::quitKeyPressed, {},
         question + "@main", false},
        {"menu quit then Quit", true, true, false, &AppDelegate::quitApplicationRequested, quit, question + "@main", true},
        {"menu quit then Cancel", true, true, false, &AppDelegate::quitApplicationRequested, cancel, question + "@main",
         false},
        {"quit key while the sheet is open", true, true, false,
         [](AppDelegate& d) {
             d.quitApplicationRequested();
             d.quitKeyPressed();
         },
         {}, question + "@main", true},
        {"menu quit with no window asks application-modal", true, false, false, &AppDelegate::quitApplicationRequested,
         quit, question + "@app-modal", true},
        {"update installed", false, true, false, &AppDelegate::performQuitApplicationFromStatusBar, {}, "", true},
        {"signal", false, true, false, &AppDelegate::terminateWithoutQuestion, {}, "", true},
        {"enterprise quit key hides", true, true, true, &AppDelegate::quitKeyPressed, {}, "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        statusItem = row.statusItem;
        enterprise = row.enterprise;
        make();
        if (row.openMain) delegate->openMainWindow();
        int modeChanges = 0;
        delegate->addAppModeChangeNotification([&] { ++modeChanges; });
        row.act(*delegate);
        if (row.answer) alerts.answer(*row.answer);
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(), [](const std::string& e) { return e.rfind("alert:", 0) == 0; }),
                  row.alert.empty() ? 0 : 1);
        EXPECT_TRUE(row.alert.empty() || journaled(row.alert)) << row.alert;
        EXPECT_EQ(journaled("prepareForTermination"), row.terminated);
        EXPECT_EQ(count("clearEnterpriseCookies"), row.enterprise ? 1u : 0u) << "cleared on every quit request";
        EXPECT_TRUE(exitCodes.empty()) << "exited before the helper took the clean-up";
        if (row.terminated) {
            services.terminationDone();
            EXPECT_EQ(exitCodes, std::vector<int>{0});
            EXPECT_LT(at("stopReachability"), at("prepareForTermination"));
            EXPECT_EQ(notifications.removeAllCount, 1);
        }
        const bool hides = row.statusItem && row.alert.empty() && !row.terminated;
        EXPECT_EQ(model().isAppInUserAgentMode(), hides);
        EXPECT_EQ(modeChanges, hides ? 1 : 0);
    }
    // After Cancel the quit key hides again.
    restart();
    statusItem = true;
    make().openMainWindow();
    delegate->quitApplicationRequested();
    alerts.answer(cancel);
    delegate->quitKeyPressed();
    EXPECT_FALSE(journaled("prepareForTermination"));
    EXPECT_TRUE(model().isAppInUserAgentMode());
}

TEST_F(AppDelegateTest, TheQuitQuestionWarnsOfLostProtectionOnlyWhileThereIsSome) {
    const std::string warns = LocaleData::quit_app_confirmation_popup_text(),
                      idle = LocaleData::quit_app_confirmation_popup_idle_text();
    struct Row {
        std::string name;
        std::function<void(ApplicationModel&)> set;
        std::string text;
    };
    const std::vector<Row> rows{
        {"signed out, nothing connected", [](ApplicationModel&) {}, idle},
        {"signed in, nothing connected", [](ApplicationModel& m) { m.isLoggedInUser = true; }, idle},
        {"connected", [](ApplicationModel& m) { m.isConnectedToVPN = true; }, warns},
        {"connecting", [](ApplicationModel& m) { m.setCurrentConnectionState(ConnectionStates::connecting); }, warns},
        {"a held lock", [](ApplicationModel& m) { m.networkLockActivated = true; }, warns},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        statusItem = true;
        make().openMainWindow();
        row.set(model());
        delegate->quitApplicationRequested();
        ASSERT_EQ(alerts.informativeTexts.size(), 1u);
        EXPECT_EQ(alerts.informativeTexts.back(), row.text);
        alerts.answer(ShellAlertPresenter::kSecondButton);
    }
}

TEST_F(AppDelegateTest, AFailingCleanUpStepStillTakesTheHelperDownAndExits) {
    make();
    services.throwOn = "stopReachability";
    delegate->performQuitApplicationFromStatusBar();
    ASSERT_TRUE(services.terminationDone);
    services.terminationDone();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    delegate->terminateWithoutQuestion();
    EXPECT_EQ(count("prepareForTermination"), 1u) << "a second request while the first is under way";
}

TEST_F(AppDelegateTest, TheHelperAlertIsASheetOnTheCurrentWindowElseApplicationModal) {
    make();
    int answer = 0;
    delegate->presentHelperInstallAlert("Helper Install Error", "denied", [&](int code) { answer = code; });
    EXPECT_TRUE(journaled("alert:Helper Install Error@app-modal"));
    alerts.answer(ShellAlertPresenter::kFirstButton);
    EXPECT_EQ(answer, ShellAlertPresenter::kFirstButton);
    delegate->openAuthWindow();
    delegate->presentHelperInstallAlert("Helper Install Error", "denied", [](int) {});
    EXPECT_TRUE(journaled("alert:Helper Install Error@auth"));
}

TEST_F(AppDelegateTest, ReopenShowsTheCurrentWindowOrTheMainOneForSettings) {
    statusItem = true;
    launch();
    delegate->openSettingsWindow();
    settingsWindow->close();
    welcomeWindow->close();
    journal.clear();
    EXPECT_FALSE(delegate->hasVisibleWindows());
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_TRUE(journaled("main.show"));
    EXPECT_FALSE(journaled("settings.show"));

    // With a window visible nothing reopens, but the application leaves status-bar-only mode.
    delegate->changeAppToBeUserAgent();
    EXPECT_FALSE(mainWindow->visible);
    authWindow->visible = true;
    model().startMinimized = true;
    journal.clear();
    delegate->applicationShouldHandleReopen(true);
    EXPECT_FALSE(model().isAppInUserAgentMode());
    EXPECT_TRUE(model().startMinimized);
    EXPECT_TRUE(journaled("main.orderFront")) << "back as it was hidden, not opened again";
    EXPECT_FALSE(journaled("main.show"));

    ASSERT_TRUE(statusItemView.onActivated);
    delegate->changeAppToBeUserAgent();
    statusItemView.onActivated();
    EXPECT_FALSE(model().isAppInUserAgentMode()) << "a click on the tray item is the reopen";
}

TEST_F(AppDelegateTest, ModeChangesNeedAStatusItemAndReachEverySubscriberInOrder) {
    make().openMainWindow();
    delegate->changeAppToBeUserAgent();
    EXPECT_FALSE(model().isAppInUserAgentMode());
    EXPECT_TRUE(mainWindow->visible);
    EXPECT_FALSE(delegate->MakeAppBackground());

    restart();
    statusItem = true;
    make();
    std::string heard;
    delegate->addAppModeChangeNotification([&] { heard += "A"; });
    delegate->addAppModeChangeNotification([&] { heard += "B"; });
    delegate->changeAppToBeUserAgent();
    delegate->changeAppToBeNormalApp();
    EXPECT_EQ(heard, "ABAB");
    delegate->clearAppModeChangeNotifications();
    delegate->changeAppToBeUserAgent();
    EXPECT_EQ(heard, "ABAB");
}

TEST_F(AppDelegateTest, OnlyACodeForTheShownEnterprisePageStartsTheSignIn) {
    struct Row {
        std::string url;
        bool handles, pageShown;
        std::optional<std::string> code;  // none: no sign-in starts
    };
    const std::string callback = "havenway://oauth/callback";
    for (const Row& row : {Row{callback + "?code=abc", true, true, "abc"},
                           Row{callback + "?state=x&code=abc", true, true, "abc"},
                           Row{callback + "?code=a%2Fb&code=zz", true, true, "a/b"},
                           Row{callback + "?code=abc", false, true, {}}, Row{callback + "?code=abc", true, false, {}},
                           Row{callback + "?code=", true, true, {}}, Row{callback + "?code", true, true, {}},
                           Row{callback, true, true, {}}, Row{callback + "?code=%zz", true, true, {}},
                           Row{callback + "?codes=abc#code=x", true, true, {}},
                           Row{"havenway://other/callback?code=abc", true, true, {}},
                           Row{"https://oauth/callback?code=abc", true, true, {}},
                           Row{"HAVENWAY://oauth/callback?code=abc", true, true, {}}}) {
        SCOPED_TRACE(row.url);
        restart();
        handlesURLs = row.handles;
        make();
        authWindow->enterprisePage = row.pageShown;
        delegate->handleURLEvent(row.url);
        EXPECT_EQ(journaled("auth.startEnterpriseLogin:vpnuser/vpnpass"), row.code.has_value());
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                [](const std::string& e) { return e.rfind("requestAuthToken:", 0) == 0; }),
                  row.code ? 1 : 0);
        EXPECT_TRUE(!row.code || journaled("requestAuthToken:" + *row.code));
    }
    EXPECT_FALSE(log->contains("token-of-abc"));
}

}  // namespace
}  // namespace hw::test

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

// How many lines so far carry the text.
long logged(const CaptureLog& log, const std::string& text) {
    const auto lines = log.lines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const CaptureLog::Line& l) { return l.message.find(text) != std::string::npos; });
}

// A start off the screen waits a few seconds for a tray; with none by then it
// shows its window, since nothing else would lead back to the application.
// Whenever it stays off the screen, the tray's menu offers the window.
TEST_F(AppDelegateTest, AStartOffTheScreenShowsItsWindowWhenNoTrayAppears) {
    struct Row {
        std::string name;
        bool hidden, minimizedSetting, trayComes, userAsks;
        bool shown;
        bool trayAtStart = false;
    };
    const std::vector<Row> rows{
        {"hidden, no tray", true, false, false, false, true},
        {"start minimized, no tray", false, true, false, false, true},
        {"hidden, a tray comes in time", true, false, true, false, false},
        {"start minimized, a tray comes in time", false, true, true, false, false},
        {"start minimized, a tray at the start", false, true, true, false, false, true},
        {"hidden, the user asked already", true, false, false, true, true},
    };
    const int wait = AppDelegate::kTrayHostWaitMs;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        factory->store.set(Keys::showWelcomePage, false);
        factory->store.set(Keys::startMinimized, row.minimizedSetting);
        hideOnLaunch = row.hidden;
        statusItem = row.trayAtStart;
        launch();
        EXPECT_FALSE(delegate->hasVisibleWindows());
        if (row.userAsks) delegate->changeAppToBeNormalApp();
        statusItem = row.trayComes;
        if (row.trayComes && !row.trayAtStart) statusItemView.onShown();
        factory->queue.advance(wait - 1);
        EXPECT_EQ(delegate->hasVisibleWindows(), row.userAsks) << "a millisecond before the wait ends";
        factory->queue.advance(1);
        EXPECT_EQ(delegate->hasVisibleWindows(), row.shown);
        // As its opening left it off the screen: an automatic sign-in's error stays.
        EXPECT_EQ(count("auth.orderFront"), row.shown ? 1u : 0u) << "shown once";
        EXPECT_EQ(count("auth.show"), 0u);
        EXPECT_EQ(count("auth.setupAfterOpening"), 1u) << "opened once";
        EXPECT_EQ(logged(*log, "no tray host appeared"), row.shown && !row.userAsks ? 1 : 0);
        EXPECT_EQ(model().isAppInUserAgentMode(), !row.shown) << "the tray's menu offers Open Havenway";
        log = CaptureLog::install();
    }
}

// The install script starts the old application again after refusing an
// update: its main window comes back where the quit left it, and only then.
TEST_F(AppDelegateTest, ARefusedUpdatesStartPutsTheMainWindowWhereTheQuitLeftIt) {
    struct Row {
        const char* name;
        bool shownAtQuit, refused;
        const char* placed;  // the journal's entry, or empty
    };
    for (const Row& row : {Row{"shown, refused", true, true, "main.placeAt:1200,700,820,560"},
                           Row{"shown, an ordinary start", true, false, ""},
                           Row{"hidden at the quit, refused", false, true, ""}}) {
        SCOPED_TRACE(row.name);
        restart();
        factory->store.set(Keys::showWelcomePage, false);
        launch().openMainWindow();
        mainWindow->frameShown = {1200, 700, 820, 560};
        if (!row.shownAtQuit) mainWindow->orderOut();
        delegate->terminateWithoutQuestion();
        const SettingDict kept = factory->store.snapshot();
        restart();
        for (const auto& [key, value] : kept) factory->store.set(key, value);
        updateRefused = row.refused;
        launch();
        const auto placed = std::find_if(journal.begin(), journal.end(),
                                         [](const std::string& e) { return e.starts_with("main.placeAt:"); });
        EXPECT_EQ(placed == journal.end() ? std::string() : *placed, row.placed);
    }
}

TEST_F(AppDelegateTest, TheLastWindowClosesOnlyWhereATrayLeadsBack) {
    const std::string question = "alert:" + LocaleData::quit_app_confirmation_popup_title() + "@main";
    restart();
    statusItem = true;
    make().openMainWindow();
    EXPECT_TRUE(delegate->lastWindowMayClose());
    EXPECT_FALSE(journaled(question));

    restart();
    statusItem = false;
    make().openMainWindow();
    EXPECT_FALSE(delegate->lastWindowMayClose());
    EXPECT_FALSE(delegate->lastWindowMayClose()) << "a second click while asking";
    EXPECT_EQ(count(question), 1u);
    alerts.answer(ShellAlertPresenter::kSecondButton);
    EXPECT_FALSE(journaled("prepareForTermination"));
    EXPECT_FALSE(delegate->lastWindowMayClose()) << "asked again after Cancel";
    alerts.answer(ShellAlertPresenter::kFirstButton);
    EXPECT_TRUE(journaled("prepareForTermination"));
}

TEST_F(AppDelegateTest, AStartAfterARefusedUpdateSaysSo) {
    const std::string notice = "alert:" + LocaleData::auto_update_refused_title() + "@app-modal";
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "an ordinary start");
        restart();
        factory->store.set(Keys::showWelcomePage, false);
        updateRefused = refused;
        make().applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
        EXPECT_EQ(count(notice), refused ? 1u : 0u);
        EXPECT_EQ(logged(*log, "The update could not be installed"), refused ? 1 : 0);
        log = CaptureLog::install();
        if (refused) {
            EXPECT_LT(at("auth.show"), at(notice)) << "after the first window";
        }
    }
}

}  // namespace
}  // namespace hw::test
