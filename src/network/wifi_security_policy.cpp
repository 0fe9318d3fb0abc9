#include "network/wifi_security_policy.h"

namespace hw {

bool WiFiSecurityPolicy::isTrusted(const WiFiNetwork& network) const {
    // An unset switch reads as its registered default: on.
    if (enableTrustedNetworksManagement && !enableTrustedNetworksManagement()) return false;
    if (!trustedNetworks) return false;
    for (const auto& t : trustedNetworks()) {
        if (t.ssid == network.ssid && t.bssid == network.bssid) return true;
    }
    return false;
}

bool WiFiSecurityPolicy::isInsecureAndUntrusted(const WiFiNetwork& network) const {
    return isInsecure(network.security) && !isTrusted(network);
}

}  // namespace hw
