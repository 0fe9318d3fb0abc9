// Account creation through the real windows against the testbed backend:
// the sign-up window, the login window's sign-up state, and an existing e-mail.
#include "sign_up_testbed_fixture.h"

namespace hw::test {
namespace {

TEST_F(SignUpTestbed, NewAccountInTheSignUpWindowThenContinueAndLogIn) {
    const std::string email = freshEmail("window");
    fillSignUpWindow(email, "secret12");
    QWidget* proceed = signUpWidget->part(SignUpPart::startFreeTrialButton);
    ASSERT_TRUE(spinUntil([&] { return !proceed->isHidden(); })) << "no completed screen";
    EXPECT_FALSE(alertBox());

    QTest::mouseClick(proceed, Qt::LeftButton);
    ASSERT_TRUE(spinUntil([this] { return shell.count("openAuthWindowToLogIn") == 1; }));
    EXPECT_EQ(settings.boolForKey(SettingsUserDefaults::signMeInWhenHavenwayStarts), true);

    controller->pendingLoginData = hub->authService()->recentLoginData();
    controller->showWindow();
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(widget->text(AuthPart::loginField), email);
    if (controller->isInSignUpState()) controller->onLogInLinkButtonClick();
    spinUntil([this] { return !controller->isInSignUpState(); });
    clickLoginButton();
    ASSERT_TRUE(spinUntil([this] { return shell.count("onLoginSuccess") == 1; })) << "the new account did not sign in";
}

TEST_F(SignUpTestbed, LoginWindowCreatesTheAccountAndGetStartedSignsIn) {
    openLoginInSignUpMode();
    typeInto(widget->part(AuthPart::loginField), freshEmail("login"));
    typeInto(widget->part(AuthPart::passwordField), "secret12");
    clickLoginButton();
    ASSERT_TRUE(spinUntil([this] { return controller->isInSignUpCompletedState(); })) << widget->text(AuthPart::errorUpperText);
    EXPECT_EQ(widget->text(AuthPart::loginButton), "GET STARTED");
    clickLoginButton();
    ASSERT_TRUE(spinUntil([this] { return shell.count("onLoginSuccess") == 1; }));
}

TEST_F(SignUpTestbed, AnExistingEmailIsRefusedInBothWindows) {
    const std::string existing = env->get("HAVENWAY_TESTBED_USER");
    openLoginInSignUpMode();
    typeInto(widget->part(AuthPart::loginField), existing);
    typeInto(widget->part(AuthPart::passwordField), "secret12");
    clickLoginButton();
    ASSERT_TRUE(spinUntil([this] { return !widget->text(AuthPart::errorUpperText).empty(); }));
    EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Account Already Exists.");

    fillSignUpWindow(existing, "secret12");
    ASSERT_TRUE(spinUntil([this] { return alertBox() != nullptr; }));
    EXPECT_EQ(alertBox()->text(), "Sign Up Error");
    EXPECT_EQ(alertBox()->informativeText(), "An account with this e-mail address already exists.");
    EXPECT_EQ(alertBox()->textFormat(), Qt::PlainText);
    alertBox()->close();
}

}  // namespace
}  // namespace hw::test
