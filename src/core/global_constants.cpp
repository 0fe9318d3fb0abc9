#include "core/global_constants.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/ip_address.h"
#include "platform/log.h"

namespace hw {
namespace {

std::mutex& assignableMutex() {
    static std::mutex m;
    return m;
}

struct Assignable {
    std::string dnsResolver = "8.8.4.4";
    std::string dnsResolverSecondary = "8.8.8.8";
    bool dnsResolverAssigned = false;
    bool dnsResolverSecondaryAssigned = false;
    std::string logsDirectoryPath;  // empty: the default data folder
};

Assignable& assignable() {
    static Assignable a;
    return a;
}

std::string setting(const char* envName, const char* fallback) {
    const char* value = std::getenv(envName);
    return (value && *value) ? std::string(value) : std::string(fallback);
}

std::string baseURL(const char* envName, const char* fallback) {
    std::string host = setting(envName, fallback);
    while (!host.empty() && host.back() == '/') host.pop_back();
    if (host.find("://") == std::string::npos) host = "https://" + host;
    return host;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// Follows the data folder of the file layout: $HAVENWAY_DATA_DIR, else
// $XDG_DATA_HOME/havenway, else ~/.local/share/havenway. Relative values are
// invalid by the base-directory rules and ignored.
std::string defaultDataFolder() {
    if (const char* dir = std::getenv("HAVENWAY_DATA_DIR"); dir && dir[0] == '/') {
        if (std::string folder = withoutTrailingSlashes(dir); folder != "/") return folder;
    }
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        return std::string(xdg) + "/havenway";
    }
    const std::string home = homeDirectory();
    if (home.empty()) return {};
    return (home == "/" ? std::string() : home) + "/.local/share/havenway";
}

}  // namespace

std::string GlobalConstants::parseServerHost() { return baseURL("HAVENWAY_BACKEND_HOST", HW_DEFAULT_BACKEND_HOST); }
std::string GlobalConstants::parseServerURL() { return parseServerHost() + "/parse"; }

std::string GlobalConstants::oauthTokenURL() {
    return baseURL("HAVENWAY_IDENTITY_HOST", HW_DEFAULT_IDENTITY_HOST) + "/oauth/token";
}
std::string GlobalConstants::oauthAuthorizeURL() {
    return baseURL("HAVENWAY_IDENTITY_HOST", HW_DEFAULT_IDENTITY_HOST) + "/authorize";
}
std::string GlobalConstants::oauthUserInfoURL() {
    return baseURL("HAVENWAY_IDENTITY_HOST", HW_DEFAULT_IDENTITY_HOST) + "/userinfo";
}
std::string GlobalConstants::analyticsTrackerURL() {
    return baseURL("HAVENWAY_WEB_HOST", HW_DEFAULT_WEB_HOST) + "/api/app-analytics.php";
}
std::string GlobalConstants::termsOfServiceURL() {
    return baseURL("HAVENWAY_WEB_HOST", HW_DEFAULT_WEB_HOST) + "/legal/terms";
}

std::string GlobalConstants::supportEmail() { return setting("HAVENWAY_SUPPORT_EMAIL", HW_DEFAULT_SUPPORT_EMAIL); }
std::string GlobalConstants::feedbackEmail() { return setting("HAVENWAY_FEEDBACK_EMAIL", HW_DEFAULT_FEEDBACK_EMAIL); }
std::string GlobalConstants::testAccountEmail() {
    return setting("HAVENWAY_TEST_ACCOUNT_EMAIL", HW_DEFAULT_TEST_ACCOUNT_EMAIL);
}

std::string GlobalConstants::testAccountPassword() {
    std::string letters = "tbed";
    std::string digits = std::to_string(204000 + 817);
    return letters + digits;
}

// Resolver addresses come from the backend's remote configuration and end up
// in the system's DNS settings: only a plain IPv4 or IPv6 address is taken.
std::string GlobalConstants::dnsResolver() {
    std::lock_guard lock(assignableMutex());
    return assignable().dnsResolver;
}
bool GlobalConstants::setDnsResolver(std::string address) {
    if (!isIPAddress(address)) {
        log::warning("GlobalConstants", "DNS resolver is not an IP address; keeping the current one");
        return false;
    }
    std::lock_guard lock(assignableMutex());
    assignable().dnsResolver = std::move(address);
    assignable().dnsResolverAssigned = true;
    return true;
}
std::string GlobalConstants::dnsResolverSecondary() {
    std::lock_guard lock(assignableMutex());
    return assignable().dnsResolverSecondary;
}
bool GlobalConstants::setDnsResolverSecondary(std::string address) {
    if (!isIPAddress(address)) {
        log::warning("GlobalConstants", "secondary DNS resolver is not an IP address; keeping the current one");
        return false;
    }
    std::lock_guard lock(assignableMutex());
    assignable().dnsResolverSecondary = std::move(address);
    assignable().dnsResolverSecondaryAssigned = true;
    return true;
}
// The built-in resolvers are swapped against the lock's fallbacks: only one
// the backend sent replaces a fallback.
std::string GlobalConstants::networkLockPrimaryDNS() {
    std::lock_guard lock(assignableMutex());
    return assignable().dnsResolverAssigned ? assignable().dnsResolver : std::string(primaryDNS);
}
void GlobalConstants::resetDnsResolvers() {
    std::lock_guard lock(assignableMutex());
    Assignable& a = assignable();
    a.dnsResolver = "8.8.4.4";
    a.dnsResolverSecondary = "8.8.8.8";
    a.dnsResolverAssigned = a.dnsResolverSecondaryAssigned = false;
}
std::string GlobalConstants::networkLockSecondaryDNS() {
    std::lock_guard lock(assignableMutex());
    return assignable().dnsResolverSecondaryAssigned ? assignable().dnsResolverSecondary : std::string(secondaryDNS);
}

std::string GlobalConstants::logsDirectoryPath() {
    {
        std::lock_guard lock(assignableMutex());
        if (!assignable().logsDirectoryPath.empty()) return assignable().logsDirectoryPath;
    }
    return defaultDataFolder();
}
void GlobalConstants::setLogsDirectoryPath(std::string path) {
    path = withoutTrailingSlashes(std::move(path));
    // A relative folder would follow the working directory, and the root
    // would put the error log at "/error.log": both fall back to the default.
    if (!path.empty() && (path.front() != '/' || path == "/")) {
        log::warning("GlobalConstants", "ignoring unusable log folder; using the data folder");
        path.clear();
    }
    std::lock_guard lock(assignableMutex());
    assignable().logsDirectoryPath = std::move(path);
}

std::string GlobalConstants::errorLogFilePath() {
    const std::string folder = logsDirectoryPath();
    if (folder.empty()) return {};
    return folder + "/error.log";
}

const std::map<std::string, NotificationBarStyleModel>& GlobalConstants::notificationBarStyles() {
    static const std::map<std::string, NotificationBarStyleModel> styles = [] {
        std::map<std::string, NotificationBarStyleModel> m;
        m.emplace("tip", NotificationBarStyleModel("tip", "#e7f3fe", "#e4efdd", "#1d71cc", "Top_bar_icon_style_green"));
        m.emplace("action",
                  NotificationBarStyleModel("action", "#fcf8e5", "#faecce", "#c4a18c", "Top_bar_icon_style_yellow"));
        return m;
    }();
    return styles;
}

}  // namespace hw
