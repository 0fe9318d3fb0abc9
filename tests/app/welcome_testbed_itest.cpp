// The welcome window hands over to the real login window through the shell.
#include <QPushButton>

#include "app/auth_window_port_adapter.h"
#include "app/hub_shell_services.h"
#include "app/shell_doubles.h"
#include "app/welcome_window_port_adapter.h"
#include "platform/json_settings_store.h"
#include "windows/sign_up/sign_up_testbed_fixture.h"

namespace hw::test {
namespace {

TEST_F(SignUpTestbed, WelcomeSignUpOpensTheLoginWindowInSignUpModeAndIsNotShownAgain) {
    HubShellServices services(*hub, *parse, *queueHolder);
    // The shell's settings on disk: the choice must outlive the process.
    JsonSettingsStore onDiskSettings(dir.file("settings.json"));
    onDiskSettings.registerDefaults(SettingsUserDefaults::defaults());
    Journal journal;
    RecordingAlerts alerts(journal);
    FakeUserNotificationCenter notifications;
    AppDelegate* shellPtr = nullptr;
    ShellWindows windows;
    auto auth = std::make_unique<AuthWindowPortAdapter>(AuthWindowAssembly{
        *context, *hub->authService(), *hub->linksManager(), *queueHolder, nullptr, &defaults, {}, false,
        hub->freeTrialService().get()});
    AuthWindowPortAdapter* authWindow = auth.get();
    windows.auth = std::move(auth);
    windows.main = std::make_unique<RecordingMainWindow>("main", journal);
    windows.locations = std::make_unique<RecordingWindow>("locations", journal);
    windows.makeWelcome = [this, &shellPtr] { return std::make_unique<WelcomeWindowPortAdapter>(*context, *shellPtr); };
    AppDelegate shell(
        AppDelegateEnvironment{*hub, onDiskSettings, *queueHolder, services, std::move(windows), alerts, notifications});
    shellPtr = &shell;
    authWindow->attach(shell);

    shell.showWelcomeWindow();
    auto* welcome = static_cast<WelcomeWindowPortAdapter*>(shell.welcomeWindowController());
    ASSERT_TRUE(spinUntil([&] { return welcome->isVisible(); }));
    QTest::mouseClick(&welcome->widget().signUpButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return authWindow->isVisible() && authWindow->controller()->isInSignUpState(); }));
    EXPECT_FALSE(welcome->isVisible());
    EXPECT_FALSE(AuthWindowViewController::ACTIVATE_SIGN_UP_STATE) << "the login window took the mode";

    JsonSettingsStore onDisk(onDiskSettings.path());
    EXPECT_EQ(onDisk.boolForKey(SettingsUserDefaults::showWelcomePage), false);
}

}  // namespace
}  // namespace hw::test
