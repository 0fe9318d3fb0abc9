#pragma once
#include <cstdint>
#include <string>

namespace hw::helper::ppp {

// The protocol of a service, numbered as the application numbers it.
enum class PppServiceType : std::int64_t { L2TP = 2, PPTP = 3 };

// One stored service. Secrets live apart from it (PppSecrets).
struct PppService {
    std::string serviceID;  // 32 hex digits
    std::string name;
    PppServiceType type = PppServiceType::PPTP;
    std::string endpoint;   // a checked host name or address
    std::string username;
};

struct PppSecrets {
    std::string password;
    std::string sharedSecret;  // L2TP only
};

// Where the PPP part of the helper keeps and runs things. Each can be
// redirected by environment for tests.
struct PppPaths {
    std::string servicesDir;  // <state>/ppp (0700): definitions and secrets, 0600
    std::string runDir;       // <run>/ppp (0700): generated options, link state
    std::string logFile = "/var/log/haven_way.log";  // HAVENWAY_PPP_LOG
    std::string pppd = "/usr/sbin/pppd";              // HAVENWAY_PPPD
    std::string pptp = "/usr/sbin/pptp";              // HAVENWAY_PPTP
    std::string xl2tpd = "/usr/sbin/xl2tpd";          // HAVENWAY_XL2TPD

    static PppPaths under(const std::string& stateDir, const std::string& runDir);
    static PppPaths fromEnvironment(const std::string& stateDir, const std::string& runDir);
};

}  // namespace hw::helper::ppp
