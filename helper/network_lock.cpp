#include "helper/network_lock.h"

#include <algorithm>

#include "helper/command_dispatcher.h"
#include "helper/helper_validation.h"
#include "helper/nft_ruleset.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "NetworkLock";
// Servers the lock lets through at once: a try and its fallbacks, and the
// tunnel that runs meanwhile.
constexpr std::size_t kMaxServers = 6;

bool isTunnelDevice(const std::string& device) {
    for (const char* prefix : {"tun", "tap", "ppp", "ipsec"})
        if (device.rfind(prefix, 0) == 0) return true;
    return false;
}
}  // namespace

std::string NetworkLock::gatewayProblem(const std::string& gateway) {
    if (auto problem = gatewayAddressProblem(gateway); !problem.empty()) return problem;
    if (ctx_.network.isOwnAddress(gateway)) return "this machine's own address";
    return {};
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::currentDefaultRoute() {
    std::optional<DefaultRoute> best;
    unsigned bestMetric = 0;
    for (const auto& r : ctx_.network.defaultRoutes4()) {
        // What the kernel reports is still checked before it is reused.
        if (!isIPv4Address(r.gateway) || (!r.device.empty() && !isInterfaceName(r.device))) continue;
        // A route through loopback or ourselves leads nowhere: never a way out.
        if (!gatewayProblem(r.gateway).empty()) continue;
        const unsigned metric = r.metric.value_or(0);
        if (!best || metric < bestMetric) {
            bestMetric = metric;
            best = DefaultRoute{r.gateway, r.device};
        }
    }
    return best;
}

std::optional<std::string> NetworkLock::wayOut() {
    if (auto route = currentDefaultRoute()) return route->gateway;
    if (auto saved = savedWayOut()) return saved;
    return std::nullopt;
}

std::optional<std::string> NetworkLock::savedWayOut() {
    const auto& saved = ctx_.state.lock.gateway;
    if (saved.empty()) return std::nullopt;
    // A record an older helper wrote may name one.
    if (const std::string problem = gatewayProblem(saved); !problem.empty()) {
        log::warning(kLog, "the saved way out " + describeForLog(saved) + " is passed over: " + problem);
        return std::nullopt;
    }
    return saved;
}

bool NetworkLock::applyTable() {
    LockRules rules{ctx_.state.servers, ctx_.state.lock.dnsResolvers};
    return ctx_.network.applyRuleset(buildLockRuleset(rules));
}

std::string NetworkLock::enable(const std::vector<std::string>& dnsResolvers) {
    auto& lock = ctx_.state.lock;
    const HelperState::Lock before = lock;
    if (!dnsResolvers.empty()) lock.dnsResolvers = dnsResolvers;
    // Remember the way out before anything changes; under the lock a real
    // link's default route is the network's newer one. A release that could
    // not put the way out back left its record, which still counts.
    const auto route = realDefaultRoute();
    const bool moved = lock.active && route && (route->gateway != lock.gateway || route->device != lock.device);
    if (moved) unrouteResolvers();
    if (route) {
        lock.gateway = route->gateway;
        lock.device = route->device;
    } else if (!lock.active && !lock.gateway.empty() && !savedWayOut()) {
        lock.gateway.clear();
        lock.device.clear();
    }
    if (!applyTable()) {
        log::error(kLog, "could not install the lock table");
        if (!lock.active) lock = before;
        return kNo;
    }
    lock.active = true;
    ctx_.saveState();
    // Fail closed first, then take the default route away.
    dropDefaultRoutes();
    if (moved) log::info(kLog, "the way out under the lock is now via " + lock.gateway + " dev " + lock.device);
    routeResolvers();
    return lock.gateway.empty() ? std::string(kNo) : lock.gateway;
}

void NetworkLock::dropDefaultRoutes() {
    if (!tunnelRunning()) {
        for (int i = 0; i < 8 && !ctx_.network.defaultRoutes4().empty(); ++i)
            if (!ctx_.network.deleteRoute({"default", "", "", std::nullopt, ""})) break;
        return;
    }
    // The tunnel's own default route carries everything now: it stays.
    for (const auto& r : ctx_.network.defaultRoutes4())
        if (!isTunnelDevice(r.device)) ctx_.network.deleteRoute({"default", r.gateway, r.device, std::nullopt, ""});
}

void NetworkLock::followWayOut() {
    if (!active()) return;
    auto& lock = ctx_.state.lock;
    const auto route = realDefaultRoute();
    if (!route) return;
    const bool moved = route->gateway != lock.gateway || route->device != lock.device;
    if (moved) {
        unrouteResolvers();
        lock.gateway = route->gateway;
        lock.device = route->device;
        ctx_.saveState();
        log::info(kLog, "the way out under the lock is now via " + lock.gateway + " dev " + lock.device);
    }
    dropDefaultRoutes();
    if (moved) routeResolvers();
}

// The table lets the resolvers through on port 53; without the default
// route they also need a way there, or the app's next lookup of its server
// fails at once and the lock strands the user. Through the way out saved at
// engage time; a tunnel's default route (OpenVPN) takes them back.
void NetworkLock::routeResolvers() {
    const auto& lock = ctx_.state.lock;
    if (!lock.active || lock.gateway.empty() || !isIPv4Address(lock.gateway)) return;
    // An openvpn that runs has its server already, and its tunnel carries the lookups.
    if (tunnelRunning()) return;
    for (const auto& resolver : lock.dnsResolvers) {
        if (!isIPv4Address(resolver)) continue;
        if (ctx_.network.replaceRoute({resolver, lock.gateway, lock.device, std::nullopt, ""}))
            log::debug(kLog, "the resolver " + resolver + " is reached through " + lock.gateway + " under the lock");
    }
}

void NetworkLock::unrouteResolvers() {
    const auto& lock = ctx_.state.lock;
    if (lock.gateway.empty()) return;
    // Already gone is as good as removed; a server's own host route stays.
    for (const auto& resolver : lock.dnsResolvers) {
        if (!isIPv4Address(resolver)) continue;
        const auto& routes = ctx_.state.routes;
        if (std::any_of(routes.begin(), routes.end(), [&](const auto& r) { return r.destination == resolver; })) continue;
        ctx_.network.deleteRoute({resolver, lock.gateway, "", std::nullopt, ""});
    }
}

bool NetworkLock::disable(const std::optional<std::string>& gateway) {
    auto& lock = ctx_.state.lock;
    const bool wasEngaged = lock.active;
    unrouteResolvers();
    const bool released = ctx_.network.applyRuleset(buildReleaseRuleset());
    if (released) lock.active = false;
    const bool hadWayOut = gateway || !lock.gateway.empty();
    const bool restored = restoreDefaultRoute(gateway, wasEngaged);
    if (!hadWayOut) log::warning(kLog, "released without a gateway to restore");
    // The record of the way out stays until the route is really back, so
    // that a later release or --reset can still bring it back.
    if (released && restored) lock = HelperState::Lock{};
    ctx_.state.servers.clear();
    keptForTunnel_ = tunnelRunning() && !ctx_.state.routes.empty();
    if (keptForTunnel_) log::debug(kLog, "a tunnel runs: the servers' host routes stay");
    else removeServerRoutes();
    ctx_.saveState();
    return released && restored;
}

std::string NetworkLock::hintProblem(const std::string& hint) {
    if (auto problem = gatewayProblem(hint); !problem.empty()) return problem;
    if (hint == ctx_.state.lock.gateway) return {};
    if (!ctx_.network.neighbourAnswers(hint)) return "no host answers there";
    return {};
}

bool NetworkLock::restoreDefaultRoute(const std::optional<std::string>& hint, bool engaged) {
    const auto& lock = ctx_.state.lock;
    // The app's hint first when it is a gateway that answers (it may know a
    // newer one), then the way out saved when the lock was engaged.
    std::vector<DefaultRoute> candidates;
    if (hint) {
        if (const std::string problem = hintProblem(*hint); problem.empty())
            candidates.push_back({*hint, *hint == lock.gateway ? lock.device : ""});
        else
            log::info(kLog, "gateway hint " + *hint + " passed over: " + problem);
    }
    if (auto saved = savedWayOut(); saved && (!hint || *hint != *saved)) candidates.push_back({*saved, lock.device});
    if (candidates.empty()) {
        // Someone (DHCP, the user) already put one back.
        if (currentDefaultRoute()) return true;
        // The record lost (a helper killed between its writes): the servers'
        // host routes still name the way out they were made through.
        for (const auto& r : ctx_.state.routes)
            if (isIPv4Address(r.via) && gatewayProblem(r.via).empty()) {
                candidates.push_back({r.via, ""});
                break;
            }
        // A lock engaged with no way out leaves none either: the caller must
        // hear so, not take a quiet release for a network that works.
        if (candidates.empty() && engaged) {
            log::warning(kLog, "released, but no default route leads out");
            return false;
        }
    }
    bool installed = false;
    for (const auto& c : candidates) {
        if (!ctx_.network.replaceRoute({"default", c.gateway, c.device, std::nullopt, ""})) {
            log::warning(kLog, "could not restore the default route via " + c.gateway);
            continue;
        }
        installed = true;
        // A route through a gateway that never answers is no way back.
        if (ctx_.network.neighbourAnswers(c.gateway)) return true;
        log::warning(kLog, "the default route via " + c.gateway + " is in place, but no host answers there");
    }
    // Nothing of ours to put back.
    if (candidates.empty()) return true;
    if (!installed && currentDefaultRoute()) return true;
    log::error(kLog, "no default route that answers could be restored: the saved one is kept for a later release");
    return false;
}

bool NetworkLock::tunnelRunning() const {
    return std::any_of(tunnelChecks_.begin(), tunnelChecks_.end(), [](const auto& running) { return running(); });
}

void NetworkLock::setTunnelServerRoute(std::optional<HelperState::Route> route) {
    if (route == ctx_.state.tunnelRoute) return;
    ctx_.state.tunnelRoute = std::move(route);
    ctx_.saveState();
}

void NetworkLock::tunnelProcessGone() {
    if (recheck_) recheck_();
}

void NetworkLock::dropRoutesNoTunnelNeeds() {
    if (!keptForTunnel_ || active() || tunnelRunning()) return;
    log::info(kLog, "the tunnel the servers' host routes were kept for is gone: they go too");
    tunnelEnded();
}

void NetworkLock::tunnelEnded() {
    keptForTunnel_ = false;
    const bool recorded = ctx_.state.tunnelRoute.has_value();
    removeTunnelRoute();
    // Under the lock the routes are the next attempt's.
    if (active() || ctx_.state.routes.empty()) {
        if (recorded) ctx_.saveState();
        return;
    }
    removeServerRoutes();
    ctx_.saveState();
}

void NetworkLock::removeTunnelRoute() {
    auto& tunnel = ctx_.state.tunnelRoute;
    if (!tunnel) return;
    // One the lock holds for the same server is the lock's to remove; one
    // with no gateway would name every route there.
    const auto& routes = ctx_.state.routes;
    const bool lockHolds = std::any_of(routes.begin(), routes.end(),
                                       [&](const auto& r) { return r.destination == tunnel->destination; });
    if (!lockHolds && isIPv4Address(tunnel->destination) && isIPv4Address(tunnel->via))
        ctx_.network.deleteRoute({tunnel->destination, tunnel->via, "", std::nullopt, ""});
    tunnel.reset();
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::realDefaultRoute() {
    std::optional<DefaultRoute> best;
    unsigned bestMetric = 0;
    for (const auto& r : ctx_.network.defaultRoutes4()) {
        if (!isIPv4Address(r.gateway) || r.device.empty() || !isInterfaceName(r.device) || isTunnelDevice(r.device))
            continue;
        if (!gatewayProblem(r.gateway).empty()) continue;
        const unsigned metric = r.metric.value_or(0);
        if (!best || metric < bestMetric) {
            bestMetric = metric;
            best = DefaultRoute{r.gateway, r.device};
        }
    }
    return best;
}

std::optional<std::string> NetworkLock::wayOutOutsideTunnels() {
    if (auto route = realDefaultRoute()) return route->gateway;
    return savedWayOut();
}

void NetworkLock::keepServerRoutes() {
    // Under the lock the next try needs them as much as a tunnel does.
    if (!tunnelRunning() && !active()) return;
    std::vector<HelperState::Route> wanted = ctx_.state.routes;
    const auto& tunnelServer = ctx_.state.tunnelRoute;
    if (tunnelServer && tunnelRunning() && std::none_of(wanted.begin(), wanted.end(),
                                     [&](const auto& r) { return r.destination == tunnelServer->destination; }))
        wanted.push_back(*tunnelServer);
    if (wanted.empty()) return;
    const auto present = ctx_.network.hostRoutes4();
    std::optional<std::string> way;
    bool asked = false;
    for (const auto& r : wanted) {
        if (!isIPv4Address(r.destination)) continue;
        const bool there = std::any_of(present.begin(), present.end(),
                                       [&](const auto& p) { return p.destination == r.destination; });
        if (there) continue;
        if (!asked) {
            way = wayOutOutsideTunnels();
            asked = true;
        }
        // The link's new gateway first; the one the route had, should the
        // link come back to the same network without a default route.
        std::vector<std::string> vias;
        if (way) vias.push_back(*way);
        if (!r.via.empty() && (!way || *way != r.via)) vias.push_back(r.via);
        for (const auto& via : vias) {
            if (!isIPv4Address(via) || !gatewayProblem(via).empty() ||
                !ctx_.network.replaceRoute({r.destination, via, "", std::nullopt, ""}))
                continue;
            log::info(kLog, "the host route to the VPN server " + r.destination + " is back, via " + via);
            // Removed later by what it is now.
            for (auto& kept : ctx_.state.routes)
                if (kept.destination == r.destination) kept.via = via;
            if (auto& t = ctx_.state.tunnelRoute; t && t->destination == r.destination) t->via = via;
            ctx_.saveState();
            break;
        }
    }
}

void NetworkLock::removeServerRoutes() {
    keptForTunnel_ = false;
    // Already gone is as good as removed.
    for (const auto& r : ctx_.state.routes) ctx_.network.deleteRoute({r.destination, r.via, "", std::nullopt, ""});
    ctx_.state.routes.clear();
}

bool NetworkLock::addServerRoute(const std::string& server, const std::string& gateway) {
    if (addressFamily(server) != addressFamily(gateway)) return false;
    if (const std::string problem = gatewayProblem(gateway); !problem.empty()) {
        log::warning(kLog, "no host route through " + describeForLog(gateway) + ": " + problem);
        return false;
    }
    std::vector<std::string> vias;
    if (active() && addressFamily(server) == AddressFamily::V4)
        if (auto saved = savedWayOut(); saved && *saved != gateway) vias.push_back(*saved);
    vias.push_back(gateway);
    std::optional<std::string> via;
    for (const auto& v : vias)
        if (ctx_.network.replaceRoute({server, v, "", std::nullopt, ""})) {
            via = v;
            break;
        }
    if (!via) return false;
    keptForTunnel_ = false;
    HelperState::Route route{server, *via};
    auto& routes = ctx_.state.routes;
    // The same route again changes nothing, not even its place.
    if (std::find(routes.begin(), routes.end(), route) == routes.end()) {
        std::erase_if(routes, [&](const auto& r) { return r.destination == server; });
        routes.push_back(route);
    }
    return allowServer(server);
}

bool NetworkLock::allowServer(const std::string& server) {
    if (!isIPAddress(server)) return false;
    auto& servers = ctx_.state.servers;
    if (std::find(servers.begin(), servers.end(), server) == servers.end()) servers.push_back(server);
    const bool dropped = servers.size() > kMaxServers;
    boundServers();
    // Into the table in place; should the table be gone, or a server have
    // left it, it is made anew.
    const std::string element = buildAllowServerRuleset(server);
    bool ok = !active() || (!dropped && !element.empty() && ctx_.network.applyRuleset(element)) || applyTable();
    ctx_.saveState();
    return ok;
}

void NetworkLock::boundServers() {
    auto& servers = ctx_.state.servers;
    while (servers.size() > kMaxServers) {
        const std::string oldest = servers.front();
        servers.erase(servers.begin());
        auto& routes = ctx_.state.routes;
        for (auto it = routes.begin(); it != routes.end();) {
            if (it->destination != oldest) {
                ++it;
                continue;
            }
            ctx_.network.deleteRoute({it->destination, it->via, "", std::nullopt, ""});
            it = routes.erase(it);
        }
        log::info(kLog, "the lock lets " + oldest + " through no more: newer servers took its place");
        // A resolver of the lock's at the same address still needs its way there.
        const auto& resolvers = ctx_.state.lock.dnsResolvers;
        if (std::find(resolvers.begin(), resolvers.end(), oldest) != resolvers.end()) routeResolvers();
    }
}

bool NetworkLock::setDefaultGateway(const std::string& gateway) {
    // The app passes on what the server pushed: a server must not be able
    // to send every packet to loopback or back to us.
    if (const std::string problem = gatewayProblem(gateway); !problem.empty()) {
        log::warning(kLog, "no default route through " + describeForLog(gateway) + ": " + problem);
        return false;
    }
    // Lookups go through the tunnel from now on, not around it.
    unrouteResolvers();
    return ctx_.network.replaceRoute({"default", gateway, "", std::nullopt, ""});
}

bool NetworkLock::reset() {
    bool ok = true;
    removeTunnelRoute();
    removeServerRoutes();
    if (active() || !ctx_.state.lock.gateway.empty()) {
        // Undone is undone when no saved way out waits to be put back, even
        // where none leads out.
        ok = disable(std::nullopt) || (!active() && ctx_.state.lock.gateway.empty());
    } else {
        ok = ctx_.network.applyRuleset(buildReleaseRuleset());
        ctx_.state.servers.clear();
        ctx_.saveState();
    }
    return ok;
}

}  // namespace hw::helper
