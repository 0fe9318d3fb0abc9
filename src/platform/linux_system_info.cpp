#include "platform/linux_system_info.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace hw {
namespace {

namespace fs = std::filesystem;

// Small files only (sysfs attributes, os-release); refuses anything huge.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit = 64 * 1024) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data(limit + 1, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    if (in.bad()) return std::nullopt;
    data.resize(static_cast<std::size_t>(in.gcount()));
    if (data.size() > limit) return std::nullopt;
    return data;
}

std::string trimmed(std::string_view s) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
}

std::string formatMac(const unsigned char* bytes) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5]);
    return text;
}

std::string burntInAddress(const std::string& name) {
    if (name.size() >= IFNAMSIZ) return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    constexpr std::size_t kMaxAddress = 32;
    alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + kMaxAddress] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = kMaxAddress;
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    std::string result;
    if (::ioctl(fd, SIOCETHTOOL, &ifr) == 0 && request->size == 6) result = formatMac(buffer + sizeof(ethtool_perm_addr));
    ::close(fd);
    return result;
}

std::string unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return std::string(value.substr(1, value.size() - 2));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
        std::string out;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out.push_back(value[i]);
        }
        return out;
    }
    return std::string(value);
}

}  // namespace

OSRelease parseOsRelease(std::string_view text) {
    OSRelease release;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = unquote(std::string_view(line).substr(eq + 1));
        if (key == "NAME") release.name = value;
        else if (key == "VERSION") release.version = value;
        else if (key == "VERSION_ID") release.versionId = value;
        else if (key == "PRETTY_NAME") release.prettyName = value;
        else if (key == "ID") release.id = value;
    }
    return release;
}

LinuxSystemInfo::LinuxSystemInfo(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    realRoot_ = root_ == "/";
}

std::string LinuxSystemInfo::path(std::string_view relative) const {
    return (realRoot_ ? std::string() : root_) + "/" + std::string(relative);
}

std::optional<std::string> LinuxSystemInfo::productSerial() const {
    // Readable by root only on most machines; absent in many VMs and containers.
    auto data = readSmallFile(path("sys/class/dmi/id/product_serial"), 4096);
    if (!data) return std::nullopt;
    return trimmed(*data);
}

std::optional<std::string> LinuxSystemInfo::machineId() const {
    for (const char* file : {"etc/machine-id", "var/lib/dbus/machine-id"}) {
        const std::string id = trimmed(readSmallFile(path(file), 256).value_or(""));
        const bool valid = id.size() == 32 && std::all_of(id.begin(), id.end(), [](unsigned char c) {
                               return std::isxdigit(c) != 0;
                           }) && id.find_first_not_of('0') != std::string::npos;
        if (valid) return id;
    }
    return std::nullopt;
}

std::vector<NetworkInterfaceInfo> LinuxSystemInfo::networkInterfaces() const {
    std::vector<NetworkInterfaceInfo> result;
    const fs::path netDir = path("sys/class/net");
    std::error_code ec;
    for (fs::directory_iterator it(netDir, ec), end; !ec && it != end; it.increment(ec)) {
        NetworkInterfaceInfo info;
        info.name = it->path().filename().string();
        const std::string dir = it->path().string() + "/";
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        // Software devices live under /sys/devices/virtual; an entry we cannot
        // place counts as virtual too.
        info.isVirtual = linkError || target.string().find("devices/virtual/") != std::string::npos;
        info.address = trimmed(readSmallFile(dir + "address", 256).value_or(""));
        const std::string type = trimmed(readSmallFile(dir + "type", 64).value_or(""));
        info.hardwareType = std::atoi(type.c_str());
        info.addressIsPermanent = trimmed(readSmallFile(dir + "addr_assign_type", 64).value_or("")) == "0";
        if (realRoot_ && !info.isVirtual) info.permanentAddress = burntInAddress(info.name);
        result.push_back(std::move(info));
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return result;
}

std::optional<OSRelease> LinuxSystemInfo::osRelease() const {
    for (const char* candidate : {"etc/os-release", "usr/lib/os-release"}) {
        if (auto text = readSmallFile(path(candidate))) return parseOsRelease(*text);
    }
    return std::nullopt;
}

}  // namespace hw
