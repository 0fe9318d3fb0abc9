#include "helper/ppp/ppp_links.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <utility>

#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "helper/ppp/ipsec_transport.h"
#include "helper/ppp/ppp_options.h"
#include "helper/tied_process.h"
#include "platform/log.h"

namespace hw::helper::ppp {

namespace {

constexpr char kLog[] = "PppLinks";
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr auto kForceGrace = std::chrono::seconds(3);

std::mutex transportMutex;
std::shared_ptr<IpsecTransport> registeredTransport;

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The server's address: the one given, else the first its name resolves to
// that names another host. An address given, or what a name resolves to
// (a blocking resolver's 0.0.0.0, this machine's own), may name none: that is
// a refusal, told apart by *noHost.
std::optional<std::string> resolveServer(const std::string& endpoint, bool* noHost = nullptr) {
    if (isIPAddress(endpoint)) {
        const bool host = addressProblem(endpoint).empty();
        if (noHost) *noHost = !host;
        return host ? std::optional(endpoint) : std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(endpoint.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    std::optional<std::string> v4, v6;
    bool refused = false;
    for (auto* a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ai_family == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, text, sizeof text);
        else if (a->ai_family == AF_INET6)
            ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr, text, sizeof text);
        else
            continue;
        if (!addressProblem(text).empty()) {
            refused = true;
            continue;
        }
        auto& slot = a->ai_family == AF_INET ? v4 : v6;
        if (!slot) slot = text;
    }
    ::freeaddrinfo(found);
    if (noHost) *noHost = refused && !v4 && !v6;
    return v4 ? v4 : v6;
}

}  // namespace

std::optional<ServerPath> serverPathFrom(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(" \t\n\\", at);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        if (stop > at) words.push_back(text.substr(at, stop - at));
        at = stop + 1;
    }
    ServerPath path;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == "via" && path.gateway.empty()) path.gateway = words[i + 1];
        if (words[i] == "dev" && path.device.empty()) path.device = words[i + 1];
    }
    if (path.gateway.empty() || path.device.empty()) return std::nullopt;
    return path;
}

void setIpsecTransport(std::shared_ptr<IpsecTransport> transport) {
    std::lock_guard lock(transportMutex);
    registeredTransport = std::move(transport);
}

std::shared_ptr<IpsecTransport> ipsecTransport() {
    std::lock_guard lock(transportMutex);
    return registeredTransport;
}

PppLinks::PppLinks(PppPaths paths, ProcessRunner& runner, EspProbe espProbe)
    : paths_(std::move(paths)), runner_(runner), espProbe_(std::move(espProbe)),
      records_(paths_.runDir + "/processes", "/proc") {}

bool PppLinks::ipRoute(std::vector<std::string> args, std::string* output) {
    ProcessRequest request;
    request.argv = {"ip"};
    request.argv.insert(request.argv.end(), args.begin(), args.end());
    request.timeout = std::chrono::seconds(5);
    auto result = runner_.run(request);
    if (output) *output = result.out + result.err;
    return result.ok();
}

std::string PppLinks::routeRecordPath(const std::string& id) const { return paths_.runDir + "/" + id + ".route"; }

void PppLinks::removeHostRoute(const std::string& id, const std::string& route) {
    if (!route.empty()) ipRoute({"route", "del", route}, nullptr);
    ::unlink(routeRecordPath(id).c_str());
}

int PppLinks::stopLeftovers() {
    const int stopped = records_.terminateAll(kForceGrace);
    // An earlier helper that died left its host routes and the links' files,
    // the options among them holding a password.
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(paths_.runDir, ec))
        if (!entry.is_directory(ec)) files.push_back(entry.path());
    for (const auto& file : files) {
        if (file.extension() == ".route") {
            std::string route = readFile(file.string()).value_or("");
            const auto slash = route.find('/');
            const std::string bits = slash == std::string::npos ? "" : route.substr(slash + 1);
            if (isIPAddress(route.substr(0, slash)) && (bits == "32" || bits == "128")) ipRoute({"route", "del", route}, nullptr);
        }
        ::unlink(file.c_str());
    }
    ::rmdir((paths_.runDir + "/processes").c_str());
    ::rmdir(paths_.runDir.c_str());
    return stopped;
}


PppLinks::~PppLinks() { stopAll(); }

void PppLinks::setListener(Listener listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

void PppLinks::notify(const std::string& id, const PppLinkStatus& status) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_(id, status);
}

bool PppLinks::prepareRunFolder(std::string* error) {
    // It holds the scripts pppd runs as root.
    if (!makePrivateDirectory(paths_.runDir)) {
        if (error) *error = "cannot prepare " + paths_.runDir;
        return false;
    }
    prepareLogFile();
    return writeFileAtomically(ipUpScriptPath(paths_), ipUpScript(paths_), 0700, error) &&
           writeFileAtomically(ipDownScriptPath(paths_), ipDownScript(paths_), 0700, error);
}

void PppLinks::prepareLogFile() {
    // pppd would create it under the helper's umask; the error report of the
    // application reads it, so it belongs to the helper's group.
    int fd = ::open(paths_.logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    if (fd < 0) {
        log::warning(kLog, "cannot prepare the PPP log " + paths_.logFile + ": " + std::strerror(errno));
        return;
    }
    if (group* g = ::getgrnam("havenway")) {
        if (::fchown(fd, static_cast<uid_t>(-1), g->gr_gid) != 0)
            log::warning(kLog, "cannot hand the PPP log to its group");
    }
    ::fchmod(fd, 0640);
    ::close(fd);
}

pid_t PppLinks::spawn(const std::vector<std::string>& argv, std::string* error) {
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull < 0) {
        if (error) *error = "cannot start " + argv[0] + ": " + std::strerror(errno);
        return -1;
    }
    // Its own session: stopping it signals the whole group (pptp, scripts).
    // Tied to the helper: a link left behind would carry traffic while the
    // application, told the helper is gone, says none runs.
    int spawnError = 0;
    const pid_t pid = spawnTied({argv[0], argv, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, devnull, true}, &spawnError);
    ::close(devnull);
    if (pid < 0 && error) *error = "cannot start " + argv[0] + ": " + std::strerror(spawnError);
    return pid;
}

void PppLinks::fail(const std::string& id, std::int64_t cause) {
    ::unlink(optionsPath(paths_, id).c_str());
    ::unlink((paths_.runDir + "/" + id + ".xl2tpd.conf").c_str());
    PppLinkStatus s{0, 0, cause};
    {
        std::lock_guard lock(mutex_);
        finished_[id] = s;
    }
    notify(id, s);
}

bool PppLinks::start(const PppService& service, const PppSecrets& secrets, std::string* error) {
    const std::string& id = service.serviceID;
    std::unique_ptr<Link> ended;
    {
        std::lock_guard lock(mutex_);
        if (closing_) return false;
        auto it = links_.find(id);
        if (it != links_.end()) {
            if (it->second->pid > 0) return true;  // still running
            ended = std::move(it->second);
            links_.erase(it);
        }
    }
    // Its monitor may be in its last report; the listener can call back in.
    if (ended && ended->monitor.joinable()) ended->monitor.join();
    if (!prepareRunFolder(error)) {
        fail(id, kPppExitFatal);
        return false;
    }
    // pptp dials what the name resolves to here, checked; a name that does not
    // resolve yet is left to pptp, which reports it.
    PppService dialled = service;
    if (service.type == PppServiceType::PPTP) {
        bool noHost = false;
        if (auto address = resolveServer(service.endpoint, &noHost)) {
            dialled.endpoint = *address;
        } else if (noHost) {
            if (error) *error = "the PPTP server's name resolves to no host";
            log::warning(kLog, "the PPTP server's name resolves to no host");
            fail(id, kPppExitFatal);
            return false;
        }
    }
    auto options = pppdOptions(dialled, secrets, paths_);
    if (!options || !writeFileAtomically(optionsPath(paths_, id), *options, 0600, error)) {
        if (!options && error) *error = "the service holds a value that cannot be used";
        fail(id, kPppExitFatal);
        return false;
    }
    ::unlink(upMarkerPath(paths_, id).c_str());

    std::vector<std::string> argv;
    std::string hostRoute;
    if (service.type == PppServiceType::L2TP) {
        std::string why;
        if (!espProbe_ || !espProbe_(&why)) {
            if (error)
                *error = "L2TP over IPsec needs ESP in the kernel for transport mode, and this kernel has none" +
                         (why.empty() ? std::string() : " (" + why + ")");
            log::error(kLog, error ? *error : "no ESP in the kernel");
            fail(id, kPppExitNoKernelSupport);
            return false;
        }
        auto transport = ipsecTransport();
        if (!transport) {
            if (error) *error = "no IPsec service is available for L2TP";
            fail(id, kPppExitFatal);
            return false;
        }
        // One address for IPsec and xl2tpd alike: were a name to resolve
        // differently for xl2tpd, L2TP would leave unprotected.
        auto address = routeToServer(service.endpoint, &hostRoute, error);
        if (!address) {
            fail(id, kPppExitFatal);
            return false;
        }
        std::string recordError;
        if (!hostRoute.empty() && !writeFileAtomically(routeRecordPath(id), hostRoute, 0600, &recordError))
            log::warning(kLog, "the host route is not recorded; a crash would leave it: " + recordError);
        if (!transport->up({id, *address, secrets.sharedSecret}, error)) {
            removeHostRoute(id, hostRoute);
            fail(id, kPppExitFatal);
            return false;
        }
        dialled.endpoint = *address;
        auto conf = xl2tpdConfig(dialled, paths_);
        std::string confPath = paths_.runDir + "/" + id + ".xl2tpd.conf";
        if (!conf || !writeFileAtomically(confPath, *conf, 0600, error)) {
            transport->down(id);
            removeHostRoute(id, hostRoute);
            fail(id, kPppExitFatal);
            return false;
        }
        argv = {paths_.xl2tpd, "-D", "-c", confPath, "-p", paths_.runDir + "/" + id + ".xl2tpd.pid",
                "-C", paths_.runDir + "/" + id + ".l2tp-control"};
    } else {
        argv = {paths_.pppd, "file", optionsPath(paths_, id)};
    }

    pid_t pid = spawn(argv, error);
    if (pid < 0) {
        if (service.type == PppServiceType::L2TP)
            if (auto t = ipsecTransport()) t->down(id);
        removeHostRoute(id, hostRoute);
        fail(id, kPppExitFatal);
        return false;
    }
    records_.record(pid);
    log::info(kLog, "started the link of service " + id);
    PppLinkStatus starting{1, 1, std::nullopt};
    {
        std::lock_guard lock(mutex_);
        auto link = std::make_unique<Link>();
        link->pid = pid;
        link->type = service.type;
        link->hostRoute = hostRoute;
        link->reported = starting;
        auto* raw = link.get();
        links_[id] = std::move(link);
        finished_.erase(id);
        raw->monitor = std::thread([this, id] { monitor(id); });
    }
    notify(id, starting);
    return true;
}

void PppLinks::monitor(std::string id) {
    std::unique_lock lock(mutex_);
    Link& link = *links_.at(id);
    std::optional<std::chrono::steady_clock::time_point> killAt;
    int waitStatus = 0;
    for (;;) {
        pid_t done = ::waitpid(link.pid, &waitStatus, WNOHANG);
        if (done == link.pid || (done < 0 && errno == ECHILD)) break;
        if (link.stopping && link.forced && !killAt) killAt = std::chrono::steady_clock::now() + kForceGrace;
        if (killAt && std::chrono::steady_clock::now() >= *killAt) ::kill(-link.pid, SIGKILL);
        PppLinkStatus now = link.reported;
        if (link.stopping)
            now = {3, link.reported.pppStatus, std::nullopt};
        else if (exists(upMarkerPath(paths_, id)))
            now = {2, 8, std::nullopt};
        else
            now = {1, 1, std::nullopt};
        if (now.status != link.reported.status) {
            link.reported = now;
            lock.unlock();
            notify(id, now);
            lock.lock();
        }
        wake_.wait_for(lock, kPoll);
    }
    std::int64_t cause;
    if (WIFEXITED(waitStatus))
        cause = WEXITSTATUS(waitStatus);
    else
        cause = link.stopping ? kPppExitUserRequest : kPppExitFatal;
    // The group may still hold a pptp or a script.
    ::kill(-link.pid, SIGKILL);
    link.pid = -1;
    // A hang-up always reads as disconnecting, then disconnected, however
    // fast the process went.
    if (link.stopping && link.reported.status != 3) {
        PppLinkStatus stopping{3, link.reported.pppStatus, std::nullopt};
        link.reported = stopping;
        lock.unlock();
        notify(id, stopping);
        lock.lock();
    }
    PppLinkStatus ended{0, 0, cause};
    link.reported = ended;
    finished_[id] = ended;
    PppServiceType type = link.type;
    const std::string hostRoute = std::exchange(link.hostRoute, std::string());
    lock.unlock();
    ::unlink(upMarkerPath(paths_, id).c_str());
    // The options hold the password; nothing reads them once the link ended.
    ::unlink(optionsPath(paths_, id).c_str());
    ::unlink((paths_.runDir + "/" + id + ".xl2tpd.conf").c_str());
    if (type == PppServiceType::L2TP)
        if (auto t = ipsecTransport()) t->down(id);
    removeHostRoute(id, hostRoute);
    log::info(kLog, "the link of service " + id + " ended with cause " + std::to_string(cause));
    notify(id, ended);
}

std::optional<std::string> PppLinks::routeToServer(const std::string& endpoint, std::string* hostRoute,
                                                  std::string* error) {
    bool noHost = false;
    auto address = resolveServer(endpoint, &noHost);
    if (!address) {
        const std::string why = noHost ? "the L2TP server's name resolves to no host"
                                       : "the L2TP server's name does not resolve";
        if (error) *error = why;
        log::warning(kLog, why);
        return std::nullopt;
    }
    std::string out;
    // Under the kill switch there is no route now; the lock adds the server's.
    if (!ipRoute({"-o", "route", "get", *address}, &out)) return address;
    auto path = serverPathFrom(out);
    if (!path) return address;
    const bool v6 = address->find(':') != std::string::npos;
    const std::string route = *address + (v6 ? "/128" : "/32");
    std::string why;
    if (ipRoute({v6 ? "-6" : "-4", "route", "add", route, "via", path->gateway, "dev", path->device}, &why))
        *hostRoute = route;
    else if (why.find("File exists") == std::string::npos)  // someone else's: it stays
        log::warning(kLog, "cannot add the host route to the L2TP server: " + why);
    return address;
}

bool PppLinks::stop(const std::string& id, bool force) {
    std::lock_guard lock(mutex_);
    auto it = links_.find(id);
    if (it == links_.end() || it->second->pid <= 0) return false;
    Link& link = *it->second;
    link.stopping = true;
    link.forced = link.forced || force;
    ::kill(-link.pid, SIGTERM);
    wake_.notify_all();
    return true;
}

PppLinkStatus PppLinks::status(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto it = links_.find(id);
    if (it != links_.end()) return it->second->reported;
    auto f = finished_.find(id);
    if (f != finished_.end()) return f->second;
    return {0, 0, std::nullopt};
}

std::vector<std::string> PppLinks::devices() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [id, link] : links_) {
        if (link->stopping) continue;
        // pppd's ip-up wrote the link's interface there.
        auto name = readFile(upMarkerPath(paths_, id));
        if (!name) continue;
        while (!name->empty() && (name->back() == '\n' || name->back() == ' ')) name->pop_back();
        if (isInterfaceName(*name)) out.push_back(*name);
    }
    return out;
}

void PppLinks::stopAll() {
    std::map<std::string, std::unique_ptr<Link>> links;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (auto& [id, link] : links_) {
            if (link->pid <= 0) continue;
            link->stopping = link->forced = true;
            ::kill(-link->pid, SIGTERM);
        }
        wake_.notify_all();
    }
    // Monitors end once their process has; a forced stop bounds that.
    std::vector<Link*> pending;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, link] : links_) pending.push_back(link.get());
    }
    for (auto* link : pending)
        if (link->monitor.joinable()) link->monitor.join();
    std::lock_guard lock(mutex_);
    links_.clear();
}

}  // namespace hw::helper::ppp
