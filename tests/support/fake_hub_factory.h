#pragma once
// A hub on fakes: a real state object over a fake store and queues, a real
// install-identifier helper over a fake keychain, and fake service views.
// Records the order in which the hub asks for its parts.
#include <memory>
#include <string>
#include <vector>

#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "core/uuid_helper.h"
#include "hub/service_layer.h"
#include "services/locations_list_model.h"
#include "services/locations_list_operations.h"
#include "support/fake_http_client.h"
#include "support/fake_hub_services.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/manual_queue.h"

namespace hw::test {

class FakeHubFactory final : public ServiceLayerFactory {
public:
    FakeHubFactory() {
        store.registerDefaults(SettingsUserDefaults::defaults());
        system.serial = "HUBSERIAL1";
    }

    MainQueue& mainQueue() override { return queue; }
    SettingsStore& settingsStore() override { return store; }
    ServiceLayerOptions options() override { return hubOptions; }

    std::unique_ptr<ApplicationModel> makeAppModel() override {
        order.push_back("appModel");
        auto model = std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{store, queue, background, codec, http, system});
        model->setPorts({nullptr, nullptr, nullptr, nullptr, &locations});
        return model;
    }
    HubService<AuthService, HubAuthPort> makeAuthService(ServiceLayer&) override {
        order.push_back("authService");
        return {nullptr, auth};
    }
    HubService<VPNConfigsService, HubVPNConfigsPort> makeVPNConfigsService(ServiceLayer&) override {
        order.push_back("vpnConfigsService");
        return {nullptr, configs};
    }
    std::shared_ptr<VPNConnectionManager> makeVPNConnectionManager(ServiceLayer&) override {
        order.push_back("vpnConnectionManager");
        return nullptr;
    }
    HubService<ParseConfigService, HubParseConfigPort> makeParseConfigService(ServiceLayer&) override {
        order.push_back("parseConfigService");
        return {nullptr, parseConfig};
    }
    std::shared_ptr<LinksManager> makeLinksManager(ServiceLayer&) override { return none("linksManager"); }
    std::shared_ptr<AnalyticsService> makeAnalyticsService(ServiceLayer&) override {
        return none("analyticsService");
    }
    std::shared_ptr<SmartWigdetHelper> makeSmartWidgetService(ServiceLayer&) override {
        return none("smartWidgetService");
    }
    std::shared_ptr<FreeTrialSignUpService> makeFreeTrialService(ServiceLayer&) override {
        return none("freeTrialService");
    }
    std::shared_ptr<UUIDHelper> makeUUIDHelper(ServiceLayer&) override {
        order.push_back("aUUIDHelper");
        return std::make_shared<UUIDHelper>(keychain, system, "com.havenway.Havenway");
    }
    std::shared_ptr<HubCloudFunctionsPort> makeCloudFunctions(ServiceLayer&) override {
        order.push_back("cloudFunctions");
        return functions;
    }
    std::shared_ptr<HubReachabilityPort> makeReachability(ServiceLayer&) override {
        order.push_back("reachability");
        return reachability;
    }
    std::shared_ptr<InternetReachabilityHelper> makeInternetReachabilityHelper(ServiceLayer&) override {
        return none("internetReachabilityHelper");
    }
    std::shared_ptr<WiFi_InfoHelperObjC> makeWiFiInfoHelper(ServiceLayer&) override {
        return none("wi_fi_InfoHelper");
    }
    std::shared_ptr<ProbeURLReachabilityHelper> makeProbeURLHelper(ServiceLayer&) override {
        return none("probeURLHelper");
    }
    std::shared_ptr<AppExceptionReportingHelper> makeAppExceptionReportingHelper(ServiceLayer&) override {
        return none("appExceptionReportingHelper");
    }
    std::shared_ptr<EnterpriseAuthService> makeEnterpriseAuthService(ServiceLayer&) override {
        return none("enterpriseAuthService");
    }

    ServiceLayerOptions hubOptions;
    FakeSettingsStore store;
    ManualQueue queue;
    ManualQueue background;
    FakeImageCodec codec;
    FakeHttpClient http{queue};
    FakeSystemInfo system;
    FakeSecretStore keychain;
    ServicesLocationsListOperations locations;
    std::shared_ptr<FakeHubAuth> auth = std::make_shared<FakeHubAuth>();
    std::shared_ptr<FakeHubVPNConfigs> configs = std::make_shared<FakeHubVPNConfigs>();
    std::shared_ptr<FakeHubParseConfig> parseConfig = std::make_shared<FakeHubParseConfig>();
    std::shared_ptr<FakeHubCloudFunctions> functions = std::make_shared<FakeHubCloudFunctions>();
    std::shared_ptr<FakeHubReachability> reachability = std::make_shared<FakeHubReachability>();
    std::vector<std::string> order;

private:
    // The real service needs a backend; the flows only use the fake views.
    std::nullptr_t none(const char* name) {
        order.push_back(name);
        return nullptr;
    }
};

}  // namespace hw::test
