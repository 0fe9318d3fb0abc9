#include "app/hub_shell_services.h"

#include <memory>

#include "connection/vpn_connection_manager.h"
#include "network/internet_reachability_helper.h"
#include "platform/log.h"
#include "services/analytics_service.h"
#include "services/app_exception_reporting_helper.h"
#include "services/auth_service.h"
#include "services/enterprise_auth_service.h"
#include "services/parse_config_service.h"

namespace hw {
namespace {
constexpr char kLog[] = "ShellServices";
void missing(const char* what) { log::info(kLog, std::string("no ") + what + "; step skipped"); }
}  // namespace

HubShellServices::HubShellServices(ServiceLayer& hub, ParseClient& parse, MainQueue& queue,
                                   std::function<void(std::function<void()>)> flushHelper)
    : hub_(hub), parse_(parse), queue_(queue), flushHelper_(std::move(flushHelper)) {}

#define HW_MANAGER(call)                                                     \
    do {                                                                     \
        if (auto& m = hub_.vpnConnectionManager()) m->call;                  \
        else missing("connection manager");                                  \
    } while (0)

void HubShellServices::prepareConnectionManager() { HW_MANAGER(prepareConnectionManager()); }
ConnectionIntents* HubShellServices::connectionIntents() {
    auto& manager = hub_.vpnConnectionManager();
    return manager ? &manager->connectionLife() : nullptr;
}
void HubShellServices::terminatePreviousOpenVPNProcesses() {
    // A request the launch made through the tunnel of the openvpn that ends
    // here would wait on an address that is gone: made again, afresh. With
    // none ended, the routes stand and nothing is sent twice.
    std::weak_ptr<bool> alive = alive_;
    HW_MANAGER(terminatePreviousOpenVPNProcesses([this, alive](bool ended) {
        if (alive.lock() && ended) parse_.dropConnections();
    }));
}
void HubShellServices::adoptOrEndLeftoverTunnel(bool endLeftoverOpenVPN) {
    std::weak_ptr<bool> alive = alive_;
    HW_MANAGER(adoptRunningTunnel([this, alive, endLeftoverOpenVPN](bool adopted) {
        if (alive.lock() && !adopted && endLeftoverOpenVPN) terminatePreviousOpenVPNProcesses();
    }));
}
void HubShellServices::disableNetworkLock() { HW_MANAGER(disableNetworkLock()); }
void HubShellServices::keepNetworkLockLeftFromEarlierRun() { HW_MANAGER(keepNetworkLockLeftFromEarlierRun()); }
void HubShellServices::forgetAccountAttempt() { HW_MANAGER(forgetAccountAttempt()); }
void HubShellServices::cleanUpSessionAndNotifyDisconnected() { HW_MANAGER(cleanUpSessionAndNotifyDisconnected()); }
void HubShellServices::disconnect() { HW_MANAGER(disconnect()); }
void HubShellServices::onDeviceWillSleep() { HW_MANAGER(onDeviceWillSleep()); }
void HubShellServices::onDeviceDidWake() { HW_MANAGER(onDeviceDidWake()); }

void HubShellServices::prepareForTermination(std::function<void()> done) {
    HW_MANAGER(prepareForTermination());
    if (!flushHelper_) {
        queue_.post(std::move(done));
        return;
    }
    // The exit waits for the helper to take the disconnect, but not forever.
    auto once = std::make_shared<std::function<void()>>(std::move(done));
    auto fire = [once] {
        if (auto f = std::exchange(*once, nullptr)) f();
    };
    queue_.postAfter(kHelperFlushBoundMs, fire);
    flushHelper_([this, fire] { queue_.post(fire); });
}
#undef HW_MANAGER

#define HW_REACHABILITY(call)                                                \
    do {                                                                     \
        if (auto r = hub_.internetReachabilityHelper()) r->call;             \
        else missing("reachability helper");                                 \
    } while (0)

void HubShellServices::stopReachability() { HW_REACHABILITY(stopReachability()); }
void HubShellServices::clearAllReachabilityObservers() { HW_REACHABILITY(clearAllObservers()); }
void HubShellServices::watchInsecureWiFi(const std::string& host, std::function<void()> onInsecure) {
    auto r = hub_.internetReachabilityHelper();
    if (!r) return missing("reachability helper");
    r->clearOnWiFiConnectionINSECUREObservers();
    r->stopReachability();
    r->addOnWiFiConnectionINSECUREObserver(std::move(onInsecure));
    r->reach(host);
}
#undef HW_REACHABILITY

void HubShellServices::initParse() {
    if (!parse_.enableLocalDatastore()) log::warning(kLog, "local datastore could not be opened");
    parse_.setDefaultACL(JSON::dictionaryLiteral({}), true);
    parse_.enableRevocableSession();
}

void HubShellServices::trackAppOpened() { parse_.trackAppOpened(); }

bool HubShellServices::parseConfigNeedsFetch() {
    return ParseConfigService::isConfigIncomplete(parse_.currentConfig());
}

void HubShellServices::applyCachedParseConfig(std::function<void()> completion) {
    if (auto service = hub_.parseConfigService()) service->applyConfig(parse_.currentConfig(), std::move(completion));
    else if (completion) completion();
}

void HubShellServices::restoreLoginData(std::function<void(std::optional<LoginData>)> done) {
    if (auto auth = hub_.authService()) auth->restoreLoginDataFromKeychain(std::move(done));
    else if (done) done(std::nullopt);
}

std::string HubShellServices::restoreFailure() {
    const auto& auth = hub_.authService();
    return auth ? auth->lastRestoreFailure() : std::string();
}

void HubShellServices::logOut() {
    if (auto auth = hub_.authService()) auth->logOut();
    else missing("sign-in service");
}

void HubShellServices::clearEnterpriseCookies() {
    if (clearEnterpriseCookies_) clearEnterpriseCookies_();
    else missing("enterprise page");
}

void HubShellServices::requestAuthToken(const std::string& code, std::function<void(const std::string&)> done) {
    if (auto s = hub_.enterpriseAuthService()) s->requestAuthToken(code, std::move(done));
    else missing("enterprise sign-in service");
}

void HubShellServices::requestClientID(const std::string& token,
                                       std::function<void(const std::string&, const std::string&)> done) {
    if (auto s = hub_.enterpriseAuthService()) s->requestClientIDUsingAccessToken(token, std::move(done));
    else missing("enterprise sign-in service");
}

void HubShellServices::sendAnalyticsEvent(const std::string& name,
                                          const std::optional<std::map<std::string, std::string>>& parameters) {
    if (auto a = hub_.analyticsService()) a->sendEvent(name, parameters);
}

void HubShellServices::sendExceptionReport(const std::string& callStack, const std::string& exceptionType) {
    if (auto r = hub_.appExceptionReportingHelper()) r->sendExceptionReport(callStack, exceptionType);
}

}  // namespace hw
