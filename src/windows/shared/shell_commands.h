#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "view/window_view.h"

namespace hw {

class LocationsListItemModel;
class WindowView;

// What the windows ask of the application shell. One interface, grown by each
// window; the application delegate implements it. Main thread only.
class ShellCommands {
public:
    using AnalyticsParameters = std::map<std::string, std::string>;

    virtual ~ShellCommands() = default;

    // Windows.
    virtual void skipWelcomePage() = 0;
    virtual void openAuthWindow() = 0;
    // The login window in its log-in form, whatever it would pick itself.
    virtual void openAuthWindowToLogIn() { openAuthWindow(); }
    virtual void hideAuthWindow() = 0;
    virtual void openMainWindow() = 0;
    virtual void hideMainWindow() = 0;
    virtual void openLocationsWindow() = 0;
    virtual void hideLocationsWindow() = 0;
    virtual void openSettingsWindow(bool setupComponentsAgain = false) = 0;
    virtual void closeSettingsWindow() = 0;
    // Opens the settings window showing the pane of that tab-bar identifier.
    virtual void openSettingsWindowOnPane(const std::string& /*paneIdentifier*/) { openSettingsWindow(); }
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

    // The windows' own blocks below have empty defaults, so each window's
    // test doubles need only what that window calls.
    // ---- Auto-update ----
    // Shows the update window as a sheet on parent. The end of the sheet
    // comes back through the shell's port of that window, so that the caller
    // can take its overlay away.
    virtual void startAutoUpdater(WindowView& /*parent*/) {}
    // ---- end auto-update ----
    // --- Main window ---
    // The banners of an insecure Wi-Fi network: one for a signed-in user,
    // one for nobody signed in.
    virtual void showInsecureWiFiNotification() {}
    virtual void showInsecureWiFiNotLoggedInNotification() {}
    // --- end of the main window's block ---
    // --- Login window ---
    // A sign-in succeeded: load the data, then leave for the main window.
    // Returns before the data have loaded.
    virtual void onLoginSuccess() {}
    // A sign-in failed; the login window says why.
    virtual void onLoginFailed() {}

    // --- Tray and notifications ---
    // The connection banners; whether one is wanted at all is the caller's
    // decision.
    virtual void showConnectedNotification(const std::string& /*locationName*/) {}
    virtual void showDisconnectedNotification(const std::string& /*locationName*/) {}
    virtual void showAutoReconnectWithNetworkLockNotification() {}
    virtual void showAutoReconnectWithoutNetworkLockNotification() {}
    // --- end of the tray's block ---

    // --- Details pane ---
    // Banners of the connection; each names the location.
    virtual void showVPNConnectedNotification(const std::string& /*locationName*/) {}
    virtual void showVPNDisconnectedNotification(const std::string& /*locationName*/) {}
    // The reconnect banner, with or without the kill switch; hadConnected:
    // a tunnel was up (a first connect that never connected says so).
    virtual void showAutoReconnectNotification(bool /*withNetworkLock*/, bool /*hadConnected*/) {}
    // The attempt that banner told of has ended in an error of its own.
    virtual void withdrawAutoReconnectNotification() {}
    // The settings window, opened on its protocol pane.
    virtual void openSettingsWindowOnProtocol() {}
    // --- end of the details pane's block ---
};

}  // namespace hw
