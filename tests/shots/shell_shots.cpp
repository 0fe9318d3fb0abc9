// The application shell's own states: its first window and its questions.
#include "shell_rig.h"
#include "shots.h"
#include "texts/locale_data.h"

namespace hw::shots {
namespace {

HW_SHOT("shell.first-window", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    rig.window(rig.delegate->currentWindowController()).move(80, 80);
});

HW_SHOT("shell.quit-sheet", [](ShotStage& stage) {
    auto& rig = stage.window<ShellRig>();
    rig.delegate->skipWelcomePage();
    rig.delegate->hideAuthWindow();
    rig.delegate->openMainWindow();
    rig.window(&rig.delegate->mainWindowController()).move(80, 80);
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
    rig.window(&rig.delegate->authWindowController()).move(80, 80);
    stage.afterShown([&rig] {
        rig.delegate->presentHelperInstallAlert(LocaleData::helper_tool_install_error_popup_header(),
                                                LocaleData::helper_tool_install_error_user_canceled_permissions_popup_text(),
                                                [](int) {});
    });
});

}  // namespace
}  // namespace hw::shots
