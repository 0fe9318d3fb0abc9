#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/vpn_connection_manager.h"
#include "support/capture_log.h"
#include "support/fake_helper_tool_commands.h"
#include "support/fake_process_runner.h"
#include "support/fake_provider.h"
#include "support/manual_queue.h"
#include "support/temp_dir.h"

namespace hw::test {

class FakeManagerContext final : public ConnectionManagerContext {
public:
    VPNTypes vpnProtocol() const override { return protocol; }
    void addVPNProtocolUpdatedObserver(std::function<void()> observer) override {
        observers.push_back(std::move(observer));
    }
    std::string vpnServersDomainSuffix() const override { return "vpn.example.net"; }
    std::string helperToolCurrentVersion() const override { return storedHelperVersion; }
    void setHelperToolCurrentVersion(const std::string& v) override { storedHelperVersion = v; }
    bool perfromHelperToolStoredVersionCheck() const override { return storedVersionCheck; }
    bool useNetworkLock() const override { return useLock; }
    bool networkLockActivated() const override { return lockActivated; }
    void setNetworkLockActivated(bool v) override { lockActivated = v; }
    std::string previousDefaultGatewayValue() const override { return gateway; }
    void setPreviousDefaultGatewayValue(const std::string& g) override { gateway = g; }
    bool openVPN_Reconnect_in_progress() const override { return openVPNReconnecting; }
    bool autoReconnectInProgress() const override { return reconnecting; }
    int autoReconnectAttemptsCount() const override { return attempts; }
    void setAutoReconnectAttemptsCount(int n) override { attempts = n; }
    void setDeviceEnteredSleepMode(bool v) override { sleeping = v; }
    std::optional<ConnectionTicket> currentTry() const override { return tryInForce; }
    bool isCurrentTry(const ConnectionTicket& ticket, const char* what) const override {
        if (tryInForce == ticket) return true;
        dropped.push_back(what);
        return false;
    }
    bool connectionInitiateCanceled() const override { return canceled; }
    void deviceWillSleep() override { ++sleeps; }
    void requestReconnect(ReconnectReason reason) override {
        ++reconnectRequests;
        reconnectReasons.push_back(reconnectReasonName(reason));
    }
    void showHelperInstallAlert(const std::string& message, const std::string& info,
                                std::function<void(int)> completion) override {
        alerts.push_back(message + "|" + info);
        alertCompletion = std::move(completion);
    }

    void changeProtocol(VPNTypes p) {
        protocol = p;
        for (auto& o : observers) o();
    }

    VPNTypes protocol = VPNTypesOpenVPN;
    std::vector<std::function<void()>> observers;
    std::string storedHelperVersion;
    bool storedVersionCheck = true;
    bool useLock = false;
    bool lockActivated = false;
    std::string gateway;
    bool openVPNReconnecting = false;
    bool reconnecting = false;
    int attempts = 0;
    bool sleeping = false;
    int sleeps = 0;
    // The connection life's try in force; none: whatever reports is of no try.
    std::optional<ConnectionTicket> tryInForce = ConnectionTicket{1, 1};
    bool canceled = false;
    mutable std::vector<std::string> dropped;
    int reconnectRequests = 0;
    std::vector<std::string> reconnectReasons;
    std::vector<std::string> alerts;
    std::function<void(int)> alertCompletion;
};

class FakeReportUploader final : public ErrorLogReportUploader {
public:
    struct Report {
        std::string message, log;
    };
    void upload(const std::string& message, const std::string& log) override { reports.push_back({message, log}); }
    std::vector<Report> reports;
};

// A manager over fakes, with the details pane's callbacks recorded as lines.
class ManagerFixture : public ::testing::Test {
protected:
    ~ManagerFixture() override { manager.reset(); }

    VPNConnectionManager& make() {
        VPNConnectionManagerEnvironment env{
            queue, queue, queue, helper, context, uploader, runner, nullptr, "Havenway",
            dir_.file("error.log"), dir_.file("config_current.ovpn"), "/var/log/havenway-ppp.log",
            [] { return HelperParameterList{{"openvpncmd", std::string("openvpn --config x")}}; }, cannotBuild};
        std::shared_ptr<ManagedConnectionProvider> l2tpRoad = l2tp;
        if (realL2TP) l2tpRoad = realL2TP;
        manager = std::make_unique<VPNConnectionManager>(env, VPNConnectionManagerProviders{l2tpRoad, pptp, openvpn, ike});
        manager->onConnectionEstablishedNotification = [this] { events.push_back("established"); };
        manager->onConnectingStateNotification = [this] { events.push_back("connecting"); };
        manager->onConnectionErrorNotification = [this](const std::string& t) { events.push_back("error:" + t); };
        manager->onConnectionRefusedNotification = [this](const std::string& t) { events.push_back("refused:" + t); };
        manager->onDisconnectedStateNotification = [this](bool a, bool b) {
            events.push_back(std::string("disconnected:") + (a ? "1" : "0") + (b ? "1" : "0"));
        };
        manager->prepareConnectionManager();
        queue.runUntilIdle();
        return *manager;
    }

    static ManagerServerConfig server() {
        ManagerServerConfig c;
        c.connectionName = "Havenway";
        c.dnsPrefix = "de1";
        c.domainSuffix = "example.net";
        c.vpnServerIPAddress = "203.0.113.7";
        c.username = "alice";
        c.password = "s3cret-pass";
        c.l2tpSharedKey = "shared-key";
        c.ovpnConfig = "client\nremote de1.example.net 1194\n";
        return c;
    }

    // Connects and runs the road through the 1000 ms wait and the 50 ms dial.
    void connectThrough() {
        manager->connect(server());
        queue.runUntilIdle();
        if (manager->currentProvider() == ike && ike->onConnected) ike->onConnected();
        queue.advance(1100);
    }

    FakeProvider& providerOf(VPNTypes type) {
        switch (type) {
            case VPNTypesL2TP: return *l2tp;
            case VPNTypesPPTP: return *pptp;
            case VPNTypesIKEv2_StrongSwan: return *ike;
            default: return *openvpn;
        }
    }
    std::string file(const std::string& name) const { return TempDir::read(dir_.file(name)); }
    std::string pathOf(const std::string& name) const { return dir_.file(name); }
    unsigned mode(const std::string& name) const { return TempDir::mode(dir_.file(name)) & 0777; }

    ManualQueue queue;
    FakeHelperToolCommands helper{queue};
    FakeManagerContext context;
    FakeReportUploader uploader;
    FakeProcessRunner runner;
    std::shared_ptr<FakeProvider> l2tp = std::make_shared<FakeProvider>(VPNTypesL2TP);
    std::shared_ptr<FakeProvider> pptp = std::make_shared<FakeProvider>(VPNTypesPPTP);
    std::shared_ptr<FakeProvider> openvpn = std::make_shared<FakeProvider>(VPNTypesOpenVPN);
    std::shared_ptr<FakeProvider> ike = std::make_shared<FakeProvider>(VPNTypesIKEv2_StrongSwan);
    // Set before make(): why a protocol cannot run on this machine.
    std::function<std::optional<std::string>(VPNTypes)> cannotBuild;
    // Set before make(): the L2TP road on a real provider instead of the fake.
    std::shared_ptr<ManagedConnectionProvider> realL2TP;
    std::unique_ptr<VPNConnectionManager> manager;
    std::vector<std::string> events;
    std::shared_ptr<CaptureLog> log = CaptureLog::install();

private:
    TempDir dir_;
};

}  // namespace hw::test
