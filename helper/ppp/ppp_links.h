#pragma once
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "helper/ppp/ppp_service.h"
#include "helper/process_records.h"
#include "platform/process_runner.h"

namespace hw::helper::ppp {

// The state of one service's link as the application reads it.
struct PppLinkStatus {
    std::int32_t status = 0;                // 0 disconnected, 1 connecting, 2 connected, 3 disconnecting
    std::optional<std::int64_t> pppStatus;  // 0 idle, 1 starting, 8 running
    std::optional<std::int64_t> lastCause;  // pppd's exit code of the last link
};

// pppd's exit codes that the application reads as last causes.
inline constexpr std::int64_t kPppExitFatal = 1;
inline constexpr std::int64_t kPppExitNoKernelSupport = 4;
inline constexpr std::int64_t kPppExitUserRequest = 5;

// How `ip -o route get SERVER` says the server is reached: through a gateway
// (then L2TP pins a host route there before pppd takes the default route);
// none for a directly connected network or an unreadable answer.
struct ServerPath {
    std::string gateway;
    std::string device;
};
std::optional<ServerPath> serverPathFrom(std::string_view ipRouteGet);

// Runs the links of the stored services: pppd (with pptp as its pty) for
// PPTP; IPsec transport mode, then xl2tpd with pppd for L2TP. A monitor
// thread per link follows the process and the link-up marker and reports
// each change to the listener, in order.
class PppLinks {
public:
    using Listener = std::function<void(const std::string& serviceID, const PppLinkStatus& status)>;
    // Answers whether the kernel can do ESP; why when it cannot.
    using EspProbe = std::function<bool(std::string* why)>;

    PppLinks(PppPaths paths, ProcessRunner& runner, EspProbe espProbe);
    ~PppLinks();
    PppLinks(const PppLinks&) = delete;
    PppLinks& operator=(const PppLinks&) = delete;

    void setListener(Listener listener);
    // Starts the link unless it runs; false with a reason when it cannot
    // (then the last cause says why, as pppd would).
    bool start(const PppService& service, const PppSecrets& secrets, std::string* error);
    // TERM to the link's processes; forced also KILLs them after a short
    // grace. False when nothing runs.
    bool stop(const std::string& serviceID, bool force);
    PppLinkStatus status(const std::string& serviceID);
    // The interfaces of the links that are up (their ip-up has run).
    std::vector<std::string> devices();
    void stopAll();
    // Stops the links that an earlier run of the helper left running (their
    // processes are recorded under the run folder) and removes their host
    // routes and files. Blocks up to a few seconds when there are any. Only
    // while this instance runs no link.
    int stopLeftovers();

private:
    struct Link {
        pid_t pid = -1;
        PppServiceType type = PppServiceType::PPTP;
        PppLinkStatus reported;
        bool stopping = false;
        bool forced = false;
        std::string hostRoute;  // the L2TP server's host route that we added
        std::thread monitor;
    };

    bool prepareRunFolder(std::string* error);
    void prepareLogFile();
    pid_t spawn(const std::vector<std::string>& argv, std::string* error);
    void monitor(std::string serviceID);
    void fail(const std::string& serviceID, std::int64_t cause);
    // The L2TP server's address, with a host route to it through the current
    // gateway so that its packets do not follow pppd's default route.
    std::optional<std::string> routeToServer(const std::string& endpoint, std::string* hostRoute, std::string* error);
    void notify(const std::string& serviceID, const PppLinkStatus& status);

    bool ipRoute(std::vector<std::string> args, std::string* output);
    std::string routeRecordPath(const std::string& id) const;
    void removeHostRoute(const std::string& id, const std::string& route);

    PppPaths paths_;
    ProcessRunner& runner_;
    EspProbe espProbe_;
    ProcessRecords records_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::string, std::unique_ptr<Link>> links_;
    std::map<std::string, PppLinkStatus> finished_;  // the last state of links that ended
    Listener listener_;
    std::mutex listenerMutex_;
    bool closing_ = false;
};

}  // namespace hw::helper::ppp
