#include "helper/openvpn/openvpn_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "helper/nft_ruleset.h"
#include "helper/openvpn/openvpn_command_line.h"
#include "helper/openvpn/openvpn_config_filter.h"
#include "helper/socket_wait.h"
#include "helper/tied_process.h"
#include "platform/log.h"

namespace hw::helper {

namespace {

constexpr const char* kLog = "OpenVPNService";

std::string selfExecutable() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::string defaultEventProgram() {
    const std::string self = selfExecutable();
    const std::string lean = self.substr(0, self.rfind('/') + 1) + kOpenVPNEventProgram;
    return ::access(lean.c_str(), X_OK) == 0 ? lean : self;
}

std::string defaultEventPlugin() {
    const std::string self = selfExecutable();
    const std::string plugin = self.substr(0, self.rfind('/') + 1) + kOpenVPNEventPlugin;
    return ::access(plugin.c_str(), R_OK) == 0 ? plugin : std::string();
}

std::string openvpnLogLine(std::string_view line) {
    // openvpn masks the password it is given, not the user name beside it.
    constexpr std::string_view kUsername = "MANAGEMENT: CMD 'username";
    const auto at = line.find(kUsername);
    if (at == std::string_view::npos) return std::string(line);
    return std::string(line.substr(0, at + kUsername.size())) + " [...]'";
}

namespace {

// A word of openvpn's up/down command as its own parser reads it.
std::string openvpnWord(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// openvpn greets each client it takes with an ">INFO:" line; peeked, so
// that the app still reads it.
bool greetedBy(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char first = 0;
        const ssize_t n = ::recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        return n == 1 && first == '>';
    }
}

}  // namespace

// One openvpn we started: its output is logged by a thread that then reaps it.
struct OpenVPNService::Child {
    pid_t pid = -1;
    unsigned long long startTime = 0;
    uid_t owner = 0;
    std::atomic<bool> connected{false};  // its tunnel came up
    // The tunnel's gateway and device, from its up event; under the service's mutex.
    std::string gateway;
    std::string device;
    std::atomic<bool> exited{false};
    std::thread reaper;
};

OpenVPNService::OpenVPNService(HelperServices& services, OpenVPNServiceOptions options)
    : services_(services), options_(std::move(options)) {
    if (options_.eventPlugin.empty()) options_.eventPlugin = defaultEventPlugin();
    if (options_.eventProgram.empty() && options_.eventPlugin.empty()) options_.eventProgram = defaultEventProgram();
}

OpenVPNService::~OpenVPNService() { stopChildren(); }

std::string OpenVPNService::configCopyPath() const {
    return services_.context.paths.runDir + "/openvpn-config/config.ovpn";
}

std::string OpenVPNService::managementPath() const {
    return services_.context.paths.runDir + "/openvpn-management/management.sock";
}

std::vector<std::string> OpenVPNService::openvpnArguments() const {
    std::vector<std::string> args{options_.openvpnBinary,
                                  "--config", configCopyPath(),
                                  // After the file, so that it cannot change them.
                                  "--management", managementPath(), "unix",
                                  // openvpn makes the socket 0777: only root's connections count.
                                  "--management-client-user", "root",
                                  "--management-query-passwords",
                                  // The app reads the tunnel's gateway from openvpn's level-3 lines.
                                  "--verb", "3",
                                  // The kill switch lets only marked packets reach the server.
                                  "--mark", std::to_string(kLockMark),
                                  // Its own restart after a ping timeout looks the server up
                                  // again through the dead tunnel's routes and DNS, for good:
                                  // it ends instead, and the app's paced tries take over.
                                  "--remap-usr1", "SIGTERM"};
    const std::string& socket = services_.context.paths.socket;
    if (!options_.eventPlugin.empty()) {
        args.insert(args.end(), {"--plugin", options_.eventPlugin, socket});
    } else {
        const std::string event = openvpnWord(options_.eventProgram) + " --openvpn-event " + openvpnWord(socket);
        args.insert(args.end(), {"--script-security", "2", "--up", event, "--down", event});
    }
    // Under the kill switch the routes are the lock's: the server's host route
    // came with it and the tunnel's default route comes when the tunnel is up.
    // openvpn's own redirect finds no default route to go around and would
    // leave the tunnel in a route error that never counts as connected.
    if (services_.lock.active()) args.insert(args.end(), {"--pull-filter", "ignore", "redirect-gateway"});
    return args;
}

std::optional<std::string> OpenVPNService::readUserConfig(const std::string& path, uid_t owner) {
    auto slash = path.rfind('/');
    if (path.substr(slash + 1) != options_.configName) {
        log::warning(kLog, "refused: the configuration is not named " + options_.configName);
        return std::nullopt;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        log::warning(kLog, "refused: cannot open the configuration " + describeForLog(path) + ": " + std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        log::warning(kLog, "refused: the configuration is not a regular file");
        ok = false;
    }
    if (ok && st.st_uid != owner) {
        log::warning(kLog, "refused: the configuration belongs to uid " + std::to_string(st.st_uid) +
                               ", not to the requesting uid " + std::to_string(owner));
        ok = false;
    }
    if (ok && st.st_size > static_cast<off_t>(kOpenVPNConfigMaxBytes)) {
        log::warning(kLog, "refused: the configuration is too large");
        ok = false;
    }
    char buf[65536];
    while (ok) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kOpenVPNConfigMaxBytes) ok = false;
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return text;
}

bool OpenVPNService::prepareManagementFolder() const {
    const std::string path = managementPath();
    // Only we may be able to put a socket there: one that someone else
    // could bind would get the user's credentials.
    if (!makePrivateDirectory(path.substr(0, path.rfind('/')))) return false;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        log::error(kLog, "cannot remove the old management socket: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

UniqueFd OpenVPNService::connectManagement(const Started& started, std::chrono::milliseconds timeout) {
    UniqueFd fd;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    switch (connectWhenListening(managementPath(), started.child->pid, deadline,
                                 [&] { return started.child->exited.load(); }, folderChanges_, &fd)) {
    case ListenWait::Connected:
        if (!services_.openvpnProcesses.peerIsProcess(fd.get(), started.child->pid, started.startTime)) {
            log::warning(kLog, "refused: the management socket is not held by the openvpn we started");
            return UniqueFd();
        }
        // openvpn binds it under a umask of 0; the folder alone must not be all that guards it.
        if (::chmod(managementPath().c_str(), 0600) != 0) {
            log::error(kLog, "cannot narrow the management socket: " + std::string(std::strerror(errno)));
            return UniqueFd();
        }
        return fd;
    case ListenWait::Ended: log::warning(kLog, "openvpn ended before its management interface listened"); break;
    case ListenWait::TimedOut: log::warning(kLog, "openvpn's management interface did not listen in time"); break;
    case ListenWait::Failed: break;
    }
    return UniqueFd();
}

std::optional<pid_t> OpenVPNService::lastStartedPid() const {
    std::lock_guard lock(mutex_);
    if (children_.empty()) return std::nullopt;
    return children_.back()->pid;
}

void OpenVPNService::markConnected(pid_t pid, const std::string& gateway, const std::string& device) {
    std::lock_guard lock(mutex_);
    for (auto& child : children_) {
        if (child->pid != pid) continue;
        child->connected.store(true);
        child->gateway = gateway;
        child->device = device;
    }
}

std::vector<std::string> OpenVPNService::tunnelDevices() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& child : children_)
        if (child->connected.load() && !child->exited.load() && !child->device.empty()) out.push_back(child->device);
    return out;
}

std::optional<pid_t> OpenVPNService::runningPid() const {
    std::lock_guard lock(mutex_);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it)
        if (!(*it)->exited.load()) return (*it)->pid;
    return std::nullopt;
}

void OpenVPNService::stopChildren() {
    std::vector<std::shared_ptr<Child>> children;
    {
        std::lock_guard lock(mutex_);
        children.swap(children_);
    }
    for (auto& child : children) {
        if (!child->exited.load()) ::kill(child->pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!child->exited.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!child->exited.load()) ::kill(child->pid, SIGKILL);
        if (child->reaper.joinable()) child->reaper.join();
    }
}

HelperMessage OpenVPNService::create(const HelperCommand& c) {
    const std::string* command = helperString(c.parameters, "openvpncmd");
    if (!command || command->size() > 16384) {
        log::warning(kLog, "refused: no usable openvpncmd");
        return replyWith(kNo);
    }
    for (auto key : {"path_tun", "path_tap"}) {
        auto it = c.parameters.find(key);
        if (it != c.parameters.end() && !it->second.string()) return replyWith(kNo);
    }
    auto path = configPathFromCommand(*command);
    if (!path) {
        log::warning(kLog, "refused: no configuration path after --config");
        return replyWith(kNo);
    }
    auto text = readUserConfig(*path, c.request.peer.uid);
    if (!text) return replyWith(kNo);
    auto checked = filterOpenVPNConfig(*text);
    if (!checked.config) {
        log::warning(kLog, "refused configuration: " + checked.refusal);
        return replyWith(kNo);
    }

    // One openvpn at a time: the management socket is fixed.
    stopChildren();
    services_.openvpnProcesses.terminateAll(std::chrono::seconds(3));
    if (!prepareManagementFolder()) return replyWith(kNo);

    const std::string copy = configCopyPath();
    std::string error;
    if (!makePrivateDirectory(copy.substr(0, copy.rfind('/'))) ||
        !writeFileAtomically(copy, *checked.config, 0600, &error, /*durable=*/false)) {
        log::error(kLog, "cannot write the configuration copy: " + error);
        return replyWith(kNo);
    }

    // The app's end of its channel closes with the app.
    UniqueFd appChannel;
    if (HelperChannel channel = helperChannel(c.request.message, "channel"); channel && *channel)
        appChannel.reset(::fcntl(channel->get(), F_DUPFD_CLOEXEC, 3));
    auto started = spawn(c.request.peer.uid, std::move(appChannel));
    if (!started) return replyWith(kNo);
    // While openvpn starts: the disk's wait is then off the way to Connected.
    services_.dns.stageBackup();
    UniqueFd management = connectManagement(*started, options_.listenTimeout);
    if (!management) {
        stopChildren();
        return replyWith(kNo);
    }
    HelperMessage reply = replyWith(kYes);
    reply["management"] = HelperValue(std::make_shared<UniqueFd>(std::move(management)));
    return reply;
}

HelperMessage OpenVPNService::attach(const HelperCommand& c) {
    std::shared_ptr<Child> child;
    std::string gateway, device;
    {
        std::lock_guard lock(mutex_);
        if (!children_.empty() && !children_.back()->exited.load()) child = children_.back();
        if (child) {
            gateway = child->gateway;
            device = child->device;
        }
    }
    if (!child || tunnelDown_) return replyWith(kNo);
    // Whoever holds the interface can end the tunnel or read its log: only
    // the uid that started it may take it over.
    if (c.request.peer.uid != child->owner) {
        log::warning(kLog, "refused: openvpn " + std::to_string(child->pid) + " was started for another uid");
        return replyWith(kNo);
    }
    // openvpn takes one client at a time: a short wait, for a crashed app's
    // end to be seen closed.
    constexpr std::chrono::milliseconds kWait{1500};
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    UniqueFd management = connectManagement(Started{child, child->startTime}, kWait);
    if (!management) return replyWith(kNo);
    // A connection it has not taken yet connects all the same, into its
    // queue; while a running app holds the interface it waits there unanswered.
    if (!greetedBy(management.get(), deadline)) {
        log::warning(kLog, "refused: openvpn " + std::to_string(child->pid) + "'s management interface is held");
        return replyWith(kNo);
    }
    log::info(kLog, "openvpn " + std::to_string(child->pid) + " handed over to a restarted app");
    HelperMessage reply = replyWith(kYes);
    reply["management"] = HelperValue(std::make_shared<UniqueFd>(std::move(management)));
    // The app's log of it went with the app: under the lock the tunnel's
    // default route is put back from this. openvpn names no gateway when it
    // had no routes to set; the route the app set through the tunnel does.
    if (gateway.empty() && !device.empty()) {
        for (const auto& route : services_.context.network.defaultRoutes4())
            if (route.device == device && isIPv4Address(route.gateway)) gateway = route.gateway;
    }
    if (!gateway.empty()) reply["gateway"] = gateway;
    return reply;
}

std::optional<OpenVPNService::Started> OpenVPNService::spawn(uid_t owner, UniqueFd appChannel) {
    tunnelDown_ = false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
    int error = 0;
    const pid_t pid = spawnTied({options_.openvpnBinary, openvpnArguments(), {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"},
                                 pipeFds[1]},
                                &error);
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        log::error(kLog, "cannot start openvpn: " + std::string(std::strerror(error)));
        return std::nullopt;
    }
    // Read before anything can reap it: the pid is still surely our child.
    Started started{std::make_shared<Child>(), services_.openvpnProcesses.startTime(pid).value_or(0)};
    auto child = started.child;
    child->pid = pid;
    child->startTime = started.startTime;
    child->owner = owner;
    child->reaper = std::thread([child, fd = pipeFds[0], app = std::move(appChannel),
                                 records = &services_.openvpnProcesses, lock = &services_.lock]() mutable {
        std::string pending;
        char buf[4096];
        while (true) {
            // Only the far end's close counts on the app's channel: what it
            // may carry is not ours to read.
            pollfd fds[2] = {{fd, POLLIN, 0}, {app.get(), 0, 0}};
            if (::poll(fds, app ? 2 : 1, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (app && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                app.reset();
                // A connected tunnel waits for the app's return; one still
                // connecting would come up later for nobody.
                if (!child->connected.load()) {
                    log::info(kLog, "the app's channel closed before openvpn " + std::to_string(child->pid) +
                                        " connected; ending it");
                    ::kill(child->pid, SIGTERM);
                }
            }
            if (!fds[0].revents) continue;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
                log::info("openvpn", openvpnLogLine(std::string_view(pending).substr(0, std::min<std::size_t>(nl, 2000))));
                pending.erase(0, nl + 1);
            }
        }
        ::close(fd);
        int status = 0;
        while (::waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
        }
        log::info(kLog, "openvpn " + std::to_string(child->pid) + " ended");
        records->forget(child->pid);
        child->exited.store(true);
        // A release may have kept its server's host route while it exited.
        lock->tunnelProcessGone();
    });
    {
        std::lock_guard lock(mutex_);
        children_.push_back(child);
    }
    if (!services_.openvpnProcesses.record(pid)) log::warning(kLog, "cannot record openvpn " + std::to_string(pid));
    log::info(kLog, "started openvpn " + std::to_string(pid));
    return started;
}

HelperMessage OpenVPNService::event(const HelperCommand& c) {
    if (c.request.peer.uid != 0) {
        log::warning(kLog, "openvpn event from uid " + std::to_string(c.request.peer.uid) + " ignored");
        return replyWith(kNo);
    }
    // Only the openvpn started last speaks for the tunnel; a late "down" of
    // the one it replaced must not clear the new tunnel's servers. Its own
    // "down" counts even when its end was seen first: openvpn sends it just
    // before it exits.
    auto pid = helperInt(c.parameters, "pid");
    const auto speaker = c.name == "down" ? lastStartedPid() : runningPid();
    if (!pid || !speaker || *pid != *speaker) {
        log::info(kLog, "openvpn event '" + c.name + "' from a replaced openvpn ignored");
        return replyWith(kNo);
    }
    const std::string* dev = helperString(c.parameters, "dev");
    if (!dev || !isInterfaceName(*dev)) return replyWith(kNo);
    std::vector<std::string> servers;
    if (c.name == "up") {
        auto it = c.parameters.find("dns");
        const HelperArray* list = it == c.parameters.end() ? nullptr : it->second.array();
        if (list) {
            for (const auto& v : *list) {
                const std::string* s = v.string();
                if (!s || !addressProblem(*s, [this](const std::string& a) {
                               return services_.context.network.isOwnAddress(a);
                           }).empty() || servers.size() >= 8)
                    return replyWith(kNo);
                servers.push_back(*s);
            }
        }
    } else if (c.name != "down") {
        return replyWith(kNo);
    }
    if (c.name == "up") {
        const std::string* tunnelGateway = helperString(c.parameters, "vpnGateway");
        markConnected(*pid, tunnelGateway && isIPv4Address(*tunnelGateway) ? *tunnelGateway : std::string(), *dev);
        // Through the lock before openvpn goes on: the tunnel is the way out.
        services_.lock.tunnelsChanged();
        std::optional<HelperState::Route> serverRoute;
        const std::string* server = helperString(c.parameters, "server");
        const std::string* gateway = helperString(c.parameters, "netGateway");
        if (server && isIPv4Address(*server) && hostAddressProblem(*server).empty())
            serverRoute = HelperState::Route{*server, gateway && isIPv4Address(*gateway) ? *gateway : std::string()};
        services_.lock.setTunnelServerRoute(serverRoute);
    }
    log::info(kLog, "tunnel " + c.name + " on " + *dev + " with " + std::to_string(servers.size()) + " DNS servers");
    const bool pushed = !servers.empty();
    services_.dns.setTunnelServers(std::move(servers), c.name == "up" ? *dev : std::string());
    // The app asks for the tunnel's DNS as soon as openvpn tells it of the
    // tunnel: begun here, the disk's waits are over or under way by then and
    // its request finds the file written.
    if (c.name == "up" && pushed && !services_.dns.installed() && !services_.dns.install())
        log::warning(kLog, "the tunnel's DNS servers could not be installed yet");
    tunnelDown_ = c.name == "down";
    if (tunnelDown_) services_.lock.tunnelEnded();
    return replyWith(kYes);
}

void registerOpenVPNCommands(CommandDispatcher& d, HelperServices& s, OpenVPNServiceOptions options) {
    auto service = std::make_shared<OpenVPNService>(s, std::move(options));
    s.lock.addTunnelCheck([weak = std::weak_ptr<OpenVPNService>(service)] {
        auto running = weak.lock();
        // An openvpn whose tunnel went down carries nothing while it exits.
        return running && running->runningPid().has_value() && !running->tunnelDown();
    });
    s.lock.addTunnelDevices([weak = std::weak_ptr<OpenVPNService>(service)] {
        auto running = weak.lock();
        return running ? running->tunnelDevices() : std::vector<std::string>{};
    });
    d.registerCommand("createOpenVPNConnection", [service](HelperCommand& c) -> std::optional<HelperMessage> {
        return service->create(c);
    });
    d.registerCommand("attachRunningOpenVPN", [service](HelperCommand& c) -> std::optional<HelperMessage> {
        return service->attach(c);
    });
    for (auto name : {"up", "down"}) {
        d.registerCommand(kOpenVPNEventType, name, [service](HelperCommand& c) -> std::optional<HelperMessage> {
            return service->event(c);
        });
    }
}

}  // namespace hw::helper
