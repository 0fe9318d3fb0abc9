#include "hub/default_service_layer_factory.h"

#include "core/uuid_helper.h"
#include "hub/service_layer_adapters.h"
#include "hub/service_layer_service_adapters.h"
#include "network/internet_reachability_helper.h"
#include "network/probe_url_reachability_helper.h"
#include "network/reachability.h"
#include "network/wifi_info_helper.h"
#include "services/analytics_service.h"
#include "services/app_exception_reporting_helper.h"
#include "services/auth_service.h"
#include "services/enterprise_auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/links_manager.h"
#include "services/parse_config_service.h"
#include "services/smart_wigdet_helper.h"
#include "services/vpn_configs_service.h"

namespace hw {

// The state object's reachability port, reaching the watch only once it is
// needed, so that reading the port does not build the watch at start-up; and
// the sign-in's view of what the watch found.
class DefaultServiceLayerFactory::LazyInternetReachability final : public InternetReachabilityPort,
                                                                   public InternetStateSource {
public:
    explicit LazyInternetReachability(ServiceLayer& hub) : hub_(hub) {}
    void stopReachability() override {
        if (auto helper = hub_.internetReachabilityHelper()) helper->stopReachability();
    }
    void reach(const std::string& host) override {
        if (auto helper = hub_.internetReachabilityHelper()) helper->reach(host);
    }
    std::optional<bool> internetReachable() const override {
        const auto helper = hub_.internetReachabilityHelperIfMade();
        return helper ? helper->internetReachable() : std::nullopt;
    }

private:
    ServiceLayer& hub_;
};

DefaultServiceLayerFactory::DefaultServiceLayerFactory(ServiceLayerPlatform platform,
                                                       ConnectionManagerMaker makeConnectionManager)
    : p_(platform),
      makeConnectionManager_(std::move(makeConnectionManager)),
      ownKeychainQueue_(p_.keychainQueue ? nullptr
                                         : std::make_unique<SecretStoreQueue>(unownedSecretStore(p_.keychain),
                                                                              p_.mainQueue, p_.background)),
      keychainQueue_(p_.keychainQueue ? *p_.keychainQueue : *ownKeychainQueue_) {}

DefaultServiceLayerFactory::~DefaultServiceLayerFactory() = default;

std::unique_ptr<ApplicationModel> DefaultServiceLayerFactory::makeAppModel() {
    auto model = std::make_unique<ApplicationModel>(
        ApplicationModelEnvironment{p_.store, p_.mainQueue, p_.background, p_.imageCodec, p_.http, p_.system});
    ApplicationModelPorts ports = model->ports();
    ports.locations = &locations_;
    model->setPorts(ports);
    return model;
}

HubService<AuthService, HubAuthPort> DefaultServiceLayerFactory::makeAuthService(ServiceLayer& hub) {
    auto service = std::make_shared<AuthService>(p_.parse, keychainQueue_, hub.appModel(),
                                                 GlobalConstants::keychainServiceName, p_.fileCopyQueue);
    reachabilityPort_ = std::make_unique<LazyInternetReachability>(hub);
    ApplicationModelPorts ports = hub.appModel().ports();
    ports.loginData = service.get();
    ports.internetReachability = reachabilityPort_.get();
    service->setInternetState(reachabilityPort_.get());
    hub.appModel().setPorts(ports);
    return {service, std::make_shared<AuthServiceAdapter>(*service)};
}

HubService<VPNConfigsService, HubVPNConfigsPort> DefaultServiceLayerFactory::makeVPNConfigsService(ServiceLayer&) {
    auto service = std::make_shared<VPNConfigsService>(p_.parse, &p_.background, &p_.mainQueue);
    return {service, std::make_shared<VPNConfigsServiceAdapter>(*service)};
}

std::shared_ptr<VPNConnectionManager> DefaultServiceLayerFactory::makeVPNConnectionManager(ServiceLayer& hub) {
    return makeConnectionManager_ ? makeConnectionManager_(hub) : nullptr;
}

HubService<ParseConfigService, HubParseConfigPort> DefaultServiceLayerFactory::makeParseConfigService(
    ServiceLayer& hub) {
    ApplicationModel& model = hub.appModel();
    links_ = std::make_shared<LinksManager>(model);
    analytics_ = std::make_shared<AnalyticsService>(model, p_.http);
    widget_ = std::make_shared<SmartWigdetHelper>(p_.http);
    auto service = std::make_shared<ParseConfigService>(model, p_.parse, p_.http, *links_, *widget_, *analytics_);
    return {service, std::make_shared<ParseConfigServiceAdapter>(*service)};
}

std::shared_ptr<LinksManager> DefaultServiceLayerFactory::makeLinksManager(ServiceLayer&) { return links_; }
std::shared_ptr<AnalyticsService> DefaultServiceLayerFactory::makeAnalyticsService(ServiceLayer&) {
    return analytics_;
}
std::shared_ptr<SmartWigdetHelper> DefaultServiceLayerFactory::makeSmartWidgetService(ServiceLayer&) {
    return widget_;
}

std::shared_ptr<FreeTrialSignUpService> DefaultServiceLayerFactory::makeFreeTrialService(ServiceLayer& hub) {
    uuid_ = std::make_shared<UUIDHelper>(p_.keychain, p_.system, GlobalConstants::keychainServiceName,
                                         &keychainQueue_);
    auto service = std::make_shared<FreeTrialSignUpService>(p_.parse, p_.http, *uuid_, p_.mainQueue);
    // Its verification check ("Already verified? Click here.") signs in.
    service->authService = hub.authService().get();
    return service;
}

std::shared_ptr<UUIDHelper> DefaultServiceLayerFactory::makeUUIDHelper(ServiceLayer&) { return uuid_; }

std::shared_ptr<HubCloudFunctionsPort> DefaultServiceLayerFactory::makeCloudFunctions(ServiceLayer&) {
    return std::make_shared<ParseCloudFunctions>(p_.parse);
}

std::shared_ptr<HubReachabilityPort> DefaultServiceLayerFactory::makeReachability(ServiceLayer&) {
    return std::make_shared<ReachabilityAdapter>(std::make_shared<Reachability>(p_.http, p_.mainQueue));
}

std::shared_ptr<InternetReachabilityHelper> DefaultServiceLayerFactory::makeInternetReachabilityHelper(
    ServiceLayer& hub) {
    auto wifiInfo = hub.wi_fi_InfoHelper();
    if (!wifiInfo || !p_.routes || !p_.resolver) return nullptr;
    WiFiSecurityPolicy policy;
    ApplicationModel* model = &hub.appModel();
    policy.enableTrustedNetworksManagement = [model] { return model->enableTrustedNetworksManagement(); };
    policy.trustedNetworks = [model] {
        std::vector<TrustedNetwork> trusted;
        for (const auto& item : model->trustedNetworks) trusted.push_back({item.SSID, item.BSSID});
        return trusted;
    };
    // The watch keeps the Wi-Fi helper it reads alive with it, even when the
    // hub's field is cleared.
    struct Watch {
        std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo;
        std::unique_ptr<InternetReachabilityHelper> helper;
    };
    auto watch = std::make_shared<Watch>();
    watch->wifiInfo = wifiInfo;
    watch->helper = std::make_unique<InternetReachabilityHelper>(InternetReachabilityHelper::Ports{
        p_.mainQueue, p_.background, *p_.routes, *p_.resolver, *wifiInfo, std::move(policy)});
    return std::shared_ptr<InternetReachabilityHelper>(watch, watch->helper.get());
}

std::shared_ptr<WiFi_InfoHelperObjC> DefaultServiceLayerFactory::makeWiFiInfoHelper(ServiceLayer&) {
    return p_.wifi ? std::make_shared<WiFi_InfoHelperObjC>(*p_.wifi) : nullptr;
}

std::shared_ptr<ProbeURLReachabilityHelper> DefaultServiceLayerFactory::makeProbeURLHelper(ServiceLayer&) {
    return std::make_shared<ProbeURLReachabilityHelper>(p_.http, p_.mainQueue);
}

std::shared_ptr<AppExceptionReportingHelper> DefaultServiceLayerFactory::makeAppExceptionReportingHelper(
    ServiceLayer& hub) {
    return std::make_shared<AppExceptionReportingHelper>(p_.parse, hub.appModel().platform,
                                                         GlobalConstants::appVersion);
}

std::shared_ptr<EnterpriseAuthService> DefaultServiceLayerFactory::makeEnterpriseAuthService(ServiceLayer&) {
    return std::make_shared<EnterpriseAuthService>(p_.http);
}

}  // namespace hw
