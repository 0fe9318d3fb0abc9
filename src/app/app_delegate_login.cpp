// What the login window asks of the shell.
#include "app/app_delegate.h"

namespace hw {

void AppDelegate::onLoginSuccess() {
    model().setVpnSettingsChangingDisabled(false);
    loadApplicationData();
    windows_.main->orderOut();
    model().isLoggedInUser = true;
}

}  // namespace hw
