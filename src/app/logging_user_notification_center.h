#pragma once
#include "platform/log.h"
#include "platform/user_notification_center.h"

namespace hw {

// Banners before the desktop's notification service is wired: logged only.
class LoggingUserNotificationCenter final : public UserNotificationCenter {
public:
    void deliver(const Notification& n) override { log::info("UserNotifications", "banner: " + n.title); }
    void removeAllDeliveredNotifications() override { log::info("UserNotifications", "banners removed"); }
};

}  // namespace hw
