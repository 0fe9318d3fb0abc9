#pragma once
#include <string>
#include <vector>

#include "platform/user_notification_center.h"

namespace hw::test {

// Keeps the banners as a desktop would list them.
class FakeUserNotificationCenter final : public UserNotificationCenter {
public:
    void deliver(const Notification& notification) override { delivered.push_back(notification); }
    void removeAllDeliveredNotifications() override {
        delivered.clear();
        ++removeAllCount;
    }
    std::vector<Notification> delivered;
    int removeAllCount = 0;
};

}  // namespace hw::test
