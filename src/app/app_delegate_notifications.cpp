// Banners and what a click on one does.
#include "app/app_delegate.h"
#include "connection/connection_intents.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}

bool AppDelegate::connectButtonOffersConnect() {
    auto* intents = services_.connectionIntents();
    return intents && intents->primaryIntent() == ConnectionIntent::connect;
}

void AppDelegate::userNotificationCenterDidActivate(const UserNotificationCenter::Notification& n,
                                                     UserNotificationCenter::Activation activation) {
    log::info(kLog, "NSUserNotification clicked by the user");
    const bool button = activation == UserNotificationCenter::Activation::actionButtonClicked;
    // A banner lingers in the desktop's list: its connect must not cancel or
    // end a connection made since, which the connect command would do.
    auto connectIfIdle = [this](bool forUnsecuredWiFi) {
        if (!connectButtonOffersConnect()) {
            log::info(kLog, "banner's connect ignored: a connection is already under way");
            return;
        }
        if (forUnsecuredWiFi) model().pendingVPN_Activated_on_UnsecuredWiFi = true;
        performConnectCommand();
    };
    if (n.informativeText == LocaleData::connected_to_insecure_wi_fi_notification_description()) {
        if (button) connectIfIdle(true);
        else userNotificationHelper_->removeDeliveredNotification(n.identifier);
    } else if (n.informativeText == LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_description()) {
        if (!button) userNotificationHelper_->removeDeliveredNotification(n.identifier);
    } else if (n.title == LocaleData::connection_error_minimized_notification_title()) {
        if (button) connectIfIdle(false);
        else userNotificationHelper_->removeDeliveredNotification(n.identifier);
    } else if (n.title == LocaleData::auto_reconnect_started_with_network_lock_notification_title() ||
               n.title == LocaleData::auto_reconnect_started_without_network_lock_notification_title()) {
        userNotificationHelper_->forgetAutoReconnectNotification();
    }
    changeAppToBeNormalApp();
}

void AppDelegate::showConnectedNotification(const std::string& locationName) {
    userNotificationHelper_->showConnectedNotification(locationName);
}
void AppDelegate::showDisconnectedNotification(const std::string& locationName) {
    userNotificationHelper_->showDisconnectedNotification(locationName);
}
void AppDelegate::showAutoReconnectWithNetworkLockNotification() {
    userNotificationHelper_->showAutoReconnectWithNetworkLockNotification();
}
void AppDelegate::showAutoReconnectWithoutNetworkLockNotification() {
    userNotificationHelper_->showAutoReconnectWithoutNetworkLockNotification();
}
void AppDelegate::showConnectionErrorNotification() { userNotificationHelper_->showConnectionErrorNotification(); }
// The main window asks for this banner each time the network is found
// insecure; only the signed-out banner is rate-limited.
void AppDelegate::showInsecureWiFiNotification() { userNotificationHelper_->showInsecureWiFiNotification(); }
void AppDelegate::showInsecureWiFiNotLoggedInNotification() {
    userNotificationHelper_->showInsecureWiFiNotLoggedInNotification();
}

}  // namespace hw
