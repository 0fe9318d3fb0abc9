#pragma once
// The shell as the windows see it, recording each command by name.
#include <string>
#include <vector>

#include "controllers/shell_commands.h"

namespace hw::test {

class RecordingShellCommands : public ShellCommands {
public:
    std::vector<std::string> calls;
    std::vector<std::string> handledURLs;
    int count(const std::string& name) const {
        int n = 0;
        for (const auto& c : calls) n += c == name;
        return n;
    }

    void skipWelcomePage() override { calls.push_back("skipWelcomePage"); }
    void openAuthWindow() override { calls.push_back("openAuthWindow"); }
    void hideAuthWindow() override { calls.push_back("hideAuthWindow"); }
    void openMainWindow() override { calls.push_back("openMainWindow"); }
    void hideMainWindow() override { calls.push_back("hideMainWindow"); }
    void openLocationsWindow() override { calls.push_back("openLocationsWindow"); }
    void hideLocationsWindow() override { calls.push_back("hideLocationsWindow"); }
    void openSettingsWindow(bool) override { calls.push_back("openSettingsWindow"); }
    void closeSettingsWindow() override { calls.push_back("closeSettingsWindow"); }
    void openFreeTrialSignUpWindow() override { calls.push_back("openFreeTrialSignUpWindow"); }
    void hideFreeTrialSignUpWindow() override { calls.push_back("hideFreeTrialSignUpWindow"); }
    void createNewAccountForAppStoreCommand() override { calls.push_back("createNewAccountForAppStoreCommand"); }
    void updateCreateNewAccountLink() override { calls.push_back("updateCreateNewAccountLink"); }
    void performConnectCommand() override { calls.push_back("performConnectCommand"); }
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>&) override {
        calls.push_back("performSelectLocationCommand");
    }
    void performLogIn() override { calls.push_back("performLogIn"); }
    void performLogout() override { calls.push_back("performLogout"); }
    void disableStartMinimized() override { calls.push_back("disableStartMinimized"); }
    void prepareWiFiUnsecured_EarlyDetection() override { calls.push_back("prepareWiFiUnsecured_EarlyDetection"); }
    void showWiFiInsecureNotification_beforeLogin() override { calls.push_back("showWiFiInsecureBeforeLogin"); }
    void showWiFiInsecureNotification() override { calls.push_back("showWiFiInsecureNotification"); }
    void showConnectedToWiFiNotification() override { calls.push_back("showConnectedToWiFiNotification"); }
    void showConnectionErrorNotification() override { calls.push_back("showConnectionErrorNotification"); }
    void showAppUpgratePopup() override { calls.push_back("showAppUpgratePopup"); }
    void sendAnalyticsEvent(const std::string& name, const std::optional<AnalyticsParameters>&) override {
        calls.push_back("sendAnalyticsEvent:" + name);
    }
    bool openURL(const std::string&) override {
        calls.push_back("openURL");
        return true;
    }
    void handleURL(const std::string& url) override { handledURLs.push_back(url); }
    void quitApplicationRequested() override { calls.push_back("quitApplicationRequested"); }
    void performQuitApplicationFromStatusBar() override { calls.push_back("performQuitApplicationFromStatusBar"); }
    void changeAppToBeUserAgent() override { calls.push_back("changeAppToBeUserAgent"); }
    void changeAppToBeNormalApp() override { calls.push_back("changeAppToBeNormalApp"); }
    void onLoginSuccess() override { calls.push_back("onLoginSuccess"); }
};

}  // namespace hw::test
