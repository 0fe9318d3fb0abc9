// What the login window asks of the shell.
#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}  // namespace

void AppDelegate::onLoginSuccess() {
    model().setVpnSettingsChangingDisabled(false);
    loadApplicationData();
    windows_.main->orderOut();
    model().isLoggedInUser = true;
}

void AppDelegate::onLoginFailed() {
    // Started off the screen, the automatic sign-in's error would wait in a
    // window the user has no reason to open.
    if (!model().startMinimized || terminating_) return;
    log::warning(kLog, "the automatic sign-in failed off the screen: the login window shows");
    guarded([this] { changeAppToBeNormalApp(); });
}

}  // namespace hw
