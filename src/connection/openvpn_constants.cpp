#include "connection/openvpn_constants.h"

#include "core/global_constants.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace hw {

namespace {
constexpr const char* kLog = "OpenVPNConstants";
// The helper runs openvpn and its own up/down handling from here; these only
// keep the command line's shape.
constexpr const char* kOpenVPNBinary = "/usr/sbin/openvpn";
constexpr const char* kLibexec = "/usr/libexec/havenway";
constexpr const char* kTunDevice = "/dev/net/tun";
}  // namespace

const std::string& OpenVPNConstants::configFilePath() {
    static const std::string path = [] {
        const std::string dir = paths::dataDir();
        std::string error;
        if (!paths::ensurePrivateDir(dir, &error)) log::error(kLog, "cannot prepare " + dir + ": " + error);
        GlobalConstants::setLogsDirectoryPath(dir);
        return dir + "/config_current.ovpn";
    }();
    return path;
}

std::string OpenVPNConstants::shellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += "'";
    return out;
}

std::string OpenVPNConstants::quotedConfigFilePath() { return shellQuoted(configFilePath()); }
std::string OpenVPNConstants::openvpnPath() { return shellQuoted(kOpenVPNBinary); }
std::string OpenVPNConstants::upScriptPath() { return shellQuoted(std::string(kLibexec) + "/client.up.sh"); }
std::string OpenVPNConstants::downScriptPath() { return shellQuoted(std::string(kLibexec) + "/client.down.sh"); }
std::string OpenVPNConstants::tunKextPath() { return kTunDevice; }
std::string OpenVPNConstants::tapKextPath() { return kTunDevice; }

std::string OpenVPNConstants::openvpnCommand() {
    std::string line = openvpnPath() + " --config " + quotedConfigFilePath() + " --management 127.0.0.1 " +
                       std::to_string(managementPort) +
                       " --management-query-passwords --script-security 2 --up \"" + upScriptPath() +
                       " -9 -d -f -m -w -ptADGNWradsgnw\" --down \"" + downScriptPath() +
                       " -9 -d -f -m -w -ptADGNWradsgnw\"&";
    log::info(kLog, line);
    return line;
}

std::map<std::string, std::string> OpenVPNConstants::connectionParameters() {
    return {{"openvpncmd", openvpnCommand()}, {"path_tun", tunKextPath()}, {"path_tap", tapKextPath()}};
}

const std::vector<std::string>& OpenVPNConstants::errorTexts() {
    static const std::vector<std::string> texts{
        "Authentication error, username or password doesn't match.",
        "No OpenVPN communication socket found.",
        "Can not allocate TUN or TAP drivers.",
        "Cannot load CA certificate file.",
        "General connection error.",
    };
    return texts;
}

bool OpenVPNConstants::isRefusalText(const std::string& text) {
    const auto& texts = errorTexts();
    return text == texts[0] || text == texts[2] || text == texts[3];
}

std::string OpenVPNConstants::errorText(std::uint32_t code) {
    const auto& texts = errorTexts();
    if (code < texts.size()) return texts[code];
    return std::string(generalErrorWithCodeText) + " " + std::to_string(code);
}

}  // namespace hw
