// The application's launch, shared by both editions: main_standard.cpp and
// main_enterprise.cpp hand it their enterprise ports, or none.
#include <malloc.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// The engine first: it uses names that Qt defines as macros.
#include "connection/system_vpn_service_helper.h"
#include "connection/vpn_connection_manager_engine.h"
#include "services/helper_tool/helper_tool_manager.h"

#include "app/havenway_main.h"

#include "app/app_auto_load_on_startup_helper.h"
#include "app/app_delegate.h"
#include "app/discarded_output.h"
#include "app/auth_window_port_adapter.h"
#include "app/auto_update_window_factory.h"
#include "app/default_mail_client.h"
#include "app/hidden_window_release.h"
#include "app/hub_shell_services.h"
#include "app/kit_shell_alerts.h"
#include "app/locations_window_port_adapter.h"
#include "app/logging_user_notification_center.h"
#include "app/main_window_port_adapter.h"
#include "windows/main/widgets/main_window_widget.h"
#include "app/qt_status_item.h"
#include "app/settings_window_port_adapter.h"
#include "app/sign_up_window_port_adapter.h"
#include "app/welcome_window_port_adapter.h"
#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "havenway/build_config.h"
#include "hub/default_service_layer_factory.h"
#include "platform/file_secret_store.h"
#include "platform/helper_installer.h"
#include "platform/helper_job_table.h"
#include "platform/json_settings_store.h"
#include "platform/linux_system_info.h"
#include "platform/log.h"
#include "platform/memory_trim.h"
#include "platform/netlink_route_watch.h"
#include "platform/network_module.h"
#include "platform/paths.h"
#include "platform/posix_process_launcher.h"
#include "platform/posix_process_runner.h"
#include "platform/qt/dbus_user_notification_center.h"
#include "platform/qt/logind_sleep_watch.h"
#include "platform/qt/nm_wifi.h"
#include "platform/qt/qt_image_codec.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/qt/qt_signal_watch.h"
#include "platform/qt/qt_single_instance.h"
#include "platform/qt/qt_url_opener.h"
#include "platform/qt/secret_service_probe.h"
#include "platform/qt/secret_service_watch.h"
#include "platform/route_watch_resolver.h"
#include "platform/secret_store_factory.h"
#include "platform/secret_store_queue.h"
#include "platform/system_clock.h"
#include "platform/thread_pool.h"
#include "platform/xdg_login_items.h"
#include "services/analytics_service.h"
#include "services/analytics_service.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "view/font_warm_up.h"
#include "view/havenway_application.h"
#include "view/user_defaults_controller.h"
#include "windows/shared/remote_image_loader.h"

#include <QEvent>
#include <QShortcut>
#include <QWidget>

#include "app/last_window_close_guard.h"
#include "windows/locations/widgets/locations_list_window_widget.h"

namespace {

struct Options {
    bool hidden = false;
    // The install script started this version again after refusing an archive.
    bool updateRefused = false;
    std::optional<std::string> url;
};

Options readOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--hidden") o.hidden = true;
        else if (a == "--update-refused") o.updateRefused = true;
        else if (a.rfind("havenway:", 0) == 0) o.url = a;
    }
    return o;
}

std::string ownPath() {
    const std::string self = hw::paths::executable();
    return self.empty() ? std::string("havenway") : self;
}

std::string bundledHelper() {
    const char* v = std::getenv("HAVENWAY_BUNDLED_HELPER");
    return v && *v == '/' ? v : "/usr/libexec/havenway/havenway-helper";
}

// A window shown or hidden ends a burst of allocations (the launch, the
// main window after the sign-in): the heap is trimmed once it is quiet.
class TrimAfterWindows final : public QObject {
public:
    TrimAfterWindows(hw::MemoryTrim& trim, hw::HiddenWindowRelease& hidden) : trim_(trim), hidden_(hidden) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            if (type == QEvent::Hide) hidden_.hidden(static_cast<QWidget*>(watched));
            trim_.afterBurst();
        }
        return false;
    }

private:
    hw::MemoryTrim& trim_;
    hw::HiddenWindowRelease& hidden_;
};

std::string userName() {
    const char* v = std::getenv("USER");
    return v && *v ? v : std::to_string(::getuid());
}

}  // namespace

int hw::runHavenway(int argc, char** argv, const EnterpriseEdition* enterprise) {
    using namespace hw;
    // Before any thread: the workers share the main arena, not one each.
    limitMallocArenas(1);
    if (GlobalConstants::isEnterpriseVersion != (enterprise != nullptr)) {
        std::fprintf(stderr, "havenway: the executable links the libraries of another edition\n");
        return 1;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("havenway %s\n", HW_VERSION);
        return 0;
    }
    const Options options = readOptions(argc, argv);
    // Started with its output discarded (as the update's restart starts it),
    // it keeps that output in its log folder: nothing else would say why a
    // start failed.
    keepDiscardedOutput(paths::logsDir());

    // One copy per user: a later start hands its request over before it
    // touches the display, the settings or the helper.
    auto instance = QtSingleInstance::start(options.url);
    if (instance.outcome == QtSingleInstance::Outcome::Forwarded) return 0;
    if (instance.outcome == QtSingleInstance::Outcome::Failed) {
        std::fprintf(stderr, "havenway: %s\n", instance.why.c_str());
        return 1;
    }

    // Read while the application object is made, which takes longer.
    std::jthread fonts = warmUpFontConfiguration();
    // Chosen once the first window is up and the bus has answered, or at the
    // first secret if sooner (on the store's own thread, never this one).
    std::shared_ptr<BackgroundChosenSecretStore> secrets = makeSecretStoreInBackground([] { return askSecretService(); });
    if (enterprise && enterprise->prepareProcess) enterprise->prepareProcess();
    HavenwayApplication app(argc, argv);
    std::jthread fontList = warmUpFontDatabase();
    if (std::string why; !instance.primary->listen(&why)) {
        std::fprintf(stderr, "havenway: %s\n", why.c_str());
        return 1;
    }
    QtMainQueue queue;
    JsonSettingsStore store;
    store.registerDefaults(SettingsUserDefaults::defaults());
    // The account's, the session token's and the identifier's store calls,
    // off this thread; a sign-out's removals outlast a quit or a crash.
    SecretStoreQueue secretsQueue(secrets, queue);
    secretsQueue.keepRemovalsIn(store);
    // The file's copy of the account, for a keychain that errs or is late.
    SecretStoreQueue fileSecretsQueue(std::make_shared<FileSecretStore>(), queue);
    fileSecretsQueue.keepRemovalsIn(store, SecretStoreQueue::kFilePendingRemovalsKey);
    // Unused while the backend client has the queue; bounded where it is used.
    QueuedSecretStore parseSecrets(secretsQueue, 5000);
    // Windows still hidden once quiet give their backing stores back first.
    HiddenWindowRelease hiddenWindows;
    MemoryTrim memoryTrim(queue, 2000, [&hiddenWindows] {
        hiddenWindows.release();
        ::malloc_trim(0);
    });
    TrimAfterWindows trimAfterWindows(memoryTrim, hiddenWindows);
    app.installEventFilter(&trimAfterWindows);
    ThreadPool background;
    SystemClock clock;
    LateHttpClient http(queue);
    LinuxSystemInfo system;
    QtImageCodec codec;
    // Made before the client, so it outlives every reply the client hands it.
    ThreadPool pageWork(3);
    std::string error;
    if (!paths::ensurePrivateDir(paths::dataDir(), &error)) log::warning("havenway", "data folder: " + error);
    ParseClient parse(ParseClientConfig{GlobalConstants::parseApplicationId, GlobalConstants::parseClientKey,
                                        GlobalConstants::parseServerURL(), GlobalConstants::keychainServiceName,
                                        paths::dataDir() + "/datastore.sqlite", "", 60000},
                      http, queue, parseSecrets, store, &secretsQueue);
    // The stored locations are read, parsed and written here: thousands of
    // them would hold the first window back.
    ThreadPool datastoreWork(1);
    parse.setDatastoreQueue(&datastoreWork);
    // The pages of thousands of locations are decoded here, side by side, not on this thread.
    parse.setDecodeQueue(&pageWork);
    NetworkManagerWiFi wifi;
    NetlinkRouteWatch routes(queue);
    SystemNameResolver resolver;
    PosixProcessRunner runner;
    HelperTool_XPC_Connector& connector = HelperTool_XPC_Connector::shared(queue);
    SystemdHelperJobTable jobs;
    PkexecHelperInstaller installer(runner, background, queue, bundledHelper(), userName());
    AppDelegate* delegate = nullptr;

    auto factory = std::make_shared<DefaultServiceLayerFactory>(
        ServiceLayerPlatform{queue, background, store, *secrets, http, parse, system, codec, &wifi, &routes, &resolver,
                             &secretsQueue, &fileSecretsQueue},
        [&](ServiceLayer& hub) {
            return VPNConnectionEngine::makeManager(VPNConnectionEngineParts{
                queue, background, clock, hub.appModel(), parse, hub.appModel().platform, runner, connector, jobs,
                installer, HW_VERSION, defaultSystemVPNServiceStore(),
                [&delegate](const std::string& m, const std::string& i, std::function<void(int)> done) {
                    if (delegate) delegate->presentHelperInstallAlert(m, i, std::move(done));
                    else done(kAlertFirstButtonReturn);
                },
                [&delegate] {
                    if (delegate) delegate->showAutoReconnectWithNetworkLockNotification();
                }});
        });
    ServiceLayer::installFactory(factory);
    ServiceLayer& hub = ServiceLayer::sharedInstance();

    // A message on the same connection answered means the ones before it
    // were taken: the exit waits for that.
    HelperToolManager flushClient(queue, connector, jobs, installer, runner, HW_VERSION);
    HubShellServices services(hub, parse, queue, [&flushClient](std::function<void()> done) {
        flushClient.execute_XPC_command("closeHelperTool", std::nullopt,
                                        [done = std::move(done)](const std::string&) { done(); });
    });
    KitShellAlerts alerts;
    DBusUserNotificationCenter notifications;
    LogindSleepWatch sleepWatch;
    QtURLOpener opener;
    XdgLoginItems loginItems;
    const std::string self = ownPath();
    // ---- Auto-update ----
    LateFileDownload updateDownload(queue);
    PosixProcessLauncher updateLauncher;
    // ---- end auto-update ----

    auto onQuitKey = [&delegate] {
        if (delegate) delegate->quitKeyPressed();
    };
    UserDefaultsController userDefaults(store);
    // Bound settings wait for the settings window's Apply.
    userDefaults.setAppliesImmediately(false);
    // Every window below is the real one, made when first needed.
    ShellWindows windows;
    // The settings window, made on first use, when the delegate exists.
    windows.makeSettings = [&hub, &userDefaults, &queue, &background, &opener,
                            &delegate]() -> std::unique_ptr<SettingsWindowPort> {
        auto analytics = [&hub](const std::string& name, const std::optional<AnalyticsParameters>& parameters) {
            if (auto service = hub.analyticsService()) service->sendEvent(name, parameters);
        };
        auto window = std::make_unique<SettingsWindowPortAdapter>(
            SettingsWindowAssembly{BaseControllerContext{hub.appModel(), analytics, opener}, userDefaults, queue,
                                   background, hub},
            *delegate);
        auto* shortcut = new QShortcut(QKeySequence::Quit, &window->widget());
        QObject::connect(shortcut, &QShortcut::activated, &window->widget(), [&delegate] {
            if (delegate) delegate->quitKeyPressed();
        });
        return window;
    };
    AuthWindowPortAdapter* authWindow = nullptr;
    {
        auto analytics = [&hub](const std::string& name, const std::optional<AnalyticsParameters>& parameters) {
            if (auto service = hub.analyticsService()) service->sendEvent(name, parameters);
        };
        EnterprisePageMaker makePage;
        if (enterprise) {
            ServiceLayerShell shell = hub.shell();
            shell.makeEnterpriseService = [enterprise, &store, &delegate] {
                return enterprise->makeService(store, [&delegate](const std::string& url) {
                    if (delegate) delegate->handleURL(url);
                });
            };
            hub.setShell(std::move(shell));
            makePage = [enterprise, &hub](QWidget* parent) -> QWidget* {
                auto service = hub.enterpriseService();
                return service ? enterprise->preparePage(*service, parent) : nullptr;
            };
            services.setClearEnterpriseCookies([enterprise, &hub] {
                if (auto service = hub.enterpriseService()) enterprise->clearCookies(*service);
            });
        }
        auto made = std::make_unique<AuthWindowPortAdapter>(AuthWindowAssembly{
            BaseControllerContext{hub.appModel(), analytics, opener}, *hub.authService(), *hub.linksManager(), queue,
            enterprise ? hub.enterpriseAuthService().get() : nullptr, &userDefaults, std::move(makePage),
            enterprise != nullptr, hub.freeTrialService().get()});
        made->setQuitHandler(onQuitKey);
        authWindow = made.get();
        windows.auth = std::move(made);
    }
    // --- welcome pages and sign-up window: made on first use, after the shell exists ---
    {
        BaseControllerContext context{hub.appModel(),
                                      [&hub](const std::string& name, const std::optional<AnalyticsParameters>& p) {
                                          if (auto service = hub.analyticsService()) service->sendEvent(name, p);
                                      },
                                      opener};
        windows.makeWelcome = [context, &delegate, onQuitKey]() -> std::unique_ptr<ShellWindowPort> {
            auto made = std::make_unique<WelcomeWindowPortAdapter>(context, *delegate);
            installQuitShortcut(made->widget(), onQuitKey);
            return made;
        };
        windows.makeSignUp = [context, &delegate, &hub, &queue, &userDefaults, &runner, &background,
                              onQuitKey]() -> std::unique_ptr<ShellWindowPort> {
            auto made = std::make_unique<SignUpWindowPortAdapter>(
                context, FreeTrialSignUpDependencies{*hub.freeTrialService(), *hub.authService(), *hub.linksManager(),
                                                     queue, *delegate, &userDefaults, [&runner, &background] {
                                                         background.async([&runner] { launchDefaultMailClient(runner); });
                                                     }});
            installQuitShortcut(made->widget(), onQuitKey);
            return made;
        };
    }
    AppDelegateEnvironment environment{hub, store, queue, services, std::move(windows), alerts, notifications};
    // ---- Locations window ----
    MainWindowPortAdapter* mainAdapter = nullptr;
    auto locationsAdapter = std::make_unique<LocationsWindowPortAdapter>(LocationsWindowAdapterParts{
        hub.appModel(), queue, background, codec, opener,
        [&delegate](const std::string& name, const std::optional<AnalyticsParameters>& parameters) {
            if (delegate) delegate->sendAnalyticsEvent(name, parameters);
        },
        [&mainAdapter]() -> MainWindowViewController* { return mainAdapter ? &mainAdapter->controller() : nullptr; },
        [&delegate] {
            if (delegate) delegate->quitKeyPressed();
        },
        [&mainAdapter]() -> QWidget* { return mainAdapter ? &mainAdapter->widget() : nullptr; }});
    LocationsWindow& locationsWindow = locationsAdapter->locationsWindow();
    LocationsWindowPortAdapter* locationsPort = locationsAdapter.get();
    environment.windows.locations = std::move(locationsAdapter);
    // ---- end locations window ----
    auto mainWindow = std::make_unique<MainWindowPortAdapter>(MainWindowAdapterParts{
        hub, queue, background, codec, clock, notifications, opener,
        [&delegate](const std::string& name, const std::optional<AnalyticsParameters>& parameters) {
            if (delegate) delegate->sendAnalyticsEvent(name, parameters);
        },
        [&delegate]() -> ShellCommands* { return delegate; },
        [&delegate] {
            if (delegate) delegate->quitKeyPressed();
        },
        &locationsWindow});
    mainAdapter = mainWindow.get();
    environment.windows.main = std::move(mainWindow);
    hiddenWindows.setKeeps([&mainAdapter, locationsPort](QWidget* window) {
        return (mainAdapter && window == dynamic_cast<QWidget*>(mainAdapter->windowView())) ||
               (locationsPort->isMade() && window == &locationsPort->widget());
    });
    // --- Tray, menus, notifications ---
    // A start into the tray decides by it before any window; any other start
    // shows its window first.
    QtStatusItem statusItem(nullptr, options.hidden ? QtStatusItem::Settle::Now : QtStatusItem::Settle::Later);
    RemoteImageLoader flags(queue, background, codec);
    environment.statusItem = &statusItem;
    environment.statusItemShown = [&statusItem] { return statusItem.isShown(); };
    environment.loadFlag = [&flags](const ParseFilePtr& file, std::function<void(ImagePtr)> reply) {
        // A cached flag answers at once: a long list does not flicker in.
        if (file) {
            if (ImagePtr hit = flags.cached(RemoteImageLoader::keyOf(*file))) return reply(std::move(hit));
        }
        flags.load(file, std::move(reply));
    };
    std::mt19937 randomEngine{std::random_device{}()};
    environment.random = [&randomEngine](int bound) {
        return std::uniform_int_distribution<int>(0, bound - 1)(randomEngine);
    };
    environment.clock = &clock;
    // --- end of the tray's block ---
    environment.sleepWatch = &sleepWatch;
    environment.openURL = [&opener](const std::string& url) { return opener.openURL(url); };
    environment.exitProcess = [](int code) { QCoreApplication::exit(code); };
    environment.makeStartOnOSStartUpHelper = [&loginItems, self] {
        return std::make_shared<AppAutoLoadOnStartupHelper>(loginItems, self);
    };
    environment.arguments.assign(argv, argv + argc);
    environment.handlesURLs = enterprise != nullptr;
    environment.isEnterpriseVersion = enterprise != nullptr;
    environment.alwaysShowWelcomePage = GlobalConstants::alwaysShowWelcomePage;
    environment.hideOnLaunch = options.hidden;
    environment.updateRefused = options.updateRefused;
    environment.exceptionReportPath = paths::dataDir() + "/exception-report.json";
    // ---- Auto-update ----
    environment.makeAutoUpdateWindowController =
        autoUpdateWindowMaker(queue, hub.appModel(), updateDownload, updateLauncher, self);
    // ---- end auto-update ----
    AppDelegate appDelegate(std::move(environment));
    delegate = &appDelegate;
    authWindow->attach(appDelegate);

    // The main window takes its locations window along when it closes.
    LastWindowCloseGuard closeGuard([&appDelegate] { return appDelegate.lastWindowMayClose(); },
                                    [&mainAdapter, locationsPort](QWidget* closing) -> QWidget* {
                                        if (!locationsPort->isMade() || !mainAdapter) return nullptr;
                                        auto* main = dynamic_cast<QWidget*>(mainAdapter->windowView());
                                        return main == closing ? &locationsPort->widget() : nullptr;
                                    });
    app.setExceptionHandler([&appDelegate](const std::exception& e) { appDelegate.handleException(e); });
    QtSignalWatch signalWatch([&appDelegate](int) { appDelegate.terminateWithoutQuestion(); });
    instance.primary->setHandler([&appDelegate](const std::optional<std::string>& url) {
        if (url) appDelegate.handleURLEvent(url);
        else appDelegate.applicationShouldHandleReopen(appDelegate.hasVisibleWindows());
    });

    appDelegate.applicationWillFinishLaunching();
    appDelegate.applicationDidFinishLaunching();
    if (options.url) appDelegate.handleURLEvent(options.url);
    // The bus is asked without blocking; the choice, and the move of the
    // file's items, run on a thread of their own.
    // A keyring unlocked later is read again for an account it could not give.
    std::unique_ptr<SecretServiceWatch> keyringWatch;
    queue.post([secrets, &keyringWatch, &hub] {
        keyringWatch = std::make_unique<SecretServiceWatch>(QDBusConnection::sessionBus(), [&hub] {
            if (auto auth = hub.authService()) auth->keychainChanged();
        });
        if (secretStoreForced()) return secrets->begin();
        askSecretServiceLater(QDBusConnection::sessionBus(), 10000,
                              [secrets](SecretServiceAnswer answer) { secrets->begin(std::move(answer)); });
    });
    queue.post([&statusItem] { statusItem.settle(); });
    const int code = app.exec();
    delegate = nullptr;
    // A sign-out's removals still queued get a bounded while; the rest wait for the next start.
    fileSecretsQueue.finish(1000);
    secretsQueue.finish(3000);
    connector.shutDown();
    return code;
}
