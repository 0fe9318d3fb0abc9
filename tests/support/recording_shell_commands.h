#pragma once
// The shell's commands as the windows call them, recorded.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "windows/shared/shell_commands.h"

namespace hw::test {

class RecordingShellCommands : public ShellCommands {
public:
    std::vector<std::string> calls;
    int count(const std::string& name) const { return static_cast<int>(std::count(calls.begin(), calls.end(), name)); }

    void skipWelcomePage() override { calls.push_back("skipWelcomePage"); }
    void openAuthWindow() override { calls.push_back("openAuthWindow"); }
    void openAuthWindowToLogIn() override { calls.push_back("openAuthWindowToLogIn"); }
    void hideAuthWindow() override { calls.push_back("hideAuthWindow"); }
    void openMainWindow() override { calls.push_back("openMainWindow"); }
    void hideMainWindow() override { calls.push_back("hideMainWindow"); }
    void openLocationsWindow() override { calls.push_back("openLocationsWindow"); }
    void hideLocationsWindow() override { calls.push_back("hideLocationsWindow"); }
    void openSettingsWindow(bool again) override { calls.push_back(again ? "openSettingsWindow:1" : "openSettingsWindow:0"); }
    void openSettingsWindowOnProtocol() override { calls.push_back("openSettingsWindowOnProtocol"); }
    void closeSettingsWindow() override { calls.push_back("closeSettingsWindow"); }
    void openFreeTrialSignUpWindow() override {}
    void hideFreeTrialSignUpWindow() override {}
    void createNewAccountForAppStoreCommand() override {}
    void updateCreateNewAccountLink() override {}
    void performConnectCommand() override { calls.push_back("performConnectCommand"); }
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>&) override {}
    void performLogIn() override {}
    void performLogout() override { calls.push_back("performLogout"); }
    void disableStartMinimized() override {}
    void prepareWiFiUnsecured_EarlyDetection() override {}
    void showWiFiInsecureNotification_beforeLogin() override {}
    void showWiFiInsecureNotification() override {}
    void showConnectedToWiFiNotification() override {}
    void showConnectionErrorNotification() override {}
    void showAppUpgratePopup() override {}
    void sendAnalyticsEvent(const std::string&, const std::optional<AnalyticsParameters>&) override {}
    bool openURL(const std::string&) override { return false; }
    void handleURL(const std::string&) override {}
    void quitApplicationRequested() override {}
    void performQuitApplicationFromStatusBar() override {}
    void changeAppToBeUserAgent() override {}
    void changeAppToBeNormalApp() override {}
    void showInsecureWiFiNotification() override { calls.push_back("insecureWiFiBanner"); }
    void showInsecureWiFiNotLoggedInNotification() override { calls.push_back("insecureWiFiNotLoggedInBanner"); }
    void startAutoUpdater(WindowView&) override { calls.push_back("startAutoUpdater"); }
    // The details pane's banners.
    void showVPNConnectedNotification(const std::string& name) override { calls.push_back("connectedBanner:" + name); }
    void showVPNDisconnectedNotification(const std::string& name) override {
        calls.push_back("disconnectedBanner:" + name);
    }
    void showAutoReconnectNotification(bool lock, bool hadConnected) override {
        calls.push_back(std::string(lock ? "reconnectBanner:lock" : "reconnectBanner") + (hadConnected ? "" : ":first"));
    }
    void withdrawAutoReconnectNotification() override { calls.push_back("reconnectBannerWithdrawn"); }
};

}  // namespace hw::test
