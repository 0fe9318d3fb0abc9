#include "app/user_notification_helper.h"

#include "core/application_model.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {
namespace {
constexpr char kLog[] = "UserNotifications";
}

UserNotificationHelper::UserNotificationHelper(UserNotificationCenter& center, MainQueue& queue, const Clock& clock,
                                               ApplicationModel& model)
    : center_(center), queue_(queue), clock_(clock), model_(model) {}

void UserNotificationHelper::removeLater(std::uint64_t identifier, double ms) {
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(ms, [this, alive, identifier] {
        if (!alive.expired()) center_.removeDeliveredNotification(identifier);
    });
}

UserNotificationHelper::Notification UserNotificationHelper::showNotification(
    const std::string& title, const std::string& text, bool removeAfterDelay,
    const std::function<void(Notification&)>& configure) {
    Notification n;
    n.title = title;
    n.informativeText = text;
    n.otherButtonTitle = LocaleData::notification_default_ok_button();
    n.identifier = nextIdentifier_++;
    if (configure) configure(n);
    center_.removeAllDeliveredNotifications();
    center_.deliver(n);
    if (removeAfterDelay) removeLater(n.identifier, kRemoveAfterMs);
    return n;
}

std::function<void(UserNotificationHelper::Notification&)> UserNotificationHelper::withButton(const std::string& title,
                                                                                             bool remove) {
    return [this, title, remove](Notification& n) {
        n.actionButtonTitle = title;
        if (remove) removeLater(n.identifier, kInsecureWiFiRemoveAfterMs);
    };
}

void UserNotificationHelper::showConnectedNotification(const std::string& locationName) {
    const std::string& product = model_.appProductName;
    if (model_.wi_fi_SecurityEnabled &&
        (model_.unsecured_Wi_Fi_VPN_activated || model_.pendingVPN_Activated_on_UnsecuredWiFi)) {
        showNotification("Your Wi-Fi connection is secured!", product + " is automatically keeping you safe online.",
                         true);
        model_.pendingVPN_Activated_on_UnsecuredWiFi = false;
    } else {
        showNotification("Connected to " + locationName, "Your " + product + " connection was successfully established",
                         true);
    }
    lastAutoReconnectNotification_.reset();
}

void UserNotificationHelper::showDisconnectedNotification(const std::string& locationName) {
    if (lastAutoReconnectNotification_) {
        lastAutoReconnectNotification_.reset();
        return;
    }
    lastDisconnectedNotification_ =
        showNotification("Disconnected from " + locationName, "You are now disconnected from " + model_.appProductName,
                         true)
            .identifier;
}

void UserNotificationHelper::showAutoReconnect(const std::string& title, const std::string& text) {
    if (lastDisconnectedNotification_) center_.removeDeliveredNotification(*lastDisconnectedNotification_);
    lastAutoReconnectNotification_ = showNotification(title, text, false).identifier;
}

void UserNotificationHelper::showAutoReconnectWithNetworkLockNotification() {
    // openvpn may restart its tunnel many times under one kill switch: one banner says so.
    if (lastNetworkLockNotification_) center_.removeDeliveredNotification(*lastNetworkLockNotification_);
    showAutoReconnect(LocaleData::auto_reconnect_started_with_network_lock_notification_title(),
                      LocaleData::auto_reconnect_started_with_network_lock_notification_description());
    lastNetworkLockNotification_ = lastAutoReconnectNotification_;
}

void UserNotificationHelper::showAutoReconnectWithoutNetworkLockNotification() {
    showAutoReconnect(LocaleData::auto_reconnect_started_without_network_lock_notification_title(),
                      LocaleData::auto_reconnect_started_without_network_lock_notification_description());
}

void UserNotificationHelper::showFirstConnectRetryNotification(bool withNetworkLock) {
    if (!withNetworkLock) {
        showAutoReconnect(LocaleData::auto_reconnect_started_without_network_lock_notification_title(),
                          LocaleData::first_connect_retry_without_network_lock_notification_description());
        return;
    }
    if (lastNetworkLockNotification_) center_.removeDeliveredNotification(*lastNetworkLockNotification_);
    showAutoReconnect(LocaleData::auto_reconnect_started_with_network_lock_notification_title(),
                      LocaleData::first_connect_retry_with_network_lock_notification_description());
    lastNetworkLockNotification_ = lastAutoReconnectNotification_;
}

void UserNotificationHelper::withdrawAutoReconnectNotification() {
    if (!lastAutoReconnectNotification_) return;
    center_.removeDeliveredNotification(*lastAutoReconnectNotification_);
    if (lastNetworkLockNotification_ == lastAutoReconnectNotification_) lastNetworkLockNotification_.reset();
    lastAutoReconnectNotification_.reset();
}

void UserNotificationHelper::showConnectionErrorNotification() {
    // The error ends the attempt.
    withdrawAutoReconnectNotification();
    showNotification(LocaleData::connection_error_minimized_notification_title(),
                     LocaleData::connection_error_minimized_notification_description(), false,
                     withButton(LocaleData::notification_button_retry(), false));
}

void UserNotificationHelper::showInsecureWiFiNotification() {
    showNotification(LocaleData::connected_to_insecure_wi_fi_notification_title(),
                     LocaleData::connected_to_insecure_wi_fi_notification_description(), false,
                     withButton(LocaleData::notification_button_connect(), true));
}

bool UserNotificationHelper::throttlePasses(std::optional<std::int64_t>& last) {
    const std::int64_t now = clock_.steadyMillis();
    if (last && now - *last < kInsecureWiFiThrottleMs) {
        log::info(kLog, std::to_string(static_cast<double>(now - *last) / 1000.0));
        return false;
    }
    last = now;
    return true;
}

void UserNotificationHelper::showInsecureWiFiNotificationThrottled() {
    if (throttlePasses(lastInsecureWiFiNotificationTime_)) showInsecureWiFiNotification();
}

void UserNotificationHelper::showInsecureWiFiNotLoggedInNotification() {
    if (!throttlePasses(lastInsecureWiFiNotLoggedInNotificationTime_)) return;
    showNotification(LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_title(),
                     LocaleData::connected_to_insecure_wi_fi_notification_not_logged_in_user_description(), false,
                     withButton(LocaleData::notification_protect_me_button(), true));
}

}  // namespace hw
