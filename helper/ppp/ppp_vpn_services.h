#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helper/command_dispatcher.h"
#include "helper/ppp/ppp_links.h"
#include "helper/ppp/ppp_service_store.h"
#include "platform/process_runner.h"

namespace hw::helper {
struct HelperServices;
}

namespace hw::helper::ppp {

inline constexpr std::size_t kWatchesPerService = 8;
inline constexpr std::size_t kWatchesPerClient = 8;
inline constexpr std::size_t kWatchesInAll = 32;

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
    // channel as {"event": "status", "status": n}, until its reader leaves
    // (its end closes). Only for a service that exists. Each watch holds a
    // descriptor: past kWatchesPerService for the service, kWatchesPerClient
    // for the client (its pid) or kWatchesInAll, the oldest goes.
    bool watch(const std::string& serviceID, HelperChannel channel, pid_t client = 0);
    std::size_t watchCount();
    // Ends the watches whose reader closed its end; a thread of ours does so
    // as soon as one closes.
    void releaseClosedWatches();
    // Sees every change of every link too (tests, diagnostics).
    void setObserver(PppLinks::Listener observer);

    PppServiceStore& store() { return store_; }
    PppLinks& links() { return links_; }
    const PppPaths& paths() const { return paths_; }

private:
    void broadcast(const std::string& serviceID, const PppLinkStatus& status);
    void followWatches();
    void wakeWatchThread();

    struct Watch {
        std::string serviceID;
        pid_t client = 0;
        HelperChannel channel;
    };

    PppPaths paths_;
    PppServiceStore store_;
    std::mutex watchMutex_;
    std::vector<Watch> watches_;  // oldest first
    UniqueFd watchWake_;
    std::thread watchThread_;
    bool watchQuit_ = false;
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
