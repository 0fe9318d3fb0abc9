// What the settings window asks of the shell beyond opening and closing.
#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {

void AppDelegate::startAutoUpdater(WindowView& parent) {
    // No update window yet: the sheet ends as soon as it is asked for, so the
    // caller's cover does not stay up.
    log::info("AppDelegate", "startAutoUpdater: no update window; the sheet ends at once");
    if (settingsWindowController_ && settingsWindowController_->isParentOf(parent))
        settingsWindowController_->autoUpdaterSheetEnded();
}

}  // namespace hw
