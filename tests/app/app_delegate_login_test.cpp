// What the shell does for the login window after a successful sign-in.
#include "app_delegate_fixture.h"

namespace hw::test {
namespace {

TEST_F(AppDelegateTest, SignInSuccessMarksTheUserSignedInAndKeepsTheLoginWindowWhenTheDataFail) {
    launch();
    model().setVpnSettingsChangingDisabled(true);
    factory->parseConfig->configError = "no configuration";
    journal.clear();

    delegate->onLoginSuccess();
    EXPECT_TRUE(model().isLoggedInUser);
    EXPECT_FALSE(model().vpnSettingsChangingDisabled());
    EXPECT_TRUE(journaled("main.orderOut"));
    factory->queue.runUntilIdle();

    // The login window stays, to say so; the main window does not open.
    EXPECT_EQ(count("main.showWindow"), 0u);
    EXPECT_TRUE(std::none_of(journal.begin(), journal.end(),
                             [](const std::string& e) { return e.rfind("auth.closeWholeWindow", 0) == 0; }));
    EXPECT_TRUE(log->contains("required data failed to load"));
}

}  // namespace
}  // namespace hw::test
