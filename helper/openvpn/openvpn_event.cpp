#include "helper/openvpn/openvpn_event.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "helper/command_dispatcher.h"
#include "helper/openvpn/openvpn_service.h"
#include "platform/helper_socket.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "openvpn-event";
constexpr int kTimeoutMs = 3000;
}  // namespace

int runOpenVPNEvent(int argc, char** argv) {
    if (argc < 3) return 0;
    const std::string socketPath = argv[2];
    const char* type = std::getenv("script_type");
    const char* dev = std::getenv("dev");
    if (!type || !dev) return 0;

    HelperArray dns;
    for (int i = 1; i < 100; ++i) {
        const char* option = std::getenv(("foreign_option_" + std::to_string(i)).c_str());
        if (!option) break;
        std::istringstream words(option);
        std::string w1, w2, address;
        if (words >> w1 >> w2 >> address && w1 == "dhcp-option" && w2 == "DNS") dns.emplace_back(address);
    }
    HelperMessage message{{"type", kOpenVPNEventType},
                          {"rpc", std::string(type)},
                          {"parameters", HelperDictionary{{"dev", std::string(dev)},
                                                          {"dns", dns},
                                                          {"pid", static_cast<std::int64_t>(::getppid())}}}};

    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (!fd || socketPath.size() >= sizeof addr.sun_path) return 0;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        log::warning(kLog, "cannot reach the helper: " + std::string(std::strerror(errno)));
        return 0;
    }
    // No reply is awaited: openvpn waits for this program, and the helper may
    // be busy starting the next openvpn, which waits for this one to end.
    std::string error;
    if (!sendHelperMessage(fd.get(), message, -1, kTimeoutMs, &error)) log::warning(kLog, "cannot tell the helper: " + error);
    return 0;
}

}  // namespace hw::helper
