#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/main_queue.h"
#include "platform/user_notification_center.h"

namespace hw {

class ApplicationModel;

// Builds the application's banners and keeps what they depend on (the last
// disconnect and auto-reconnect banners, the insecure Wi-Fi throttles). One
// per process, main thread only.
class UserNotificationHelper {
public:
    using Notification = UserNotificationCenter::Notification;
    static constexpr double kRemoveAfterMs = 4000;
    static constexpr double kInsecureWiFiRemoveAfterMs = 10000;
    static constexpr std::int64_t kInsecureWiFiThrottleMs = 10000;

    UserNotificationHelper(UserNotificationCenter& center, MainQueue& queue, const Clock& clock,
                           ApplicationModel& model);
    UserNotificationHelper(const UserNotificationHelper&) = delete;
    UserNotificationHelper& operator=(const UserNotificationHelper&) = delete;

    // Replaces whatever banner of ours is listed. Returns the new banner.
    Notification showNotification(const std::string& title, const std::string& text, bool removeAfterDelay,
                                  const std::function<void(Notification&)>& configure = nullptr);

    void showConnectedNotification(const std::string& locationName);
    void showDisconnectedNotification(const std::string& locationName);
    void showAutoReconnectWithNetworkLockNotification();
    void showAutoReconnectWithoutNetworkLockNotification();
    // A first connect that never connected tries again: nothing "has disconnected".
    void showFirstConnectRetryNotification(bool withNetworkLock);
    void showConnectionErrorNotification();
    // The attempt ended: a "Reconnecting" banner left out would say otherwise.
    void withdrawAutoReconnectNotification();
    void showInsecureWiFiNotification();
    void showInsecureWiFiNotificationThrottled();
    void showInsecureWiFiNotLoggedInNotification();

    void removeDeliveredNotification(std::uint64_t identifier) { center_.removeDeliveredNotification(identifier); }
    bool hasAutoReconnectNotification() const { return lastAutoReconnectNotification_.has_value(); }
    void forgetAutoReconnectNotification() { lastAutoReconnectNotification_.reset(); }

private:
    void showAutoReconnect(const std::string& title, const std::string& text);
    // An action button; the banner leaves after the insecure Wi-Fi delay.
    std::function<void(Notification&)> withButton(const std::string& title, bool removeLater);
    // False while the banner was shown less than the throttle ago.
    bool throttlePasses(std::optional<std::int64_t>& last);
    void removeLater(std::uint64_t identifier, double ms);

    UserNotificationCenter& center_;
    MainQueue& queue_;
    const Clock& clock_;
    ApplicationModel& model_;
    std::uint64_t nextIdentifier_ = 1;
    std::optional<std::uint64_t> lastDisconnectedNotification_;
    std::optional<std::uint64_t> lastAutoReconnectNotification_;
    std::optional<std::uint64_t> lastNetworkLockNotification_;
    // Steady milliseconds: a change of the wall clock neither silences the
    // banner nor lets it repeat.
    std::optional<std::int64_t> lastInsecureWiFiNotificationTime_;
    std::optional<std::int64_t> lastInsecureWiFiNotLoggedInNotificationTime_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
