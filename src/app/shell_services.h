#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "services/smart_wigdet_helper.h"

namespace hw {
class ConnectionIntents;
}  // namespace hw

namespace hw {

class TopNotificationBarModel;
class BottomNotificationBarModel;

// What the shell asks of the services beyond the hub's own flows: the
// connection manager, the reachability watch, the backend client and the
// sign-in services. A service that does not exist makes its call a no-op
// (logged), so the shell runs on a partial hub.
// --- Tray, menus and data loading ---
// The reachability watch's registrations, as the shell wires them after a
// sign-in. Observers are called on the main queue.
class ShellReachabilityWiring {
public:
    virtual ~ShellReachabilityWiring() = default;
    virtual void stopReachability() = 0;
    virtual void addOnInternetNotReachableObserver(std::function<void()> observer) = 0;
    virtual void addOnInternetReachableObserver(std::function<void()> observer) = 0;
    virtual void clearOnWiFiConnectionINSECUREObservers() = 0;
    virtual void addOnWiFiConnectionINSECUREObserver(std::function<void()> observer) = 0;
    virtual void addOnConnectedToWiFiNetworkObserver(std::function<void()> observer) = 0;
    virtual void reach(const std::string& host) = 0;
    virtual void addOnRoutesChangedObserver(std::function<void()> observer) { (void)observer; }
};
// --- end of the tray's block ---

class ShellServices {
public:
    virtual ~ShellServices() = default;

    // Connection manager.
    virtual void prepareConnectionManager() = 0;
    // The user's intents from the tray and the menus; none without a connection manager.
    virtual ConnectionIntents* connectionIntents() { return nullptr; }
    virtual void terminatePreviousOpenVPNProcesses() = 0;
    // At launch: a tunnel the last run left connected is taken over;
    // otherwise a leftover openvpn is ended as above when asked.
    virtual void adoptOrEndLeftoverTunnel(bool endLeftoverOpenVPN) = 0;
    virtual void disableNetworkLock() = 0;
    // At launch: a lock the last run left engaged stays when the kill
    // switch is chosen (see VPNConnectionManager).
    virtual void keepNetworkLockLeftFromEarlierRun() = 0;
    virtual void cleanUpSessionAndNotifyDisconnected() = 0;
    virtual void disconnect() = 0;
    // At sign-out: the engine keeps nothing of this account's attempts.
    virtual void forgetAccountAttempt() {}
    // Disconnects OpenVPN and closes the helper; done runs once the helper
    // has taken the last message (or could not), on the main queue.
    virtual void prepareForTermination(std::function<void()> done) = 0;
    virtual void onDeviceWillSleep() = 0;
    virtual void onDeviceDidWake() = 0;

    // Reachability watch.
    virtual void stopReachability() = 0;
    virtual void clearAllReachabilityObservers() = 0;
    // Watches the host and reports an insecure Wi-Fi network, replacing the
    // earlier insecure-Wi-Fi observers.
    virtual void watchInsecureWiFi(const std::string& host, std::function<void()> onInsecure) = 0;

    // Backend client.
    virtual void initParse() = 0;
    virtual void trackAppOpened() = 0;
    // Whether the cached remote configuration must be fetched again.
    virtual bool parseConfigNeedsFetch() = 0;
    virtual void applyCachedParseConfig(std::function<void()> completion) = 0;

    // Sign-in.
    // The stored account, read off the main thread; done runs on the main
    // queue, unless a sign-in or sign-out began meanwhile.
    virtual void restoreLoginData(std::function<void(std::optional<LoginData>)> done) = 0;
    // Why the last restore found nothing, in the window's words; empty when nothing failed.
    virtual std::string restoreFailure() { return {}; }
    virtual void logOut() = 0;
    virtual void clearEnterpriseCookies() = 0;
    virtual void requestAuthToken(const std::string& code, std::function<void(const std::string& token)> done) = 0;
    virtual void requestClientID(const std::string& token,
                                 std::function<void(const std::string& username, const std::string& password)> done) = 0;

    // Reports.
    virtual void sendAnalyticsEvent(const std::string& name,
                                    const std::optional<std::map<std::string, std::string>>& parameters) = 0;
    virtual void sendExceptionReport(const std::string& callStack, const std::string& exceptionType) = 0;

    // --- Tray, menus and data loading ---
    // None when there is no reachability watch.
    virtual std::shared_ptr<ShellReachabilityWiring> reachabilityWiring() { return nullptr; }
    // The connection manager's start for a signed-in user, and its reaction
    // to a lost internet connection.
    virtual void prepareAfterDataLoaded() {}
    virtual void onInternetConnectionLost() {}
    // After the kernel's routes changed (see VPNConnectionManager::routesChanged).
    virtual void onRoutesChanged() {}
    // The signed-in user's session token; none without a user or token.
    virtual std::optional<std::string> currentSessionToken() { return std::nullopt; }
    virtual void requestSmartWidgetData(const std::string& /*sessionToken*/,
                                        std::function<void(SmartWidgetReply)> /*onCompleted*/,
                                        std::function<void(const std::string&)> onError) {
        if (onError) onError("no information widget service");
    }
    // The server's notification bars; done gets none for a bar the server
    // has not, or both after a failure, and may run on any thread.
    using NotificationBarsDone = std::function<void(std::shared_ptr<TopNotificationBarModel>,
                                                    std::shared_ptr<BottomNotificationBarModel>)>;
    virtual void requestNotificationBars(NotificationBarsDone done) {
        if (done) done(nullptr, nullptr);
    }
    // --- end of the tray's block ---
};

}  // namespace hw
