// The application shell's own states: its first window and its questions.
#include <QWidget>

#include "app/app_delegate.h"
#include "app/bare_shell_windows.h"
#include "app/kit_shell_alerts.h"
#include "app/shell_doubles.h"
#include "shots.h"
#include "support/fake_hub_factory.h"
#include "texts/locale_data.h"

namespace hw::shots {
namespace {

// The shell on a hub of fakes with its bare windows; never shown itself.
class ShellRig final : public QWidget {
public:
    ShellRig() {
        hub = std::make_unique<ServiceLayer>(factory);
        AppDelegateEnvironment e{*hub, factory->store, factory->queue, services, makeBareShellWindows(nullptr), alerts,
                                 notifications};
        delegate = std::make_unique<AppDelegate>(std::move(e));
        delegate->applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
    }
    ~ShellRig() override {
        delegate.reset();
        hub.reset();
    }
    void place(ShellWindowPort* window) {
        if (auto* bare = dynamic_cast<BareShellWindow*>(window)) bare->window().move(80, 80);
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub;
    test::Journal journal;
    test::FakeShellServices services{journal};
    KitShellAlerts alerts;
    test::FakeUserNotificationCenter notifications;
    std::unique_ptr<AppDelegate> delegate;
};

HW_SHOT("shell.first-window", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    rig.place(rig.delegate->currentWindowController());
});

HW_SHOT("shell.quit-sheet", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    rig.delegate->skipWelcomePage();
    rig.delegate->hideAuthWindow();
    rig.delegate->openMainWindow();
    rig.place(&rig.delegate->mainWindowController());
    stage.afterShown([&rig] { rig.delegate->quitApplicationRequested(); });
});

HW_SHOT("shell.quit-modal", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    // Every window closed: the question comes on its own.
    rig.delegate->welcomeWindowController()->close();
    rig.delegate->quitApplicationRequested();
});

HW_SHOT("shell.helper-alert", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    rig.delegate->skipWelcomePage();
    rig.place(&rig.delegate->authWindowController());
    stage.afterShown([&rig] {
        rig.delegate->presentHelperInstallAlert(LocaleData::helper_tool_install_error_popup_header(),
                                                LocaleData::helper_tool_install_error_user_canceled_permissions_popup_text(),
                                                [](int) {});
    });
});

}  // namespace
}  // namespace hw::shots
