#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace hw {

// A Wi-Fi network the user trusts. An SSID is up to 32 arbitrary octets, so
// it is kept as bytes in a string and stored so that any octets survive.
struct TrustedNetworkItem {
    std::string SSID;
    std::string BSSID;

    const std::string& networkName() const { return SSID; }
    bool operator==(const TrustedNetworkItem&) const = default;
};

// The stored form of a list of trusted networks: JSON, one object per item.
Bytes archiveTrustedNetworks(const std::vector<TrustedNetworkItem>& items);
// Nothing unless the data is exactly such a list: every item an object with
// a text SSID (or its octets in hex) and a text BSSID.
std::optional<std::vector<TrustedNetworkItem>> unarchiveTrustedNetworks(const Bytes& data);

}  // namespace hw
