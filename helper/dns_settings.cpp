#include "helper/dns_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "DnsSettings";

bool replaceWithSymlink(const std::string& path, const std::string& target) {
    std::string tmp = path + ".hw-link";
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}
}  // namespace

void DnsSettings::setTunnelServers(std::vector<std::string> servers, std::string interface) {
    std::erase_if(servers, [](const auto& s) { return !isIPAddress(s); });
    const bool changed = !servers.empty() && servers != tunnelServers_;
    tunnelServers_ = std::move(servers);
    tunnelInterface_ = isInterfaceName(interface) ? interface : "";
    if (installed_ && changed && !install()) log::warning(kLog, "cannot install the tunnel's own DNS servers");
}

std::vector<std::string> DnsSettings::serversToInstall() const {
    if (!tunnelServers_.empty()) return tunnelServers_;
    if (!ctx_.state.lock.dnsResolvers.empty()) return ctx_.state.lock.dnsResolvers;
    return kFallbackResolvers;
}

bool DnsSettings::resolvedRuns() const {
    struct stat st{};
    return ::stat((ctx_.paths.resolvedDir + "/io.systemd.Resolve").c_str(), &st) == 0;
}

std::string DnsSettings::tunnelInterface() {
    if (!tunnelInterface_.empty()) return tunnelInterface_;
    for (const auto& name : ctx_.network.linkNames()) {
        if (!isInterfaceName(name)) continue;
        if (name.rfind("tun", 0) == 0 || name.rfind("ppp", 0) == 0 || name.rfind("tap", 0) == 0) return name;
    }
    return {};
}

bool DnsSettings::linkExists(const std::string& name) {
    const auto links = ctx_.network.linkNames();
    return std::find(links.begin(), links.end(), name) != links.end();
}

bool DnsSettings::saveFileOnce() {
    auto& dns = ctx_.state.dns;
    if (dns.saved) return true;
    const auto& path = ctx_.paths.resolvConf;
    struct stat st{};
    HelperState::Dns backup;
    backup.mode = "file";
    if (::lstat(path.c_str(), &st) == 0) {
        backup.existed = true;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = ::readlink(path.c_str(), target, sizeof(target) - 1);
            if (n < 0) return false;
            backup.wasSymlink = true;
            backup.linkTarget.assign(target, static_cast<std::size_t>(n));
        } else {
            backup.fileMode = st.st_mode & 07777;
            auto content = readFile(path);
            std::string error;
            // A backup staged as the file still is was synced before it
            // showed under its name.
            const bool staged = content && readFile(backupFile()) == content;
            if (!content || !makeDirectories(ctx_.paths.stateDir, 0700) ||
                (!staged && !writeFileAtomically(backupFile(), *content, 0600, &error))) {
                log::error(kLog, "cannot back up " + path + ": " + error);
                return false;
            }
        }
    } else if (errno != ENOENT) {
        return false;
    }
    backup.saved = true;
    dns = backup;
    return ctx_.saveState();
}

void DnsSettings::stageBackup() {
    if (ctx_.state.dns.saved || resolvedRuns()) return;
    const auto& path = ctx_.paths.resolvConf;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const auto content = readFile(path);
    std::string error;
    if (content && makeDirectories(ctx_.paths.stateDir, 0700) && readFile(backupFile()) != content &&
        !writeFileAtomically(backupFile(), *content, 0600, &error))
        log::warning(kLog, "cannot stage the backup of " + path + ": " + error);
}

bool DnsSettings::install() {
    auto servers = serversToInstall();
    if (resolvedRuns()) {
        auto link = tunnelInterface();
        if (!link.empty()) {
            std::vector<std::string> argv{"resolvectl", "dns", link};
            argv.insert(argv.end(), servers.begin(), servers.end());
            bool ok = ctx_.run(argv).ok() && ctx_.run({"resolvectl", "domain", link, "~."}).ok();
            installed_ = ok;
            if (ok && !ctx_.state.dns.saved) {
                ctx_.state.dns = HelperState::Dns{};
                ctx_.state.dns.saved = true;
                ctx_.state.dns.mode = "resolved";
                ctx_.state.dns.interface = link;
                ctx_.saveState();
            }
            return ok;
        }
    }
    if (!saveFileOnce()) return false;
    std::string content = "# Written by havenway-helper for the VPN; restored when it ends.\n";
    for (const auto& s : servers) content += "nameserver " + s + "\n";
    // Asked again for what is there already (the tunnel's up event did it):
    // nothing to write, and no wait for the disk.
    if (installed_ && readFile(ctx_.paths.resolvConf) == content) return true;
    std::string error;
    // Not waited onto the disk, which would hold Connected back: after a power
    // cut the tunnel's servers are of no use, and the backup and its record,
    // on the disk by now, put the original back.
    if (!writeFileAtomically(ctx_.paths.resolvConf, content, 0644, &error, /*durable=*/false)) {
        log::error(kLog, "cannot write " + ctx_.paths.resolvConf + ": " + error);
        return false;
    }
    installed_ = true;
    return true;
}

bool DnsSettings::restore() {
    installed_ = false;
    auto& dns = ctx_.state.dns;
    if (!dns.saved) return true;
    bool ok = true;
    const auto& path = ctx_.paths.resolvConf;
    if (dns.mode == "resolved") {
        // A link that is gone took its DNS settings with it.
        if (isInterfaceName(dns.interface) && !ctx_.run({"resolvectl", "revert", dns.interface}).ok())
            ok = !linkExists(dns.interface);
    } else if (dns.wasSymlink) {
        ok = replaceWithSymlink(path, dns.linkTarget);
    } else if (dns.existed) {
        auto content = readFile(backupFile());
        std::string error;
        ok = content && writeFileAtomically(path, *content, dns.fileMode, &error);
        if (!ok) log::error(kLog, "cannot restore " + path + ": " + error);
    } else {
        ok = ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }
    if (!ok) return false;  // keep the backup for the next try
    ::unlink(backupFile().c_str());
    dns = HelperState::Dns{};
    ctx_.saveState();
    return true;
}

}  // namespace hw::helper
