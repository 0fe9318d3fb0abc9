#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/exception_handling_object.h"
#include "app/menu_bar_menu_controller.h"
#include "app/shell_services.h"
#include "app/shell_window_ports.h"
#include "app/status_item_view.h"
#include "app/user_notification_helper.h"
#include "core/application_model_ports.h"
#include "hub/service_layer.h"
#include "platform/sleep_watch.h"
#include "platform/user_notification_center.h"
#include "view/interval_animator.h"
#include "windows/shared/shell_commands.h"
#include "windows/update/auto_update_window_controller.h"

namespace hw {

class AppAutoLoadOnStartupHelper;

// What the delegate is built on. Each reference must outlive it.
struct AppDelegateEnvironment {
    ServiceLayer& hub;
    SettingsStore& store;
    MainQueue& mainQueue;
    ShellServices& services;
    ShellWindows windows;
    ShellAlertPresenter& alerts;
    UserNotificationCenter& notifications;
    // None: no sleep, wake or shutdown events (logged).
    SleepWatch* sleepWatch = nullptr;
    // Opens a link in the user's browser or mail program.
    std::function<bool(const std::string& url)> openURL{};
    // Ends the event loop with the exit code.
    std::function<void(int code)> exitProcess{};
    // Whether a status-bar item shows; without one the application cannot
    // go to the background. None: no item.
    std::function<bool()> statusItemShown{};
    std::function<std::shared_ptr<AppAutoLoadOnStartupHelper>()> makeStartOnOSStartUpHelper{};
    // The process arguments, stored on the first start.
    std::vector<std::string> arguments{};
    // Whether application URLs are handled (enterprise builds).
    bool handlesURLs = false;
    bool isEnterpriseVersion = false;
    bool alwaysShowWelcomePage = false;
    // Started from the login items: the first window stays off the screen.
    bool hideOnLaunch = false;
    // Started again after the install script refused an update archive.
    bool updateRefused = false;
    // Where a report of an exception that ends the process is kept.
    std::string exceptionReportPath{};

    // ---- Auto-update ----
    // Makes the update window's controller on first use.
    std::function<std::unique_ptr<AutoUpdateWindowController>(AutoUpdateShell& shell)> makeAutoUpdateWindowController{};
    // ---- end auto-update ----
    // --- Tray, menus, notifications and data loading ---
    // None: no status item (logged).
    StatusItemView* statusItem = nullptr;
    MenuFlagLoader loadFlag{};
    // A whole number from 0 to bound - 1; none: always 0.
    std::function<int(int bound)> random{};
    // None: the system's clock.
    const Clock* clock = nullptr;
    // --- end of the tray's block ---
};

// The application's delegate: the launch sequence, the windows, the shell's
// commands, the application URL, sleep and wake, and quitting. Plain C++ on
// ports; main thread only.
class AppDelegate final : public ExceptionHandlingObject,
                          public ShellCommands,
                          public AutoUpdateShell,
                          public ApplicationDelegatePort,
                          public ApplicationShellPort,
                          public MenuBarMenuCommands,
                          public IntervalAnimatorDelegate {
public:
    explicit AppDelegate(AppDelegateEnvironment environment);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Launch (app_delegate.cpp).
    void applicationWillFinishLaunching();
    // Runs the launch body once.
    void applicationDidFinishLaunching();
    void initializeUserDefaults();
    void checkForDuplicatedInstances();
    void setupViewLayerCallbacks();
    void createMenuBar();
    void prepareUI();
    void showWelcomeWindow();
    void hideWelcomeWindow();
    void prepareLoginWindow();
    void initParse();
    void saveAppLaunchParameters();
    void preloadParseConfigAndCheckInternetReachabiltity();
    void subscribeToSleepWakeNotifications();
    void onAppIsAboutToEnterSleepMode();
    void onAppIsAboutToAwakeFromSleepMode();
    // The engine's helper-installation alert: a sheet on the current window,
    // application-modal without one.
    void presentHelperInstallAlert(const std::string& messageText, const std::string& informativeText,
                                   std::function<void(int response)> completion);

    // Windows (app_delegate_windows.cpp).
    void prepareWindowController(ShellWindowPort& window);
    void onWindowIsAboutToBeClosedNotification(ShellWindowPort* window);
    ShellWindowPort* currentWindowController() const { return currentWindowController_; }
    ShellWindowPort* welcomeWindowController();
    SettingsWindowPort* settingsWindowController();
    ShellWindowPort* freeTrialSignUpWindowController();
    AuthWindowPort& authWindowController() { return *windows_.auth; }
    MainWindowPort& mainWindowController() { return *windows_.main; }
    ShellWindowPort& locationsWindowController() { return *windows_.locations; }
    bool settingsAppliesImmediately() const { return settingsAppliesImmediately_; }

    // ShellCommands.
    void skipWelcomePage() override;
    void openAuthWindow() override;
    void openAuthWindowToLogIn() override;
    void hideAuthWindow() override;
    void openMainWindow() override;
    void hideMainWindow() override;
    void openLocationsWindow() override;
    void hideLocationsWindow() override;
    void openSettingsWindow(bool setupComponentsAgain = false) override;
    void openSettingsWindowOnProtocol() override;
    void closeSettingsWindow() override;
    void openSettingsWindowOnPane(const std::string& paneIdentifier) override;
    void openFreeTrialSignUpWindow() override;
    void hideFreeTrialSignUpWindow() override;
    void createNewAccountForAppStoreCommand() override;
    void updateCreateNewAccountLink() override;
    void performConnectCommand() override;
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) override;
    void performLogIn() override;
    void performLogout() override;
    void disableStartMinimized() override;
    void prepareWiFiUnsecured_EarlyDetection() override;
    void showWiFiInsecureNotification_beforeLogin() override;
    void showWiFiInsecureNotification() override;
    void showConnectedToWiFiNotification() override;
    void showConnectionErrorNotification() override;
    void showAppUpgratePopup() override;
    void sendAnalyticsEvent(const std::string& name,
                            const std::optional<AnalyticsParameters>& parameters = std::nullopt) override;
    bool openURL(const std::string& url) override;
    void handleURL(const std::string& url) override;
    void quitApplicationRequested() override;
    void performQuitApplicationFromStatusBar() override;
    void changeAppToBeUserAgent() override;
    void changeAppToBeNormalApp() override;

    // URLs, reopen, quit and process mode (app_delegate_quit.cpp).
    // A URL given to the application (from a later start or the system).
    void handleURLEvent(const std::optional<std::string>& url);
    static std::optional<std::string> getCodeValueFromURL(const std::string& url);
    // A later start asked for the application (the launcher clicked again).
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    bool hasVisibleWindows() const;
    // What the reopen shows: the current window, the main one for settings;
    // ends a hidden start.
    void showCurrentWindow();
    // The keyboard quit.
    void quitKeyPressed();
    // A quit from the outside (a signal, the session ending): clean-up and
    // exit without a question.
    void terminateWithoutQuestion();
    void showQuitApplicationConfirmationPopup();
    // The user closes a window and no other would stay on screen: false
    // keeps it open. Without a tray item that close would leave nothing to
    // reach the application by, so the quit question comes instead.
    bool lastWindowMayClose();
    // How long a start off the screen waits for a tray before it shows its window.
    static constexpr int kTrayHostWaitMs = 3000;
    // True: terminate now.
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    bool MakeAppForeground();
    bool MakeAppBackground();
    void addAppModeChangeNotification(std::function<void()> subscriber) override;
    void clearAppModeChangeNotifications() override;
    void notifyAppModeChangeSubscribers();
    bool confirQuitApplicationPopupShown() const { return confirQuitApplicationPopupShown_; }
    bool quitAppInitiatedFromStatusBar() const { return quitAppInitiatedFromStatusBar_; }
    bool terminating() const { return terminating_; }

    // ApplicationDelegatePort.
    void prepareEnterpriseVersionUI() override;
    // ApplicationShellPort.
    bool skipIsAppInUserAgentModeDidSetProcessing() const override { return skipIsAppInUserAgentModeDidSetProcessing_; }
    void setSkipIsAppInUserAgentModeDidSetProcessing(bool value) { skipIsAppInUserAgentModeDidSetProcessing_ = value; }
    void stopSheduleNextSmartWidgetUpdateTimer() override;
    void loadSmartWidgetData() override;
    void updateMainViewMapImage() override;
    DetailsPanePort* mainViewDetailsController() override;

    // ---- Auto-update (app_delegate_auto_update.cpp) ----
    // Made on first use; none when the environment makes none.
    AutoUpdateWindowController* autoUpdateWindowController();
    void startAutoUpdater(WindowView& parent) override;
    // Started again by the install script after it refused the archive: the
    // user hears that the update did not happen.
    void tellUpdateWasRefused();
    // AutoUpdateShell.
    bool connectButtonIsInDisconnectOrEmptyState() override;
    void performIntentionalDisconnect() override;
    // ---- end auto-update ----
    // --- Main window (app_delegate_main_window.cpp) ---
    void showInsecureWiFiNotification() override;
    void showInsecureWiFiNotLoggedInNotification() override;
    // --- end of the main window's block ---
    // --- Login window (app_delegate_login.cpp) ---
    void onLoginSuccess() override;
    void onLoginFailed() override;

    // --- Tray, menus, notifications and data loading ---
    // (app_delegate_data.cpp)
    void loadApplicationData();
    void onApplicationDataLoaded();
    void setupMenuBarMenu();
    void onDataLoaded_postProcessing();
    void syncAccountAnd_loadSmartWidgetData();
    void sheduleNextSmartWidgetUpdate();
    // Asks the server for its notification bars and hands them to the main window.
    void loadNotificationBars();
    bool hasSmartWidgetScheduleUpdateTimer() const { return smartWidgetScheduleUpdateTimer_ != nullptr; }
    // (app_delegate_tray.cpp)
    void updateMenuBarStatusIcon(ConnectionStates state);
    void updateMenuBarStatusIcon(const std::string& imageName);
    void animateConnectingStatusBarIcon();
    void stopStatusBarIconAnimation();
    void onIntervalAnimatorUpdate(IntervalAnimator& animator, int frame) override;
    void onInternetNotReachable_menus();
    void performSignInCommand() override;
    void onInternetReachable_menus();
    void changeAppToBeInNormalModeCommand() { changeAppToBeNormalApp(); }
    void activateAppNormalMode() { changeAppToBeNormalApp(); }
    const MenuPtr& statusItemMenu() const { return statusItemMenu_; }
    const MenuPtr& currentDockMenu() const { return currentDockMenu_; }
    const MenuPtr& applicationDockMenu() const { return currentDockMenu_; }
    MenuBarMenuController& menuBarMenuController() { return *menuBarMenuController_; }
    const std::string& statusIconName() const { return statusIconName_; }
    // (app_delegate_notifications.cpp)
    UserNotificationHelper& userNotificationHelper() { return *userNotificationHelper_; }
    void userNotificationCenterDidActivate(const UserNotificationCenter::Notification& notification,
                                           UserNotificationCenter::Activation activation);
    void showConnectedNotification(const std::string& locationName) override;
    void showDisconnectedNotification(const std::string& locationName) override;
    void showAutoReconnectWithNetworkLockNotification() override;
    void showAutoReconnectWithoutNetworkLockNotification() override;
    // --- end of the tray's block ---

    // --- Details pane (app_delegate_details_pane.cpp) ---
    void showVPNConnectedNotification(const std::string& locationName) override;
    void showVPNDisconnectedNotification(const std::string& locationName) override;
    void showAutoReconnectNotification(bool withNetworkLock, bool hadConnected) override;
    void withdrawAutoReconnectNotification() override;
    // --- end of the details pane's block ---

private:
    void terminate();
    // Runs a shell entry; an exception goes to the shell's handler.
    void guarded(std::function<void()> block);
    ApplicationModel& model() { return hub_.appModel(); }
    // Shows the window, or keeps it off screen while starting minimised.
    void present(ShellWindowPort& window);
    void finishTermination();
    // Every window made so far.
    std::vector<ShellWindowPort*> allWindows() const;
    // A start off the screen with no tray to come back by shows its window.
    void showWindowUnlessATrayAppears();
    void onTrayLost();
    void onTrayShown();
    void liveInTheTray();
    // The main window's place at the quit, taken back by a start after a
    // refused update (app_delegate_windows.cpp).
    void rememberMainWindowPlace();
    void restoreMainWindowPlace();

    ServiceLayer& hub_;
    SettingsStore& store_;
    MainQueue& queue_;
    ShellServices& services_;
    ShellWindows windows_;
    ShellAlertPresenter& alerts_;
    UserNotificationCenter& notifications_;
    AppDelegateEnvironment env_;

    std::unique_ptr<ShellWindowPort> welcomeWindowController_;
    std::unique_ptr<SettingsWindowPort> settingsWindowController_;
    std::unique_ptr<ShellWindowPort> freeTrialSignUpWindowController_;
    ShellWindowPort* currentWindowController_ = nullptr;
    // Windows hidden by the switch to the background, shown again by the
    // switch back.
    std::vector<ShellWindowPort*> hiddenForBackground_;
    // The window opened off the screen (its opening steps ran there, the
    // automatic sign-in's among them): shown later, it stays as they left it.
    ShellWindowPort* openedOffScreen_ = nullptr;
    std::vector<std::function<void()>> appModeChangeNotification_;

    bool launched_ = false;
    bool skipIsAppInUserAgentModeDidSetProcessing_ = false;
    bool confirQuitApplicationPopupShown_ = false;
    bool quitAppInitiatedFromStatusBar_ = false;
    bool settingsAppliesImmediately_ = true;
    bool terminating_ = false;
    bool exited_ = false;
    // --- Tray, menus, notifications and data loading ---
    // Whether a banner's connect may start a connection now.
    bool connectButtonOffersConnect();
    std::unique_ptr<MenuBarMenuController> menuBarMenuController_;
    std::unique_ptr<UserNotificationHelper> userNotificationHelper_;
    IntervalAnimator statusBarIconAnimator_;
    MenuPtr statusItemMenu_;
    MenuPtr currentDockMenu_;
    std::string statusIconName_;
    std::unique_ptr<Timer> smartWidgetScheduleUpdateTimer_;
    // --- end of the tray's block ---

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // ---- Auto-update ----
    // Last, so that it goes before the windows it may be a sheet on.
    std::unique_ptr<AutoUpdateWindowController> autoUpdateWindowController_;
    // ---- end auto-update ----
};

}  // namespace hw
