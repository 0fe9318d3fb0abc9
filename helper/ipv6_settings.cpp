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
}  // namespace

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
    for (const auto& [name, value] : current) changed = saved.disableIpv6.emplace(name, value).second || changed;
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
    if (!ok) return false;
    saved = HelperState::Ipv6{};
    ctx_.saveState();
    return true;
}

}  // namespace hw::helper
