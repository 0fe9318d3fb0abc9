#include "connection/l2tp_connector.h"

#include "platform/log.h"

namespace hw {

bool L2TPConnector::configureTopInterface(SystemVPNPreferences& prefs, const std::string& serviceID,
                                          const VPNServiceConfig& config) {
    return prefs.setInterfaceConfiguration(serviceID, config.L2TP_PPPConfig());
}

std::int32_t L2TPConnector::applyAdditionalInterfacesConfiguration(SystemVPNPreferences& prefs,
                                                                   const std::string& serviceID,
                                                                   const VPNServiceConfig& config) {
    const std::string name = config.name.value_or("");
    if (prefs.setExtendedConfiguration(serviceID, "IPSec", config.L2TPIPSecConfig())) {
        log::info("vpn-service", "Successfully configured IPSec on PPP interface for service " + name);
        return 0;
    }
    auto e = prefs.lastError();
    log::error("vpn-service", "Error: Could not configure IPSec on PPP interface for service " + name + ". " + e.text +
                                  " (Code " + std::to_string(e.code) + ")");
    return 35;
}

}  // namespace hw
