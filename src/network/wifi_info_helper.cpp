#include "network/wifi_info_helper.h"

#include "platform/log.h"

namespace hw {

std::string printableSSID(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
    return out;
}

std::vector<WiFiScanEntry> WiFi_InfoHelperObjC::scanForAvailableNetworks() {
    auto found = wifi_.scan();
    for (const auto& e : found) {
        log::info("wifi", "SSID: " + (e.ssid ? printableSSID(*e.ssid) : std::string("(none)")) +
                              ", BSSID: " + (e.bssid ? printableSSID(*e.bssid) : std::string("(none)")) + ".");
    }
    return found;
}

void WiFi_InfoHelperObjC::noteNetworkSeen(const std::optional<WiFiNetwork>& network) {
    if (!network) return;
    std::lock_guard lock(mutex_);
    if (lastSSID_ && *lastSSID_ != network->ssid) changed_.store(true);
    lastSSID_ = network->ssid;
}

}  // namespace hw
