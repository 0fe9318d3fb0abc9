#pragma once
// The main window on the real hub against the testbed backend: sign in,
// required data, then the window with its list, map and flags.
#include <memory>
#include <string>

#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "hub/service_layer.h"
#include "network/wifi_info_helper.h"
#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_image_codec.h"
#include "platform/qt/qt_main_queue.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "services/locations_list_model.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/fake_user_notification_center.h"
#include "support/fake_wifi.h"
#include "support/inline_background_queue.h"
#include "support/qt_test_app.h"
#include "support/recording_pane_engine.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
#include "support/testbed_parse_config.h"
#include "support/testbed_sign_in.h"
#include "testbed/testbed_env.h"
#include "windows/main/main_window_view_controller.h"
#include "windows/main/widgets/main_window_small_views.h"
#include "windows/main/widgets/main_window_widget.h"

#include "main_window_fixture.h"

namespace hw::test {

class MainWindowTestbed {
public:
    // A test of the real settings file or Wi-Fi hands them in; one that meets the
    // testbed's per-install limits, a device serial of its own.
    explicit MainWindowTestbed(const TestbedEnv& env, SettingsStore* store = nullptr, WiFiProvider* wifi = nullptr,
                               const std::string& serial = {})
        : env_(env) {
        env_.exportToEnvironment();
        if (!serial.empty()) system.serial = serial;
        settings.registerDefaults(SettingsUserDefaults::defaults());
        SettingsStore& used = store ? *store : settings;
        http = std::make_unique<QtHttpClient>(queue);
        parse = std::make_unique<ParseClient>(
            testbedParseConfig(env_, "com.havenway.main-window-itest", dir.file("datastore.sqlite")), *http, queue,
            secrets, used);
        parse->enableRevocableSession();
        parse->enableLocalDatastore();
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, used, secrets, *http, *parse, system, codec, wifi, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
    }
    ~MainWindowTestbed() {
        controller.reset();
        widget.reset();
        images.reset();
        hub.reset();
        factory.reset();
        parse.reset();
        http.reset();
    }

    std::string signInAndLoad(const std::string& user, const std::string& password) {
        return test::signInAndLoad(*hub, user, password);
    }

    using PaneFactory = std::function<std::shared_ptr<DetailsPane>(const BaseControllerContext&)>;

    // The window on the hub's services, shown, with the loaded list; its
    // details pane the recording one unless a factory makes another.
    void openWindow(PaneFactory makePane = nullptr) {
        images = std::make_unique<RemoteImageLoader>(queue, background, codec);
        widget = std::make_unique<MainWindowWidget>(*images);
        auto& model = hub->appModel();
        engine.ownLife(queue, model);
        BaseControllerContext context{model, nullptr, urlOpener};
        MainWindowEnvironment e{context, *widget, *widget, queue, clock, shell, notifications, *hub->linksManager(),
                                hub->probeURLHelper(), [this] { return wifiInfo; }, engine, *images, nullptr,
                                [this, context, makePane]() -> std::shared_ptr<DetailsPane> {
                                    return makePane ? makePane(context) : pane;
                                }};
        controller = std::make_shared<MainWindowViewController>(std::move(e));
        controller->showWindow();
        controller->setupMainView(model.locationsListModel(), {});
    }

    // Waits until the map and the current location's flag are on the window.
    bool waitForMapAndFlag() {
        auto placed = [this] {
            return hub->appModel().mainViewMapImage && !widget->flag()->image().isNull() && widget->flag()->isVisible();
        };
        return spinUntil(placed, 30000);
    }

    InlineBackgroundQueue background;
    struct WallClock final : Clock {
        double wallSeconds() const override { return 0; }
        std::int64_t steadyMillis() const override { return 0; }
    } clock;
    TestbedEnv env_;
    TempDir dir;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    FakeSecretStore secrets;
    FakeSettingsStore settings;
    FakeSystemInfo system;
    QtImageCodec codec;
    std::unique_ptr<ParseClient> parse;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;

    RecordingURLOpener urlOpener;
    RecordingShellCommands shell;
    FakeUserNotificationCenter notifications;
    FakeWiFi wifi;
    std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo = std::make_shared<WiFi_InfoHelperObjC>(wifi);
    RecordingPaneEngine engine;
    std::shared_ptr<RecordingDetailsPane> pane = std::make_shared<RecordingDetailsPane>();
    std::unique_ptr<RemoteImageLoader> images;
    std::unique_ptr<MainWindowWidget> widget;
    std::shared_ptr<MainWindowViewController> controller;
};

}  // namespace hw::test
