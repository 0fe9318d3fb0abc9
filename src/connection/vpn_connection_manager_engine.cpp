#include "connection/vpn_connection_manager_engine.h"

#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/openvpn_constants.h"
#include "connection/ppp_road_check.h"
#include "connection/pptp_vpn_connection_provider.h"
#include "connection/vpn_connection_manager_provider_adapters.h"
#include "connection/vpn_service_config.h"
#include "core/global_constants.h"

namespace hw {

namespace {
// What both tunnel providers read of the state object and ask of the details
// pane and the manager.
struct EngineModelView {
    ApplicationModel& model;
    std::function<void()> lockBanner;
    VPNConnectionManager* manager = nullptr;

    // A provider's word that its try (or its tunnel) ended, straight to the
    // machine. `ticket`: the try the provider's session started for, not the
    // one in force when it reports (an earlier protocol's connector may report
    // late); none: the try the manager last connected for.
    void tryEnded(const std::optional<ConnectionTicket>& reported) const {
        if (!manager) return;
        // Automatic's search moves on to its next protocol by itself, and
        // reports once the whole order has ended: a second start here would
        // end the next protocol's try.
        if (manager->automaticModeDiscoveryInProgress()) return;
        const auto& ticket = reported ? reported : manager->currentTicket();
        if (!ticket && !manager->connectionLife().currentTry()) return;
        manager->connectionLife().tryEnded(ticket);
    }
    void enableNetworkLock() const {
        if (manager) manager->enableNetworkLock();
    }
};

class OpenVPNContext final : public OpenVPN_ProviderContext {
public:
    explicit OpenVPNContext(EngineModelView& v) : v_(v) {}
    std::optional<OpenVPNLoginData> recentLoginData() const override {
        auto l = v_.model.recentLoginData();
        if (!l) return std::nullopt;
        return OpenVPNLoginData{l->username, l->password};
    }
    bool useNetworkLock() const override { return v_.model.useNetworkLock(); }
    bool networkLockActivated() const override { return v_.model.networkLockActivated; }
    bool autoReconnectInProgress() const override { return v_.model.autoReconnectInProgress(); }
    void setOpenVPN_Reconnect_in_progress(bool value) override { v_.model.setOpenVPN_Reconnect_in_progress(value); }
    bool isLoggedInUser() const override { return v_.model.isLoggedInUser; }
    void tryEnded(const std::optional<ConnectionTicket>& ticket) override { v_.tryEnded(ticket); }
    void showAutoReconnectOverlay() override {
        if (auto* pane = v_.model.mainViewDetailsController()) pane->showAutoReconnectOverlay();
    }
    void showAutoReconnectWithNetworkLockNotification() override {
        if (v_.lockBanner) v_.lockBanner();
    }
    void enableNetworkLock() override { v_.enableNetworkLock(); }

private:
    EngineModelView& v_;
};

class StrongSwanContext final : public IKEv2_StrongSwan_ProviderContext {
public:
    explicit StrongSwanContext(EngineModelView& v) : v_(v) {}
    std::optional<IKEv2LoginData> recentLoginData() const override {
        auto l = v_.model.recentLoginData();
        if (!l) return std::nullopt;
        return IKEv2LoginData{l->username, l->password};
    }
    bool useNetworkLock() const override { return v_.model.useNetworkLock(); }
    bool networkLockActivated() const override { return v_.model.networkLockActivated; }
    bool autoReconnectInProgress() const override { return v_.model.autoReconnectInProgress(); }
    bool intensionallyDisconnectedVPN() const override { return v_.model.intensionallyDisconnectedVPN(); }
    bool isLoggedInUser() const override { return v_.model.isLoggedInUser; }
    void tryEnded(const std::optional<ConnectionTicket>& ticket) override { v_.tryEnded(ticket); }
    void enableNetworkLock() override { v_.enableNetworkLock(); }

private:
    EngineModelView& v_;
};
}  // namespace

class VPNConnectionEngine::ProviderContexts {
public:
    ProviderContexts(ApplicationModel& model, std::function<void()> lockBanner)
        : view{model, std::move(lockBanner)}, openvpn(view), strongSwan(view) {}
    EngineModelView view;
    OpenVPNContext openvpn;
    StrongSwanContext strongSwan;
};

VPNConnectionEngine::VPNConnectionEngine(VPNConnectionEngineParts parts) : model_(parts.model) {
    helperClient_ = std::make_unique<HelperToolManager>(parts.mainQueue, parts.helperConnector, parts.helperJobs,
                                                        parts.helperInstaller, parts.processRunner,
                                                        parts.bundledHelperVersion);
    // Known before the first connect, which would otherwise wait for it.
    helperClient_->learnInstalledVersion(parts.background);
    helper_ = std::make_unique<VPNConnectionManagerHelperAdapter>(*helperClient_, parts.helperJobs, parts.mainQueue);
    context_ = std::make_unique<ApplicationModelConnectionContext>(parts.model, parts.helperInstallAlert);
    uploader_ = std::make_unique<ParseErrorLogReportUploader>(parts.parse, parts.platformText);
    resolver_ = std::make_unique<DNSServerHostResolver>(parts.mainQueue, parts.background);
    providerContexts_ =
        std::make_unique<ProviderContexts>(parts.model, parts.showAutoReconnectWithNetworkLockNotification);

    auto openvpn = std::make_shared<OpenVPN_VPNConnectionProvider>(parts.mainQueue, providerContexts_->openvpn);
    helperClient_->setOpenVPNManagementReceiver(
        [weak = std::weak_ptr<OpenVPN_VPNConnectionProvider>(openvpn)](UniqueFd management) {
            if (auto provider = weak.lock()) provider->connectorHelper()->setManagementSocket(std::move(management));
        });
    helperClient_->setOpenVPNGatewayReceiver(
        [weak = std::weak_ptr<OpenVPN_VPNConnectionProvider>(openvpn)](const std::string& gateway) {
            if (auto provider = weak.lock()) provider->onGatewayChanged(gateway);
        });
    auto ike = std::make_shared<IKEv2_StrongSwan_ConnectionProvider>(parts.mainQueue, parts.helperConnector,
                                                                     providerContexts_->strongSwan);
    VPNConnectionManagerProviders providers{
        std::make_shared<ProviderAdapter>(std::make_shared<L2TP_VPNConnectionProvider>(parts.systemVPNServices)),
        std::make_shared<ProviderAdapter>(std::make_shared<PPTP_VPNConnectionProvider>(parts.systemVPNServices)),
        std::make_shared<ProviderAdapter>(openvpn), std::make_shared<ProviderAdapter>(ike)};

    VPNConnectionManagerEnvironment env{parts.mainQueue,
                                        parts.background,
                                        parts.clock,
                                        *helper_,
                                        *context_,
                                        *uploader_,
                                        parts.processRunner,
                                        resolver_.get(),
                                        GlobalConstants::vpnConnectionName,
                                        GlobalConstants::errorLogFilePath(),
                                        OpenVPNConstants::configFilePath(),
                                        sc::kPPPLogFile,
                                        [] {
                                            HelperParameterList p;
                                            for (const auto& [k, v] : OpenVPNConstants::connectionParameters())
                                                p.emplace_back(k, v);
                                            return p;
                                        },
                                        [paths = PPPRoadPaths::fromEnvironment()](VPNTypes type) {
                                            return pppRoadCannotBeBuilt(type, paths);
                                        }};
    manager_ = std::make_shared<VPNConnectionManager>(std::move(env), std::move(providers));
    helperClient_->setHelperDiedObserver([manager = std::weak_ptr<VPNConnectionManager>(manager_)](bool died) {
        if (auto m = manager.lock()) m->helperDied(died);
    });
    providerContexts_->view.manager = manager_.get();
    modelPort_ = std::make_unique<VPNConnectionManagerModelPort>(*manager_);
    ApplicationModelPorts ports = parts.model.ports();
    ports.connectionManager = modelPort_.get();
    parts.model.setPorts(ports);
}

std::shared_ptr<VPNConnectionManager> VPNConnectionEngine::makeManager(VPNConnectionEngineParts parts) {
    auto engine = std::make_shared<VPNConnectionEngine>(std::move(parts));
    return std::shared_ptr<VPNConnectionManager>(engine, &engine->manager());
}

VPNConnectionEngine::~VPNConnectionEngine() {
    ApplicationModelPorts ports = model_.ports();
    if (ports.connectionManager == modelPort_.get()) {
        ports.connectionManager = nullptr;
        model_.setPorts(ports);
    }
    if (providerContexts_) providerContexts_->view.manager = nullptr;
    manager_.reset();
}

}  // namespace hw
