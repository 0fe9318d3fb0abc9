#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "AppDelegate";
}

// The banners themselves come with the shell's notifications.
void AppDelegate::showInsecureWiFiNotification() { log::info(kLog, "showInsecureWiFiNotification"); }

void AppDelegate::showInsecureWiFiNotLoggedInNotification() {
    log::info(kLog, "showInsecureWiFiNotLoggedInNotification");
}

}  // namespace hw
