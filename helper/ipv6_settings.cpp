#include "helper/ipv6_settings.h"

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "Ipv6Settings";

bool writeSysctl(const std::string& path, const std::string& value) {
    std::ofstream out(path);
    out << value << "\n";
    out.flush();
    return static_cast<bool>(out);
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

bool isDigits(const std::string& s, std::size_t maxLength) {
    return !s.empty() && s.size() <= maxLength && s.find_first_not_of("0123456789") == std::string::npos;
}

// "2001:db8::2/64" as the kernel reports it; checked before it goes back
// into an argv.
bool isIPv6Prefix(const std::string& s) {
    auto slash = s.find('/');
    if (slash == std::string::npos || addressFamily(s.substr(0, slash)) != AddressFamily::V6) return false;
    const std::string length = s.substr(slash + 1);
    return isDigits(length, 3) && std::stoi(length) <= 128;
}

std::string stringField(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flagged(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_boolean() && it->get<bool>();
}

// Routes the kernel makes again by itself (from an address, a router
// advertisement, a redirect) are not ours to restore.
bool kernelMadeRoute(const std::string& protocol) {
    return protocol == "kernel" || protocol == "ra" || protocol == "redirect" || protocol == "kernel_ll";
}
}  // namespace

void Ipv6Settings::saveStatic(const std::string& device) {
    auto& saved = ctx_.state.ipv6;
    auto addresses =
        nlohmann::json::parse(ctx_.run({"ip", "-j", "-6", "addr", "show", "dev", device}).out, nullptr, false);
    for (const auto& link : addresses.is_array() ? addresses : nlohmann::json::array()) {
        auto info = link.find("addr_info");
        if (info == link.end() || !info->is_array()) continue;
        for (const auto& a : *info) {
            // Addresses from autoconfiguration come back by themselves.
            if (!a.is_object() || stringField(a, "scope") != "global" || flagged(a, "dynamic") ||
                flagged(a, "temporary"))
                continue;
            auto length = a.find("prefixlen");
            if (length == a.end() || !length->is_number_unsigned()) continue;
            const std::string address = stringField(a, "local") + "/" + std::to_string(length->get<unsigned>());
            if (isIPv6Prefix(address)) saved.addresses.push_back({device, address});
        }
    }
    auto routes =
        nlohmann::json::parse(ctx_.run({"ip", "-j", "-6", "route", "show", "dev", device}).out, nullptr, false);
    for (const auto& r : routes.is_array() ? routes : nlohmann::json::array()) {
        // Plain unicast routes through one gateway at most.
        if (!r.is_object() || r.contains("type") || r.contains("nexthops")) continue;
        HelperState::Ipv6::Route route{device, stringField(r, "dst"), stringField(r, "gateway"), "",
                                       stringField(r, "protocol")};
        if (auto m = r.find("metric"); m != r.end() && m->is_number_unsigned())
            route.metric = std::to_string(m->get<unsigned long>());
        if (kernelMadeRoute(route.protocol)) continue;
        const bool destinationOk = route.destination == "default" || isIPv6Prefix(route.destination) ||
                                   addressFamily(route.destination) == AddressFamily::V6;
        const bool gatewayOk = route.gateway.empty() || addressFamily(route.gateway) == AddressFamily::V6;
        const bool protocolOk = route.protocol.empty() || isStrictName(route.protocol, 16);
        if (destinationOk && gatewayOk && protocolOk) saved.routes.push_back(route);
    }
}

bool Ipv6Settings::restoreStatic() {
    auto& saved = ctx_.state.ipv6;
    bool ok = true;
    for (const auto& a : saved.addresses) {
        if (!isInterfaceName(a.device) || !isIPv6Prefix(a.address)) continue;
        ok = ctx_.run({"ip", "-6", "addr", "replace", a.address, "dev", a.device}).ok() && ok;
    }
    for (const auto& r : saved.routes) {
        if (!isInterfaceName(r.device)) continue;
        std::vector<std::string> argv{"ip", "-6", "route", "replace", r.destination};
        if (!r.gateway.empty()) argv.insert(argv.end(), {"via", r.gateway});
        argv.insert(argv.end(), {"dev", r.device});
        if (isDigits(r.metric, 10)) argv.insert(argv.end(), {"metric", r.metric});
        if (!r.protocol.empty()) argv.insert(argv.end(), {"proto", r.protocol});
        ok = ctx_.run(argv).ok() && ok;
    }
    return ok;
}

bool Ipv6Settings::disable() {
    std::error_code ec;
    std::map<std::string, std::string> current;
    for (const auto& entry : std::filesystem::directory_iterator(confDir(), ec)) {
        auto name = entry.path().filename().string();
        if (name == "lo" || name == "all" || !isInterfaceName(name)) continue;
        if (auto v = readFile(entry.path().string() + "/disable_ipv6")) current[name] = trimmed(*v);
    }
    if (ec) {
        log::warning(kLog, "no IPv6 configuration to change");
        return false;
    }
    // The first call saves; later calls only add interfaces that appeared
    // since, so what was saved first is what comes back.
    auto& saved = ctx_.state.ipv6;
    bool changed = !saved.saved;
    saved.saved = true;
    for (const auto& [name, value] : current) {
        if (!saved.disableIpv6.emplace(name, value).second) continue;
        changed = true;
        if (value == "0" && name != "default") saveStatic(name);
    }
    if (changed && !ctx_.saveState()) return false;
    bool ok = true;
    for (const auto& [name, value] : current)
        if (value != "1") ok = writeSysctl(confDir() + "/" + name + "/disable_ipv6", "1") && ok;
    return ok;
}

bool Ipv6Settings::restore() {
    auto& saved = ctx_.state.ipv6;
    if (!saved.saved) return true;
    bool ok = true;
    for (const auto& [name, value] : saved.disableIpv6) {
        if (!isInterfaceName(name) || (value != "0" && value != "1")) continue;
        auto path = confDir() + "/" + name + "/disable_ipv6";
        // Interfaces that went away in the meantime have nothing to restore.
        if (!std::filesystem::exists(path)) continue;
        ok = writeSysctl(path, value) && ok;
    }
    // Interfaces that went away take their addresses with them: a failure
    // there must not keep the record forever.
    if (ok && !restoreStatic()) log::warning(kLog, "some IPv6 addresses or routes could not be put back");
    if (!ok) return false;
    saved = HelperState::Ipv6{};
    ctx_.saveState();
    return true;
}

}  // namespace hw::helper
