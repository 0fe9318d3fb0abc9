#pragma once
#include <optional>
#include <string>

namespace hw {

class ApplicationModel;
class VPNParseConfig;

// The server configuration of one location, as the manager uses it.
struct ManagerServerConfig {
    std::string connectionName;   // the system connection's name
    std::string dnsPrefix;
    std::string domainSuffix;     // the service's main domain
    std::string vpnServerIPAddress;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::optional<std::string> passwordReference;  // the stored password's reference, for a system profile
    std::optional<std::string> l2tpSharedKey;
    std::optional<std::string> ovpnConfig;  // the openvpn configuration text
};

// A location's server configuration as the manager takes it; the service's
// main domain comes from the state object.
ManagerServerConfig managerServerConfig(const VPNParseConfig& config, const ApplicationModel& model);

}  // namespace hw
