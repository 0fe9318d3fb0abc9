#pragma once
#include <functional>
#include <memory>
#include <string>

#include "app/shell_window_ports.h"
#include "view/kit_window.h"

namespace hw {

// A window the shell can show before its own controller exists: a kit window
// with its title and a line saying what it will hold. Each window's issue
// replaces its port with an adapter onto the real controller.
class BareShellWindow : public virtual ShellWindowPort {
public:
    BareShellWindow(const std::string& title, const std::string& placeholder);
    ~BareShellWindow() override;

    void showWindow() override;
    void orderOut() override { window_.orderOut(); }
    void close() override { window_.close(); }
    bool isVisible() const override { return window_.isVisible(); }
    AlertView* sheetAlerts() override { return &window_.alerts(); }

    KitWindow& window() { return window_; }
    const KitWindow& window() const { return window_; }
    // The keyboard quit of this window.
    void setQuitHandler(std::function<void()> handler);

protected:
    void note(const std::string& what) const;

private:
    KitWindow window_;
    std::string title_;
};

class BareAuthWindow final : public BareShellWindow, public AuthWindowPort {
public:
    BareAuthWindow();
    void setPendingLoginData(const std::optional<LoginData>&) override { note("pendingLoginData"); }
    void setupAfterOpening() override { note("setupAfterOpening"); }
    void closeWholeWindow(bool) override { close(); }
    void updateCreateNewAccountLink() override { note("updateCreateNewAccountLink"); }
    void showInternetConnectionIsUnavailableNotification() override { note("internet unavailable notice"); }
    void setIsInSignUpCompletedState(bool) override {}
    bool isShowingEnterprisePage() const override { return false; }
    void startEnterpriseLogin(const std::string&, const std::string&) override { note("startEnterpriseLogin"); }
    std::optional<WindowFrame> frame() const override;
};

class BareMainWindow final : public BareShellWindow, public MainWindowPort {
public:
    BareMainWindow();
    void selectLocation(const std::shared_ptr<LocationsListItemModel>&, bool) override { note("selectLocation"); }
    void showUpdateAvailableNotificationBar() override { note("showUpdateAvailableNotificationBar"); }
    void showWiFiInsecureNotification() override { note("showWiFiInsecureNotification"); }
    void showConnectedToWiFiNotification() override { note("showConnectedToWiFiNotification"); }
    void prepareMainViewAfterSettingsViewBeenClosed() override {}
    void closeConnectButtonPopover() override {}
    void dropConnectButtonHover() override {}
    void hideAutoReconnectOverlay() override {}
    DetailsPanePort* detailsController() override { return nullptr; }
};

class BareSettingsWindow final : public BareShellWindow, public SettingsWindowPort {
public:
    BareSettingsWindow();
    void centerOnScreen() override { window().center(); }
    void setupComponents() override {}
};

// Every window of the shell, bare, each with the keyboard quit.
ShellWindows makeBareShellWindows(std::function<void()> onQuitKey);

}  // namespace hw
