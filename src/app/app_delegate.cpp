#include "app/app_delegate.h"

#include "app/app_auto_load_on_startup_helper.h"
#include "app/version_object.h"
#include "core/settings_user_defaults.h"
#include "core/try_catch_finally.h"
#include "platform/backend/parse_client.h"
#include "platform/log.h"
#include "platform/system_clock.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}  // namespace

AppDelegate::AppDelegate(AppDelegateEnvironment environment)
    : hub_(environment.hub),
      store_(environment.store),
      queue_(environment.mainQueue),
      services_(environment.services),
      windows_(std::move(environment.windows)),
      alerts_(environment.alerts),
      notifications_(environment.notifications),
      env_(std::move(environment)),
      statusBarIconAnimator_(queue_) {
    static const SystemClock systemClock;
    menuBarMenuController_ = std::make_unique<MenuBarMenuController>(model(), *this, env_.loadFlag, queue_);
    userNotificationHelper_ = std::make_unique<UserNotificationHelper>(
        notifications_, queue_, env_.clock ? *env_.clock : static_cast<const Clock&>(systemClock), model());
    setReporter([this](const std::string& stack, const std::string& type) {
        services_.sendExceptionReport(stack, type);
    });
}

AppDelegate::~AppDelegate() {
    // The state object outlives the delegate; it must not call back into it.
    ApplicationModelPorts ports = model().ports();
    if (ports.shell == this) {
        ports.shell = nullptr;
        model().setPorts(ports);
    }
    if (hub_.shell().appDelegate == this) hub_.setShell({});
    model().onCurrentConnectionStateUpdated = nullptr;
    statusBarIconAnimator_.stop();
    statusBarIconAnimator_.delegate = nullptr;
    stopSheduleNextSmartWidgetUpdateTimer();
    notifications_.setActivationHandler(nullptr);
    if (env_.statusItem) {
        env_.statusItem->onActivated = nullptr;
        env_.statusItem->onLost = nullptr;
        env_.statusItem->onShown = nullptr;
    }
    model().startOnOsStartupNotification = nullptr;
    hub_.onInternetReachabilityCheckFinished = nullptr;
}

void AppDelegate::guarded(std::function<void()> block) {
    TryCatchFinally(std::move(block)).onCatch([this](const std::exception& e) { handleException(e); }).run();
}

void AppDelegate::applicationWillFinishLaunching() {
    // URLs arrive through the single instance; nothing to register.
}

void AppDelegate::applicationDidFinishLaunching() {
    if (launched_) return;
    launched_ = true;
    if (!env_.exceptionReportPath.empty()) initUncaughtExceptionsHandling(env_.exceptionReportPath);
    wrapMainProcessingWithExceptionHandling([this] {
        initializeUserDefaults();
        checkForDuplicatedInstances();
        setupViewLayerCallbacks();
        createMenuBar();
        hub_.prepareApplication();
        services_.prepareConnectionManager();
        // The old application comes back where the user left it.
        if (env_.updateRefused) restoreMainWindowPlace();
        prepareUI();
        if (env_.updateRefused) tellUpdateWasRefused();
        initParse();
        saveAppLaunchParameters();
        preloadParseConfigAndCheckInternetReachabiltity();
        services_.trackAppOpened();
        subscribeToSleepWakeNotifications();
        prepareDirectoryForVPNLogger();
        std::weak_ptr<bool> alive = alive_;
        notifications_.setActivationHandler(
            [this, alive](const UserNotificationCenter::Notification& n, UserNotificationCenter::Activation a) {
                if (!alive.expired()) userNotificationCenterDidActivate(n, a);
            });
        // The backend client is ready now: an earlier run's fatal exception
        // can be reported.
        sendStoredExceptionReport();
    });
}

void AppDelegate::initializeUserDefaults() {
    store_.registerDefaults(SettingsUserDefaults::defaults());
    settingsAppliesImmediately_ = false;
}

void AppDelegate::checkForDuplicatedInstances() {
    // The single-instance lock was taken before the delegate was made: a later
    // start hands its request over and exits before this point.
    log::info(kLog, "1");
}

void AppDelegate::setupViewLayerCallbacks() {
    ServiceLayerShell shell = hub_.shell();
    shell.appDelegate = this;
    shell.compareIfVersionIsLowerThanWithAnotherVersion = isInstalledVersionLower;
    if (env_.makeStartOnOSStartUpHelper) shell.makeStartOnOSStartUpHelper = env_.makeStartOnOSStartUpHelper;
    hub_.setShell(std::move(shell));
    // Keeps what the hub and the engine set.
    ApplicationModelPorts ports = model().ports();
    ports.shell = this;
    model().setPorts(ports);

    hub_.onInternetReachabilityCheckFinished = [this](bool reachable) {
        if (!reachable) windows_.auth->showInternetConnectionIsUnavailableNotification();
    };
    model().onCurrentConnectionStateUpdated = [this](ConnectionStates state) { updateMenuBarStatusIcon(state); };
    // The XDG autostart entry follows the setting.
    model().startOnOsStartupNotification = [this](bool value) {
        auto helper = hub_.startOnOSStartUpHelper();
        if (!helper) {
            log::warning(kLog, "no start-at-login helper");
            return;
        }
        if (helper->isLaunchAtStartup() != value) helper->toggleLaunchAtStartup();
    };
}


void AppDelegate::prepareUI() {
    const bool showWelcome = store_.boolForKey(SettingsUserDefaults::showWelcomePage);
    // A start from the login items stays off the screen, whatever the setting,
    // until the user asks for a window (which clears it).
    if (env_.hideOnLaunch) model().startMinimized = true;
    // Started minimised (by the login items or the setting), it lives in the
    // tray until then, whose menu offers to open it; a tray that comes later
    // does the same (onTrayShown).
    if (model().startMinimized && env_.statusItemShown && env_.statusItemShown()) changeAppToBeUserAgent();
    if (!env_.isEnterpriseVersion && (showWelcome || env_.alwaysShowWelcomePage)) showWelcomeWindow();
    else prepareLoginWindow();
    if (model().startMinimized) showWindowUnlessATrayAppears();
}

void AppDelegate::showWindowUnlessATrayAppears() {
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(kTrayHostWaitMs, [this, alive] {
        // Asked for a window meanwhile, or quitting: nothing to do.
        if (alive.expired() || terminating_ || !model().startMinimized) return;
        if (env_.statusItemShown && env_.statusItemShown()) return;
        log::warning(kLog, "no tray host appeared within " + std::to_string(kTrayHostWaitMs / 1000) +
                               " s: the window shows, as nothing else would lead back to the application");
        guarded([this] { changeAppToBeNormalApp(); });
    });
}

void AppDelegate::showWelcomeWindow() {
    ShellWindowPort* welcome = welcomeWindowController();
    if (!welcome) return;
    if (model().startMinimized) welcome->orderOut();
    else welcome->showWindow();
    currentWindowController_ = welcome;
}

void AppDelegate::hideWelcomeWindow() {
    if (welcomeWindowController_) welcomeWindowController_->close();
}

void AppDelegate::prepareLoginWindow() {
    // The stored account comes from the keychain off this thread, which may
    // take any while (an unlock prompt, a silent service): the window shows
    // at once, saying so while an account is remembered, and the account
    // fills it (and signs in) once it comes, unless the user began something.
    openAuthWindow();
    const bool remembered = store_.stringForKey(ParseClient::kCurrentUserKey).has_value();
    if (remembered) windows_.auth->setRestoringAccount(true);
    std::weak_ptr<bool> alive = alive_;
    services_.restoreLoginData([this, alive, remembered](std::optional<LoginData> data) {
        if (alive.expired() || terminating_) return;
        windows_.auth->setRestoringAccount(false);
        if (currentWindowController_ != windows_.auth.get() || windows_.auth->userHasActed()) return;
        if (!data) {
            // A keyring that answered it holds none is no failure: nothing to say.
            const std::string why = remembered ? services_.restoreFailure() : std::string();
            if (!why.empty()) windows_.auth->showAccountNotRestored(why);
            return;
        }
        guarded([this] {
            windows_.auth->setPendingLoginData(model().recentLoginData());
            windows_.auth->setupAfterOpening();
        });
    });
}

void AppDelegate::skipWelcomePage() {
    store_.set(SettingsUserDefaults::showWelcomePage, false);
    store_.synchronize();
    hideWelcomeWindow();
    prepareLoginWindow();
}

void AppDelegate::initParse() {
    log::info(kLog, "initParse() executed");
    services_.initParse();
}

void AppDelegate::saveAppLaunchParameters() {
    if (!model().appLaunchedFirstTime()) {
        // An application URL carries a one-time sign-in code: never kept.
        StringList kept;
        std::string joined;
        for (const auto& argument : env_.arguments) {
            if (argument.rfind("havenway:", 0) == 0) continue;
            kept.push_back(argument);
            joined += (joined.empty() ? "" : " ") + argument;
        }
        log::info(kLog, "Saved cli launch parameters on first app start: " + joined);
        model().setAppLaunchParameters(SettingValue(std::move(kept)));
        model().isFirstTimeLaunch = true;
    }
    model().setAppLaunchedFirstTime(true);
}

void AppDelegate::preloadParseConfigAndCheckInternetReachabiltity() {
    log::info(kLog, "preloadParseConfigAndCheckInternetReachabiltity() started");
    // A tunnel the last run left up (a crash) is taken over, whatever the
    // protocol chosen now; an openvpn that is not is ended when this run may
    // start its own.
    services_.adoptOrEndLeftoverTunnel(model().vpnProtocol == VPNTypesAutomatic ||
                                       model().vpnProtocol == VPNTypesOpenVPN);
    // A lock still in force here was left by a run that ended without
    // releasing it (a crash): with the kill switch chosen it stays until the
    // user disconnects or switches it off, so nothing leaks meanwhile.
    if (model().useNetworkLock()) services_.keepNetworkLockLeftFromEarlierRun();
    if (services_.parseConfigNeedsFetch()) {
        hub_.checkInternetConnectionReachability();
        // The update offer waits for the sign-in's own configuration load.
        hub_.loadParseConfig(
            true, [] { log::info(kLog, "parseConfig loaded"); },
            [](const std::optional<std::string>& error) { log::warning(kLog, error.value_or("unknown error")); });
    } else {
        std::weak_ptr<bool> alive = alive_;
        services_.applyCachedParseConfig([this, alive] {
            if (alive.expired()) return;
            log::info(kLog, "parseConfig loaded");
            hub_.checkInternetConnectionReachability();
        });
    }
}

void AppDelegate::subscribeToSleepWakeNotifications() {
    std::weak_ptr<bool> alive = alive_;
    auto whileAlive = [alive](auto f) {
        return [alive, f] {
            if (!alive.expired()) f();
        };
    };
    SleepWatch::Handlers handlers{whileAlive([this] { onAppIsAboutToEnterSleepMode(); }),
                                  whileAlive([this] { onAppIsAboutToAwakeFromSleepMode(); }),
                                  whileAlive([this] { terminateWithoutQuestion(); })};
    if (!env_.sleepWatch || !env_.sleepWatch->subscribe(std::move(handlers)))
        log::warning(kLog, "no system bus: sleep, wake and shutdown are not watched");
}

void AppDelegate::onAppIsAboutToEnterSleepMode() {
    log::info(kLog, "onAppIsAboutToEnterSleepMode()");
    services_.onDeviceWillSleep();
}

void AppDelegate::onAppIsAboutToAwakeFromSleepMode() {
    log::info(kLog, "onAppIsAboutToAwakeFromSleepMode()");
    services_.onDeviceDidWake();
}

void AppDelegate::presentHelperInstallAlert(const std::string& messageText, const std::string& informativeText,
                                            std::function<void(int response)> completion) {
    alerts_.present(currentWindowController_, ShellAlert{messageText, informativeText, "OK", ""},
                    std::move(completion));
}

// --- what the state object and the hub ask ---

void AppDelegate::prepareEnterpriseVersionUI() { log::info(kLog, "prepareEnterpriseVersionUI"); }
void AppDelegate::updateMainViewMapImage() { windows_.main->updateMainViewMapImage(); }
DetailsPanePort* AppDelegate::mainViewDetailsController() { return windows_.main->detailsController(); }

}  // namespace hw
