#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "core/vpn_connection_details_callbacks.h"
#include "view/alert_view.h"
#include "view/window_view.h"

// What the shell asks of its windows. Until a window's own controller exists,
// its port is a bare window; afterwards a thin adapter onto the controller.
namespace hw {

class LocationsListItemModel;
class LocationsListModel;
class SmartWidgetData;
class TopNotificationBarModel;
class BottomNotificationBarModel;

class ShellWindowPort {
public:
    virtual ~ShellWindowPort() = default;
    virtual void showWindow() = 0;
    // Back on screen as it was left, for a window whose opening already ran
    // off the screen: what it shows (an error bar, a half-filled form) stays.
    virtual void orderFront() { showWindow(); }
    // Made, but kept off the screen.
    virtual void orderOut() = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    // Where sheets on this window are shown; none without a window.
    virtual AlertView* sheetAlerts() { return nullptr; }
    // Called by the window when it is about to close; set by the shell.
    std::function<void()> onWindowClosedNotification;

    // ---- Auto-update ----
    // The window as sheets see it; none for a window without one.
    virtual WindowView* windowView() { return nullptr; }
    // The update sheet on this window has ended: its overlay may go.
    virtual void autoUpdateSheetDidEnd() {}
    // ---- end auto-update ----
};

class AuthWindowPort : public virtual ShellWindowPort {
public:
    virtual void setPendingLoginData(const std::optional<LoginData>& data) = 0;
    // What showing the window runs after it is on screen.
    virtual void setupAfterOpening() = 0;
    virtual void closeWholeWindow(bool signMeIn) = 0;
    virtual void updateCreateNewAccountLink() = 0;
    virtual void showInternetConnectionIsUnavailableNotification() = 0;
    virtual void setIsInSignUpCompletedState(bool value) = 0;
    // Whether the enterprise sign-in page is what the window shows now.
    virtual bool isShowingEnterprisePage() const = 0;
    virtual void startEnterpriseLogin(const std::string& username, const std::string& password) = 0;
    virtual std::optional<WindowFrame> frame() const = 0;

    // --- Login window ---
    // Whether an authorization code may be exchanged now: the sign-in page
    // shows and no sign-in runs.
    virtual bool canAcceptEnterpriseCode() const { return isShowingEnterprisePage(); }
    // The data load after a successful sign-in failed.
    virtual void onDataLoadFailed() {}
    // The remembered account is still being read: the window says so meanwhile.
    virtual void setRestoringAccount(bool /*restoring*/) {}
    // An account was remembered and a store failed to give it: the window says why.
    virtual void showAccountNotRestored(const std::string& /*why*/) {}
    // The user began a sign-in or chose a form since the window opened: a
    // late remembered account must not take over.
    virtual bool userHasActed() const { return false; }
};

class MainWindowPort : public virtual ShellWindowPort {
public:
    // Where the window stands while it shows; a place for its next showing.
    virtual std::optional<WindowFrame> shownFrame() const { return std::nullopt; }
    virtual void placeAt(const WindowFrame&) {}
    virtual void selectLocation(const std::shared_ptr<LocationsListItemModel>& item, bool skipFlagAnimation) = 0;
    virtual void showUpdateAvailableNotificationBar() = 0;
    virtual void showWiFiInsecureNotification() = 0;
    virtual void showConnectedToWiFiNotification() = 0;
    virtual void prepareMainViewAfterSettingsViewBeenClosed() = 0;
    // The details pane closes its connect-button popover.
    virtual void closeConnectButtonPopover() = 0;
    // Its connect button drops its hover state: a rest begun before another
    // window came up must not pop the hint up over it.
    virtual void dropConnectButtonHover() = 0;
    virtual void hideAutoReconnectOverlay() = 0;
    // Nothing until the details pane exists.
    virtual DetailsPanePort* detailsController() = 0;

    // ---- Auto-update ----
    // The connect button offers "disconnect", or shows nothing.
    virtual bool connectButtonIsInDisconnectOrEmptyState() { return false; }
    // The details pane drops the tunnel on purpose: no reconnect follows.
    virtual void performIntentionalDisconnect() {}
    // ---- end auto-update ----
    // --- Main window: data and network events (no-ops on a bare window) ---
    virtual void setupMainView(const std::shared_ptr<LocationsListModel>&, const VPNConnectionDetailsCallbacks&) {}
    virtual void onLatestSmartWidgetDataLoadedWithData(const std::shared_ptr<SmartWidgetData>&) {}
    virtual void updateMainViewMapImage() {}
    virtual void showNoOnternetConnectionOverlay() {}
    virtual void hideNoOnternetConnectionOverlay() {}
    virtual void refreshTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>&,
                                           const std::shared_ptr<BottomNotificationBarModel>&) {}
    // --- end of the main window's block ---
};

class SettingsWindowPort : public virtual ShellWindowPort {
public:
    virtual void centerOnScreen() = 0;
    virtual void setupComponents() = 0;
    // Shows the pane of that tab-bar identifier; an unknown one changes nothing.
    virtual void selectPane(const std::string& /*identifier*/) {}
};

// The shell's windows. The sign-in, main and locations windows exist from the
// start; the others are made on first use by their makers.
struct ShellWindows {
    std::unique_ptr<AuthWindowPort> auth;
    std::unique_ptr<MainWindowPort> main;
    std::unique_ptr<ShellWindowPort> locations;
    std::function<std::unique_ptr<ShellWindowPort>()> makeWelcome;
    std::function<std::unique_ptr<SettingsWindowPort>()> makeSettings;
    std::function<std::unique_ptr<ShellWindowPort>()> makeSignUp;
};

// A question in a dialog: a sheet on a window, or application-modal without one.
struct ShellAlert {
    std::string messageText;
    std::string informativeText;
    std::string firstButton;
    std::string secondButton;  // none when empty
};
class ShellAlertPresenter {
public:
    static constexpr int kFirstButton = 1000;
    static constexpr int kSecondButton = 1001;
    virtual ~ShellAlertPresenter() = default;
    // done gets the button's code, on the main queue, once.
    virtual void present(ShellWindowPort* sheetParent, const ShellAlert& alert, std::function<void(int code)> done) = 0;
};

}  // namespace hw
