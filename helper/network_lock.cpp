#include "helper/network_lock.h"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

#include "helper/command_dispatcher.h"
#include "helper/helper_validation.h"
#include "helper/nft_ruleset.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "NetworkLock";
}

std::optional<NetworkLock::DefaultRoute> NetworkLock::currentDefaultRoute() {
    auto r = ctx_.run({"ip", "-j", "-4", "route", "show", "default"});
    if (!r.ok()) return std::nullopt;
    auto j = nlohmann::json::parse(r.out, nullptr, false);
    if (j.is_discarded() || !j.is_array()) return std::nullopt;
    std::optional<DefaultRoute> best;
    long long bestMetric = std::numeric_limits<long long>::max();
    for (const auto& e : j) {
        if (!e.is_object() || !e.contains("gateway") || !e["gateway"].is_string()) continue;
        auto gw = e["gateway"].get<std::string>();
        std::string dev = e.contains("dev") && e["dev"].is_string() ? e["dev"].get<std::string>() : "";
        long long metric = e.contains("metric") && e["metric"].is_number_integer() ? e["metric"].get<long long>() : 0;
        // What the kernel reports is still checked before it is reused.
        if (!isIPv4Address(gw) || (!dev.empty() && !isInterfaceName(dev))) continue;
        if (metric < bestMetric) {
            bestMetric = metric;
            best = DefaultRoute{gw, dev};
        }
    }
    return best;
}

bool NetworkLock::applyTable() {
    LockRules rules{ctx_.state.servers, ctx_.state.lock.dnsResolvers};
    return ctx_.run({"nft", "-f", "-"}, buildLockRuleset(rules)).ok();
}

std::string NetworkLock::enable(const std::vector<std::string>& dnsResolvers) {
    auto& lock = ctx_.state.lock;
    if (!dnsResolvers.empty()) lock.dnsResolvers = dnsResolvers;
    if (!lock.active) {
        // Remember the way out before anything changes.
        auto route = currentDefaultRoute();
        lock.gateway = route ? route->gateway : "";
        lock.device = route ? route->device : "";
    }
    if (!applyTable()) {
        log::error(kLog, "could not install the lock table");
        if (!lock.active) lock = HelperState::Lock{};
        return kNo;
    }
    lock.active = true;
    ctx_.saveState();
    // Fail closed first, then take the default route away.
    for (int i = 0; i < 8 && currentDefaultRoute(); ++i)
        if (!ctx_.run({"ip", "-4", "route", "del", "default"}).ok()) break;
    log::info(kLog, "engaged");
    return lock.gateway.empty() ? std::string(kNo) : lock.gateway;
}

bool NetworkLock::disable(const std::optional<std::string>& gateway) {
    auto& lock = ctx_.state.lock;
    bool ok = ctx_.run({"nft", "-f", "-"}, buildReleaseRuleset()).ok();
    std::string gw = gateway.value_or(lock.gateway);
    if (!gw.empty()) {
        std::vector<std::string> argv{"ip", "-4", "route", "replace", "default", "via", gw};
        if (gw == lock.gateway && !lock.device.empty()) {
            argv.push_back("dev");
            argv.push_back(lock.device);
        }
        ok = ctx_.run(argv).ok() && ok;
    } else {
        log::warning(kLog, "released without a gateway to restore");
    }
    lock = HelperState::Lock{};
    ctx_.state.servers.clear();
    if (tunnelRunning()) log::info(kLog, "a tunnel runs: the servers' host routes stay");
    else removeServerRoutes();
    ctx_.saveState();
    log::info(kLog, "released");
    return ok;
}

bool NetworkLock::tunnelRunning() const {
    return std::any_of(tunnelChecks_.begin(), tunnelChecks_.end(), [](const auto& running) { return running(); });
}

void NetworkLock::removeServerRoutes() {
    for (const auto& r : ctx_.state.routes) {
        std::string family = addressFamily(r.destination) == AddressFamily::V6 ? "-6" : "-4";
        // Already gone is as good as removed.
        ctx_.run({"ip", family, "route", "del", r.destination, "via", r.via});
    }
    ctx_.state.routes.clear();
}

bool NetworkLock::addServerRoute(const std::string& server, const std::string& gateway) {
    if (addressFamily(server) != addressFamily(gateway)) return false;
    std::string family = addressFamily(server) == AddressFamily::V4 ? "-4" : "-6";
    if (!ctx_.run({"ip", family, "route", "replace", server, "via", gateway}).ok()) return false;
    HelperState::Route route{server, gateway};
    auto& routes = ctx_.state.routes;
    std::erase_if(routes, [&](const auto& r) { return r.destination == server; });
    routes.push_back(route);
    return allowServer(server);
}

bool NetworkLock::allowServer(const std::string& server) {
    if (!isIPAddress(server)) return false;
    auto& servers = ctx_.state.servers;
    if (std::find(servers.begin(), servers.end(), server) == servers.end()) servers.push_back(server);
    bool ok = !active() || applyTable();
    ctx_.saveState();
    return ok;
}

bool NetworkLock::setDefaultGateway(const std::string& gateway) {
    std::string family = addressFamily(gateway) == AddressFamily::V6 ? "-6" : "-4";
    return ctx_.run({"ip", family, "route", "replace", "default", "via", gateway}).ok();
}

bool NetworkLock::reset() {
    bool ok = true;
    removeServerRoutes();
    if (active() || !ctx_.state.lock.gateway.empty()) {
        ok = disable(std::nullopt);
    } else {
        ok = ctx_.run({"nft", "-f", "-"}, buildReleaseRuleset()).ok();
        ctx_.state.servers.clear();
        ctx_.saveState();
    }
    return ok;
}

}  // namespace hw::helper
