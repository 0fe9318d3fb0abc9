#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "network/wifi_info_helper.h"
#include "network/wifi_security_policy.h"
#include "platform/main_queue.h"
#include "platform/route_watch.h"

namespace hw {

// The reachability watch: follows whether a host (or address) can be reached
// and what kind of network carries it, and tells four ordered observer lists.
//
// A report goes out at the start of a watch and then each time reachability,
// the Wi-Fi network under it (SSID, BSSID, security) or the interface that
// leads out (Wi-Fi to wired and back) changes: when
// unreachable, the not-reachable list; when reachable, the reachable list,
// then either the insecure-Wi-Fi list (an open or WEP network that is not
// trusted) or the connected-to-Wi-Fi list (any other network, wired
// included, and one whose Wi-Fi security is unknown: its observers ask the
// Wi-Fi information object). Changes are seen from the kernel's events and
// from what the Wi-Fi's service announces, each settled the same way. While
// that security is unknown the Wi-Fi is asked again, every few seconds,
// until it answers; a service that is not on the bus at all is not asked
// but awaited, when its return is announced (asked at most once a minute
// where nothing can announce it). Observers run on the main queue, in the
// order they were added.
// Registration, reach, reachByIP and stopReachability are safe from any
// thread.
class InternetReachabilityHelper {
public:
    using Observer = std::function<void()>;
    static constexpr double kSettleMs = 250;  // lets a burst of kernel events settle

    struct Ports {
        MainQueue& main;
        BackgroundQueue& background;
        RouteWatch& routes;
        NameResolver& resolver;
        WiFi_InfoHelperObjC& wifiInfo;
        WiFiSecurityPolicy policy;
    };

    explicit InternetReachabilityHelper(Ports ports);
    ~InternetReachabilityHelper();
    InternetReachabilityHelper(const InternetReachabilityHelper&) = delete;
    InternetReachabilityHelper& operator=(const InternetReachabilityHelper&) = delete;

    void addOnInternetReachableObserver(Observer observer);
    void addOnInternetNotReachableObserver(Observer observer);
    void addOnWiFiConnectionINSECUREObserver(Observer observer);
    void addOnConnectedToWiFiNetworkObserver(Observer observer);
    // Told after every settled burst of kernel changes while a watch runs,
    // whatever the report: the lock hides the network's return from it.
    void addOnRoutesChangedObserver(Observer observer);
    void clearOnWiFiConnectionINSECUREObservers();
    // Empties the reachable, not-reachable, connected-to-Wi-Fi and
    // routes-changed lists; the insecure-Wi-Fi list has its own clear.
    void clearAllObservers();

    // Starts watching the host (a ":port" is ignored), unless a watch is
    // running. A host name that is not valid starts nothing.
    void reach(const std::string& host);
    // Starts watching a numeric address, unless a watch is running.
    void reachByIP(const std::string& address);
    // Stops the watch; no report of it arrives after this returns to the
    // main queue, and the next reach starts a new one.
    void stopReachability();
    bool checkInProgress() const;
    // What the running watch last reported; none without a watch or a report yet. Main queue.
    std::optional<bool> internetReachable() const;
    // Whether the numeric address has a usable route (see RouteWatch).
    // Blocks briefly; any thread.
    bool hasRoute(const std::string& address);

    WiFi_InfoHelperObjC& getWiFi_InfoHelper();

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace hw
