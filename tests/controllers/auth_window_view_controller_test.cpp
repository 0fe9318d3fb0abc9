#include "controllers/auth_window_view_controller.h"

#include "auth_window_fixture.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

using test::AuthWindowFixture;

// ---- opening ----

struct OpeningRow {
    const char* name;
    bool signUpFlag;
    bool logInFlag;
    enum Record { none, userOnly, noPasswordData, complete } record;
    bool signMeIn;
    bool expectSignUpMode;
    bool expectFieldsFilled;
    bool expectAutoSignIn;
};
void PrintTo(const OpeningRow& row, std::ostream* os) { *os << row.name; }


class AuthWindowOpening : public AuthWindowFixture, public ::testing::WithParamInterface<OpeningRow> {};

TEST_P(AuthWindowOpening, ChoosesModeFieldsAndAutomaticSignIn) {
    const OpeningRow& row = GetParam();
    AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = row.signUpFlag;
    AuthWindowViewController::ACTIVATE_LOG_IN_STATE = row.logInFlag;
    model->signMeInWhenHavenwayStarts = row.signMeIn;
    switch (row.record) {
    case OpeningRow::none: break;
    case OpeningRow::userOnly: remember("user@example.com", "", false); break;
    case OpeningRow::noPasswordData: remember("user@example.com", "secret", false); break;
    case OpeningRow::complete: remember("user@example.com", "secret"); break;
    }
    make();
    controller->pendingLoginData = auth.recentLoginData();
    controller->showWindow();
    queue.runUntilIdle();

    EXPECT_EQ(controller->isInSignUpState(), row.expectSignUpMode);
    EXPECT_EQ(view[AuthPart::loginButton].text, row.expectSignUpMode ? "SIGN UP" : "LOG IN");
    EXPECT_EQ(view[AuthPart::loginField].placeholder, row.expectSignUpMode ? "Email Address" : "Username");
    EXPECT_EQ(view[AuthPart::loginField].text, row.expectFieldsFilled ? "user@example.com" : "");
    if (row.expectFieldsFilled) {
        EXPECT_EQ(view.focus, AuthPart::passwordField);
    }
    EXPECT_FALSE(AuthWindowViewController::ACTIVATE_SIGN_UP_STATE);
    EXPECT_FALSE(AuthWindowViewController::ACTIVATE_LOG_IN_STATE);
    EXPECT_EQ(shell.count("prepareWiFiUnsecured_EarlyDetection"), row.expectAutoSignIn ? 0 : 1);

    queue.advance(49);
    EXPECT_EQ(signIns, 0) << "nothing before 50 ms";
    queue.advance(1);
    queue.runUntilIdle();
    EXPECT_EQ(signIns, row.expectAutoSignIn ? 1 : 0);
    EXPECT_EQ(shell.count("onLoginSuccess"), row.expectAutoSignIn ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AuthWindowOpening,
    ::testing::Values(
        OpeningRow{"FirstStart", false, false, OpeningRow::none, true, true, false, false},
        OpeningRow{"RememberedAutomatic", false, false, OpeningRow::complete, true, false, true, true},
        OpeningRow{"RememberedManual", false, false, OpeningRow::complete, false, false, true, false},
        OpeningRow{"WelcomeSignUpWithRecord", true, false, OpeningRow::complete, true, true, false, false},
        OpeningRow{"WelcomeLogInWithoutRecord", false, true, OpeningRow::none, true, false, false, false},
        OpeningRow{"NoPasswordData", false, false, OpeningRow::noPasswordData, true, false, true, false},
        OpeningRow{"UserNameOnly", false, false, OpeningRow::userOnly, true, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_EQ(shell.count("prepareWiFiUnsecured_EarlyDetection"), 1);
}

// ---- the road ----

TEST_F(AuthWindowFixture, TrimsBothFieldsBeforeTheRequest) {
    open();
    controller->onLogInLinkButtonClick();
    queue.runUntilIdle();
    type("  user@example.com\t", " secret ");
    click();
    queue.runUntilIdle();
    EXPECT_EQ(view[AuthPart::loginField].text, "user@example.com");
    EXPECT_EQ(view[AuthPart::passwordField].text, "secret");
    EXPECT_EQ(signIns, 1);
    EXPECT_EQ(loginResults(), std::vector<std::string>{"success"});
    EXPECT_FALSE(log->contains("secret")) << "no password in the log";
}

struct EmptyFieldsRow {
    const char* name;
    const char* user;
    const char* password;
    const char* detail;
};
void PrintTo(const EmptyFieldsRow& row, std::ostream* os) { *os << row.name; }


class AuthWindowEmptyFields : public AuthWindowFixture, public ::testing::WithParamInterface<EmptyFieldsRow> {};

TEST_P(AuthWindowEmptyFields, ShowOneNoticeAndSendNothing) {
    open();
    controller->onLogInLinkButtonClick();
    queue.runUntilIdle();
    type(GetParam().user, GetParam().password);
    click();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 0);
    EXPECT_EQ(view[AuthPart::errorUpperText].text, "Invalid Account Details");
    EXPECT_EQ(errorDetail(), GetParam().detail);
    EXPECT_TRUE(errorBarIn());
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_TRUE(loginResults().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, AuthWindowEmptyFields,
                         ::testing::Values(EmptyFieldsRow{"Both", " ", "", "Email and Password fields cannot be empty."},
                                           EmptyFieldsRow{"User", "  ", "secret", "Email address field cannot be empty."},
                                           EmptyFieldsRow{"Password", "user@example.com", "\t", "Password field cannot be empty."}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReplyRow {
    const char* name;
    std::function<test::FakeBackend::Reply(const JSON&)> backend;
    const char* title;
    std::string detail;
    const char* analytics;
    int errorsCount;
};
void PrintTo(const ReplyRow& row, std::ostream* os) { *os << row.name; }


class AuthWindowReplies : public AuthWindowFixture, public ::testing::WithParamInterface<ReplyRow> {};

TEST_P(AuthWindowReplies, EachReplyShowsItsNoticeAndReportsItsResult) {
    const ReplyRow& row = GetParam();
    if (row.backend) backend.functions["authenticateUser"] = row.backend;
    open();
    controller->onLogInLinkButtonClick();
    queue.runUntilIdle();
    type("user@example.com", "wrong");
    click();
    queue.runUntilIdle();
    EXPECT_EQ(view[AuthPart::errorUpperText].text, row.title);
    EXPECT_EQ(errorDetail(), row.detail);
    EXPECT_EQ(loginResults(), std::vector<std::string>{row.analytics});
    EXPECT_EQ(controller->errorsCount(), row.errorsCount);
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_TRUE(view[AuthPart::loginField].enabled);
    EXPECT_FALSE(view.spinning);
    EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");
    EXPECT_EQ(shell.count("prepareWiFiUnsecured_EarlyDetection"), 2) << "at opening and after the failure";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AuthWindowReplies,
    ::testing::Values(
        ReplyRow{"WrongPassword", nullptr, "Incorrect Password or Email.",
                 "Please make sure you're using your VPN account credentials.", "failed", 0},
        ReplyRow{"TooManyRequests",
                 [](const JSON&) {
                     return test::FakeBackend::Reply::error(
                         155, R"({"error":"Too many","nextValidRequestDate":"2026-01-01T00:01:00Z"})");
                 },
                 "Login error", "Too many requests in this time frame.", "error", 1},
        ReplyRow{"UnknownStatus",
                 [](const JSON&) {
                     return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "locked"}}));
                 },
                 "Login error", LocaleData::generic_error_notification_lower(), "error", 1},
        ReplyRow{"OtherBackendError", [](const JSON&) { return test::FakeBackend::Reply::error(1, "boom"); },
                 "Login error", " ", "error", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AuthWindowFixture, UnexplainedErrorKeepsTheTitleInTheMiddleOfTheBar) {
    backend.functions["authenticateUser"] = [](const JSON&) { return test::FakeBackend::Reply::error(1, "boom"); };
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    click();
    queue.runUntilIdle();
    EXPECT_EQ(view.bars.errorTitleTop, 13.0);
    type("", "secret");
    click();
    queue.runUntilIdle();
    EXPECT_EQ(view.bars.errorTitleTop, 5.0);
}

TEST_F(AuthWindowFixture, SuccessKeepsTheWindowBusyUntilTheDataLoadFails) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    click();
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);
    EXPECT_EQ(loginResults(), std::vector<std::string>{"success"});
    EXPECT_TRUE(controller->loginButtonDisabled());
    EXPECT_TRUE(view.spinning);
    EXPECT_FALSE(view[AuthPart::passwordField].enabled);
    EXPECT_EQ(view[AuthPart::loginButton].text, "");
    click();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1) << "clicks are ignored while the data loads";

    controller->onDataLoadFailed();
    queue.runUntilIdle();
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_FALSE(view.spinning);
    EXPECT_EQ(view[AuthPart::loginButton].text, "LOG IN");
    EXPECT_EQ(view[AuthPart::errorUpperText].text, "Login error");
    EXPECT_EQ(errorDetail(), LocaleData::generic_error_notification_lower());
    click();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 2) << "the user can try again";
}

TEST_F(AuthWindowFixture, AReplyThatNeverComesEndsAtTheClientTimeOutInTheGenericNotice) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    http.silent = true;
    click();
    queue.runUntilIdle();
    queue.advance(test::FakeBackend::clientConfig().requestTimeoutMs - 1);
    EXPECT_TRUE(controller->loginButtonDisabled());
    queue.advance(1);
    queue.runUntilIdle();
    EXPECT_FALSE(controller->loginButtonDisabled());
    EXPECT_EQ(view[AuthPart::errorUpperText].text, "Login error");
    EXPECT_EQ(loginResults(), std::vector<std::string>{"error"});
}

TEST_F(AuthWindowFixture, TwoQuickClicksOrEntersSendOneRequest) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    backend.hold = true;
    click();
    click();
    enter();
    queue.runUntilIdle();
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
    EXPECT_TRUE(log->contains("loginButtonDisabled"));
}

TEST_F(AuthWindowFixture, EnterInTheSignUpStatePassesTheSameBusyCheck) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    backend.hold = true;
    click();
    controller->onSignUpFreeLinkButtonClick();
    queue.runUntilIdle();
    ASSERT_TRUE(controller->isInSignUpState());
    enter();
    EXPECT_FALSE(log->contains("sign-up requested")) << "no sign-up while a request runs";
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
}

TEST_F(AuthWindowFixture, EnterInTheUserFieldMovesOnAndSendsNothing) {
    open();
    controller->onLogInLinkButtonClick();
    queue.runUntilIdle();
    type("user@example.com", "secret");
    enter(AuthPart::loginField);
    queue.runUntilIdle();
    EXPECT_EQ(view.focus, AuthPart::passwordField);
    EXPECT_EQ(signIns, 0);
    enter();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
}

// ---- bars ----

TEST_F(AuthWindowFixture, BarsMoveBetweenTheirPositionsWithTheirDurations) {
    open();
    view.animations.clear();
    controller->showErrorNotificationBar("T", "one line");
    EXPECT_EQ(view.animations.back().second, 300);
    EXPECT_EQ(view.bars.errorBarHeight, 47.0);
    EXPECT_EQ(view.bars.fieldsCenterY, -68.0);
    EXPECT_EQ(view.bars.buttonPaddingBottom, 35.0);

    controller->showErrorNotificationBar("T", std::string(50, 'x') + " and more words to make it long enough here");
    EXPECT_EQ(view.bars.errorBarHeight, 63.0);
    EXPECT_EQ(view.bars.fieldsCenterY, -85.0);
    EXPECT_EQ(view.bars.buttonPaddingBottom, 18.0);
    EXPECT_EQ(view.bars.errorDetailFontSize, 10.0);
    EXPECT_EQ(view.bars.errorTitleSpacing, 3.0);

    controller->showErrorNotificationBar("T", "short");
    EXPECT_EQ(view.bars.errorDetailFontSize, 10.0) << "a short detail keeps the long one's size";

    controller->hideErrorNotificationBar();
    EXPECT_EQ(view.animations.back().second, 500);
    EXPECT_EQ(view.bars.errorBarTop, 73.0);
    EXPECT_EQ(view.bars.buttonPaddingBottom, 40.0);
    EXPECT_EQ(view.bars.errorAlpha, 0.0);
    EXPECT_EQ(view.bars.errorBarHeight, 47.0) << "height stays until the next showing";
}

TEST_F(AuthWindowFixture, NoInternetNoticeReplacesTheErrorBarAndEndsTheProgressState) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    open();
    backend.hold = true;
    click();
    queue.runUntilIdle();
    ASSERT_TRUE(view.spinning);
    controller->showInternetConnectionIsUnavailableNotification();
    queue.runUntilIdle();
    EXPECT_EQ(view[AuthPart::yellowNotificationBarUpperText].text, "Havenway Can't Connect");
    EXPECT_EQ(view.bars.yellowBarTop, 146.0);
    EXPECT_EQ(view.bars.yellowAlpha, 1.0);
    EXPECT_EQ(view.bars.errorAlpha, 0.0);
    EXPECT_FALSE(view.spinning);

    click();  // a new attempt sends the yellow bar out
    EXPECT_EQ(view.bars.yellowBarTop, 73.0);
    EXPECT_EQ(view.bars.fieldsCenterY, -25.0);
}

}  // namespace
}  // namespace hw
