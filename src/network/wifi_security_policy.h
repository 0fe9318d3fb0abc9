#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/wifi.h"

namespace hw {

// What the Wi-Fi watch needs of a trusted network; the state object's own
// item type maps onto it.
struct TrustedNetwork {
    std::string ssid;
    std::string bssid;
};

// Decides whether the machine sits on a Wi-Fi network that needs protecting.
// Both functions are read on the main queue, at each decision, so that a
// change of the settings counts from the next network event on.
class WiFiSecurityPolicy {
public:
    std::function<bool()> enableTrustedNetworksManagement;
    std::function<std::vector<TrustedNetwork>()> trustedNetworks;

    // A trusted entry matches only when both SSID and BSSID are equal (exact,
    // case-sensitive), as the settings' scan list filters them.
    bool isTrusted(const WiFiNetwork& network) const;
    bool isInsecureAndUntrusted(const WiFiNetwork& network) const;
};

}  // namespace hw
