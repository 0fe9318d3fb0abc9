#include "helper/helper_state.h"

#include <nlohmann/json.hpp>

#include "helper/helper_files.h"
#include "platform/log.h"

namespace hw::helper {

using nlohmann::json;

namespace {

std::optional<json> object(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    auto j = json::parse(*text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        log::error("HelperState", "state file unreadable, starting empty");
        return std::nullopt;
    }
    return j;
}

void readDns(const json& j, HelperState& s) {
    const auto& d = j.value("dns", json::object());
    s.dns.saved = d.value("saved", false);
    s.dns.mode = d.value("mode", "");
    s.dns.existed = d.value("existed", false);
    s.dns.wasSymlink = d.value("wasSymlink", false);
    s.dns.fileMode = d.value("fileMode", 0644u) & 07777;
    s.dns.linkTarget = d.value("linkTarget", "");
    s.dns.interface = d.value("interface", "");
}

// Records written before a route could go without a gateway have no device.
HelperState::Route readRoute(const json& r) {
    return {r.value("destination", ""), r.value("via", ""), r.value("device", "")};
}

json routeJson(const HelperState::Route& r) {
    json j{{"destination", r.destination}, {"via", r.via}};
    if (!r.device.empty()) j["device"] = r.device;
    return j;
}

void readRecords(const json& j, HelperState& s) {
    const auto& l = j.value("lock", json::object());
    s.lock.active = l.value("active", false);
    s.lock.gateway = l.value("gateway", "");
    s.lock.device = l.value("device", "");
    s.lock.dnsResolvers = l.value("dnsResolvers", std::vector<std::string>{});
    for (const auto& t : l.value("taken", json::array())) {
        HelperState::Lock::Taken taken{t.value("gateway", ""), t.value("device", ""), std::nullopt, t.value("protocol", "")};
        if (const auto m = t.find("metric"); m != t.end() && m->is_number_unsigned()) taken.metric = m->get<unsigned>();
        s.lock.taken.push_back(taken);
    }
    s.servers = j.value("servers", std::vector<std::string>{});
    for (const auto& r : j.value("routes", json::array())) s.routes.push_back(readRoute(r));
    for (const auto& r : j.value("resolverRoutes", json::array())) s.resolverRoutes.push_back(readRoute(r));
    if (const auto t = j.find("tunnelRoute"); t != j.end() && t->is_object()) s.tunnelRoute = readRoute(*t);
    const auto& v = j.value("ipv6", json::object());
    s.ipv6.saved = v.value("saved", false);
    s.ipv6.disableIpv6 = v.value("disableIpv6", std::map<std::string, std::string>{});
    for (const auto& a : v.value("addresses", json::array()))
        s.ipv6.addresses.push_back({a.value("device", ""), a.value("address", "")});
    for (const auto& r : v.value("routes", json::array()))
        s.ipv6.routes.push_back({r.value("device", ""), r.value("destination", ""), r.value("gateway", ""),
                                 r.value("metric", ""), r.value("protocol", "")});
    s.bootId = j.value("bootId", "");
}

// A part that does not read whole is dropped whole: half a record would
// undo half a change.
template <typename Read>
void readPart(const std::optional<json>& j, HelperState& s, Read read) {
    if (!j) return;
    HelperState part;
    try {
        read(*j, part);
    } catch (const json::exception&) {
        log::error("HelperState", "state file malformed, starting empty");
        return;
    }
    read(*j, s);
}

std::string text(const json& j) { return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

HelperState HelperState::parse(const std::optional<std::string>& dnsText, const std::optional<std::string>& recordsText) {
    HelperState s;
    const auto dns = object(dnsText);
    readPart(dns, s, readDns);
    readPart(recordsText ? object(recordsText) : dns, s, readRecords);
    return s;
}

std::string HelperState::dnsText() const {
    return text({{"dns", {{"saved", dns.saved}, {"mode", dns.mode}, {"existed", dns.existed}, {"wasSymlink", dns.wasSymlink},
                          {"fileMode", dns.fileMode}, {"linkTarget", dns.linkTarget}, {"interface", dns.interface}}}});
}

std::string HelperState::recordsText() const {
    json routesJson = json::array(), resolverRoutesJson = json::array(), taken = json::array();
    for (const auto& r : routes) routesJson.push_back(routeJson(r));
    for (const auto& r : resolverRoutes) resolverRoutesJson.push_back(routeJson(r));
    for (const auto& t : lock.taken)
        taken.push_back({{"gateway", t.gateway}, {"device", t.device}, {"metric", t.metric ? json(*t.metric) : json()},
                         {"protocol", t.protocol}});
    json ipv6Addresses = json::array(), ipv6Routes = json::array();
    for (const auto& a : ipv6.addresses) ipv6Addresses.push_back({{"device", a.device}, {"address", a.address}});
    for (const auto& r : ipv6.routes)
        ipv6Routes.push_back({{"device", r.device}, {"destination", r.destination}, {"gateway", r.gateway},
                              {"metric", r.metric}, {"protocol", r.protocol}});
    json tunnel = tunnelRoute ? routeJson(*tunnelRoute) : json();
    return text({
        {"lock", {{"active", lock.active}, {"gateway", lock.gateway}, {"device", lock.device},
                  {"dnsResolvers", lock.dnsResolvers}, {"taken", taken}}},
        {"servers", servers},
        {"routes", routesJson},
        {"resolverRoutes", resolverRoutesJson},
        {"tunnelRoute", tunnel},
        {"ipv6", {{"saved", ipv6.saved}, {"disableIpv6", ipv6.disableIpv6}, {"addresses", ipv6Addresses},
                  {"routes", ipv6Routes}}},
        {"bootId", bootId},
    });
}

void HelperState::forgetKernelStateUnlessBoot(const std::string& currentBootId) {
    if (!bootId.empty() && !currentBootId.empty() && bootId != currentBootId) {
        log::info("HelperState", "new boot: the lock, routes and IPv6 records of the last one are void");
        lock = Lock{};
        servers.clear();
        routes.clear();
        resolverRoutes.clear();
        tunnelRoute.reset();
        ipv6 = Ipv6{};
    }
    if (!currentBootId.empty()) bootId = currentBootId;
}

}  // namespace hw::helper
