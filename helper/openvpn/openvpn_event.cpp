#include "helper/openvpn/openvpn_event.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <sstream>

#include "platform/helper_socket.h"

namespace hw::helper {

namespace {
constexpr int kTimeoutMs = 3000;
constexpr int kMostOptions = 100;
}  // namespace

std::optional<HelperMessage> openVPNEventMessage(const std::string& type,
                                                 const std::function<const char*(const std::string&)>& env,
                                                 std::int64_t openvpnPid) {
    const char* dev = env("dev");
    if (!dev) return std::nullopt;
    HelperArray dns;
    for (int i = 1; i < kMostOptions; ++i) {
        const char* option = env("foreign_option_" + std::to_string(i));
        if (!option) break;
        std::istringstream words(option);
        std::string w1, w2, address;
        if (words >> w1 >> w2 >> address && w1 == "dhcp-option" && w2 == "DNS") dns.emplace_back(address);
    }
    HelperDictionary parameters{{"dev", std::string(dev)}, {"dns", dns}, {"pid", openvpnPid}};
    // The server and the way out openvpn routes it through, for the helper
    // to keep that host route while the tunnel runs.
    if (const char* server = env("trusted_ip")) parameters["server"] = std::string(server);
    if (const char* gateway = env("route_net_gateway")) parameters["netGateway"] = std::string(gateway);
    // The tunnel's own gateway, for an app that takes the tunnel over later:
    // openvpn names it when it has routes to set, else a point-to-point
    // tunnel's peer is it.
    if (const char* gateway = env("route_vpn_gateway")) parameters["vpnGateway"] = std::string(gateway);
    else if (const char* peer = env("ifconfig_remote")) parameters["vpnGateway"] = std::string(peer);
    return HelperMessage{{"type", kOpenVPNEventType}, {"rpc", type}, {"parameters", std::move(parameters)}};
}

bool sendOpenVPNEvent(const std::string& socketPath, const HelperMessage& message, std::string* error) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (!fd || socketPath.size() >= sizeof addr.sun_path) {
        if (error) *error = "no socket for " + socketPath;
        return false;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (error) *error = std::string("cannot reach the helper: ") + std::strerror(errno);
        return false;
    }
    return sendHelperMessage(fd.get(), message, -1, kTimeoutMs, error);
}

int runOpenVPNEvent(int argc, char** argv) {
    const char* type = std::getenv("script_type");
    if (argc < 3 || !type) return 0;
    auto message = openVPNEventMessage(type, [](const std::string& name) { return std::getenv(name.c_str()); },
                                       static_cast<std::int64_t>(::getppid()));
    std::string error;
    if (message && !sendOpenVPNEvent(argv[2], *message, &error))
        std::fprintf(stderr, "havenway-openvpn-event: %s\n", error.c_str());
    return 0;
}

}  // namespace hw::helper
