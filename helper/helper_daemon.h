#pragma once
#include <sys/resource.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "helper/command_dispatcher.h"
#include "helper/helper_services.h"
#include "helper/route_keeper.h"
#include "platform/helper_server.h"

namespace hw::helper {

// Connections served at once, in all and per peer process: the oldest
// idle one goes for a new one, so that nobody can keep the app out.
inline constexpr std::size_t kMaxConnections = 64;
inline constexpr std::size_t kMaxConnectionsPerProcess = 16;
// Descriptors that unfinished messages may hold, over all connections: a
// client's request carries one, a handed-over channel a few more.
inline constexpr std::size_t kDescriptorsInFlight = 128;
// Descriptors the helper may hold: the connections, the descriptors in
// flight, the PPP watches, one whole message's channels and what the
// services keep open (the state lock, inotify, openvpn's output, charon's and
// pppd's sockets) take a few hundred at most, all of them bounded; the rest
// is the reserve that its own work (locking its state, putting resolv.conf
// back) and the programs it starts, which inherit the limit, can count on.
// The installed unit sets it (LimitNOFILE).
inline constexpr rlim_t kDescriptorLimit = 1024;

// The user the helper was installed for, from its config file: a line
// "user=<name>" or "uid=<number>". Absent when the file or the user is not
// there; then only root is served.
std::optional<uid_t> readInstalledUser(const std::string& configPath);

// The running helper: the socket, the peer check and the commands, run one
// at a time in the order they arrived on the socket's thread.
class HelperDaemon {
public:
    HelperDaemon(ProcessRunner& runner, NetworkStack& network, HelperPaths paths);
    ~HelperDaemon();

    // Reads the config, registers the commands and listens.
    bool start(std::string* error);
    // Serves until stop().
    void run();
    void stop();

    CommandDispatcher& dispatcher() { return dispatcher_; }
    HelperServices& services() { return services_; }
    HelperServer& server() { return *server_; }

private:
    // First: a tunnel process that ends while the services go still nudges it.
    RouteKeeper routes_;
    HelperServices services_;
    CommandDispatcher dispatcher_;
    std::unique_ptr<HelperServer> server_;
};

}  // namespace hw::helper
