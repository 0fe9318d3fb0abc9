#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "AppDelegate";
}

// The banners themselves come with the shell's notifications.
void AppDelegate::showVPNConnectedNotification(const std::string&) { log::info(kLog, "showVPNConnectedNotification"); }

void AppDelegate::showVPNDisconnectedNotification(const std::string&) {
    log::info(kLog, "showVPNDisconnectedNotification");
}

void AppDelegate::showAutoReconnectNotification(bool withNetworkLock) {
    log::info(kLog, withNetworkLock ? "showAutoReconnectNotification with the kill switch"
                                    : "showAutoReconnectNotification");
}

// The update window comes with the updater; until then the sheet ends at once.
void AppDelegate::startAutoUpdater(WindowView&) {
    log::info(kLog, "startAutoUpdater");
    if (windows_.main) windows_.main->autoUpdateSheetDidEnd();
}

}  // namespace hw
