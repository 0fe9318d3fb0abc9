#pragma once
// The connection manager as the windows see it, scripted by the test.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <cstdlib>
#include <memory>

#include "connection/manager_server_config.h"
#include "connection/vpn_connection_manager_model_adapters.h"
#include "support/recording_intents.h"
#include "windows/shared/pane_engine.h"

namespace hw::test {

class RecordingPaneEngine : public PaneEngine {
public:
    std::optional<VPNTypes> providerType;
    bool discovery = false;  // Automatic's protocol search runs
    int dnsInstalls = 0;

    std::optional<VPNTypes> currentProviderType() const override { return providerType; }
    void installDNSForVPN() override { ++dnsInstalls; }
    int userConnects = 0;
    void beginUserConnect() override { ++userConnects; }

    // The details pane's part.
    struct LockRequest {
        std::string host;
        std::optional<std::string> gateway;
        std::function<void(const std::string&)> completion;
        std::string dns1, dns2;
    };
    struct RouteRequest {
        std::string address;
        std::optional<std::string> gateway;
        std::function<void(const std::optional<std::string>&)> completion;
    };
    std::vector<std::string> calls;
    // The life's entries, as the manager holds them.
    ConnectionStatusHooks closures;
    std::function<void(const std::string&)> tick;
    std::vector<ManagerServerConfig> connects;
    std::vector<LockRequest> locks;
    std::vector<RouteRequest> routes;
    bool lockWaits = true;
    bool routeBeingAdded = false;

    // The application's one connection life, on the test's state object;
    // its session ends show as "cleanUpSession:1".
    void ownLife(MainQueue& queue, ApplicationModel& model) {
        lifeContext = std::make_unique<ApplicationModelConnectionContext>(
            model, [](const std::string&, const std::string&, std::function<void(int)> done) {
                if (done) done(0);
            });
        life = std::make_unique<ConnectionLifeHost>(queue, *lifeContext, [this] { cleanUpSession(true); });
        life->setProtocolInForce([this] { return providerType; });
        life->setDiscoveryInProgress([this] { return discovery; });
        lifeContext->attachLife(life.get());
    }
    // Without a life of its own, the intents are recorded.
    RecordingIntents recordedIntents{[this](const std::string& what) { calls.push_back(what); }};
    ConnectionIntents& intents() override { return life ? static_cast<ConnectionIntents&>(*life) : recordedIntents; }
    int count(const std::string& call) const { return static_cast<int>(std::count(calls.begin(), calls.end(), call)); }
    ConnectionLifeHost& connectionLife() override {
        if (!life) std::abort();  // the test forgot ownLife()
        return *life;
    }
    std::unique_ptr<ApplicationModelConnectionContext> lifeContext;
    std::unique_ptr<ConnectionLifeHost> life;

    // As the real engine: the life hears each report before the pane.
    void setStatusClosures(StatusClosures c) override {
        closures = life ? life->wrap(std::move(c)) : ConnectionStatusHooks{};
    }
    void setConnectionTimerTickCallback(std::function<void(const std::string&)> t) override { tick = std::move(t); }
    void connect(const ManagerServerConfig& config) override {
        connects.push_back(config);
        calls.push_back("connect");
    }
    void disconnect() override { calls.push_back("disconnect"); }
    void cleanUpSession(bool forced) override { calls.push_back(forced ? "cleanUpSession:1" : "cleanUpSession:0"); }
    bool enableNetworkLock(const std::string& host, const std::optional<std::string>& gateway, const std::string& dns1,
                           const std::string& dns2, std::function<void(const std::string&)> completion) override {
        locks.push_back({host, gateway, std::move(completion), dns1, dns2});
        calls.push_back("enableNetworkLock:" + host);
        return lockWaits;
    }
    void reapplyNetworkLock() override { calls.push_back("reapplyNetworkLock"); }
    bool startedAddVPNServerStaticRoute() const override { return routeBeingAdded; }
    void addVPNServerStaticRoute(const std::string& address, const std::optional<std::string>& gateway,
                                 std::function<void(const std::optional<std::string>&)> completion) override {
        routes.push_back({address, gateway, std::move(completion)});
        calls.push_back("addVPNServerStaticRoute:" + address);
    }
};

}  // namespace hw::test
