#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace hw {

class LocationsListItemModel;

// What the windows ask of the application shell. One interface, grown by each
// window; the application delegate implements it. Main thread only.
class ShellCommands {
public:
    using AnalyticsParameters = std::map<std::string, std::string>;

    virtual ~ShellCommands() = default;

    // Windows.
    virtual void skipWelcomePage() = 0;
    virtual void openAuthWindow() = 0;
    virtual void hideAuthWindow() = 0;
    virtual void openMainWindow() = 0;
    virtual void hideMainWindow() = 0;
    virtual void openLocationsWindow() = 0;
    virtual void hideLocationsWindow() = 0;
    virtual void openSettingsWindow(bool setupComponentsAgain = false) = 0;
    virtual void closeSettingsWindow() = 0;
    virtual void openFreeTrialSignUpWindow() = 0;
    virtual void hideFreeTrialSignUpWindow() = 0;
    virtual void createNewAccountForAppStoreCommand() = 0;
    virtual void updateCreateNewAccountLink() = 0;

    // Commands.
    virtual void performConnectCommand() = 0;
    virtual void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) = 0;
    virtual void performLogIn() = 0;
    virtual void performLogout() = 0;
    virtual void disableStartMinimized() = 0;
    virtual void prepareWiFiUnsecured_EarlyDetection() = 0;
    virtual void showWiFiInsecureNotification_beforeLogin() = 0;
    virtual void showWiFiInsecureNotification() = 0;
    virtual void showConnectedToWiFiNotification() = 0;
    virtual void showConnectionErrorNotification() = 0;
    virtual void showAppUpgratePopup() = 0;
    virtual void sendAnalyticsEvent(const std::string& name,
                                    const std::optional<AnalyticsParameters>& parameters = std::nullopt) = 0;
    // Only http, https and mailto; false when it was not opened.
    virtual bool openURL(const std::string& url) = 0;
    // A redirect of the enterprise sign-in page to the application's scheme.
    virtual void handleURL(const std::string& url) = 0;

    // Quit and process mode.
    virtual void quitApplicationRequested() = 0;
    virtual void performQuitApplicationFromStatusBar() = 0;
    virtual void changeAppToBeUserAgent() = 0;
    virtual void changeAppToBeNormalApp() = 0;

    // --- Login window ---
    // A sign-in succeeded: load the data, then leave for the main window.
    // Returns before the data have loaded.
    virtual void onLoginSuccess() = 0;
};

}  // namespace hw
