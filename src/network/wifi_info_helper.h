#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/wifi.h"

namespace hw {

// The Wi-Fi information object: what the machine's Wi-Fi is on, whether the
// network changed since the last look, and the scan of the settings window.
class WiFi_InfoHelperObjC {
public:
    explicit WiFi_InfoHelperObjC(WiFiProvider& wifi) : wifi_(wifi) {}

    // Blocking; call off the main thread.
    WiFiLook currentNetwork() { return wifi_.currentNetwork(); }
    // Blocking for the length of the scan; logs each network, and a scan cut
    // short by a Wi-Fi service that did not answer.
    WiFiScan scanForAvailableNetworks();

    // Set by the insecure-Wi-Fi test, cleared by its observers; any thread.
    // It marks any change of network, not only of SSID.
    bool networkWiFi_SSID_hasChanged() const { return changed_.load(); }
    void setNetworkWiFi_SSID_hasChanged(bool value) { changed_.store(value); }

    // The insecure-Wi-Fi test's record of what it saw: raises the flag when
    // the SSID differs from the last one seen, or the interface that leads
    // out (wayOut) differs from the last one known, or a network that needs
    // protecting (needsProtection: open or WEP, and not trusted) follows a
    // look off Wi-Fi or on one that did not, even with the same SSID. The
    // first network after launch does not count; a spell without any way
    // out is no change of interface, and a look without an answer changes
    // nothing known.
    void noteNetworkSeen(const WiFiLook& look, const std::optional<std::string>& wayOut = std::nullopt,
                         bool needsProtection = false);
    // The provider's own announcements of a change (see WiFiProvider).
    bool startWatch(std::function<void()> changed) { return wifi_.startWatch(std::move(changed)); }
    void stopWatch() { wifi_.stopWatch(); }
    // Whether the last look noted had an answer: without one, the Wi-Fi's
    // security is unknown and nothing is started or ended for it.
    bool wiFiSecurityKnown() const { return known_.load(); }

private:
    WiFiProvider& wifi_;
    std::atomic<bool> changed_{false};
    std::atomic<bool> known_{true};
    std::mutex mutex_;
    std::optional<std::string> lastSSID_;
    std::optional<std::string> lastWayOut_;
    // Whether the last look with an answer was on a network needing protection.
    std::optional<bool> lastNeededProtection_;
};

// SSIDs come from any access point in range: keep control characters, bidi
// controls and octets that are not UTF-8 out of the log lines they go into.
std::string printableSSID(const std::string& text);

}  // namespace hw
