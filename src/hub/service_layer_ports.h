#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "json/json.h"

// The narrow views the hub's flows take of the services it owns, and what the
// application above the hub hands in at start-up. The services implement the
// first group through thin adapters, so the flows run on fakes in tests.
namespace hw {

class EnterpriseService;
class AppAutoLoadOnStartupHelper;

// A repeat of a backend request that met an expired session.
using SessionRetry = std::function<void()>;
using SessionExpiredHandler = std::function<void(SessionRetry retry)>;

// The sign-in service.
class HubAuthPort {
public:
    virtual ~HubAuthPort() = default;
    virtual std::optional<LoginData> recentLoginData() const = 0;
    // Called with the outcome of every sign-in that ends from now on.
    virtual void setOnLoginFinished(std::function<void(bool succeeded)> callback) = 0;
    // The outcome arrives through the callback above.
    virtual void login(const std::string& username, const std::string& password) = 0;
};

// What a public-address lookup answered. On failure the address is whatever
// the lookup delivered (often empty).
struct PublicAddressInfo {
    std::string address;
    std::string countryCode;
    std::string timeZone;
    bool failed = false;
};

// Remote configuration, public address and automatic location. Completions
// may arrive on any thread; the hub moves to the main queue itself.
class HubParseConfigPort {
public:
    virtual ~HubParseConfigPort() = default;
    virtual void loadParseConfig(std::function<void()> completed,
                                 std::function<void(const std::optional<std::string>& error)> onError) = 0;
    virtual void requestPublicIPInfo(const std::string& url, std::function<void(PublicAddressInfo)> completion) = 0;
    // Nothing when the backend had no answer (any error but an expired
    // session, which goes to the handler below instead).
    virtual void getAutomaticLocation(const std::string& address, const std::string& timeZone,
                                      std::function<void(std::optional<std::string> objectId)> completion) = 0;
    virtual void setOnParseSessionExpired(SessionExpiredHandler handler) = 0;
};

// The locations list.
class HubVPNConfigsPort {
public:
    virtual ~HubVPNConfigsPort() = default;
    // Nothing when the load failed.
    virtual void loadLocationsList(bool useCache,
                                   std::function<void(std::shared_ptr<LocationsListModel>)> completion) = 0;
    virtual void setOnParseSessionExpired(SessionExpiredHandler handler) = 0;
};

// Cloud functions of the backend client.
class HubCloudFunctionsPort {
public:
    virtual ~HubCloudFunctionsPort() = default;
    virtual void callFunction(const std::string& name, const JSON& params,
                              std::function<void(bool succeeded)> completion) = 0;
};

// The backend reachability probe.
class HubReachabilityPort {
public:
    virtual ~HubReachabilityPort() = default;
    virtual void setBackendHost(const std::string& host) = 0;
    virtual void checkReachability(std::function<void(bool reachable)> completion) = 0;
};

// The application delegate's operations the hub needs.
class ApplicationDelegatePort {
public:
    virtual ~ApplicationDelegatePort() = default;
    // The new-version pop-up.
    virtual void showAppUpgratePopup() = 0;
    virtual void openAuthWindow() = 0;
    // On the delegate's sign-in window controller.
    virtual void prepareEnterpriseVersionUI() = 0;
};

// What the application injects at launch, before anything reaches for it.
// Every member may be absent; the hub then skips the step that needs it.
struct ServiceLayerShell {
    // Lives as long as the process.
    ApplicationDelegatePort* appDelegate = nullptr;
    // VersionObject's comparison: whether `current` is lower than `other`.
    std::function<bool(const std::string& current, const std::string& other)>
        compareIfVersionIsLowerThanWithAnotherVersion;
    std::function<std::shared_ptr<EnterpriseService>()> makeEnterpriseService;
    std::function<std::shared_ptr<AppAutoLoadOnStartupHelper>()> makeStartOnOSStartUpHelper;
};

}  // namespace hw
