#include "connection/pptp_connector.h"

namespace hw {

bool PPTPConnector::configureTopInterface(SystemVPNPreferences& prefs, const std::string& serviceID,
                                          const VPNServiceConfig& config) {
    return prefs.setInterfaceConfiguration(serviceID, config.PPTP_PPPConfig());
}

}  // namespace hw
