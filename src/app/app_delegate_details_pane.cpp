#include "app/app_delegate.h"
#include "app/user_notification_helper.h"

namespace hw {

// The pane names its banners in its own terms; the tray's notifications show them.
void AppDelegate::showVPNConnectedNotification(const std::string& locationName) {
    showConnectedNotification(locationName);
}

void AppDelegate::showVPNDisconnectedNotification(const std::string& locationName) {
    showDisconnectedNotification(locationName);
}

void AppDelegate::showAutoReconnectNotification(bool withNetworkLock, bool hadConnected) {
    if (!hadConnected) userNotificationHelper_->showFirstConnectRetryNotification(withNetworkLock);
    else if (withNetworkLock) showAutoReconnectWithNetworkLockNotification();
    else showAutoReconnectWithoutNetworkLockNotification();
}

void AppDelegate::withdrawAutoReconnectNotification() { userNotificationHelper_->withdrawAutoReconnectNotification(); }

}  // namespace hw
