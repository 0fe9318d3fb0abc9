#pragma once
#include <string>

namespace hw {

// The desktop's notification banners, as far as the shell needs them.
class UserNotificationCenter {
public:
    struct Notification {
        std::string title;
        std::string informativeText;
    };

    virtual ~UserNotificationCenter() = default;
    virtual void deliver(const Notification& notification) = 0;
    // Takes every banner of this application off the screen and the list.
    virtual void removeAllDeliveredNotifications() = 0;
};

}  // namespace hw
