#include "windows/login/auth_window_view_controller.h"

#include "auth_window_fixture.h"
#include "support/fake_application_model_ports.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

using test::AuthWindowFixture;
using Reply = test::FakeBackend::Reply;

struct OpeningRow {
    const char* name;
    bool signUpFlag, logInFlag;
    enum Record { none, userOnly, noPasswordData, complete } record;
    bool signMeIn;
    bool signUpMode, fieldsFilled, autoSignIn;
};
void PrintTo(const OpeningRow& row, std::ostream* os) { *os << row.name; }

class AuthWindowOpening : public AuthWindowFixture, public ::testing::WithParamInterface<OpeningRow> {};

TEST_P(AuthWindowOpening, ChoosesModeFieldsAndAutomaticSignIn) {
    const OpeningRow& row = GetParam();
    AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = row.signUpFlag;
    AuthWindowViewController::ACTIVATE_LOG_IN_STATE = row.logInFlag;
    model->signMeInWhenHavenwayStarts = row.signMeIn;
    if (row.record != OpeningRow::none) {
        remember("user@example.com", row.record == OpeningRow::userOnly ? "" : "secret", row.record == OpeningRow::complete);
    }
    open();

    EXPECT_EQ(controller->isInSignUpState(), row.signUpMode);
    EXPECT_EQ(view[AuthPart::loginButton].text, row.signUpMode ? "SIGN UP" : "LOG IN");
    EXPECT_EQ(view[AuthPart::loginField].placeholder, row.signUpMode ? "Email Address" : "Username");
    EXPECT_EQ(view[AuthPart::loginField].text, row.fieldsFilled ? "user@example.com" : "");
    if (row.fieldsFilled) { EXPECT_EQ(view.focus, AuthPart::passwordField); }
    EXPECT_FALSE(AuthWindowViewController::ACTIVATE_SIGN_UP_STATE || AuthWindowViewController::ACTIVATE_LOG_IN_STATE);
    EXPECT_EQ(shell.count("prepareWiFiUnsecured_EarlyDetection"), row.autoSignIn ? 0 : 1);

    queue.advance(49);
    EXPECT_EQ(signIns, 0) << "nothing before 50 ms";
    queue.advance(1);
    queue.runUntilIdle();
    EXPECT_EQ(signIns, row.autoSignIn ? 1 : 0);
    EXPECT_EQ(shell.count("onLoginSuccess"), row.autoSignIn ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AuthWindowOpening,
    ::testing::Values(OpeningRow{"FirstStart", false, false, OpeningRow::none, true, true, false, false},
                      OpeningRow{"RememberedAutomatic", false, false, OpeningRow::complete, true, false, true, true},
                      OpeningRow{"RememberedManual", false, false, OpeningRow::complete, false, false, true, false},
                      OpeningRow{"WelcomeSignUpWithRecord", true, false, OpeningRow::complete, true, true, false, false},
                      OpeningRow{"WelcomeLogInWithoutRecord", false, true, OpeningRow::none, true, false, false, false},
                      OpeningRow{"NoPasswordData", false, false, OpeningRow::noPasswordData, true, false, true, false},
                      OpeningRow{"UserNameOnly", false, false, OpeningRow::userOnly, true, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A remembered account read from a slow keyring is one to sign in with: the
// window waits in its Log In form, unless the user has chosen a form since.
TEST_F(AuthWindowFixture, WhileAnAccountIsRestoredTheLogInFormShowsUnlessTheUserChoseOne) {
    open();
    ASSERT_TRUE(controller->isInSignUpState()) << "nothing read yet: the first start's form";
    controller->setRestoringAccount(true);
    queue.runUntilIdle();
    EXPECT_FALSE(controller->isInSignUpState());
    EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");

    view.actions->onSignUpFreeLinkButtonClick();
    controller->setRestoringAccount(true);
    queue.runUntilIdle();
    EXPECT_TRUE(controller->isInSignUpState()) << "the user's choice stands";
}

// Signed in (the fields disabled while the data loaded), then out: the
// window opens again with the typing going into the empty password field.
TEST_F(AuthWindowFixture, AfterASignOutThePasswordFieldIsEnabledAndHasTheFocus) {
    openFilled();
    click();
    queue.runUntilIdle();
    ASSERT_FALSE(view[AuthPart::passwordField].enabled);
    controller->close();
    view.focus.reset();
    auth.logOut();
    open();
    EXPECT_EQ(view[AuthPart::loginField].text, "user@example.com");
    EXPECT_EQ(view[AuthPart::passwordField].text, "");
    EXPECT_TRUE(view[AuthPart::passwordField].enabled);
    EXPECT_EQ(view.focus, AuthPart::passwordField);
    EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");
}

TEST_F(AuthWindowFixture, SecondShowingNeverSignsInByItselfAndRestoresTheFrame) {
    remember("user@example.com", "secret");
    open();
    queue.advance(50);
    queue.runUntilIdle();
    ASSERT_EQ(signIns, 1);

    controller->close();
    model->loginWindowFrame = WindowFrame{5, 6, 400, 500};
    open();
    queue.advance(1000);
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
    EXPECT_EQ(view.frame(), (WindowFrame{5, 6, 400, 500}));
    EXPECT_FALSE(controller->loginButtonDisabled()) << "a new showing starts idle";
}

TEST_F(AuthWindowFixture, EachFailedAttemptShowsItsNoticeAndReportsItsResult) {
    struct Row {
        const char* user;
        const char* password;
        std::function<Reply(const JSON&)> backend;  // none: the fake's wrong-password answer
        const char* title;
        std::string detail;
        const char* analytics;  // none: nothing sent
        int errorsCount;
        double titleTop;
    };
    const char* invalid = "Invalid Account Details";
    const Row rows[] = {
        {" ", "", nullptr, invalid, "Email and Password fields cannot be empty.", nullptr, 0, 5},
        {"  ", "secret", nullptr, invalid, "Email address field cannot be empty.", nullptr, 0, 5},
        {"user@example.com", "\t", nullptr, invalid, "Password field cannot be empty.", nullptr, 0, 5},
        {"user@example.com", "wrong", nullptr, "Incorrect Password or Email.",
         "Please make sure you're using your VPN account credentials.", "failed", 0, 5},
        {"user@example.com", "wrong",
         [](const JSON&) {
             return Reply::error(155, R"({"error":"Too many","nextValidRequestDate":"2026-01-01T00:01:00Z"})");
         },
         "Login error", "Too many requests in this time frame.", "error", 1, 5},
        {"user@example.com", "wrong",
         [](const JSON&) { return Reply::ok(JSON::dictionaryLiteral({{"status", "locked"}})); }, "Login error",
         LocaleData::generic_error_notification_lower(), "error", 1, 5},
        // No detail: the title stays in the middle of the bar.
        {"user@example.com", "wrong", [](const JSON&) { return Reply::error(1, "boom"); }, "Login error", " ", "error",
         1, 13},
    };
    const auto wrongPassword = backend.functions["authenticateUser"];
    for (const Row& row : rows) {
        SCOPED_TRACE(row.detail);
        events.clear();
        shell.calls.clear();
        backend.functions["authenticateUser"] = row.backend ? row.backend : wrongPassword;
        make();
        open();
        controller->onLogInLinkButtonClick();
        queue.runUntilIdle();
        const int before = signIns;
        type(row.user, row.password);
        click();
        queue.runUntilIdle();
        EXPECT_EQ(view[AuthPart::errorUpperText].text, row.title);
        EXPECT_EQ(errorDetail(), row.detail);
        EXPECT_EQ(view.bars.errorTitleTop, row.titleTop);
        EXPECT_TRUE(errorBarIn());
        if (!row.analytics) { EXPECT_EQ(signIns, before); }
        EXPECT_EQ(loginResults(), row.analytics ? std::vector<std::string>{row.analytics} : std::vector<std::string>{});
        EXPECT_EQ(controller->errorsCount(), row.errorsCount);
        EXPECT_FALSE(controller->loginButtonDisabled());
        EXPECT_TRUE(view[AuthPart::loginField].enabled);
        EXPECT_FALSE(view.spinning);
        EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");
        if (row.analytics) { EXPECT_EQ(shell.count("prepareWiFiUnsecured_EarlyDetection"), 2) << "opening, failure"; }
        EXPECT_EQ(shell.count("onLoginFailed"), row.analytics ? 1 : 0) << "a refused sign-in reaches the shell";
    }
}

TEST_F(AuthWindowFixture, SuccessKeepsTheWindowBusyUntilTheDataLoadFails) {
    openFilled();
    click();
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);
    EXPECT_TRUE(controller->loginButtonDisabled());
    EXPECT_TRUE(view.spinning);
    EXPECT_FALSE(view[AuthPart::passwordField].enabled);
    EXPECT_EQ(view[AuthPart::loginButton].text, "");
    click();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1) << "clicks are ignored while the data loads";

    controller->onDataLoadFailed();
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("onLoginFailed"), 1);
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_FALSE(view.spinning);
    EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");
    EXPECT_EQ(view[AuthPart::errorUpperText].text, "Login error");
    EXPECT_EQ(errorDetail(), LocaleData::generic_error_notification_lower());
    click();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 2) << "the user can try again";
}

// Not a minute, and not a notice a wrong password could have given.
TEST_F(AuthWindowFixture, AReplyThatNeverComesEndsAtTheSignInsBoundNamingTheNetwork) {
    openFilled();
    http.silent = true;
    click();
    queue.runUntilIdle();
    queue.advance(20000 - 1);
    EXPECT_TRUE(controller->loginButtonDisabled());
    queue.advance(1);
    queue.runUntilIdle();
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_EQ(view[AuthPart::errorUpperText].text, "Login error");
    EXPECT_EQ(errorDetail(), LocaleData::internet_connection_unavailable_error_part_2_for_login_view());
    EXPECT_EQ(loginResults(), std::vector<std::string>{"error"});
}

TEST_F(AuthWindowFixture, TwoQuickClicksOrEntersSendOneRequest) {
    openFilled();
    backend.hold = true;
    click();
    click();
    enter();
    queue.runUntilIdle();
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
}

TEST_F(AuthWindowFixture, BarsMoveBetweenTheirPositionsWithTheirDurations) {
    open();
    controller->showErrorNotificationBar("T", std::string(50, 'x') + " and more words to make it long enough here");
    EXPECT_EQ(view.bars.errorBarHeight, 63.0);
    EXPECT_EQ(view.bars.errorDetailFontSize, 10.0);
    controller->showErrorNotificationBar("T", "short");
    EXPECT_EQ(view.bars.errorDetailFontSize, 10.0) << "a short detail keeps the long one's size";

    controller->hideErrorNotificationBar();
    EXPECT_EQ(view.animationsMs.back(), 500);
    EXPECT_EQ(view.bars.errorBarTop, 73.0);
    EXPECT_EQ(view.bars.errorAlpha, 0.0);
    EXPECT_EQ(view.bars.errorBarHeight, 47.0) << "height stays until the next showing";
}

TEST_F(AuthWindowFixture, NoInternetNoticeReplacesTheErrorBarAndEndsTheProgressState) {
    openFilled();
    backend.hold = true;
    click();
    queue.runUntilIdle();
    ASSERT_TRUE(view.spinning);
    controller->showInternetConnectionIsUnavailableNotification();
    queue.runUntilIdle();
    EXPECT_EQ(view[AuthPart::yellowNotificationBarUpperText].text, "Havenway Can't Connect");
    EXPECT_EQ(view.bars.yellowBarTop, 146.0);
    EXPECT_EQ(view.bars.errorAlpha, 0.0);
    EXPECT_FALSE(view.spinning);

    click();  // a new attempt sends the yellow bar out
    EXPECT_EQ(view.bars.yellowBarTop, 73.0);
}

// A run that ended under the kill switch left its lock, and no tunnel to take
// over: no sign-in reaches the backend. The window says so from the start,
// after the failed automatic sign-in and after the failed reachability check
// (whichever comes last), and its control releases the lock, after
// which (not before: it would meet the lock) that sign-in goes out again.
TEST_F(AuthWindowFixture, ALockLeftByAnEarlierRunIsNamedAndReleasedFromTheWindow) {
    int released = 0;
    model->onNetworkLockReleased = [&] { ++released; };
    test::PortJournal journal;
    test::FakeConnectionManager manager(journal);
    ApplicationModelPorts ports = model->ports();
    ports.connectionManager = &manager;
    model->setPorts(ports);
    model->networkLockActivated = true;
    remember("user@example.com", "secret");
    http.silent = true;
    const auto notice = [&] {
        return view.shown(AuthPart::liftNetworkLockButton) && view.bars.yellowAlpha == 1.0 && !errorBarIn() &&
               view[AuthPart::yellowNotificationBarUpperText].text ==
                   LocaleData::held_network_lock_login_notification() &&
               view[AuthPart::liftNetworkLockButton].text == LocaleData::held_network_lock_login_release();
    };
    open();
    EXPECT_TRUE(notice()) << "on opening";
    queue.advance(50 + 20000);  // the automatic sign-in's delay, then its bound
    queue.runUntilIdle();
    ASSERT_EQ(loginResults(), std::vector<std::string>{"error"});
    EXPECT_TRUE(notice()) << "after the sign-in it blocked";
    controller->showInternetConnectionIsUnavailableNotification();
    queue.runUntilIdle();
    EXPECT_TRUE(notice()) << "after the reachability check it blocked";
    EXPECT_EQ(released, 0);

    http.silent = false;
    view.actions->onLiftNetworkLockClick();
    queue.runUntilIdle();
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(model->networkLockActivated);
    EXPECT_FALSE(view.shown(AuthPart::liftNetworkLockButton));
    EXPECT_EQ(view.bars.yellowAlpha, 0.0);
    EXPECT_EQ(signIns, 0) << "sent into the lock";
    ASSERT_TRUE(manager.pendingLift);
    manager.pendingLift();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);
}

}  // namespace
}  // namespace hw
