#include "helper/ipv6_settings.h"

#include <filesystem>
#include <fstream>

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
// to the kernel.
bool isIPv6Prefix(const std::string& s) {
    auto slash = s.find('/');
    if (slash == std::string::npos || addressFamily(s.substr(0, slash)) != AddressFamily::V6) return false;
    const std::string length = s.substr(slash + 1);
    return isDigits(length, 3) && std::stoi(length) <= 128;
}

// Routes the kernel makes again by itself (from an address, a router
// advertisement, a redirect) are not ours to restore.
bool kernelMadeRoute(const std::string& protocol) {
    return protocol == "kernel" || protocol == "ra" || protocol == "redirect" || protocol == "kernel_ll";
}

bool restorable(const HelperState::Ipv6::Route& r) {
    const bool destinationOk =
        r.destination == "default" || isIPv6Prefix(r.destination) || addressFamily(r.destination) == AddressFamily::V6;
    return isInterfaceName(r.device) && destinationOk &&
           (r.gateway.empty() || addressFamily(r.gateway) == AddressFamily::V6) &&
           (r.protocol.empty() || isStrictName(r.protocol, 16));
}
}  // namespace

void Ipv6Settings::saveStatic(const std::string& device) {
    auto& saved = ctx_.state.ipv6;
    for (const auto& a : ctx_.network.addresses6(device)) {
        // Addresses from autoconfiguration come back by themselves.
        if (!a.global || a.dynamic || a.temporary) continue;
        if (isIPv6Prefix(a.prefix)) saved.addresses.push_back({device, a.prefix});
    }
    for (const auto& r : ctx_.network.routes6(device)) {
        if (kernelMadeRoute(r.protocol)) continue;
        HelperState::Ipv6::Route route{device, r.destination, r.gateway,
                                       r.metric ? std::to_string(*r.metric) : std::string(), r.protocol};
        if (restorable(route)) saved.routes.push_back(route);
    }
}

bool Ipv6Settings::restoreStatic() {
    auto& saved = ctx_.state.ipv6;
    bool ok = true;
    for (const auto& a : saved.addresses) {
        if (!isInterfaceName(a.device) || !isIPv6Prefix(a.address)) continue;
        ok = ctx_.network.replaceAddress6(a.device, a.address) && ok;
    }
    for (const auto& r : saved.routes) {
        // The record is a file: it is checked again before use.
        if (!restorable(r)) continue;
        std::optional<unsigned> metric;
        if (isDigits(r.metric, 9)) metric = static_cast<unsigned>(std::stoul(r.metric));
        // A default route with no gateway names its family by its prefix, or it would be IPv4's.
        const std::string destination = r.destination == "default" && r.gateway.empty() ? "::/0" : r.destination;
        ok = ctx_.network.replaceRoute({destination, r.gateway, r.device, metric, r.protocol}) && ok;
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
        // A tunnel's interface made since comes with IPv6 off (from
        // "default"): putting that back is nothing, and not worth a write of
        // the records while the tunnel's connect waits.
        if (value != "1") changed = true;
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
    // A link that came up meanwhile took IPv6 off from "default", which was
    // ours: it gets what "default" gives it again.
    const auto initial = saved.disableIpv6.find("default");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(confDir(), ec)) {
        const auto name = entry.path().filename().string();
        if (initial == saved.disableIpv6.end() || initial->second != "0" || name == "lo" || name == "all" ||
            saved.disableIpv6.count(name) || !isInterfaceName(name))
            continue;
        const auto path = entry.path().string() + "/disable_ipv6";
        if (auto v = readFile(path); v && trimmed(*v) == "1") ok = writeSysctl(path, "0") && ok;
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
