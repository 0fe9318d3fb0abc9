// Quitting, the application URL, reopen and the process mode.
#include "app_delegate_fixture.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

const std::string kQuitTitle = LocaleData::quit_app_confirmation_popup_title();

TEST_F(AppDelegateTest, QuitRoads) {
    struct Row {
        std::string name;
        bool statusItem;
        bool openMain;
        std::function<void(AppDelegate&, RecordingAlerts&)> act;
        std::string alert;  // empty: none asked
        bool terminated;
    };
    const std::vector<Row> rows{
        {"quit key with a status item hides", true, true, [](AppDelegate& d, RecordingAlerts&) { d.quitKeyPressed(); },
         "", false},
        {"quit key without a status item asks", false, true,
         [](AppDelegate& d, RecordingAlerts&) { d.quitKeyPressed(); }, "alert:" + kQuitTitle + "@main", false},
        {"menu quit then Quit", true, true,
         [](AppDelegate& d, RecordingAlerts& a) {
             d.quitApplicationRequested();
             a.answer(ShellAlertPresenter::kFirstButton);
         },
         "alert:" + kQuitTitle + "@main", true},
        {"menu quit then Cancel", true, true,
         [](AppDelegate& d, RecordingAlerts& a) {
             d.quitApplicationRequested();
             a.answer(ShellAlertPresenter::kSecondButton);
         },
         "alert:" + kQuitTitle + "@main", false},
        {"quit key while the sheet is open", true, true,
         [](AppDelegate& d, RecordingAlerts&) {
             d.quitApplicationRequested();
             d.quitKeyPressed();
         },
         "alert:" + kQuitTitle + "@main", true},
        {"menu quit with no window asks application-modal", true, false,
         [](AppDelegate& d, RecordingAlerts& a) {
             d.quitApplicationRequested();
             a.answer(ShellAlertPresenter::kFirstButton);
         },
         "alert:" + kQuitTitle + "@app-modal", true},
        {"update installed", false, true,
         [](AppDelegate& d, RecordingAlerts&) { d.performQuitApplicationFromStatusBar(); }, "", true},
        {"signal", false, true, [](AppDelegate& d, RecordingAlerts&) { d.terminateWithoutQuestion(); }, "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        delegate.reset();
        hub.reset();
        journal.clear();
        exitCodes.clear();
        alerts.pending.clear();
        services.terminationDone = nullptr;
        notifications.removeAllCount = 0;
        factory = std::make_shared<FakeHubFactory>();
        statusItem = row.statusItem;
        make();
        if (row.openMain) delegate->openMainWindow();
        int modeChanges = 0;
        delegate->addAppModeChangeNotification([&] { ++modeChanges; });
        row.act(*delegate, alerts);
        if (row.alert.empty()) EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                                       [](const std::string& e) { return e.rfind("alert:", 0) == 0; }),
                                         0);
        else EXPECT_TRUE(journaled(row.alert));
        EXPECT_EQ(journaled("prepareForTermination"), row.terminated);
        if (row.terminated) {
            // The exit waits for the helper to take the clean-up's messages.
            EXPECT_TRUE(exitCodes.empty());
            ASSERT_TRUE(services.terminationDone);
            services.terminationDone();
            EXPECT_EQ(exitCodes, std::vector<int>{0});
            EXPECT_LT(at("stopReachability"), at("prepareForTermination"));
            EXPECT_EQ(notifications.removeAllCount, 1);
            EXPECT_TRUE(log->contains("applicationWillTerminate complitely finished."));
        } else {
            EXPECT_TRUE(exitCodes.empty());
        }
        if (row.name == "quit key with a status item hides") {
            EXPECT_TRUE(model().isAppInUserAgentMode());
            EXPECT_EQ(modeChanges, 1);
            EXPECT_FALSE(mainWindow->visible);
        }
    }
}

TEST_F(AppDelegateTest, AfterCancelTheQuitKeyHidesAgain) {
    statusItem = true;
    make().openMainWindow();
    delegate->quitApplicationRequested();
    alerts.answer(ShellAlertPresenter::kSecondButton);
    EXPECT_FALSE(delegate->confirQuitApplicationPopupShown());
    delegate->quitKeyPressed();
    EXPECT_FALSE(journaled("prepareForTermination"));
    EXPECT_TRUE(model().isAppInUserAgentMode());
}

TEST_F(AppDelegateTest, AFailingCleanUpStepStillTakesTheHelperDownAndExits) {
    make();
    services.throwOn = "stopReachability";
    delegate->performQuitApplicationFromStatusBar();
    ASSERT_TRUE(services.terminationDone);
    services.terminationDone();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    // A second request while the first is under way changes nothing.
    delegate->terminateWithoutQuestion();
    EXPECT_EQ(count("prepareForTermination"), 1u);
}

TEST_F(AppDelegateTest, EnterpriseBuildsClearTheSignInCookiesOnEveryQuitRequest) {
    enterprise = true;
    statusItem = true;
    make().quitKeyPressed();
    EXPECT_EQ(count("clearEnterpriseCookies"), 1u);
    EXPECT_FALSE(journaled("prepareForTermination"));
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
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(delegate->hasVisibleWindows()));
    EXPECT_TRUE(journaled("main.show"));
    EXPECT_FALSE(journaled("settings.show"));

    // With a window visible nothing reopens, but the application comes out
    // of status-bar-only mode.
    delegate->changeAppToBeUserAgent();
    EXPECT_TRUE(model().isAppInUserAgentMode());
    EXPECT_FALSE(mainWindow->visible);
    authWindow->visible = true;
    model().startMinimized = true;
    journal.clear();
    delegate->applicationShouldHandleReopen(true);
    EXPECT_FALSE(model().isAppInUserAgentMode());
    EXPECT_TRUE(model().startMinimized);
    EXPECT_TRUE(journaled("main.show"));  // hidden by the switch, shown by the switch back
}

TEST_F(AppDelegateTest, WithoutAStatusItemTheApplicationStaysInTheForeground) {
    make().openMainWindow();
    delegate->changeAppToBeUserAgent();
    EXPECT_FALSE(model().isAppInUserAgentMode());
    EXPECT_TRUE(mainWindow->visible);
    EXPECT_FALSE(delegate->MakeAppBackground());
}

TEST_F(AppDelegateTest, ModeSubscribersHearEachChangeInOrder) {
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

TEST_F(AppDelegateTest, TheCodeOfTheCallbackURL) {
    struct Row {
        std::string url;
        std::optional<std::string> code;
    };
    for (const Row& row : {Row{"havenway://oauth/callback?code=abc", "abc"},
                           Row{"havenway://oauth/callback?state=x&code=abc", "abc"},
                           Row{"havenway://oauth/callback?code=a%2Fb&code=zz", "a/b"},
                           Row{"havenway://oauth/callback?code", std::nullopt},
                           Row{"havenway://oauth/callback?", std::nullopt},
                           Row{"havenway://oauth/callback", std::nullopt},
                           Row{"havenway://oauth/callback?code=%zz", std::nullopt},
                           Row{"havenway://oauth/callback?codes=abc#code=x", std::nullopt}}) {
        EXPECT_EQ(AppDelegate::getCodeValueFromURL(row.url), row.code) << row.url;
    }
}

TEST_F(AppDelegateTest, OnlyACodeForTheShownEnterprisePageStartsTheSignIn) {
    struct Row {
        std::string url;
        bool handles;
        bool pageShown;
        bool starts;
    };
    for (const Row& row : {Row{"havenway://oauth/callback?code=abc", true, true, true},
                           Row{"havenway://oauth/callback?code=abc", false, true, false},
                           Row{"havenway://oauth/callback?code=abc", true, false, false},
                           Row{"havenway://oauth/callback?code=", true, true, false},
                           Row{"havenway://other/callback?code=abc", true, true, false},
                           Row{"https://oauth/callback?code=abc", true, true, false},
                           Row{"HAVENWAY://oauth/callback?code=abc", true, true, false},
                           Row{"", true, true, false}}) {
        SCOPED_TRACE(row.url);
        delegate.reset();
        hub.reset();
        journal.clear();
        factory = std::make_shared<FakeHubFactory>();
        handlesURLs = row.handles;
        make();
        authWindow->enterprisePage = row.pageShown;
        delegate->handleURLEvent(row.url);
        EXPECT_EQ(journaled("auth.startEnterpriseLogin:vpnuser/vpnpass"), row.starts);
        EXPECT_EQ(journaled("requestAuthToken:abc"), row.starts);
    }
    EXPECT_FALSE(log->contains("token-of-abc"));
}

}  // namespace
}  // namespace hw::test
