#include "hub/service_layer.h"

#include <cstdint>
#include <mutex>
#include <stdexcept>

#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "core/uuid_helper.h"
#include "core/vpn_protocols.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr char kLog[] = "ServiceLayer";

std::mutex& sharedFactoryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<ServiceLayerFactory>& sharedFactory() {
    static std::shared_ptr<ServiceLayerFactory> factory;
    return factory;
}

// Protocols as the first stored form numbered them.
std::string_view protocolForStoredInteger(std::int64_t stored) {
    switch (static_cast<std::uint64_t>(stored)) {
        case 0: return rawValue(VPNProtocols::Automatic);
        case 1: return rawValue(VPNProtocols::IKEv2_StrongSwan);
        case 2: return rawValue(VPNProtocols::OpenVPN);
        case 3:
        case 4: return rawValue(VPNProtocols::L2TP);
        default:
            log::info(kLog, "prepareUserDefaultsToBeApplied default case");
            return rawValue(VPNProtocols::Automatic);
    }
}

}  // namespace

ServiceLayerOptions::ServiceLayerOptions()
    : isEnterpriseVersion(GlobalConstants::isEnterpriseVersion),
      appVersion(GlobalConstants::appVersion),
      platformTag(GlobalConstants::platformTag) {}

void ServiceLayer::installFactory(std::shared_ptr<ServiceLayerFactory> factory) {
    std::lock_guard lock(sharedFactoryMutex());
    sharedFactory() = std::move(factory);
}

ServiceLayer& ServiceLayer::sharedInstance() {
    // A throwing initialiser leaves the static unset, so a later call retries.
    static ServiceLayer* const instance = [] {
        std::shared_ptr<ServiceLayerFactory> factory;
        {
            std::lock_guard lock(sharedFactoryMutex());
            factory = sharedFactory();
        }
        if (!factory) throw std::logic_error("ServiceLayer used before a factory was installed");
        return new ServiceLayer(std::move(factory));
    }();
    return *instance;
}

ServiceLayer::ServiceLayer(std::shared_ptr<ServiceLayerFactory> factory)
    : factory_(std::move(factory)),
      mainQueue_(factory_->mainQueue()),
      store_(factory_->settingsStore()),
      options_(factory_->options()) {
    ServiceLayerFactory& f = *factory_;
    // The state object comes before every service: they read it as they start.
    appModel_ = f.makeAppModel();
    authService_ = f.makeAuthService(*this);
    vpnConfigsService_ = f.makeVPNConfigsService(*this);
    vpnConnectionManager_ = f.makeVPNConnectionManager(*this);
    parseConfigService_ = f.makeParseConfigService(*this);
    linksManager_ = f.makeLinksManager(*this);
    analyticsService_ = f.makeAnalyticsService(*this);
    smartWidgetService_ = f.makeSmartWidgetService(*this);
    freeTrialService_ = f.makeFreeTrialService(*this);
    aUUIDHelper_ = f.makeUUIDHelper(*this);
    cloudFunctions_ = f.makeCloudFunctions(*this);
    reachability_ = f.makeReachability(*this);

    internetReachabilityHelper_.setMaker([this] { return factory_->makeInternetReachabilityHelper(*this); });
    wi_fi_InfoHelper_.setMaker([this] { return factory_->makeWiFiInfoHelper(*this); });
    probeURLHelper_.setMaker([this] { return factory_->makeProbeURLHelper(*this); });
    appExceptionReportingHelper_.setMaker([this] { return factory_->makeAppExceptionReportingHelper(*this); });
    enterpriseAuthService_.setMaker([this] { return factory_->makeEnterpriseAuthService(*this); });
    enterpriseService_.setMaker([this]() -> std::shared_ptr<EnterpriseService> {
        return shell_.makeEnterpriseService ? shell_.makeEnterpriseService() : nullptr;
    });
    startOnOSStartUpHelper_.setMaker([this]() -> std::shared_ptr<AppAutoLoadOnStartupHelper> {
        return shell_.makeStartOnOSStartUpHelper ? shell_.makeStartOnOSStartUpHelper() : nullptr;
    });

    // Both services hand an expired session to the hub.
    auto expired = [this, alive = std::weak_ptr<bool>(alive_)](SessionRetry retry) {
        if (!alive.expired()) onParseSessionExpired(std::move(retry));
    };
    if (vpnConfigsService_.port) vpnConfigsService_.port->setOnParseSessionExpired(expired);
    if (parseConfigService_.port) parseConfigService_.port->setOnParseSessionExpired(expired);
}

ServiceLayer::~ServiceLayer() {
    // Services outlive nothing of ours: stop their calls into the hub first.
    if (vpnConfigsService_.port) vpnConfigsService_.port->setOnParseSessionExpired(nullptr);
    if (parseConfigService_.port) parseConfigService_.port->setOnParseSessionExpired(nullptr);
    if (authService_.port) authService_.port->setOnLoginFinished(nullptr);
}

void ServiceLayer::onMain(std::function<void()> task) {
    mainQueue_.post([alive = std::weak_ptr<bool>(alive_), task = std::move(task)] {
        if (!alive.expired()) task();
    });
}

void ServiceLayer::prepareApplication() {
    // The identifier lives in the secret store, which may answer slowly: the
    // first window does not wait for it.
    onMain([this] { initUUIDChecking(); });
    // The settings applied below must not reset the connection engine.
    appModel_->skipVPNConnectorsNotification = true;
    prepareUserDefaultsToBeApplied();
    appModel_->restoreRequiredData();
    appModel_->applySettings(store_.snapshot());
    appModel_->applyPrivateSettings(store_.snapshot());
    appModel_->skipVPNConnectorsNotification = false;
}

void ServiceLayer::initUUIDChecking() {
    if (aUUIDHelper_) aUUIDHelper_->checkUUID();
}

void ServiceLayer::prepareUserDefaultsToBeApplied() {
    const std::string key = SettingsUserDefaults::vpnProtocols;
    std::string chosen(protocolForStoredInteger(store_.integerForKey(key)));
    if (const auto stored = store_.stringForKey(key)) {
        bool matched = false;
        for (VPNProtocols p : {VPNProtocols::Automatic, VPNProtocols::OpenVPN, VPNProtocols::L2TP,
                               VPNProtocols::IKEv2_StrongSwan}) {
            if (*stored == rawValue(p)) {
                matched = true;
                break;
            }
        }
        if (matched) {
            chosen = *stored;
            log::info(kLog, "restored VPN protocol match");
        } else {
            chosen = rawValue(VPNProtocols::Automatic);
        }
    }
    store_.set(key, chosen);
    store_.synchronize();
}

void ServiceLayer::checkInternetConnectionReachability() {
    log::info(kLog, "checkInternetConnectionReachability() executed");
    if (!reachability_) return;
    reachability_->setBackendHost(appModel_->reachabilityDomainName);
    std::weak_ptr<bool> alive = alive_;
    reachability_->checkReachability([this, alive](bool reachable) {
        if (alive.expired()) return;
        onMain([this, reachable] {
            appModel_->isConnectedToInternet = reachable;
            if (onInternetReachabilityCheckFinished) onInternetReachabilityCheckFinished(reachable);
        });
    });
}

void ServiceLayer::loadParseConfig(bool skipNewVersionCheck, std::function<void()> completed,
                                   std::function<void(const std::optional<std::string>& error)> onError) {
    if (!parseConfigService_.port) {
        if (onError) onError(std::string("no remote configuration service"));
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    parseConfigService_.port->loadParseConfig(
        [this, alive, skipNewVersionCheck, completed = std::move(completed)] {
            if (alive.expired()) return;
            onMain([this, skipNewVersionCheck, completed] {
                if (!skipNewVersionCheck) checkingIfNewAppVersionAvailable();
                if (completed) completed();
            });
        },
        [this, alive, onError = std::move(onError)](const std::optional<std::string>& error) {
            if (alive.expired()) return;
            onMain([onError, error] {
                if (onError) onError(error);
            });
        });
}

}  // namespace hw
