#pragma once
#include <functional>

#include "app/shell_services.h"
#include "hub/service_layer.h"
#include "platform/backend/parse_client.h"

namespace hw {

// The shell's services on the real hub.
class HubShellServices final : public ShellServices {
public:
    static constexpr double kHelperFlushBoundMs = 2000;

    // flushHelper runs its argument once every message sent to the helper so
    // far has been taken; none: nothing to wait for.
    HubShellServices(ServiceLayer& hub, ParseClient& parse, MainQueue& queue,
                     std::function<void(std::function<void()> done)> flushHelper = nullptr);

    // The enterprise edition's cookie clean-up; without it there is no page to clean.
    void setClearEnterpriseCookies(std::function<void()> clear) { clearEnterpriseCookies_ = std::move(clear); }

    void prepareConnectionManager() override;
    ConnectionIntents* connectionIntents() override;
    void terminatePreviousOpenVPNProcesses() override;
    void adoptOrEndLeftoverTunnel(bool endLeftoverOpenVPN) override;
    void disableNetworkLock() override;
    void keepNetworkLockLeftFromEarlierRun() override;
    void forgetAccountAttempt() override;
    void cleanUpSessionAndNotifyDisconnected() override;
    void disconnect() override;
    void prepareForTermination(std::function<void()> done) override;
    void onDeviceWillSleep() override;
    void onDeviceDidWake() override;
    void stopReachability() override;
    void clearAllReachabilityObservers() override;
    void watchInsecureWiFi(const std::string& host, std::function<void()> onInsecure) override;
    void initParse() override;
    void trackAppOpened() override;
    bool parseConfigNeedsFetch() override;
    void applyCachedParseConfig(std::function<void()> completion) override;
    void restoreLoginData(std::function<void(std::optional<LoginData>)> done) override;
    std::string restoreFailure() override;
    void logOut() override;
    void clearEnterpriseCookies() override;
    void requestAuthToken(const std::string& code, std::function<void(const std::string&)> done) override;
    void requestClientID(const std::string& token,
                         std::function<void(const std::string&, const std::string&)> done) override;
    void sendAnalyticsEvent(const std::string& name,
                            const std::optional<std::map<std::string, std::string>>& parameters) override;
    void sendExceptionReport(const std::string& callStack, const std::string& exceptionType) override;
    // --- Tray, menus and data loading (hub_shell_services_tray.cpp) ---
    std::shared_ptr<ShellReachabilityWiring> reachabilityWiring() override;
    void prepareAfterDataLoaded() override;
    void onInternetConnectionLost() override;
    void onRoutesChanged() override;
    std::optional<std::string> currentSessionToken() override;
    void requestSmartWidgetData(const std::string& sessionToken, std::function<void(SmartWidgetReply)> onCompleted,
                                std::function<void(const std::string&)> onError) override;
    void requestNotificationBars(NotificationBarsDone done) override;
    // --- end of the tray's block ---

private:
    ServiceLayer& hub_;
    ParseClient& parse_;
    MainQueue& queue_;
    std::function<void(std::function<void()>)> flushHelper_;
    std::function<void()> clearEnterpriseCookies_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
