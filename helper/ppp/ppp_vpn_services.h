#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "helper/command_dispatcher.h"
#include "helper/ppp/ppp_links.h"
#include "helper/ppp/ppp_service_store.h"
#include "platform/process_runner.h"

namespace hw::helper {
struct HelperServices;
}

namespace hw::helper::ppp {

// The system VPN services of the helper: the store and the running links,
// behind the helper commands.
class PppVpnServices {
public:
    PppVpnServices(PppPaths paths, ProcessRunner& runner, PppLinks::EspProbe espProbe);
    ~PppVpnServices();

    // "connectToVPN": checks every value, then creates or updates the
    // service. Nothing (and why) when a value is refused or a file fails.
    std::optional<PppService> create(const HelperDictionary& parameters, std::string* error);
    // "deleteExistingVPNService": stops its link first.
    bool remove(const std::string& name);
    std::optional<PppService> find(const std::string& name) const { return store_.find(name); }
    bool start(const std::string& serviceID, std::string* error);
    bool stop(const std::string& serviceID, bool force) { return links_.stop(serviceID, force); }
    PppLinkStatus status(const std::string& serviceID) { return links_.status(serviceID); }
    // Every status change of the service's link from now on goes to the
    // channel as {"event": "status", "status": n}, until its reader leaves.
    void watch(const std::string& serviceID, HelperChannel channel);
    // Sees every change of every link too (tests, diagnostics).
    void setObserver(PppLinks::Listener observer);

    PppServiceStore& store() { return store_; }
    PppLinks& links() { return links_; }
    const PppPaths& paths() const { return paths_; }

private:
    void broadcast(const std::string& serviceID, const PppLinkStatus& status);

    PppPaths paths_;
    PppServiceStore store_;
    std::mutex watchMutex_;
    std::multimap<std::string, HelperChannel> watchers_;
    PppLinks::Listener observer_;
    PppLinks links_;  // last: its monitors report into the members above
};

// "connectToVPN", "deleteExistingVPNService", and the commands through which
// the application follows a service: "getVPNService" (connectionName),
// "startVPNService" (serviceID), "stopVPNService" (serviceID, force),
// "getVPNServiceStatus" (serviceID), "watchVPNService" (serviceID, channel).
void registerPppCommands(CommandDispatcher& dispatcher, std::shared_ptr<PppVpnServices> services);
void registerPppCommands(CommandDispatcher& dispatcher, HelperServices& services);

}  // namespace hw::helper::ppp
