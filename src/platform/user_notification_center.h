#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace hw {

// The desktop's notification banners, as far as the shell needs them.
class UserNotificationCenter {
public:
    struct Notification {
        std::string title;
        std::string informativeText;
        // Empty: no action button.
        std::string actionButtonTitle{};
        std::string otherButtonTitle{};
        // Given by the caller, unique in the process; 0 for none. Removal and
        // activation name the banner by it.
        std::uint64_t identifier = 0;
    };
    // How a banner was clicked.
    enum class Activation { contentsClicked = 1, actionButtonClicked = 2 };
    using ActivationHandler = std::function<void(const Notification&, Activation)>;

    virtual ~UserNotificationCenter() = default;
    virtual void deliver(const Notification& notification) = 0;
    // Takes every banner of this application off the screen and the list.
    virtual void removeAllDeliveredNotifications() = 0;
    // Takes one banner off; an unknown or already removed one is ignored.
    virtual void removeDeliveredNotification(std::uint64_t /*identifier*/) {}
    // Clicks on this application's banners arrive here, on the main queue.
    virtual void setActivationHandler(ActivationHandler /*handler*/) {}
};

}  // namespace hw
