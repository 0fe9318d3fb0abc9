#pragma once
// The hub on its real services and engine, with fakes only where the machine
// would be reached: what the shell's offscreen window tests stand on.
// The engine's headers come before Qt's, whose emit keyword they use as a name.
#include "connection/vpn_connection_manager_engine.h"
#include "support/fake_system_vpn_service.h"

#include <memory>

#include "app/shell_doubles.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
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

namespace hw::test {

struct OffscreenHub {
    OffscreenHub() {
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
    // Nothing here connects: no helper is ever asked for.
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
};

}  // namespace hw::test
