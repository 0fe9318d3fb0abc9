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

using Way = NetworkLock::DefaultRoute;

// Ways through one gateway are one; ways without one are their links.
bool sameWay(const Way& a, const Way& b) { return a.gateway == b.gateway && (!a.gateway.empty() || a.device == b.device); }

std::string describeWay(const Way& w) {
    std::string s = w.gateway.empty() ? "" : "via " + w.gateway;
    if (!w.device.empty()) s += (s.empty() ? "dev " : " dev ") + w.device;
    return s;
}

// A host route names its link only where there is no gateway: the kernel
// finds the link of one.
Way byGateway(const Way& w) { return {w.gateway, w.gateway.empty() ? w.device : ""}; }

// The record the same: with no gateway, it tells the link.
HelperState::Route hostRecord(const std::string& destination, const Way& way) {
    const Way w = byGateway(way);
    return {destination, w.gateway, w.device};
}
}  // namespace

bool NetworkLock::leadsOut(const std::string& gateway, const std::string& device) {
    if (!device.empty() && !isInterfaceName(device)) return false;
    if (gateway.empty()) return !device.empty() && device != "lo";
    return isIPv4Address(gateway) && gatewayProblem(gateway).empty();
}

std::string NetworkLock::gatewayProblem(const std::string& gateway) {
    if (auto problem = gatewayAddressProblem(gateway); !problem.empty()) return problem;
    if (ctx_.network.isOwnAddress(gateway)) return "this machine's own address";
    return {};
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::currentDefaultRoute() {
    std::optional<DefaultRoute> best;
    unsigned bestMetric = 0;
    for (const auto& r : ctx_.network.defaultRoutes4()) {
        // What the kernel reports is still checked before it is reused: a
        // route through loopback or ourselves leads nowhere, and one out of
        // a tunnel of ours with no gateway is the tunnel itself.
        if (!leadsOut(r.gateway, r.device) || (r.gateway.empty() && isSessionTunnel(r.device))) continue;
        const unsigned metric = r.metric.value_or(0);
        if (!best || metric < bestMetric) {
            bestMetric = metric;
            best = DefaultRoute{r.gateway, r.device};
        }
    }
    return best;
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::wayOut() {
    if (auto route = currentDefaultRoute()) return route;
    return savedWayOut();
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::savedWayOut() {
    const auto& lock = ctx_.state.lock;
    if (lock.gateway.empty() && lock.device.empty()) return std::nullopt;
    std::string problem;
    if (!lock.gateway.empty()) {
        // A record an older helper wrote may name one.
        problem = gatewayProblem(lock.gateway);
        if (problem.empty()) return DefaultRoute{lock.gateway, isInterfaceName(lock.device) ? lock.device : ""};
    } else if (leadsOut("", lock.device)) {
        return DefaultRoute{"", lock.device};
    }
    const std::string shown = describeForLog(lock.gateway.empty() ? lock.device : lock.gateway);
    log::warning(kLog, "the saved way out " + shown + " is passed over: " + (problem.empty() ? "no link" : problem));
    return std::nullopt;
}

bool NetworkLock::applyTable() {
    tunnels_ = sessionTunnels();
    LockRules rules{ctx_.state.servers, ctx_.state.lock.dnsResolvers, tunnels_};
    return ctx_.network.applyRuleset(buildLockRuleset(rules));
}

std::vector<std::string> NetworkLock::sessionTunnels() const {
    std::vector<std::string> out;
    for (const auto& devices : tunnelDevices_)
        for (auto& d : devices())
            if (isInterfaceName(d) && std::find(out.begin(), out.end(), d) == out.end()) out.push_back(std::move(d));
    std::sort(out.begin(), out.end());
    return out;
}

bool NetworkLock::isSessionTunnel(const std::string& device) const {
    if (device.empty()) return false;
    // Asked anew: a helper that restarted beside a running tunnel has no table of it yet.
    const auto now = sessionTunnels();
    return std::find(now.begin(), now.end(), device) != now.end();
}

void NetworkLock::tunnelsChanged() {
    auto now = sessionTunnels();
    if (now == tunnels_) return;
    tunnels_ = std::move(now);
    if (!active()) return;
    std::string names;
    for (const auto& t : tunnels_) names += " " + t;
    if (!ctx_.network.applyRuleset(buildTunnelsRuleset(tunnels_)) && !applyTable())
        log::error(kLog, "could not let the tunnel devices through the lock:" + names);
    else
        log::info(kLog, "the lock lets out the tunnel devices:" + (names.empty() ? std::string(" none") : names));
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
    } else if (!lock.active && (!lock.gateway.empty() || !lock.device.empty()) && !savedWayOut()) {
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
    if (moved) log::info(kLog, "the way out under the lock is now " + describeWay(*route));
    routeResolvers();
    return lock.gateway.empty() ? std::string(kNo) : lock.gateway;
}

void NetworkLock::dropDefaultRoutes() {
    const bool tunnel = tunnelRunning();
    std::vector<NetworkStack::Route> dropping;
    auto& taken = ctx_.state.lock.taken;
    const auto before = taken;
    for (const auto& r : ctx_.network.defaultRoutes4()) {
        const bool ours = isSessionTunnel(r.device);
        // The tunnel's own default route carries everything now: it stays.
        // A PPP tunnel's names no gateway, and its link is ours only while up.
        if (ours && (tunnel || r.gateway.empty())) continue;
        dropping.push_back(r);
        // Recorded before it goes, so that a helper killed meanwhile still
        // puts it back; what the kernel reports is checked first.
        if (ours || !leadsOut(r.gateway, r.device)) continue;
        HelperState::Lock::Taken t{r.gateway, r.device, r.metric, isStrictName(r.protocol, 16) ? r.protocol : ""};
        std::erase_if(taken, [&](const auto& o) {
            return sameWay({o.gateway, o.device}, {t.gateway, t.device}) && o.metric == t.metric;
        });
        taken.push_back(t);
    }
    if (taken != before) ctx_.saveState();
    for (const auto& r : dropping) ctx_.network.deleteRoute({"default", r.gateway, r.device, r.metric, ""});
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
        log::info(kLog, "the way out under the lock is now " + describeWay(*route));
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
    if (!lock.active || (lock.gateway.empty() && lock.device.empty())) return;
    // An openvpn that runs has its server already, and its tunnel carries the lookups.
    if (tunnelRunning()) return;
    const auto way = savedWayOut();
    if (!way) return;
    auto& records = ctx_.state.resolverRoutes;
    const auto before = records;
    for (const auto& resolver : lock.dnsResolvers) {
        if (!isIPv4Address(resolver) || !placeHostRoute(resolver, *way)) continue;
        if (std::none_of(records.begin(), records.end(), [&](const auto& r) { return r.destination == resolver; }))
            records.push_back(hostRecord(resolver, *way));
        log::debug(kLog, "the resolver " + resolver + " is reached " + describeWay(*way) + " under the lock");
    }
    if (records != before) ctx_.saveState();
}

void NetworkLock::unrouteResolvers() {
    auto& records = ctx_.state.resolverRoutes;
    if (records.empty()) return;
    while (!records.empty()) releaseHostRoute(records, records.front().destination);
    ctx_.saveState();
}

bool NetworkLock::placeHostRoute(const std::string& destination, const DefaultRoute& way) {
    if (!ctx_.network.replaceRoute({destination, way.gateway, way.device, std::nullopt, ""})) return false;
    // One kernel route, however many records name it: each follows it.
    const auto record = hostRecord(destination, way);
    for (auto* records : {&ctx_.state.routes, &ctx_.state.resolverRoutes})
        for (auto& r : *records)
            if (r.destination == destination) r = record;
    if (auto& t = ctx_.state.tunnelRoute; t && t->destination == destination) *t = record;
    return true;
}

void NetworkLock::releaseHostRoute(std::vector<HelperState::Route>& records, std::string destination) {
    const auto it = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.destination == destination; });
    if (it == records.end()) return;
    const HelperState::Route route = *it;
    records.erase(it);
    // The route stays while another record still needs it.
    for (const auto* other : {&ctx_.state.routes, &ctx_.state.resolverRoutes})
        if (std::any_of(other->begin(), other->end(), [&](const auto& r) { return r.destination == destination; }))
            return;
    // Already gone is as good as removed. One without a gateway goes by its
    // link; without either it would name any route there.
    if (isIPAddress(route.via))
        ctx_.network.deleteRoute({route.destination, route.via, "", std::nullopt, ""});
    else if (route.via.empty() && isInterfaceName(route.device) && isIPAddress(route.destination))
        ctx_.network.deleteRoute({route.destination, "", route.device, std::nullopt, ""});
}

bool NetworkLock::disable(const std::optional<std::string>& gateway) {
    auto& lock = ctx_.state.lock;
    const bool wasEngaged = lock.active;
    unrouteResolvers();
    const bool released = ctx_.network.applyRuleset(buildReleaseRuleset());
    if (released) lock.active = false;
    const bool hadWayOut = gateway || !lock.gateway.empty() || !lock.device.empty();
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
    // Every default route the lock took, as it was; a record an older helper
    // wrote names only the way out.
    std::vector<HelperState::Lock::Taken> candidates;
    for (const auto& t : lock.taken)
        if (leadsOut(t.gateway, t.device)) candidates.push_back(t);
    if (auto saved = savedWayOut(); saved && std::none_of(candidates.begin(), candidates.end(), [&](const auto& t) {
            return sameWay({t.gateway, t.device}, *saved);
        }))
        candidates.push_back({saved->gateway, saved->device, std::nullopt, ""});
    // The app's hint last, when it names a gateway that answers (it may know
    // a newer one): only where none of the lock's own answers.
    std::optional<std::string> usableHint;
    if (hint) {
        if (const std::string problem = hintProblem(*hint); problem.empty()) {
            if (std::none_of(candidates.begin(), candidates.end(), [&](const auto& t) { return t.gateway == *hint; }))
                usableHint = *hint;
        } else {
            log::info(kLog, "gateway hint " + *hint + " passed over: " + problem);
        }
    }
    if (candidates.empty() && !usableHint) {
        // Someone (DHCP, the user) already put one back.
        if (currentDefaultRoute()) return true;
        // The record lost (a helper killed between its writes): the servers'
        // host routes still name the way out they were made through.
        for (const auto& r : ctx_.state.routes)
            if (leadsOut(r.via, r.device)) {
                candidates.push_back({r.via, r.device, std::nullopt, ""});
                break;
            }
        // A lock engaged with no way out leaves none either: the caller must
        // hear so, not take a quiet release for a network that works.
        if (candidates.empty() && engaged) {
            log::warning(kLog, "released, but no default route leads out");
            return false;
        }
        // Nothing of ours to put back.
        if (candidates.empty()) return true;
    }
    bool installed = false;
    bool answers = false;
    auto put = [&](const HelperState::Lock::Taken& c) {
        const bool in = ctx_.network.replaceRoute({"default", c.gateway, c.device, c.metric, c.protocol}) ||
                        (!c.protocol.empty() && ctx_.network.replaceRoute({"default", c.gateway, c.device, c.metric, ""}));
        if (!in) {
            log::warning(kLog, "could not restore the default route " + describeWay({c.gateway, c.device}));
            return;
        }
        installed = true;
        // A route through a gateway that never answers is no way back. A
        // link without one has no neighbour to ask: the kernel takes a route
        // out of it only while it is up.
        if (answers) return;
        if (c.gateway.empty() || ctx_.network.neighbourAnswers(c.gateway)) answers = true;
        else log::warning(kLog, "the default route via " + c.gateway + " is in place, but no host answers there");
    };
    for (const auto& c : candidates) put(c);
    if (!answers && usableHint) put({*usableHint, "", std::nullopt, ""});
    if (answers) return true;
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
    // with neither gateway nor link would name every route there.
    bool lockHolds = false;
    for (const auto* records : {&ctx_.state.routes, &ctx_.state.resolverRoutes})
        lockHolds = lockHolds || std::any_of(records->begin(), records->end(),
                                             [&](const auto& r) { return r.destination == tunnel->destination; });
    const bool onLink = tunnel->via.empty() && isInterfaceName(tunnel->device);
    if (!lockHolds && isIPv4Address(tunnel->destination) && (isIPv4Address(tunnel->via) || onLink))
        ctx_.network.deleteRoute({tunnel->destination, tunnel->via, onLink ? tunnel->device : "", std::nullopt, ""});
    tunnel.reset();
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::realDefaultRoute() {
    std::optional<DefaultRoute> best;
    unsigned bestMetric = 0;
    for (const auto& r : ctx_.network.defaultRoutes4()) {
        // Any link's but a tunnel's the helper made: a modem's PPP link is a
        // way out, with its gateway or without one.
        if (r.device.empty() || !leadsOut(r.gateway, r.device) || isSessionTunnel(r.device)) continue;
        const unsigned metric = r.metric.value_or(0);
        if (!best || metric < bestMetric) {
            bestMetric = metric;
            best = DefaultRoute{r.gateway, r.device};
        }
    }
    return best;
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::wayOutOutsideTunnels() {
    if (auto route = realDefaultRoute()) return route;
    return savedWayOut();
}

void NetworkLock::keepServerRoutes() {
    // Under the lock the next try needs them as much as a tunnel does.
    if (!tunnelRunning() && !active()) return;
    std::vector<HelperState::Route> wanted = ctx_.state.routes;
    if (active()) wanted.insert(wanted.end(), ctx_.state.resolverRoutes.begin(), ctx_.state.resolverRoutes.end());
    const auto& tunnelServer = ctx_.state.tunnelRoute;
    if (tunnelServer && tunnelRunning() && std::none_of(wanted.begin(), wanted.end(),
                                     [&](const auto& r) { return r.destination == tunnelServer->destination; }))
        wanted.push_back(*tunnelServer);
    if (wanted.empty()) return;
    const auto present = ctx_.network.hostRoutes4();
    std::optional<DefaultRoute> way;
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
        std::vector<DefaultRoute> vias;
        if (way) vias.push_back(byGateway(*way));
        const DefaultRoute had{r.via, r.device};
        if ((!r.via.empty() || !r.device.empty()) && (!way || !sameWay(*way, had))) vias.push_back(had);
        for (const auto& via : vias) {
            // Removed later by what it is now.
            if (!leadsOut(via.gateway, via.device) || !placeHostRoute(r.destination, via)) continue;
            log::info(kLog, "the host route to " + r.destination + " is back, " + describeWay(via));
            ctx_.saveState();
            break;
        }
    }
}

void NetworkLock::removeServerRoutes() {
    keptForTunnel_ = false;
    auto& routes = ctx_.state.routes;
    while (!routes.empty()) releaseHostRoute(routes, routes.front().destination);
}

bool NetworkLock::addServerRoute(const std::string& server, const DefaultRoute& way) {
    if (way.gateway.empty()) {
        // A link without a gateway: only the lock's own way out or the route in force names one.
        if (addressFamily(server) != AddressFamily::V4 || !leadsOut("", way.device)) return false;
    } else {
        if (addressFamily(server) != addressFamily(way.gateway)) return false;
        if (const std::string problem = gatewayProblem(way.gateway); !problem.empty()) {
            log::warning(kLog, "no host route through " + describeForLog(way.gateway) + ": " + problem);
            return false;
        }
    }
    std::vector<DefaultRoute> vias;
    if (active() && addressFamily(server) == AddressFamily::V4)
        if (auto saved = savedWayOut(); saved && !sameWay(*saved, way)) vias.push_back(byGateway(*saved));
    vias.push_back(byGateway(way));
    std::optional<DefaultRoute> via;
    for (const auto& v : vias)
        if (placeHostRoute(server, v)) {
            via = v;
            break;
        }
    if (!via) return false;
    keptForTunnel_ = false;
    const HelperState::Route route = hostRecord(server, *via);
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
        releaseHostRoute(ctx_.state.routes, oldest);
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
