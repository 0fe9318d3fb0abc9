#include "helper/ppp/ppp_vpn_services.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "helper/helper_services.h"
#include "helper/helper_validation.h"
#include "helper/esp_probe.h"
#include "helper/ppp/ppp_options.h"
#include "platform/helper_socket.h"
#include "platform/log.h"

namespace hw::helper::ppp {

namespace {

constexpr char kLog[] = "PppServices";

// Absent and non-string values read as absent.
std::optional<std::string> text(const HelperDictionary& d, const char* key) {
    if (const std::string* s = helperString(d, key)) return *s;
    return std::nullopt;
}

bool isServiceIDParam(const std::string& id) {
    if (id.size() != 32) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

PppVpnServices::PppVpnServices(PppPaths paths, ProcessRunner& runner, PppLinks::EspProbe espProbe)
    : paths_(std::move(paths)),
      store_(paths_.servicesDir),
      watchWake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      links_(paths_, runner, std::move(espProbe)) {
    links_.setListener([this](const std::string& id, const PppLinkStatus& s) { broadcast(id, s); });
    if (int stopped = links_.stopLeftovers())
        log::info(kLog, "stopped " + std::to_string(stopped) + " links of an earlier run");
}

std::optional<PppService> PppVpnServices::create(const HelperDictionary& p, std::string* error) {
    auto refuse = [&](const std::string& why) -> std::optional<PppService> {
        log::warning(kLog, "connectToVPN refused: " + why);
        if (error) *error = why;
        return std::nullopt;
    };
    auto type = helperInt(p, "type");
    if (type != 2 && type != 3) return refuse("type is neither 2 nor 3");
    auto name = text(p, "name");
    if (!name || !isStrictName(*name)) return refuse("invalid name " + describeForLog(name.value_or("")));

    // The server's address when one is given, else its host name.
    auto address = text(p, "endpointIPAddress");
    std::string endpoint;
    if (address && !address->empty())
        endpoint = *address;
    else
        endpoint = text(p, "endpointPrefix").value_or("") + text(p, "endpointSuffix").value_or("");
    if (!isEndpoint(endpoint)) return refuse("invalid endpoint " + describeForLog(endpoint));

    PppService service;
    service.name = *name;
    service.type = static_cast<PppServiceType>(*type);
    service.endpoint = endpoint;
    PppSecrets secrets;
    auto username = text(p, "username");
    auto password = text(p, "password");
    if (!username || !isCredential(*username)) return refuse("invalid user name");
    if (!password || !isCredential(*password)) return refuse("invalid password");
    service.username = *username;
    secrets.password = *password;
    if (service.type == PppServiceType::L2TP) {
        auto secret = text(p, "sharedSecret");
        if (!secret || !isCredential(*secret)) return refuse("invalid shared secret");
        secrets.sharedSecret = *secret;
    }
    std::string why;
    auto stored = store_.createOrUpdate(service, secrets, &why);
    if (!stored) return refuse("cannot store the service: " + why);
    return stored;
}

PppVpnServices::~PppVpnServices() {
    links_.stopAll();
    links_.setListener({});
    {
        std::lock_guard lock(watchMutex_);
        watchQuit_ = true;
    }
    wakeWatchThread();
    if (watchThread_.joinable()) watchThread_.join();
}

void PppVpnServices::setObserver(PppLinks::Listener observer) {
    std::lock_guard lock(watchMutex_);
    observer_ = std::move(observer);
}

bool PppVpnServices::watch(const std::string& serviceID, HelperChannel channel, pid_t client) {
    if (!channel || !*channel) return false;
    const auto services = store_.all();
    if (std::none_of(services.begin(), services.end(), [&](const auto& s) { return s.serviceID == serviceID; })) {
        log::warning(kLog, "no watch for a service that does not exist");
        return false;
    }
    std::lock_guard lock(watchMutex_);
    // A client that keeps asking must not pile up descriptors.
    auto dropOldest = [&](auto matches, std::size_t bound) {
        auto count = static_cast<std::size_t>(std::count_if(watches_.begin(), watches_.end(), matches));
        for (auto it = watches_.begin(); it != watches_.end() && count >= bound;) {
            if (matches(*it)) {
                it = watches_.erase(it);
                --count;
            } else {
                ++it;
            }
        }
    };
    dropOldest([&](const Watch& w) { return w.serviceID == serviceID; }, kWatchesPerService);
    dropOldest([&](const Watch& w) { return w.client == client; }, kWatchesPerClient);
    dropOldest([](const Watch&) { return true; }, kWatchesInAll);
    watches_.push_back({serviceID, client, std::move(channel)});
    if (!watchThread_.joinable() && watchWake_) watchThread_ = std::thread([this] { followWatches(); });
    wakeWatchThread();
    return true;
}

std::size_t PppVpnServices::watchCount() {
    std::lock_guard lock(watchMutex_);
    return watches_.size();
}

void PppVpnServices::wakeWatchThread() {
    std::uint64_t one = 1;
    if (watchWake_) (void)!::write(watchWake_.get(), &one, sizeof one);
}

namespace {
bool readerLeft(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }
}  // namespace

void PppVpnServices::releaseClosedWatches() {
    std::lock_guard lock(watchMutex_);
    std::erase_if(watches_, [](const Watch& w) {
        pollfd p{w.channel->get(), 0, 0};
        return ::poll(&p, 1, 0) == 1 && readerLeft(p.revents);
    });
}

void PppVpnServices::followWatches() {
    for (;;) {
        std::vector<HelperChannel> held;
        {
            std::lock_guard lock(watchMutex_);
            if (watchQuit_) return;
            for (const auto& w : watches_) held.push_back(w.channel);
        }
        // No events asked: a closed end is reported all the same.
        std::vector<pollfd> fds{{watchWake_.get(), POLLIN, 0}};
        for (const auto& c : held) fds.push_back({c->get(), 0, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            log::error(kLog, std::string("watching the watches failed: ") + std::strerror(errno));
            return;
        }
        std::uint64_t count;
        if (fds[0].revents) (void)!::read(watchWake_.get(), &count, sizeof count);
        std::vector<const UniqueFd*> left;
        for (std::size_t k = 1; k < fds.size(); ++k)
            if (readerLeft(fds[k].revents)) left.push_back(held[k - 1].get());
        if (left.empty()) continue;
        std::lock_guard lock(watchMutex_);
        std::erase_if(watches_, [&](const Watch& w) {
            return std::find(left.begin(), left.end(), w.channel.get()) != left.end();
        });
    }
}

void PppVpnServices::broadcast(const std::string& id, const PppLinkStatus& status) {
    std::lock_guard lock(watchMutex_);
    if (observer_) observer_(id, status);
    HelperMessage event{{"event", "status"}, {"status", static_cast<std::int64_t>(status.status)}};
    if (status.pppStatus) event["pppStatus"] = *status.pppStatus;
    if (status.lastCause) event["lastCause"] = *status.lastCause;
    const auto before = watches_.size();
    std::erase_if(watches_, [&](const Watch& w) {
        // A reader that is gone or stuck loses its watch, not the link.
        return w.serviceID == id && !sendHelperMessage(w.channel->get(), event, -1, 1000, nullptr);
    });
    if (watches_.size() != before) wakeWatchThread();
}

bool PppVpnServices::remove(const std::string& name) {
    auto s = store_.find(name);
    if (!s) return false;
    links_.stop(s->serviceID, true);
    return store_.remove(name);
}

bool PppVpnServices::start(const std::string& serviceID, std::string* error) {
    for (const auto& s : store_.all()) {
        if (s.serviceID != serviceID) continue;
        auto secrets = store_.secrets(serviceID);
        if (!secrets) {
            if (error) *error = "the service's secrets are missing";
            return false;
        }
        return links_.start(s, *secrets, error);
    }
    if (error) *error = "no such service";
    return false;
}

void registerPppCommands(CommandDispatcher& d, std::shared_ptr<PppVpnServices> s) {
    d.registerCommand("connectToVPN", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        return replyWith(s->create(c.parameters, nullptr) ? kYes : kNo);
    });

    d.registerCommand("deleteExistingVPNService", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto name = text(c.parameters, "connectionName");
        if (!name || !isStrictName(*name)) return replyWith(kNo);
        return replyWith(s->remove(*name) ? kYes : kNo);
    });

    d.registerCommand("getVPNService", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto name = text(c.parameters, "connectionName");
        if (!name || !isStrictName(*name)) return replyWith(kNo);
        auto service = s->find(*name);
        if (!service) return replyWith(kNo);
        auto reply = replyWith(kYes);
        reply["serviceID"] = service->serviceID;
        reply["hasIPSec"] = service->type == PppServiceType::L2TP;
        return reply;
    });

    d.registerCommand("startVPNService", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto id = text(c.parameters, "serviceID");
        if (!id || !isServiceIDParam(*id)) return replyWith(kNo);
        std::string error;
        if (s->start(*id, &error)) return replyWith(kYes);
        auto reply = replyWith(kNo);
        reply["error"] = error;
        return reply;
    });

    d.registerCommand("stopVPNService", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto id = text(c.parameters, "serviceID");
        if (!id || !isServiceIDParam(*id)) return replyWith(kNo);
        bool force = helperBool(c.parameters, "force").value_or(false);
        return replyWith(s->stop(*id, force) ? kYes : kNo);
    });

    d.registerCommand("getVPNServiceStatus", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto id = text(c.parameters, "serviceID");
        if (!id || !isServiceIDParam(*id)) return replyWith(kNo);
        auto status = s->status(*id);
        auto reply = replyWith(kYes);
        reply["status"] = static_cast<std::int64_t>(status.status);
        if (status.pppStatus) reply["pppStatus"] = *status.pppStatus;
        if (status.lastCause) reply["lastCause"] = *status.lastCause;
        return reply;
    });

    d.registerCommand("watchVPNService", [s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto id = text(c.parameters, "serviceID");
        auto channel = helperChannel(c.parameters, "channel");
        if (!id || !isServiceIDParam(*id) || !channel) return replyWith(kNo);
        return replyWith(s->watch(*id, std::move(channel), c.request.peer.pid) ? kYes : kNo);
    });
}

void registerPppCommands(CommandDispatcher& d, HelperServices& services) {
    auto& context = services.context;
    auto paths = PppPaths::fromEnvironment(context.paths.stateDir, context.paths.runDir);
    ProcessRunner& runner = context.runner;
    auto ppp = std::make_shared<PppVpnServices>(paths, runner,
                                                [&runner](std::string* why) { return kernelSupportsEsp(runner, why); });
    // A link up or down changes what the lock lets out.
    ppp->setObserver([&lock = services.lock](const std::string&, const PppLinkStatus&) { lock.recheckNow(); });
    services.lock.addTunnelDevices([weak = std::weak_ptr<PppVpnServices>(ppp)] {
        auto running = weak.lock();
        return running ? running->links().devices() : std::vector<std::string>{};
    });
    registerPppCommands(d, std::move(ppp));
}

}  // namespace hw::helper::ppp
