#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/exception_handling_object.h"
#include "app/shell_services.h"
#include "app/shell_window_ports.h"
#include "controllers/shell_commands.h"
#include "core/application_model_ports.h"
#include "hub/service_layer.h"
#include "platform/sleep_watch.h"
#include "platform/user_notification_center.h"

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
    // Where a report of an exception that ends the process is kept.
    std::string exceptionReportPath{};
};

// The application's delegate: the launch sequence, the windows, the shell's
// commands, the application URL, sleep and wake, and quitting. Plain C++ on
// ports; main thread only.
class AppDelegate final : public ExceptionHandlingObject,
                          public ShellCommands,
                          public ApplicationDelegatePort,
                          public ApplicationShellPort {
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
    void hideAuthWindow() override;
    void openMainWindow() override;
    void hideMainWindow() override;
    void openLocationsWindow() override;
    void hideLocationsWindow() override;
    void openSettingsWindow(bool setupComponentsAgain = false) override;
    void closeSettingsWindow() override;
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
    // The keyboard quit.
    void quitKeyPressed();
    // A quit from the outside (a signal, the session ending): clean-up and
    // exit without a question.
    void terminateWithoutQuestion();
    void showQuitApplicationConfirmationPopup();
    // True: terminate now.
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    bool MakeAppForeground();
    bool MakeAppBackground();
    void addAppModeChangeNotification(std::function<void()> subscriber);
    void clearAppModeChangeNotifications();
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

    // --- Login window (app_delegate_login.cpp) ---
    void onLoginSuccess() override;

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
    std::vector<std::function<void()>> appModeChangeNotification_;

    bool launched_ = false;
    bool skipIsAppInUserAgentModeDidSetProcessing_ = false;
    bool confirQuitApplicationPopupShown_ = false;
    bool quitAppInitiatedFromStatusBar_ = false;
    bool settingsAppliesImmediately_ = true;
    bool terminating_ = false;
    bool exited_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
