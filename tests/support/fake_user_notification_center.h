#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "platform/user_notification_center.h"

namespace hw::test {

// Keeps the banners as a desktop would list them.
class FakeUserNotificationCenter final : public UserNotificationCenter {
public:
    void deliver(const Notification& notification) override {
        delivered.push_back(notification);
        history.push_back(notification);
    }
    void removeAllDeliveredNotifications() override {
        delivered.clear();
        ++removeAllCount;
    }
    void removeDeliveredNotification(std::uint64_t identifier) override {
        std::erase_if(delivered, [&](const Notification& n) { return n.identifier == identifier; });
        removed.push_back(identifier);
    }
    void setActivationHandler(ActivationHandler handler) override { onActivate = std::move(handler); }

    // Clicks the listed banner with this title.
    bool click(const std::string& title, Activation how) {
        auto it = std::find_if(delivered.begin(), delivered.end(), [&](const Notification& n) { return n.title == title; });
        if (it == delivered.end() || !onActivate) return false;
        const Notification n = *it;
        onActivate(n, how);
        return true;
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& n : delivered) out.push_back(n.title);
        return out;
    }

    std::vector<Notification> delivered;
    // Every banner ever delivered, in order.
    std::vector<Notification> history;
    std::vector<std::uint64_t> removed;
    int removeAllCount = 0;
    ActivationHandler onActivate;
};

}  // namespace hw::test
