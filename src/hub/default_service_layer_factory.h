#pragma once
#include <functional>
#include <memory>

#include "hub/service_layer.h"
#include "platform/backend/parse_client.h"
#include "platform/http.h"
#include "platform/image_codec.h"
#include "platform/route_watch.h"
#include "platform/secret_store.h"
#include "platform/secret_store_queue.h"
#include "platform/system_info.h"
#include "platform/wifi.h"
#include "services/locations_list_operations.h"

namespace hw {

// What the real services are built on. Each part must outlive the hub.
struct ServiceLayerPlatform {
    MainQueue& mainQueue;
    BackgroundQueue& background;
    SettingsStore& store;
    SecretStore& keychain;
    HttpClient& http;
    ParseClient& parse;
    const SystemInfo& system;
    const ImageCodec& imageCodec;
    // The Wi-Fi helper and the reachability watch need these; without them
    // those fields stay empty.
    WiFiProvider* wifi = nullptr;
    RouteWatch* routes = nullptr;
    NameResolver* resolver = nullptr;
    // Where the account's and the identifier's store calls run, off the main
    // thread; without one, the factory queues them on background.
    SecretStoreQueue* keychainQueue = nullptr;
    // The 0600 file's store, read for the account when the keychain errs or is late.
    SecretStoreQueue* fileCopyQueue = nullptr;
};

// Builds the real services. The connection engine comes from the
// application, which knows its providers.
class DefaultServiceLayerFactory final : public ServiceLayerFactory {
public:
    using ConnectionManagerMaker = std::function<std::shared_ptr<VPNConnectionManager>(ServiceLayer&)>;

    explicit DefaultServiceLayerFactory(ServiceLayerPlatform platform,
                                        ConnectionManagerMaker makeConnectionManager = nullptr);
    ~DefaultServiceLayerFactory() override;

    MainQueue& mainQueue() override { return p_.mainQueue; }
    SettingsStore& settingsStore() override { return p_.store; }

    std::unique_ptr<ApplicationModel> makeAppModel() override;
    HubService<AuthService, HubAuthPort> makeAuthService(ServiceLayer& hub) override;
    HubService<VPNConfigsService, HubVPNConfigsPort> makeVPNConfigsService(ServiceLayer& hub) override;
    std::shared_ptr<VPNConnectionManager> makeVPNConnectionManager(ServiceLayer& hub) override;
    HubService<ParseConfigService, HubParseConfigPort> makeParseConfigService(ServiceLayer& hub) override;
    std::shared_ptr<LinksManager> makeLinksManager(ServiceLayer& hub) override;
    std::shared_ptr<AnalyticsService> makeAnalyticsService(ServiceLayer& hub) override;
    std::shared_ptr<SmartWigdetHelper> makeSmartWidgetService(ServiceLayer& hub) override;
    std::shared_ptr<FreeTrialSignUpService> makeFreeTrialService(ServiceLayer& hub) override;
    std::shared_ptr<UUIDHelper> makeUUIDHelper(ServiceLayer& hub) override;
    std::shared_ptr<HubCloudFunctionsPort> makeCloudFunctions(ServiceLayer& hub) override;
    std::shared_ptr<HubReachabilityPort> makeReachability(ServiceLayer& hub) override;
    std::shared_ptr<InternetReachabilityHelper> makeInternetReachabilityHelper(ServiceLayer& hub) override;
    std::shared_ptr<WiFi_InfoHelperObjC> makeWiFiInfoHelper(ServiceLayer& hub) override;
    std::shared_ptr<ProbeURLReachabilityHelper> makeProbeURLHelper(ServiceLayer& hub) override;
    std::shared_ptr<AppExceptionReportingHelper> makeAppExceptionReportingHelper(ServiceLayer& hub) override;
    std::shared_ptr<EnterpriseAuthService> makeEnterpriseAuthService(ServiceLayer& hub) override;

private:
    class LazyInternetReachability;

    ServiceLayerPlatform p_;
    ConnectionManagerMaker makeConnectionManager_;
    ServicesLocationsListOperations locations_;
    std::unique_ptr<LazyInternetReachability> reachabilityPort_;
    // A service an earlier one holds by reference is made with that one and
    // handed out again at its own turn.
    std::shared_ptr<LinksManager> links_;
    std::shared_ptr<AnalyticsService> analytics_;
    std::shared_ptr<SmartWigdetHelper> widget_;
    std::shared_ptr<UUIDHelper> uuid_;
    std::unique_ptr<SecretStoreQueue> ownKeychainQueue_;
    SecretStoreQueue& keychainQueue_;
};

}  // namespace hw
