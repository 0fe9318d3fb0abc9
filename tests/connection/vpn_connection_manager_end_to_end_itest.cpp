// The manager over the real helper executable, real openvpn and the OpenVPN
// provider, against the testbed's openvpn server in a network namespace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "connection/vpn_connection_manager_fixture.h"
#include "connection/vpn_connection_manager_helper_adapter.h"
#include "connection/vpn_connection_manager_provider_adapters.h"
#include "platform/posix_process_runner.h"
#include "support/fake_helper_install.h"
#include "support/openvpn_helper_suite.h"

namespace hw::test {
namespace {

using testbed::OpenVPNTestbed;

// The model's kill-switch setting; no reconnects in these tests.
class OpenVPNContext final : public QuietOpenVPNContext {
public:
    explicit OpenVPNContext(const FakeManagerContext& model) : model_(model) {
        login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    }
    bool useNetworkLock() const override { return model_.useLock; }
    bool networkLockActivated() const override { return model_.lockActivated; }

private:
    const FakeManagerContext& model_;
};

class ManagerEndToEnd : public OpenVPNHelperSuite {
protected:
    void SetUp() override {
        OpenVPNHelperSuite::SetUp();
        if (!ready()) return;
        const std::string d = bed_->dir();
        // A gateway for the kill switch to remember and restore.
        testbed::runQuiet({"ip", "route", "replace", "default", "via", "10.88.0.1"});

        const std::string bundled = testbed::helperVersion(helperBinary_, d);
        jobs_.jobs[HelperTool_XPC_Connector::kServiceName] = helperBinary_;
        connector_ = std::make_unique<HelperTool_XPC_Connector>(queue, [this](std::string* error) {
            auto c = std::make_shared<HelperConnection>(queue);
            return c->connect(socket_, error) ? c : nullptr;
        });
        helperClient_ = std::make_unique<HelperToolManager>(queue, *connector_, jobs_, installer_, runner_, bundled);
        helper_adapter_ = std::make_unique<VPNConnectionManagerHelperAdapter>(*helperClient_, jobs_, queue);

        openvpnProvider_ = std::make_shared<OpenVPN_VPNConnectionProvider>(queue, openvpnContext_);
        // As the engine wires it: the helper's own openvpn interface goes to the connector.
        helperClient_->setOpenVPNManagementReceiver([this](UniqueFd management) {
            openvpnProvider_->connectorHelper()->setManagementSocket(std::move(management));
        });
        VPNConnectionManagerEnvironment env{queue, queue, queue, *helper_adapter_, context, uploader, runner_,
                                            nullptr, "Havenway", d + "/error.log", OpenVPNConstants::configFilePath(),
                                            "", [] {
                                                HelperParameterList p;
                                                for (const auto& [k, v] : OpenVPNConstants::connectionParameters())
                                                    p.emplace_back(k, v);
                                                return p;
                                            },
                                            {}};
        manager = std::make_unique<VPNConnectionManager>(
            env, VPNConnectionManagerProviders{std::make_shared<FakeProvider>(VPNTypesL2TP),
                                               std::make_shared<FakeProvider>(VPNTypesPPTP),
                                               std::make_shared<ProviderAdapter>(openvpnProvider_), ike});
        manager->onConnectionEstablishedNotification = [this] { events.push_back("established"); };
        manager->onConnectionErrorNotification = [this](const std::string& t) { events.push_back("error:" + t); };
        manager->onDisconnectedStateNotification = [this](bool, bool) { events.push_back("disconnected"); };
        context.storedHelperVersion = bundled;
    }
    void TearDown() override {
        if (manager) {
            manager->disconnect();
            manager->disableNetworkLock();
            manager->shutDown();
            pump([] { return false; }, std::chrono::milliseconds(300));
        }
        manager.reset();
        openvpnProvider_.reset();
        helperClient_.reset();
        connector_.reset();
        OpenVPNHelperSuite::TearDown();
    }

    // Runs the queue in virtual time alongside the real processes until pred
    // holds or the bound passes.
    bool pump(const std::function<bool()>& pred, std::chrono::milliseconds within = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + within;
        while (true) {
            queue.advance(10);
            if (pred()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool seen(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
    // Routes of every table, IPv6 switched on or off, and the DNS file. The
    // link-local address comes and goes with IPv6 itself, and the kernel adds
    // it late: its line is left out.
    std::string networkState(const std::string& skipRoutePrefix = "local fe80::") {
        ProcessRequest r;
        r.argv = {"ip", "route", "show", "table", "all"};
        r.timeout = std::chrono::seconds(5);
        std::istringstream lines(runner_.run(r).out);
        std::string routes;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("local fe80::", 0) == 0 || line.rfind(skipRoutePrefix, 0) == 0) continue;
            routes += line + "\n";
        }
        r.argv = {"sysctl", "-a", "-r", "^net\\.ipv6\\.conf\\..*\\.disable_ipv6$"};
        const std::string v6 = runner_.run(r).out;
        return routes + "|" + v6 + "|" + testbed::readText(bed_->dir() + "/resolv.conf");
    }
    ManagerServerConfig server() const {
        ManagerServerConfig c;
        c.connectionName = "Havenway";
        c.dnsPrefix = "de1";
        c.domainSuffix = "example.net";
        c.vpnServerIPAddress = OpenVPNTestbed::kServerAddress;
        c.username = OpenVPNTestbed::kUser;
        c.password = OpenVPNTestbed::kPassword;
        c.ovpnConfig = bed_->clientConfig();
        return c;
    }

    ManualQueue queue;
    PosixProcessRunner runner_;
    FakeHelperJobTable jobs_;
    FakeHelperInstaller installer_{queue};
    std::unique_ptr<HelperTool_XPC_Connector> connector_;
    std::unique_ptr<HelperToolManager> helperClient_;
    std::unique_ptr<VPNConnectionManagerHelperAdapter> helper_adapter_;
    FakeManagerContext context;
    FakeReportUploader uploader;
    OpenVPNContext openvpnContext_{context};
    std::shared_ptr<OpenVPN_VPNConnectionProvider> openvpnProvider_;
    std::shared_ptr<FakeProvider> ike = std::make_shared<FakeProvider>(VPNTypesIKEv2_StrongSwan);
    std::unique_ptr<VPNConnectionManager> manager;
    std::vector<std::string> events;
};

TEST_F(ManagerEndToEnd, ConnectsOverOpenVPNAndDisconnectLeavesTheNetworkAsItWas) {
    const std::string before = networkState();
    context.protocol = VPNTypesOpenVPN;
    manager->prepareConnectionManager();
    manager->connect(server());
    ASSERT_TRUE(pump([&] { return !events.empty(); }))
        << openvpnProvider_->logData() << testbed::readText(bed_->dir() + "/helper.log");
    ASSERT_TRUE(seen("established")) << openvpnProvider_->logData();
    EXPECT_TRUE(manager->connectionExists());
    // While connected: IPv6 off, and the tunnel's DNS server once the main window asks for it.
    manager->installDNSForVPN();
    ASSERT_TRUE(pump([&] { return networkState().find(OpenVPNTestbed::kTunnelGateway) != std::string::npos; },
                     std::chrono::seconds(5)))
        << networkState();
    EXPECT_NE(networkState().find(".disable_ipv6 = 1"), std::string::npos) << networkState();
    manager->disconnect();
    ASSERT_TRUE(pump([&] { return networkState() == before; }, std::chrono::seconds(10)))
        << networkState() << "\nversus\n" << before;
}

TEST_F(ManagerEndToEnd, KillSwitchHoldsAroundTheTunnelAndIsReleasedAfterwards) {
    const std::string before = networkState();
    context.protocol = VPNTypesOpenVPN;
    context.useLock = true;
    manager->prepareConnectionManager();
    std::optional<std::string> locked;
    ASSERT_TRUE(manager->enableNetworkLock(OpenVPNTestbed::kServerAddress, std::string("10.88.0.1"), "", "",
                                           [&](const std::string& a) { locked = a; }));
    ASSERT_TRUE(pump([&] { return locked.has_value(); })) << testbed::readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(locked, OpenVPNTestbed::kServerAddress);
    EXPECT_EQ(context.gateway, "10.88.0.1");
    context.lockActivated = true;
    manager->connect(server());
    ASSERT_TRUE(pump([&] { return !events.empty(); })) << openvpnProvider_->logData();
    ASSERT_TRUE(seen("established")) << openvpnProvider_->logData();
    // Locked, with the tunnel's gateway let through as the default route.
    EXPECT_TRUE(testbed::runQuiet({"nft", "list", "table", "inet", "havenway"}));
    ASSERT_TRUE(pump([&] { return networkState().find("default via 10.89.0.1") != std::string::npos; },
                     std::chrono::seconds(5)))
        << networkState();
    manager->disconnect();
    manager->disableNetworkLock();
    context.lockActivated = false;
    // The server's host route stays with the helper until its reset.
    const std::string serverRoute = std::string(OpenVPNTestbed::kServerAddress) + " via";
    ASSERT_TRUE(pump([&] { return networkState(serverRoute) == before; }, std::chrono::seconds(10)))
        << networkState(serverRoute) << "\nversus\n" << before;
}

TEST_F(ManagerEndToEnd, AutomaticModeWithIKEv2FailingEndsOnOpenVPNAndRemembersIt) {
    context.protocol = VPNTypesAutomatic;
    manager->prepareConnectionManager();
    ASSERT_EQ(manager->currentProvider(), ike);
    manager->connect(server());
    ASSERT_TRUE(pump([&] { return static_cast<bool>(ike->onConnected); }));
    ike->onConnected();
    ASSERT_TRUE(pump([&] { return static_cast<bool>(ike->callback); }));
    ike->report(1);
    ike->report(0);  // the IKE exchange timed out
    ASSERT_TRUE(pump([&] { return seen("established") || seen("disconnected"); })) << openvpnProvider_->logData();
    EXPECT_TRUE(seen("established")) << openvpnProvider_->logData();
    EXPECT_EQ(manager->preferedVPNProtocolForAutomaticMode(), VPNTypesOpenVPN);
    EXPECT_FALSE(manager->automaticModeDiscoveryInProgress());
}

}  // namespace
}  // namespace hw::test
