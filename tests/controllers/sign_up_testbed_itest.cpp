// Account creation through the real windows against the testbed backend:
// the sign-up window, the login window's sign-up state, and an existing e-mail.
#include "sign_up_testbed_fixture.h"

namespace hw::test {
namespace {

TEST_F(SignUpTestbed, NewAccountInTheSignUpWindowThenContinueAndLogIn) {
    const std::string email = freshEmail("window");
    fillSignUpWindow(email, "secret12");
    QWidget* proceed = signUpWidget.part(SignUpPart::startFreeTrialButton);
    ASSERT_TRUE(waitFor([&] { return !proceed->isHidden(); })) << "no completed screen";
    EXPECT_FALSE(alertBox());

    QTest::mouseClick(proceed, Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return shell.count("openAuthWindow") == 1; }));
    EXPECT_EQ(settings.boolForKey(SettingsUserDefaults::signMeInWhenHavenwayStarts), true);

    login->pendingLoginData = hub->authService()->recentLoginData();
    login->showWindow();
    waitFor([] { return false; }, 50);
    EXPECT_EQ(loginWidget.text(AuthPart::loginField), email);
    if (login->isInSignUpState()) login->onLogInLinkButtonClick();
    waitFor([this] { return !login->isInSignUpState(); });
    clickLoginButton();
    ASSERT_TRUE(waitFor([this] { return shell.count("onLoginSuccess") == 1; })) << "the new account did not sign in";
}

TEST_F(SignUpTestbed, LoginWindowCreatesTheAccountAndGetStartedSignsIn) {
    openLoginInSignUpMode();
    typeInto(loginWidget.part(AuthPart::loginField), freshEmail("login"));
    typeInto(loginWidget.part(AuthPart::passwordField), "secret12");
    clickLoginButton();
    ASSERT_TRUE(waitFor([this] { return login->isInSignUpCompletedState(); })) << loginWidget.text(AuthPart::errorUpperText);
    EXPECT_EQ(loginWidget.text(AuthPart::loginButton), "GET STARTED");
    clickLoginButton();
    ASSERT_TRUE(waitFor([this] { return shell.count("onLoginSuccess") == 1; }));
}

TEST_F(SignUpTestbed, AnExistingEmailIsRefusedInBothWindows) {
    const std::string existing = env->get("HAVENWAY_TESTBED_USER");
    openLoginInSignUpMode();
    typeInto(loginWidget.part(AuthPart::loginField), existing);
    typeInto(loginWidget.part(AuthPart::passwordField), "secret12");
    clickLoginButton();
    ASSERT_TRUE(waitFor([this] { return !loginWidget.text(AuthPart::errorUpperText).empty(); }));
    EXPECT_EQ(loginWidget.text(AuthPart::errorUpperText), "Account Already Exists.");

    fillSignUpWindow(existing, "secret12");
    ASSERT_TRUE(waitFor([this] { return alertBox() != nullptr; }));
    EXPECT_EQ(alertBox()->text(), "Sign Up Error");
    EXPECT_EQ(alertBox()->informativeText(), "An account with this e-mail address already exists.");
    EXPECT_EQ(alertBox()->textFormat(), Qt::PlainText);
    alertBox()->close();
}

}  // namespace
}  // namespace hw::test
