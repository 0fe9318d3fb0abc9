// The shell's windows on the hub's real services, offscreen: a launch makes the
// window it shows and no other, and what the main window hands the locations
// window before that one exists reaches it when it is first shown.
// The engine's headers come before Qt's, whose emit keyword they use as a name.
#include "connection/vpn_connection_manager_engine.h"
#include "support/fake_system_vpn_service.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "app/app_delegate.h"
#include "app/auth_window_port_adapter.h"
#include "app/locations_window_port_adapter.h"
#include "app/main_window_port_adapter.h"
#include "app/shell_doubles.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "services/locations_list_model.h"
#include "support/fake_helper_install.h"
#include "support/fake_http_client.h"
#include "support/fake_image_codec.h"
#include "support/fake_process_runner.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/fake_user_notification_center.h"
#include "support/manual_queue.h"
#include "support/recording_url_opener.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/widget_test_app.h"
#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/login/widgets/auth_window_widget.h"
#include "windows/main/widgets/main_window_widget.h"

namespace hw::test {
namespace {

template <class Widget>
int made() {
    int n = 0;
    for (QWidget* w : QApplication::allWidgets()) n += qobject_cast<Widget*>(w) != nullptr;
    return n;
}

class LazyWindows : public ::testing::Test, private WidgetAppFirst {
protected:
    LazyWindows() {
        store.registerDefaults(SettingsUserDefaults::defaults());
        factory = std::make_shared<DefaultServiceLayerFactory>(
            ServiceLayerPlatform{queue, queue, store, secrets, http, parse, system, codec, nullptr, nullptr, nullptr},
            [this](ServiceLayer& hub) {
                return VPNConnectionEngine::makeManager(VPNConnectionEngineParts{
                    queue, queue, queue, hub.appModel(), parse, "Linux", runner, connector, jobs, installer, "1.0",
                    std::make_shared<FakeSystemVPNServiceStore>(), nullptr, nullptr});
            });
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
    }
    ~LazyWindows() override {
        delegate.reset();
        hub.reset();
    }
    void launch(bool showWelcome) {
        store.set(SettingsUserDefaults::showWelcomePage, showWelcome);
        ShellWindows windows;
        auto locations = std::make_unique<LocationsWindowPortAdapter>(LocationsWindowAdapterParts{
            hub->appModel(), queue, queue, codec, opener, nullptr, [] { return nullptr; }, nullptr});
        locationsWindow = locations.get();
        windows.locations = std::move(locations);
        windows.main = std::make_unique<MainWindowPortAdapter>(MainWindowAdapterParts{
            *hub, queue, queue, codec, queue, notifications, opener, nullptr,
            [this]() -> ShellCommands* { return delegate.get(); }, nullptr, &locationsWindow->locationsWindow()});
        auto auth = std::make_unique<AuthWindowPortAdapter>(
            AuthWindowAssembly{BaseControllerContext{hub->appModel(), nullptr, opener}, *hub->authService(),
                               *hub->linksManager(), queue, nullptr, nullptr, {}, false, hub->freeTrialService().get()});
        AuthWindowPortAdapter* authWindow = auth.get();
        windows.auth = std::move(auth);
        delegate = std::make_unique<AppDelegate>(
            AppDelegateEnvironment{*hub, store, queue, services, std::move(windows), alerts, notifications});
        authWindow->attach(*delegate);
        delegate->applicationDidFinishLaunching();
        queue.runUntilIdle();
    }

    TempDir dir;
    ScopedEnv data{"XDG_DATA_HOME", dir.path().c_str()};
    ScopedEnv state{"XDG_STATE_HOME", dir.path().c_str()};
    ManualQueue queue;
    FakeSettingsStore store;
    FakeSecretStore secrets;
    FakeHttpClient http{queue};
    FakeSystemInfo system;
    FakeImageCodec codec;
    ParseClient parse{ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-test", "", "", 1000}, http,
                      queue, secrets, store};
    FakeProcessRunner runner;
    HelperTool_XPC_Connector connector{queue, [](std::string*) { return std::shared_ptr<HelperConnection>(); }};
    FakeHelperJobTable jobs;
    FakeHelperInstaller installer{queue};
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    FakeUserNotificationCenter notifications;
    RecordingURLOpener opener;
    Journal journal;
    FakeShellServices services{journal};
    RecordingAlerts alerts{journal};
    LocationsWindowPortAdapter* locationsWindow = nullptr;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(LazyWindows, ALaunchMakesOnlyTheWindowItShows) {
    struct Row {
        bool showWelcome;
        int loginWindows;
    };
    // No welcome pages are handed over here: that launch shows nothing of ours.
    for (const Row row : {Row{false, 1}, Row{true, 0}}) {
        launch(row.showWelcome);
        EXPECT_EQ(made<AuthWindowWidget>(), row.loginWindows) << row.showWelcome;
        EXPECT_EQ(made<MainWindowWidget>(), 0) << row.showWelcome;
        EXPECT_EQ(made<LocationsListWindowWidget>(), 0) << row.showWelcome;
        delegate.reset();
    }
}

TEST_F(LazyWindows, TheListHandedOverEarlyReachesTheLocationsWindowWhenFirstShown) {
    launch(false);
    LocationsWindow& forMain = locationsWindow->locationsWindow();
    auto list = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{});
    forMain.updateTableData(list);
    forMain.onMainWindowMoved(WindowFrame{100, 100, 400, 600});
    locationsWindow->close();
    EXPECT_FALSE(locationsWindow->isVisible());
    EXPECT_FALSE(forMain.windowOpened());
    ASSERT_FALSE(locationsWindow->isMade()) << "nothing above needs the window itself";

    locationsWindow->showWindow();
    queue.runUntilIdle();
    EXPECT_TRUE(locationsWindow->isVisible());
    EXPECT_EQ(locationsWindow->controller().tableViewDataObject(), list);
    auto later = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{});
    forMain.updateTableData(later);
    EXPECT_EQ(locationsWindow->controller().tableViewDataObject(), later);
}

}  // namespace
}  // namespace hw::test
