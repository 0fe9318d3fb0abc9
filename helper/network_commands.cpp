#include <chrono>
#include <memory>
#include <sstream>
#include <vector>

#include "helper/helper_services.h"
#include "helper/server_lookups.h"
#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {

constexpr const char* kLog = "HelperCommands";

std::function<bool(const std::string&)> isOwnOf(HelperServices& services) {
    return [&services](const std::string& address) { return services.context.network.isOwnAddress(address); };
}

// A parameter that must be an address: absent, valid, or (anything else) a
// refusal of the whole command.
struct AddressParam {
    bool present = false;
    bool valid = true;
    std::string value;
};

AddressParam addressParam(const HelperCommand& c, const char* key, HelperServices& services) {
    AddressParam p;
    auto it = c.parameters.find(key);
    if (it == c.parameters.end()) return p;
    p.present = true;
    const std::string* s = it->second.string();
    // Each of these names another host: a resolver, a server or a gateway.
    const std::string problem = s ? addressProblem(*s, isOwnOf(services)) : std::string("not a string");
    if (!problem.empty()) {
        log::warning(kLog, "'" + c.name + "': invalid " + key + " " + (s ? describeForLog(*s) + ": " : std::string()) +
                               problem);
        p.valid = false;
        return p;
    }
    p.value = *s;
    return p;
}

// A 0/1 flag; absent counts as 0.
std::optional<bool> flagParam(const HelperCommand& c, const char* key) {
    auto it = c.parameters.find(key);
    if (it == c.parameters.end()) return false;
    auto v = it->second.int64();
    if (!v || (*v != 0 && *v != 1)) {
        log::warning(kLog, "'" + c.name + "': invalid " + key);
        return std::nullopt;
    }
    return *v == 1;
}

HelperMessage yesNo(bool ok) { return replyWith(ok ? kYes : kNo); }

}  // namespace

void registerNetworkCommands(CommandDispatcher& d, HelperServices& s) {
    d.registerCommand("retrieveDefaultGateway", [&s](HelperCommand&) -> std::optional<HelperMessage> {
        // The app knows ways out by their gateways only.
        const auto way = s.lock.wayOut();
        return replyWith(way && !way->gateway.empty() ? way->gateway : std::string(kNo));
    });

    // Whether a lock is in force: an app that starts after a crash keeps
    // the one its user chose instead of lifting it blind.
    d.registerCommand("networkLockState", [&s](HelperCommand&) -> std::optional<HelperMessage> {
        HelperMessage reply = yesNo(s.lock.active());
        reply["engaged"] = HelperValue(s.lock.active());
        return reply;
    });

    d.registerCommand("enableNetworkLock", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        std::vector<std::string> resolvers;
        for (auto key : {"dnsResolver", "dnsResolverSecondary"}) {
            auto p = addressParam(c, key, s);
            if (!p.valid) return replyWith(kNo);
            if (p.present) resolvers.push_back(p.value);
        }
        // "NO" stands for "no gateway" as well as for failure; callers tell
        // the two apart by this.
        HelperMessage reply = replyWith(s.lock.enable(resolvers));
        reply["engaged"] = HelperValue(s.lock.active());
        return reply;
    });

    d.registerCommand("disableNetworkLock", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        // Releasing never fails on its hint: one that is no host's IPv4
        // address is passed over, and the way out saved at engage time is used.
        std::optional<std::string> hint;
        if (auto it = c.parameters.find("gatewayAddress"); it != c.parameters.end()) {
            const std::string* text = it->second.string();
            const std::string problem = !text ? "not a string"
                                        : !isIPv4Address(*text) ? "not an IPv4 address"
                                                                : hostAddressProblem(*text);
            if (problem.empty())
                hint = *text;
            else
                log::info(kLog, "'" + c.name + "': gatewayAddress " + (text ? describeForLog(*text) + " " : "") +
                                    "passed over (" + problem + "); the saved way out is used");
        }
        return yesNo(s.lock.disable(hint));
    });

    // The lock lets no lookup of the app's out: the helper asks the lock's
    // resolvers (or the ones named) for the server's address instead. Only
    // then: without the lock the app looks up on its own.
    auto lookups = std::make_shared<ServerLookups>();
    d.registerCommand("resolveVPNServerHost", [&s, lookups](HelperCommand& c) -> std::optional<HelperMessage> {
        if (!s.lock.active()) {
            log::warning(kLog, "'" + c.name + "': refused: the lock does not hold");
            return replyWith(kNo);
        }
        const std::string* host = helperString(c.parameters, "vpnServerHost");
        const std::string problem = host ? serverProblem(*host) : std::string("absent");
        if (!problem.empty()) {
            log::warning(kLog, "'" + c.name + "': invalid vpnServerHost " + (host ? describeForLog(*host) + ": " : "") +
                                   problem);
            return replyWith(kNo);
        }
        std::vector<std::string> resolvers;
        for (auto key : {"dnsResolver", "dnsResolverSecondary"}) {
            auto p = addressParam(c, key, s);
            if (!p.valid) return replyWith(kNo);
            if (p.present) resolvers.push_back(p.value);
        }
        if (resolvers.empty()) resolvers = s.context.state.lock.dnsResolvers;
        if (resolvers.empty()) resolvers = kFallbackResolvers;
        if (const std::string refused = lookups->refusal(); !refused.empty()) {
            log::warning(kLog, "'" + c.name + "': refused: " + refused);
            return replyWith(kNo);
        }
        const std::string name = c.name, hostName = *host, shown = describeForLog(*host);
        auto pending = std::make_shared<HelperRequest>(std::move(c.request));
        lookups->start(hostName, std::move(resolvers), [pending, name, shown](std::optional<std::string> address) {
            // A blocking resolver's 0.0.0.0 names no server.
            if (!address || !isHostAddress(*address)) {
                log::warning(kLog, "'" + name + "': " + shown + " does not resolve");
                pending->reply(replyWith(kNo));
                return;
            }
            pending->reply(replyWith(*address));
        });
        return std::nullopt;
    });

    d.registerCommand("staticRouteAddingProcessing", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto server = addressParam(c, "vpnServerAddress", s);
        auto gw = addressParam(c, "defaultGateway", s);
        if (!server.present || !server.valid || !gw.valid) return replyWith(kNo);
        // An app that has not learnt the way out yet (its first lock) sends none.
        const auto way = gw.present ? std::optional(NetworkLock::DefaultRoute{gw.value, ""}) : s.lock.wayOut();
        if (!way || !s.lock.addServerRoute(server.value, *way)) return replyWith(kNo);
        return replyWith(server.value);
    });

    d.registerCommand("addDefaultGatewayForOpenVPN", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        auto gw = addressParam(c, "gatewayAddress", s);
        if (!gw.present || !gw.valid) return replyWith(kNo);
        return yesNo(s.lock.setDefaultGateway(gw.value));
    });

    d.registerCommand("disableIPV6", [&s](HelperCommand&) -> std::optional<HelperMessage> {
        return yesNo(s.ipv6.disable());
    });
    d.registerCommand("reEnableIPV6", [&s](HelperCommand&) -> std::optional<HelperMessage> {
        return yesNo(s.ipv6.restore());
    });

    d.registerCommand("install_DNS_for_VPN", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        const auto forOpenVPN = flagParam(c, "forOpenVPN");
        if (!forOpenVPN) return replyWith(kNo);
        // An up event lost (this helper started after it) leaves the pushed
        // servers to what the app saw; installing others would pass for them.
        if (*forOpenVPN && !s.dns.tunnelUpHeard()) {
            std::vector<std::string> pushed;
            if (const std::string* list = helperString(c.parameters, "pushedServers")) {
                std::stringstream words(*list);
                for (std::string server; std::getline(words, server, ',');) {
                    if (!addressProblem(server, isOwnOf(s)).empty() || pushed.size() >= 8) return replyWith(kNo);
                    pushed.push_back(server);
                }
            }
            if (pushed.empty()) {
                log::warning(kLog, "install_DNS_for_VPN: no openvpn up event heard and no servers named");
                return replyWith(kNo);
            }
            log::info(kLog, "install_DNS_for_VPN: no openvpn up event heard; the servers the app saw pushed");
            s.dns.setTunnelServers(std::move(pushed), "");
        }
        return yesNo(s.dns.install());
    });
    d.registerCommand("restore_DNS_to_original", [&s](HelperCommand& c) -> std::optional<HelperMessage> {
        // Both flags are checked; restoring is the same for every tunnel kind.
        if (!flagParam(c, "forOpenVPN") || !flagParam(c, "skipFallback")) return replyWith(kNo);
        return yesNo(s.dns.restore());
    });

    d.registerCommand("terminatePreviousOpenVPNProcesses", [&s](HelperCommand&) -> std::optional<HelperMessage> {
        // The application drops its kept connections only when a tunnel really ended.
        HelperMessage reply = replyWith(kYes);
        reply["terminated"] = HelperValue(s.openvpnProcesses.terminateAll(std::chrono::seconds(3)));
        return reply;
    });

    d.registerCommand("closeHelperTool", [](HelperCommand&) -> std::optional<HelperMessage> { return replyWith(kYes); });
}

}  // namespace hw::helper
