// The login window against the testbed: the whole road from typing to the
// loaded data.
#include "windows/shared/testbed_window_fixture.h"

namespace hw::test {
namespace {

using AuthWindowTestbed = TestbedWindowFixture;

TEST_F(AuthWindowTestbed, WrongPasswordsAreReportedAndTheSixthForOneNameIsRefusedAsTooMany) {
    open();
    logInMode();
    const std::string name = "fresh-" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "@havenway.test";
    for (int attempt = 1; attempt <= 6; ++attempt) {
        SCOPED_TRACE(attempt);
        signInByHand(name, "wrong");
        ASSERT_TRUE(settled());
        if (attempt < 6) {
            EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Incorrect Password or Email.");
        }
    }
    EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Login error");
    EXPECT_EQ(widget->text(AuthPart::errorLowerText), "Too many requests in this time frame.");
    ASSERT_TRUE(spinUntil([this] { return analyticsList().find("failed") != std::string::npos; }, 10000))
        << "the testbed never heard of the failures";
    EXPECT_NE(analyticsList().find("ae_user_login"), std::string::npos);
}

TEST_F(AuthWindowTestbed, DemoAccountSignsInAndTheDataLoadsThenTheRememberedOneSignsInOnceByItself) {
    open();
    logInMode();
    signInByHand(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(spinUntil([this] { return shell.loaded > 0 || shell.failed; })) << "no sign-in or data";
    ASSERT_FALSE(shell.failed) << *shell.failed;
    EXPECT_TRUE(controller->loginButtonDisabled()) << "busy until the shell leaves for the main window";
    ASSERT_TRUE(hub->appModel().locationsListModel());

    // The next start: a new window, the credentials from the secret store.
    shell.calls.clear();
    shell.loaded = 0;
    makeWindow();
    std::optional<std::optional<LoginData>> restored;
    hub->authService()->restoreLoginDataFromKeychain([&restored](std::optional<LoginData> d) { restored = d; });
    ASSERT_TRUE(spinUntil([&restored] { return restored.has_value(); })) << "the keychain never answered";
    ASSERT_TRUE(*restored);
    hub->appModel().signMeInWhenHavenwayStarts = true;
    open();
    ASSERT_TRUE(spinUntil([this] { return shell.loaded > 0 || shell.failed; })) << "no automatic sign-in";
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);

    controller->close();
    controller->onDataLoadFailed();  // back to idle, as after a sign-out
    open();
    spinFor(500);
    EXPECT_EQ(shell.count("onLoginSuccess"), 1) << "once per start";
}

}  // namespace
}  // namespace hw::test
