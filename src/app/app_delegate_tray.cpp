// The status item, its icon and which menus show.
#include "app/app_delegate.h"
#include "core/try_catch_finally.h"
#include "windows/login/auth_window_view_controller.h"
#include "platform/log.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
constexpr char kConnectingPrefix[] = "MenuBar_icon_CONNECTING_";
}  // namespace

void AppDelegate::createMenuBar() {
    // Whether a tray shows it the item itself logs, once it has asked the desktop.
    if (env_.statusItem) {
        env_.statusItem->onActivated = [this] { applicationShouldHandleReopen(hasVisibleWindows()); };
        env_.statusItem->onLost = [this] { onTrayLost(); };
        env_.statusItem->onShown = [this] { onTrayShown(); };
    } else {
        log::warning(kLog, "no status item");
    }
    updateMenuBarStatusIcon(ConnectionStates::disconnected);
    statusItemMenu_ = menuBarMenuController_->menus().default_menuBarMenu;
    if (env_.statusItem) env_.statusItem->setMenu(statusItemMenu_);
    currentDockMenu_ = menuBarMenuController_->menus().default_DockMenuBarMenu;
    menuBarMenuController_->prepareAboutMenu();
}

void AppDelegate::onTrayLost() {
    // Living in the tray, the application would have no way back left: the
    // window shows, as a start without a tray does.
    if (terminating_ || hasVisibleWindows()) return;
    log::warning(kLog, "the tray went away: the window shows, as nothing else would lead back to the application");
    guarded([this] { changeAppToBeNormalApp(); });
}

void AppDelegate::onTrayShown() {
    // Started off the screen before the tray came: the application lives
    // there now, and its menu must offer the window.
    if (terminating_ || !model().startMinimized || hasVisibleWindows()) return;
    liveInTheTray();
}

void AppDelegate::updateMenuBarStatusIcon(ConnectionStates state) {
    guarded([&] {
        switch (state) {
            case ConnectionStates::connected:
                stopStatusBarIconAnimation();
                updateMenuBarStatusIcon(std::string("MenuBar_icon_CONNECTED"));
                break;
            case ConnectionStates::disconnected:
                stopStatusBarIconAnimation();
                updateMenuBarStatusIcon(std::string("MenuBar_icon_DISCONNECTED"));
                break;
            default:
                animateConnectingStatusBarIcon();
        }
    });
}

void AppDelegate::updateMenuBarStatusIcon(const std::string& imageName) {
    statusIconName_ = imageName;
    if (env_.statusItem) env_.statusItem->setImage(imageName);
}

void AppDelegate::animateConnectingStatusBarIcon() {
    statusBarIconAnimator_.delegate = this;
    statusBarIconAnimator_.start();
}

void AppDelegate::stopStatusBarIconAnimation() { statusBarIconAnimator_.stop(); }

void AppDelegate::onIntervalAnimatorUpdate(IntervalAnimator&, int frame) {
    updateMenuBarStatusIcon(kConnectingPrefix + std::to_string(frame + 1));
}

void AppDelegate::onInternetNotReachable_menus() {
    if (model().networkLockActivated) return;
    const ShellMenus& menus = menuBarMenuController_->menus();
    if (statusItemMenu_ != menus.noInternetConnection_menu) {
        statusItemMenu_ = menus.noInternetConnection_menu;
        if (env_.statusItem) env_.statusItem->setMenu(statusItemMenu_);
    }
    if (currentDockMenu_ != menus.noInternetConnection_DockMenu) currentDockMenu_ = menus.noInternetConnection_DockMenu;
}

void AppDelegate::onInternetReachable_menus() {
    const ShellMenus& menus = menuBarMenuController_->menus();
    if (statusItemMenu_ != menus.menuBarMenu) {
        statusItemMenu_ = menus.menuBarMenu;
        if (env_.statusItem) env_.statusItem->setMenu(statusItemMenu_);
    }
    if (currentDockMenu_ != menus.dockMenu) currentDockMenu_ = menus.dockMenu;
}

void AppDelegate::performSignInCommand() {
    // From the welcome pages the login window comes forward as their own
    // LOG IN brings it, instead of the pages the user was asked past.
    if (welcomeWindowController_ && currentWindowController_ == welcomeWindowController_.get()) {
        std::erase(hiddenForBackground_, welcomeWindowController_.get());
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
        AuthWindowViewController::ACTIVATE_LOG_IN_STATE = true;
        model().startMinimized = false;
        skipWelcomePage();
    }
    changeAppToBeNormalApp();
    // The sign-up window in front would hide the login window the user asked
    // for: it gives way, as its own "Log in" link does.
    if (!freeTrialSignUpWindowController_ || !freeTrialSignUpWindowController_->isVisible()) return;
    hideFreeTrialSignUpWindow();
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive] {
        if (!alive.expired()) performLogIn();
    });
}

}  // namespace hw
