#include "app/app_delegate.h"
#include "connection/connection_intents.h"
#include "core/settings_user_defaults.h"
#include "platform/log.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}  // namespace

void AppDelegate::prepareWindowController(ShellWindowPort& window) {
    ShellWindowPort* port = &window;
    window.onWindowClosedNotification = [this, port] { onWindowIsAboutToBeClosedNotification(port); };
}

void AppDelegate::onWindowIsAboutToBeClosedNotification(ShellWindowPort* window) {
    log::info(kLog, "onWindowIsAboutToBeClosedNotification executed");
    currentWindowController_ = window;
    if (openedOffScreen_ == window) openedOffScreen_ = nullptr;
}

ShellWindowPort* AppDelegate::welcomeWindowController() {
    if (!welcomeWindowController_ && windows_.makeWelcome) welcomeWindowController_ = windows_.makeWelcome();
    return welcomeWindowController_.get();
}

SettingsWindowPort* AppDelegate::settingsWindowController() {
    if (!settingsWindowController_ && windows_.makeSettings) settingsWindowController_ = windows_.makeSettings();
    return settingsWindowController_.get();
}

ShellWindowPort* AppDelegate::freeTrialSignUpWindowController() {
    if (!freeTrialSignUpWindowController_ && windows_.makeSignUp) freeTrialSignUpWindowController_ = windows_.makeSignUp();
    return freeTrialSignUpWindowController_.get();
}

void AppDelegate::present(ShellWindowPort& window) {
    if (model().startMinimized) window.orderOut();
    else window.showWindow();
}

void AppDelegate::openMainWindow() {
    prepareWindowController(*windows_.main);
    present(*windows_.main);
    currentWindowController_ = windows_.main.get();
}

namespace {
// Not a setting the user sees: written at each quit, read only by the start
// the install script makes after refusing an update.
constexpr char kMainWindowPlace[] = "mainWindowPlaceAtQuit";
}  // namespace

void AppDelegate::rememberMainWindowPlace() {
    const auto frame = windows_.main ? windows_.main->shownFrame() : std::nullopt;
    if (!frame) {
        if (!store_.object(kMainWindowPlace)) return;
        store_.remove(kMainWindowPlace);
    } else {
        store_.set(kMainWindowPlace, SettingDict{{"x", frame->x}, {"y", frame->y}, {"width", frame->width},
                                                 {"height", frame->height}});
    }
    store_.synchronize();
}

void AppDelegate::restoreMainWindowPlace() {
    const auto stored = store_.object(kMainWindowPlace);
    const auto* place = stored ? std::get_if<SettingDict>(&stored->value) : nullptr;
    if (!place || !windows_.main) return;
    const auto number = [&](const char* name) -> std::optional<double> {
        const auto it = place->find(name);
        if (it == place->end()) return std::nullopt;
        if (const double* d = std::get_if<double>(&it->second.value)) return *d;
        if (const std::int64_t* i = std::get_if<std::int64_t>(&it->second.value)) return double(*i);
        return std::nullopt;
    };
    const auto x = number("x"), y = number("y"), width = number("width"), height = number("height");
    if (!x || !y || !width || !height || *width <= 0 || *height <= 0) return;
    windows_.main->placeAt(WindowFrame{*x, *y, *width, *height});
}

void AppDelegate::hideMainWindow() {
    windows_.main->close();
    hideLocationsWindow();
}

void AppDelegate::openLocationsWindow() {
    windows_.main->closeConnectButtonPopover();
    windows_.main->dropConnectButtonHover();
    present(*windows_.locations);
}

void AppDelegate::hideLocationsWindow() { windows_.locations->close(); }

void AppDelegate::openSettingsWindow(bool setupComponentsAgain) {
    guarded([&] {
        SettingsWindowPort* settings = settingsWindowController();
        if (!settings) return;
        prepareWindowController(*settings);
        if (model().startMinimized) {
            settings->orderOut();
        } else {
            settings->centerOnScreen();
            settings->showWindow();
        }
        if (setupComponentsAgain) settings->setupComponents();
        currentWindowController_ = settings;
    });
}

void AppDelegate::openSettingsWindowOnProtocol() {
    openSettingsWindowOnPane("com.havenway.Havenway.TouchBarItem.ProtocolItem");
}

void AppDelegate::openSettingsWindowOnPane(const std::string& paneIdentifier) {
    openSettingsWindow();
    // After opening: a first opening marks General in the tab bar.
    guarded([&] {
        if (settingsWindowController_) settingsWindowController_->selectPane(paneIdentifier);
    });
}

void AppDelegate::closeSettingsWindow() {
    if (settingsWindowController_) settingsWindowController_->close();
    windows_.main->prepareMainViewAfterSettingsViewBeenClosed();
}

void AppDelegate::openAuthWindow() {
    AuthWindowPort& auth = *windows_.auth;
    prepareWindowController(auth);
    auth.setPendingLoginData(model().recentLoginData());
    settingsAppliesImmediately_ = true;
    if (model().startMinimized) {
        auth.orderOut();
        auth.setupAfterOpening();
        openedOffScreen_ = &auth;
    } else {
        auth.showWindow();
        if (openedOffScreen_ == &auth) openedOffScreen_ = nullptr;
    }
    currentWindowController_ = &auth;
}

void AppDelegate::openAuthWindowToLogIn() {
    // With no account remembered the window would pick its sign-up form.
    AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
    AuthWindowViewController::ACTIVATE_LOG_IN_STATE = true;
    openAuthWindow();
}

void AppDelegate::hideAuthWindow() {
    try {
        settingsAppliesImmediately_ = false;
        windows_.auth->closeWholeWindow(model().signMeInWhenHavenwayStarts);
    } catch (const std::exception& e) {
        log::warning(kLog, e.what());
    }
}

void AppDelegate::openFreeTrialSignUpWindow() {
    model().loginWindowFrame = windows_.auth->frame();
    hideAuthWindow();
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive] {
        if (alive.expired()) return;
        if (ShellWindowPort* signUp = freeTrialSignUpWindowController()) signUp->showWindow();
    });
}

void AppDelegate::hideFreeTrialSignUpWindow() {
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive] {
        if (!alive.expired() && freeTrialSignUpWindowController_) freeTrialSignUpWindowController_->close();
    });
}

void AppDelegate::createNewAccountForAppStoreCommand() { openFreeTrialSignUpWindow(); }
void AppDelegate::updateCreateNewAccountLink() { windows_.auth->updateCreateNewAccountLink(); }

// --- commands ---

void AppDelegate::performConnectCommand() {
    if (auto* intents = services_.connectionIntents()) intents->connectOrEnd();
    else log::warning(kLog, "Connect without a connection manager: nothing to connect");
}

void AppDelegate::performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) {
    windows_.main->selectLocation(item, false);
    performConnectCommand();
}

void AppDelegate::performLogIn() {
    model().startMinimized = false;
    openAuthWindow();
}

void AppDelegate::disableStartMinimized() { model().startMinimized = false; }

void AppDelegate::performLogout() {
    ApplicationModel& m = model();
    m.startMinimized = false;
    // The connection's machine ends the account's attempt: its flags follow.
    if (auto* intents = services_.connectionIntents()) intents->signOut();
    services_.disableNetworkLock();
    services_.terminatePreviousOpenVPNProcesses();
    services_.forgetAccountAttempt();
    m.networkLockActivated = false;
    m.wasConnectedToVPN_Before_EnteringSleepMode = false;
    notifications_.removeAllDeliveredNotifications();
    services_.clearAllReachabilityObservers();
    services_.stopReachability();
    m.isLoggedInUser = false;
    windows_.auth->setIsInSignUpCompletedState(false);
    services_.cleanUpSessionAndNotifyDisconnected();
    services_.disconnect();
    services_.logOut();
    if (env_.isEnterpriseVersion) services_.clearEnterpriseCookies();
    stopSheduleNextSmartWidgetUpdateTimer();
    store_.set(SettingsUserDefaults::skipCachedDataLoad, true);
    store_.synchronize();
    hideMainWindow();
    closeSettingsWindow();
    std::weak_ptr<bool> menusAlive = alive_;
    queue_.post([this, menusAlive] {
        if (menusAlive.expired()) return;
        statusItemMenu_ = menuBarMenuController_->menus().default_menuBarMenu;
        if (env_.statusItem) env_.statusItem->setMenu(statusItemMenu_);
        currentDockMenu_ = menuBarMenuController_->menus().default_DockMenuBarMenu;
    });
    m.applyPrivateSettings(store_.snapshot());
    openAuthWindow();
}

void AppDelegate::prepareWiFiUnsecured_EarlyDetection() {
    std::weak_ptr<bool> alive = alive_;
    services_.watchInsecureWiFi(model().reachabilityDomainName, [this, alive] {
        if (!alive.expired()) showWiFiInsecureNotification_beforeLogin();
    });
}

void AppDelegate::showWiFiInsecureNotification_beforeLogin() {
    log::info(kLog, "!!! === showWiFiInsecureNotification");
    if (!model().isLoggedInUser) userNotificationHelper_->showInsecureWiFiNotLoggedInNotification();
}

void AppDelegate::showWiFiInsecureNotification() { windows_.main->showWiFiInsecureNotification(); }
void AppDelegate::showConnectedToWiFiNotification() { windows_.main->showConnectedToWiFiNotification(); }

void AppDelegate::showAppUpgratePopup() {
    if (env_.isEnterpriseVersion) return;
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(4000, [this, alive] {
        if (!alive.expired()) windows_.main->showUpdateAvailableNotificationBar();
    });
}

void AppDelegate::sendAnalyticsEvent(const std::string& name, const std::optional<AnalyticsParameters>& parameters) {
    services_.sendAnalyticsEvent(name, parameters);
}

bool AppDelegate::openURL(const std::string& url) { return env_.openURL && env_.openURL(url); }

}  // namespace hw
