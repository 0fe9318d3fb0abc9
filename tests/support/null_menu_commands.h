#pragma once
// Menu commands that go nowhere: for drawing and timing the menus alone.
#include "app/menu_bar_menu_controller.h"

namespace hw::test {

class NullMenuCommands final : public MenuBarMenuCommands {
public:
    void changeAppToBeNormalApp() override {}
    void changeAppToBeUserAgent() override {}
    void performConnectCommand() override {}
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>&) override {}
    void performLogout() override {}
    void quitApplicationRequested() override {}
    void sendAnalyticsEvent(const std::string&, const std::optional<std::map<std::string, std::string>>&) override {}
    void addAppModeChangeNotification(std::function<void()>) override {}
    void clearAppModeChangeNotifications() override {}
};

}  // namespace hw::test
