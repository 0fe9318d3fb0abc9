// What the login window asks of the shell.
#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}

void AppDelegate::onLoginSuccess() {
    model().setVpnSettingsChangingDisabled(false);
    std::weak_ptr<bool> alive = alive_;
    hub_.loadRequiredData(
        [this, alive] {
            if (alive.expired()) return;
            log::info(kLog, "all data has been loaded!");
            queue_.post([this, alive] {
                if (alive.expired()) return;
                hideAuthWindow();
                openMainWindow();
            });
        },
        [this, alive](const std::string& error) {
            if (alive.expired()) return;
            log::warning(kLog, "required data failed to load: " + error);
            windows_.auth->onDataLoadFailed();
        });
    windows_.main->orderOut();
    model().isLoggedInUser = true;
}

}  // namespace hw
