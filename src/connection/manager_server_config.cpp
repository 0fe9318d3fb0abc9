#include "connection/manager_server_config.h"

#include "core/application_model.h"
#include "services/vpn_parse_config.h"

namespace hw {

ManagerServerConfig managerServerConfig(const VPNParseConfig& config, const ApplicationModel& model) {
    ManagerServerConfig c;
    c.connectionName = VPNParseConfig::connectionName();
    c.dnsPrefix = config.dnsPrefix;
    c.domainSuffix = model.mainDomainName;
    c.vpnServerIPAddress = config.vpnServerIPAddress;
    c.username = config.username;
    c.password = config.password;
    c.l2tpSharedKey = config.l2tpSharedKey;
    c.ovpnConfig = config.ovpnConfig();
    if (auto login = model.recentLoginData(); login && login->passwordData) {
        c.passwordReference = std::string(login->passwordData->begin(), login->passwordData->end());
    }
    return c;
}

}  // namespace hw
