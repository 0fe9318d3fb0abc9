#include <gtest/gtest.h>

#include "connection/vpn_connection_manager_engine.h"
#include "core/settings_user_defaults.h"
#include "services/vpn_parse_config.h"
#include "support/capture_log.h"
#include "support/fake_helper_install.h"
#include "support/fake_http_client.h"
#include "support/fake_image_codec.h"
#include "support/fake_process_runner.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/fake_system_vpn_service.h"
#include "support/manual_queue.h"
#include "support/protocol_choice.h"
#include "support/temp_dir.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

// The engine on the real state object, with no helper to be had.
class Engine : public ::testing::Test {
protected:
    Engine() {
        ::setenv("XDG_DATA_HOME", dir_.file("data").c_str(), 1);
        ::setenv("XDG_STATE_HOME", dir_.file("state").c_str(), 1);
        store.registerDefaults(SettingsUserDefaults::defaults());
        model = std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{store, queue, queue, codec, http, system});
        installer.next = HelperInstallResult{false, true, 0};
        engine = std::make_unique<VPNConnectionEngine>(parts());
    }
    VPNConnectionEngineParts parts() {
        return {queue, queue, queue, *model, parse, "Linux", runner, connector, jobs, installer, "1.0",
                std::make_shared<FakeSystemVPNServiceStore>(),
                [this](const std::string& m, const std::string& i, std::function<void(int)> done) {
                    alerts.push_back(m + "|" + i);
                    done(1000);
                },
                nullptr};
    }

    TempDir dir_;
    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    ManualQueue queue;
    FakeSettingsStore store;
    FakeImageCodec codec;
    FakeHttpClient http{queue};
    FakeSystemInfo system;
    FakeSecretStore secrets;
    std::unique_ptr<ApplicationModel> model;
    ParseClient parse{ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-test", "", "", 1000}, http,
                      queue, secrets, store};
    FakeProcessRunner runner;
    HelperTool_XPC_Connector connector{queue, [](std::string* error) -> std::shared_ptr<HelperConnection> {
                                           *error = "no helper here";
                                           return nullptr;
                                       }};
    FakeHelperJobTable jobs;
    FakeHelperInstaller installer{queue};
    std::unique_ptr<VPNConnectionEngine> engine;
    std::vector<std::string> alerts;
};

TEST_F(Engine, GivesTheStateObjectItsViewOfTheManagerAndTakesItBack) {
    engine->manager().prepareConnectionManager();
    applyProtocolChoice(*model, engine->manager(), VPNTypesIKEv2_StrongSwan);
    queue.runUntilIdle();
    ConnectionManagerPort* port = model->ports().connectionManager;
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->currentProviderType(), VPNTypesIKEv2_StrongSwan);
    engine.reset();
    EXPECT_EQ(model->ports().connectionManager, nullptr);

    // The manager handed to the hub keeps its engine until it goes.
    auto manager = VPNConnectionEngine::makeManager(parts());
    ASSERT_NE(model->ports().connectionManager, nullptr);
    manager->disableNetworkLock();
    model->ports().connectionManager->removeExistingConnection();
    queue.runUntilIdle();
    manager.reset();
    EXPECT_EQ(model->ports().connectionManager, nullptr);
}

TEST_F(Engine, AHelperThatCannotBeInstalledEndsTheAttemptDisconnected) {
    auto& manager = engine->manager();
    std::vector<std::string> events;
    manager.onDisconnectedStateNotification = [&](bool a, bool b) {
        events.push_back(std::string(a ? "1" : "0") + (b ? "1" : "0"));
    };
    manager.prepareConnectionManager();
    applyProtocolChoice(*model, manager, VPNTypesL2TP);
    queue.runUntilIdle();
    VPNParseConfig location;
    location.dnsPrefix = "de1";
    location.vpnServerIPAddress = "203.0.113.7";
    // The try the window would have started.
    manager.connectionLife().life().begin(ConnectionLife::Origin::user);
    manager.connectionLife().life().tryStarted();
    manager.connect(managerServerConfig(location, *model));
    queue.advance(2000);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(events, (std::vector<std::string>{"10"}));
}

}  // namespace
}  // namespace hw::test
