#pragma once
// The menus' commands, recorded, and their subscriptions kept for a test to fire.
#include <functional>
#include <string>
#include <vector>

#include "app/menu_bar_menu_controller.h"
#include "services/locations_list_item_model.h"

namespace hw::test {

class RecordingMenuCommands final : public MenuBarMenuCommands {
public:
    void changeAppToBeNormalApp() override { calls.push_back("normal"); }
    void changeAppToBeUserAgent() override { calls.push_back("userAgent"); }
    void performConnectCommand() override { calls.push_back("connect"); }
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) override {
        calls.push_back("select:" + item->name);
    }
    void performLogout() override { calls.push_back("logout"); }
    void performSignInCommand() override { calls.push_back("signIn"); }
    void quitApplicationRequested() override { calls.push_back("quit"); }
    void openLocationsWindow() override { calls.push_back("locationsWindow"); }
    void sendAnalyticsEvent(const std::string& name,
                            const std::optional<std::map<std::string, std::string>>& p) override {
        calls.push_back("analytics:" + name + ":" + (p ? p->begin()->first + "=" + p->begin()->second : ""));
    }
    void addAppModeChangeNotification(std::function<void()> s) override { subscribers.push_back(std::move(s)); }
    void clearAppModeChangeNotifications() override { subscribers.clear(); }
    std::vector<std::string> calls;
    std::vector<std::function<void()>> subscribers;
};

}  // namespace hw::test
