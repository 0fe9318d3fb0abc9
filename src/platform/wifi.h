#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hw {

// How a Wi-Fi network protects its traffic.
enum class WiFiSecurity {
    Unknown,     // the adapter could not tell
    None,        // open, nothing encrypted
    WEP,         // encrypted with a broken cipher
    EnhancedOpen,  // OWE: encrypted, not authenticated
    Personal,    // WPA/WPA2/WPA3 with a shared key
    Enterprise,  // 802.1X
};

// Open and WEP networks let anyone nearby read the traffic.
inline bool isInsecure(WiFiSecurity s) { return s == WiFiSecurity::None || s == WiFiSecurity::WEP; }

struct WiFiNetwork {
    std::string ssid;   // as text; non-UTF-8 bytes are kept as they are
    std::string bssid;  // "AA:BB:CC:DD:EE:FF", upper case
    WiFiSecurity security = WiFiSecurity::Unknown;
    bool operator==(const WiFiNetwork&) const = default;
};

// What one look at the Wi-Fi found.
struct WiFiLook {
    // False when the Wi-Fi service was absent, late or erring: whether the
    // machine is on Wi-Fi at all, and how safe that network is, is unknown.
    bool answered = true;
    std::optional<WiFiNetwork> network;  // none (answered): not on Wi-Fi
    // Not answered because the service is not on the bus at all: a watch
    // (WiFiProvider::startWatch) announces its return, nobody need ask.
    bool absent = false;
    bool operator==(const WiFiLook&) const = default;
};

// One network of a scan. A network that hides its SSID, or reports no
// BSSID, leaves that field empty.
struct WiFiScanEntry {
    std::optional<std::string> ssid;
    std::optional<std::string> bssid;
};

// A finished scan. timedOut: the Wi-Fi service stopped answering, so the
// list may be short or empty for that reason alone.
struct WiFiScan {
    std::vector<WiFiScanEntry> networks;
    bool timedOut = false;
};

// The machine's Wi-Fi. Both calls block (the scan for its whole length):
// call them off the main thread.
class WiFiProvider {
public:
    virtual ~WiFiProvider() = default;
    // The network the default Wi-Fi interface is associated with; none when
    // there is no Wi-Fi or it is not connected; not answered when the
    // service that manages it is gone, late or erring.
    virtual WiFiLook currentNetwork() = 0;
    // Networks of any name in range, in the order the scan hands them over;
    // empty on any failure.
    virtual WiFiScan scan() = 0;
    // Tells `changed`, on the main queue, each time the service says the
    // machine's primary connection, a device's state or the Wi-Fi's access
    // point changed, and when the service comes onto the bus or leaves it;
    // it carries no detail, the caller looks again. False when none of that
    // can be announced: the caller then asks again by itself. Call on the
    // main queue; a start replaces a running watch, nothing runs after stop.
    virtual bool startWatch(std::function<void()> changed) {
        (void)changed;
        return false;
    }
    virtual void stopWatch() {}
};

}  // namespace hw
