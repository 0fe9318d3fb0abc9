#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/application_model.h"
#include "hub/lazy_field.h"
#include "hub/service_layer_ports.h"
#include "platform/main_queue.h"
#include "platform/settings_store.h"

namespace hw {

class AuthService;
class VPNConfigsService;
class VPNConnectionManager;
class ParseConfigService;
class LinksManager;
class InternetReachabilityHelper;
class WiFi_InfoHelperObjC;
class ProbeURLReachabilityHelper;
class AppExceptionReportingHelper;
class AnalyticsService;
class EnterpriseAuthService;
class SmartWigdetHelper;
class FreeTrialSignUpService;
class UUIDHelper;
class ServiceLayer;

// A service together with the view the hub's flows take of it. The service
// may be absent in tests, where only the view is a fake.
template <class Service, class Port>
struct HubService {
    std::shared_ptr<Service> service;
    std::shared_ptr<Port> port;
};

// Settings of a build that tests need to vary.
struct ServiceLayerOptions {
    bool isEnterpriseVersion;
    std::string appVersion;
    std::string platformTag;
    ServiceLayerOptions();
};

// Builds what the hub owns. The hub calls the eager makers from its
// constructor, in the order they are declared here, each once; `hub` then
// holds every field made before. The lazy makers run on first read.
class ServiceLayerFactory {
public:
    virtual ~ServiceLayerFactory() = default;

    virtual MainQueue& mainQueue() = 0;
    virtual SettingsStore& settingsStore() = 0;
    virtual ServiceLayerOptions options() { return {}; }

    virtual std::unique_ptr<ApplicationModel> makeAppModel() = 0;
    virtual HubService<AuthService, HubAuthPort> makeAuthService(ServiceLayer& hub) = 0;
    virtual HubService<VPNConfigsService, HubVPNConfigsPort> makeVPNConfigsService(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<VPNConnectionManager> makeVPNConnectionManager(ServiceLayer& hub) = 0;
    virtual HubService<ParseConfigService, HubParseConfigPort> makeParseConfigService(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<LinksManager> makeLinksManager(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<AnalyticsService> makeAnalyticsService(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<SmartWigdetHelper> makeSmartWidgetService(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<FreeTrialSignUpService> makeFreeTrialService(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<UUIDHelper> makeUUIDHelper(ServiceLayer& hub) = 0;
    // Not fields of the hub, but what its flows call: made after the fields.
    virtual std::shared_ptr<HubCloudFunctionsPort> makeCloudFunctions(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<HubReachabilityPort> makeReachability(ServiceLayer& hub) = 0;

    virtual std::shared_ptr<InternetReachabilityHelper> makeInternetReachabilityHelper(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<WiFi_InfoHelperObjC> makeWiFiInfoHelper(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<ProbeURLReachabilityHelper> makeProbeURLHelper(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<AppExceptionReportingHelper> makeAppExceptionReportingHelper(ServiceLayer& hub) = 0;
    virtual std::shared_ptr<EnterpriseAuthService> makeEnterpriseAuthService(ServiceLayer& hub) = 0;
};

// The process-wide hub: owns the state object and every service, and runs the
// flows that involve several of them. Main thread only, except
// sharedInstance, which any thread may call.
class ServiceLayer {
public:
    // Before the first use of sharedInstance. The factory lives as long as
    // the hub.
    static void installFactory(std::shared_ptr<ServiceLayerFactory> factory);
    // Made on first use from the installed factory; never released. Throws
    // std::logic_error when no factory was installed.
    static ServiceLayer& sharedInstance();
    static ApplicationModel& model() { return sharedInstance().appModel(); }

    explicit ServiceLayer(std::shared_ptr<ServiceLayerFactory> factory);
    ~ServiceLayer();
    ServiceLayer(const ServiceLayer&) = delete;
    ServiceLayer& operator=(const ServiceLayer&) = delete;

    // Launch step 3: what sits above the hub.
    void setShell(ServiceLayerShell shell) { shell_ = std::move(shell); }
    const ServiceLayerShell& shell() const { return shell_; }

    // Eager fields.
    ApplicationModel& appModel() { return *appModel_; }
    const std::shared_ptr<AuthService>& authService() const { return authService_.service; }
    const std::shared_ptr<VPNConfigsService>& vpnConfigsService() const { return vpnConfigsService_.service; }
    const std::shared_ptr<VPNConnectionManager>& vpnConnectionManager() const { return vpnConnectionManager_; }
    const std::shared_ptr<ParseConfigService>& parseConfigService() const { return parseConfigService_.service; }
    const std::shared_ptr<LinksManager>& linksManager() const { return linksManager_; }
    const std::shared_ptr<AnalyticsService>& analyticsService() const { return analyticsService_; }
    const std::shared_ptr<SmartWigdetHelper>& smartWidgetService() const { return smartWidgetService_; }
    const std::shared_ptr<FreeTrialSignUpService>& freeTrialService() const { return freeTrialService_; }
    const std::shared_ptr<UUIDHelper>& aUUIDHelper() const { return aUUIDHelper_; }

    // Lazy fields: made on read when empty; assigning none makes the next
    // read build a fresh one.
    std::shared_ptr<InternetReachabilityHelper> internetReachabilityHelper() { return internetReachabilityHelper_.get(); }
    void setInternetReachabilityHelper(std::shared_ptr<InternetReachabilityHelper> v) { internetReachabilityHelper_.set(std::move(v)); }
    // The watch if it was made, without making it.
    std::shared_ptr<InternetReachabilityHelper> internetReachabilityHelperIfMade() const {
        return internetReachabilityHelper_.isMade() ? internetReachabilityHelper_.peek() : nullptr;
    }
    std::shared_ptr<WiFi_InfoHelperObjC> wi_fi_InfoHelper() { return wi_fi_InfoHelper_.get(); }
    void setWi_fi_InfoHelper(std::shared_ptr<WiFi_InfoHelperObjC> v) { wi_fi_InfoHelper_.set(std::move(v)); }
    std::shared_ptr<ProbeURLReachabilityHelper> probeURLHelper() { return probeURLHelper_.get(); }
    void setProbeURLHelper(std::shared_ptr<ProbeURLReachabilityHelper> v) { probeURLHelper_.set(std::move(v)); }
    std::shared_ptr<AppExceptionReportingHelper> appExceptionReportingHelper() { return appExceptionReportingHelper_.get(); }
    void setAppExceptionReportingHelper(std::shared_ptr<AppExceptionReportingHelper> v) { appExceptionReportingHelper_.set(std::move(v)); }
    std::shared_ptr<EnterpriseService> enterpriseService() { return enterpriseService_.get(); }
    void setEnterpriseService(std::shared_ptr<EnterpriseService> v) { enterpriseService_.set(std::move(v)); }
    std::shared_ptr<EnterpriseAuthService> enterpriseAuthService() { return enterpriseAuthService_.get(); }
    void setEnterpriseAuthService(std::shared_ptr<EnterpriseAuthService> v) { enterpriseAuthService_.set(std::move(v)); }
    std::shared_ptr<AppAutoLoadOnStartupHelper> startOnOSStartUpHelper() { return startOnOSStartUpHelper_.get(); }
    void setStartOnOSStartUpHelper(std::shared_ptr<AppAutoLoadOnStartupHelper> v) { startOnOSStartUpHelper_.set(std::move(v)); }

    // Set by the caller of checkInternetConnectionReachability.
    std::function<void(bool)> onInternetReachabilityCheckFinished;

    // Launch (service_layer.cpp).
    void prepareApplication();
    void prepareUserDefaultsToBeApplied();
    void initUUIDChecking();
    void checkInternetConnectionReachability();
    void loadParseConfig(bool skipNewVersionCheck, std::function<void()> completed,
                         std::function<void(const std::optional<std::string>& error)> onError);

    // After a sign-in (service_layer_required_data.cpp). The completion runs
    // once, when both branches have finished. When the remote configuration
    // fails the completion never runs; onFailure gets the error instead.
    void loadRequiredData(std::function<void()> completion,
                          std::function<void(const std::string& error)> onFailure = nullptr);
    void postProcessingBeforeDataLoadCompleted();
    void updateAutomaticLocation();
    std::shared_ptr<LocationsListItemModel> getAutomaticLocationModel(const LocationsListItemModel& item) const;
    void onAutomaticLocationLoaded(const std::string& objectId);
    // The completion runs on the main queue; never when there is no lookup
    // address.
    void refreshUserIPAddress(std::function<void()> completion);
    void setMirrorDomainIfRequired(const std::optional<std::vector<std::string>>& countries,
                                   const std::string& countryCode);
    // Whether the list load may come from the local datastore.
    bool shouldUseCachedLocations() const;

    // Account and version (service_layer_session.cpp).
    bool checkingIfNewAppVersionAvailable();
    std::string getAppVersion() const { return options_.appVersion; }
    void syncVPNAcccountDetails(std::function<void()> onComplited);
    // Signs in again with the stored credentials, then runs the retry. Retries
    // that arrive while a sign-in is under way join it.
    void onParseSessionExpired(SessionRetry completion);

private:
    struct RequiredDataRun;
    void startAddressBranch(const std::shared_ptr<RequiredDataRun>& run);
    void startLocationsBranch(const std::shared_ptr<RequiredDataRun>& run);
    void onAddressResolved(const std::shared_ptr<RequiredDataRun>& run, const PublicAddressInfo& info,
                           const std::optional<std::string>& objectId);
    void branchFinished(const std::shared_ptr<RequiredDataRun>& run);
    void storePublicAddress(const PublicAddressInfo& info);
    void onSilentSignInFinished(bool succeeded);
    // Runs the task on the main queue while the hub lives.
    void onMain(std::function<void()> task);

    std::shared_ptr<ServiceLayerFactory> factory_;
    MainQueue& mainQueue_;
    SettingsStore& store_;
    ServiceLayerOptions options_;
    ServiceLayerShell shell_;

    std::unique_ptr<ApplicationModel> appModel_;
    HubService<AuthService, HubAuthPort> authService_;
    HubService<VPNConfigsService, HubVPNConfigsPort> vpnConfigsService_;
    std::shared_ptr<VPNConnectionManager> vpnConnectionManager_;
    HubService<ParseConfigService, HubParseConfigPort> parseConfigService_;
    std::shared_ptr<LinksManager> linksManager_;
    LazyField<InternetReachabilityHelper> internetReachabilityHelper_;
    LazyField<WiFi_InfoHelperObjC> wi_fi_InfoHelper_;
    LazyField<ProbeURLReachabilityHelper> probeURLHelper_;
    LazyField<AppExceptionReportingHelper> appExceptionReportingHelper_;
    std::shared_ptr<AnalyticsService> analyticsService_;
    LazyField<EnterpriseService> enterpriseService_;
    LazyField<EnterpriseAuthService> enterpriseAuthService_;
    std::shared_ptr<SmartWigdetHelper> smartWidgetService_;
    std::shared_ptr<FreeTrialSignUpService> freeTrialService_;
    std::shared_ptr<UUIDHelper> aUUIDHelper_;
    LazyField<AppAutoLoadOnStartupHelper> startOnOSStartUpHelper_;

    std::shared_ptr<HubCloudFunctionsPort> cloudFunctions_;
    std::shared_ptr<HubReachabilityPort> reachability_;

    // Retries waiting for the silent sign-in, each run once.
    std::vector<SessionRetry> pendingSessionRetries_;
    bool silentSignInInProgress_ = false;
    std::uint64_t publicAddressAsks_ = 0;
    // Answers that arrive after the hub is gone are dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
