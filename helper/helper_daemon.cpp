#include "helper/helper_daemon.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <sstream>

#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "HelperDaemon";
constexpr const char* kGroup = "havenway";
}  // namespace

std::optional<uid_t> readInstalledUser(const std::string& configPath) {
    auto text = readFile(configPath);
    if (!text) return std::nullopt;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("uid=", 0) == 0) {
            auto v = line.substr(4);
            if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos) continue;
            return static_cast<uid_t>(std::stoul(v));
        }
        if (line.rfind("user=", 0) == 0) {
            auto name = line.substr(5);
            if (!isStrictName(name, 32)) continue;
            if (passwd* pw = ::getpwnam(name.c_str())) return pw->pw_uid;
            log::warning(kLog, "installed-for user " + describeForLog(name) + " does not exist");
        }
    }
    return std::nullopt;
}

HelperDaemon::HelperDaemon(ProcessRunner& runner, NetworkStack& network, HelperPaths paths)
    : services_(runner, network, std::move(paths)) {}

HelperDaemon::~HelperDaemon() { stop(); }

bool HelperDaemon::start(std::string* error) {
    const auto& paths = services_.context.paths;
    registerAllCommands(dispatcher_, services_);

    HelperServer::Options options;
    options.socketPath = paths.socket;
    // The installed-for user owns the socket, so the app reaches it without
    // a new login for a group membership; the group is for other admins.
    if (auto uid = readInstalledUser(paths.config)) {
        options.allowedUids.push_back(*uid);
        options.owner = *uid;
    } else log::warning(kLog, "no installed-for user in " + paths.config + "; serving root only");
    if (group* g = ::getgrnam(kGroup)) options.group = g->gr_gid;
    options.mode = 0660;
    options.maxClients = kMaxConnections;
    options.maxClientsPerProcess = kMaxConnectionsPerProcess;
    options.maxDescriptorsInFlight = kDescriptorsInFlight;
    // Started by hand or by an older unit, the soft limit may be lower.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kDescriptorLimit) {
        files.rlim_cur = std::min(files.rlim_max, kDescriptorLimit);
        ::setrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < kDescriptorLimit)
            log::warning(kLog, "only " + std::to_string(files.rlim_cur) + " descriptors allowed; " +
                                   std::to_string(kDescriptorLimit) + " wanted");
    }

    auto slash = paths.socket.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(paths.socket.substr(0, slash), 0755)) {
        if (error) *error = "cannot create the socket folder";
        return false;
    }
    // Commands run on the serving thread itself, one at a time in the order
    // they arrived: they wait for each other anyway, and handing each to
    // another thread cost a wake-up per command. Nothing a command waits for
    // comes through this socket (openvpn's events only queue while it runs).
    server_ = std::make_unique<HelperServer>(options, [this](HelperRequest request) {
        // A request no handler takes is refused at once: it needs no state.
        if (!dispatcher_.takes(request.message)) return dispatcher_.dispatch(std::move(request));
        auto held = services_.context.holdState();
        dispatcher_.dispatch(std::move(request));
    });
    if (!server_->listen(error)) return false;
    log::info(kLog, "listening on " + paths.socket);
    // A link that drops takes the VPN server's host route with it; put back
    // while a tunnel runs or the lock holds, between commands like one of
    // them. Under the lock a new network's default route is its way out.
    services_.lock.setRecheck([this] { routes_.nudge(); });
    services_.lock.setPromptRecheck([this] { routes_.nudgeNow(); });
    routes_.start([this] {
        auto held = services_.context.holdState();
        services_.lock.tunnelsChanged();
        services_.lock.followWayOut();
        services_.lock.keepServerRoutes();
        services_.lock.dropRoutesNoTunnelNeeds();
    });
    // A lock an earlier helper left may find a new network already.
    routes_.nudge();
    return true;
}

void HelperDaemon::run() {
    if (server_) server_->run();
}

void HelperDaemon::stop() {
    routes_.stop();
    if (server_) server_->stop();
}

}  // namespace hw::helper
