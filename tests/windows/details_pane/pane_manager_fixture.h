#pragma once
// The pane over the real connection manager, with scripted providers and helper.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_model_adapters.h"
#include "support/fake_helper_tool_commands.h"
#include "support/fake_process_runner.h"
#include "support/fake_provider.h"
#include "support/protocol_choice.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {

class NoUploads final : public ErrorLogReportUploader {
public:
    void upload(const std::string&, const std::string&) override {}
};

struct PaneManagerTest : ::testing::Test {
    PaneManagerTest() {
        dir = std::filesystem::temp_directory_path() / ("hw_pane_manager_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        VPNConnectionManagerEnvironment env{
            f.queue, f.queue, f.queue, helper, context, uploads, runner, nullptr, "Havenway",
            (dir / "error.log").string(), (dir / "config_current.ovpn").string(), "/var/log/havenway-ppp.log",
            [] { return HelperParameterList{{"openvpncmd", std::string("openvpn --config x")}}; }, {}};
        manager = std::make_unique<VPNConnectionManager>(env, providers);
        managerPort = std::make_unique<VPNConnectionManagerModelPort>(*manager);
        f.ports.connectionManager = managerPort.get();
        f.model.setPorts(f.ports);
        manager->prepareConnectionManager();
        applyProtocolChoice(f.model, *manager, VPNTypesOpenVPN);
        f.queue.runUntilIdle();
        // The pane of the fixture talks to the scripted engine: this one talks to the manager.
        f.pane.reset();
        engine = std::make_unique<VPNConnectionManagerPaneEngine>(*manager);
        MainViewDetailsEnvironment e{f.context, f.view, f.queue, *engine, f.shell};
        e.refreshUserIPAddress = [this](std::function<void()> done) {
            ++f.ipRefreshes;
            f.queue.post([this, done = std::move(done)] {
                f.model.userPublicIP = "203.0.113.9";
                done();
            });
        };
        pane = std::make_shared<MainViewDetailsAreaController>(std::move(e));
        pane->setConnectionDetailsCallbacks(f.callbacks());
        pane->prepareConnectionStatusNotifications();
        pane->changeDetailsView(f.nl);
        f.queue.runUntilIdle();
    }
    ~PaneManagerTest() override {
        pane.reset();
        manager.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // A click that reaches the provider's dial.
    void clickToDial() {
        pane->onConnectButtonClick();
        f.queue.advance(200);
        f.queue.advance(1100);
    }
    void report(std::int32_t status, std::optional<std::string> message = std::nullopt) {
        openvpn->report(status, std::move(message));
        f.queue.runUntilIdle();
    }
    void expectReadyLook() {
        EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);
        EXPECT_EQ(f.model.currentConnectionState(), ConnectionStates::disconnected);
        EXPECT_FALSE(f.model.autoReconnectInProgress());
        EXPECT_FALSE(f.view.flagSpinning);
        EXPECT_TRUE(f.view.changeLocationEnabled);
    }

    PaneFixture f;
    std::filesystem::path dir;
    FakeHelperToolCommands helper{f.queue};
    // The helper's installation alert, answered when the test says.
    std::vector<std::function<void(int)>> alertAnswers;
    ApplicationModelConnectionContext context{
        f.model, [this](const std::string&, const std::string&, std::function<void(int)> answer) {
            alertAnswers.push_back(std::move(answer));
        }};
    NoUploads uploads;
    FakeProcessRunner runner;
    // Only OpenVPN is driven; the others stand in their places.
    std::shared_ptr<FakeProvider> openvpn = std::make_shared<FakeProvider>(VPNTypesOpenVPN);
    std::shared_ptr<FakeProvider> ike = std::make_shared<FakeProvider>(VPNTypesIKEv2_StrongSwan);
    VPNConnectionManagerProviders providers{std::make_shared<FakeProvider>(VPNTypesL2TP),
                                            std::make_shared<FakeProvider>(VPNTypesPPTP), openvpn, ike};
    std::unique_ptr<VPNConnectionManager> manager;
    std::unique_ptr<VPNConnectionManagerModelPort> managerPort;
    std::unique_ptr<VPNConnectionManagerPaneEngine> engine;
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

// The pane as the application knows it: reports are checked against its
// connection life's tries.
struct RegisteredPane {
    explicit RegisteredPane(PaneManagerTest& test) : t(test) {
        shell.detailsPane = t.pane.get();
        t.f.ports.shell = &shell;
        t.f.model.setPorts(t.f.ports);
    }
    ~RegisteredPane() {
        t.f.ports.shell = nullptr;
        t.f.model.setPorts(t.f.ports);
    }
    PaneManagerTest& t;
    PortJournal journal;
    FakeApplicationShell shell{journal};
};

}  // namespace hw::test
