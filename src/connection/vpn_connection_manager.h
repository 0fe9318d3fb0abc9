#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "connection/connection_life_host.h"
#include "connection/vpn_connection_manager_ports.h"
#include "core/vpn_connection.h"
#include "core/vpn_types.h"

namespace hw {

// Turns a request to connect to a location into a running tunnel, follows
// its status, walks the automatic protocol order, and takes the tunnel and
// its network settings down again. Lives on the main thread; status reports
// may arrive on any thread and are handled there in order.
//
// The work is split over four files: this one's .cpp (start-up and the
// connect road), _status.cpp (reports and the automatic order),
// _teardown.cpp (kill switch, routes, DNS, teardown, sleep and wake) and
// _error_report.cpp (the failed connection's report).
class VPNConnectionManager {
public:
    using Provider = std::shared_ptr<ManagedConnectionProvider>;

    VPNConnectionManager(VPNConnectionManagerEnvironment environment, VPNConnectionManagerProviders providers);
    ~VPNConnectionManager();
    VPNConnectionManager(const VPNConnectionManager&) = delete;
    VPNConnectionManager& operator=(const VPNConnectionManager&) = delete;

    const Provider L2TP_connectionProvider;
    const Provider PPTP_connectionProvider;
    const Provider OpenVPN_connectionProvider;
    const Provider IKEv2_StrongSwan_connectionProvider;
    const Provider& currentProvider() const { return currentProvider_; }
    const std::vector<Provider>& preferedConnectionProviders() const { return preferedConnectionProviders_; }
    // A timer the application keeps here; disconnecting cancels it.
    const Timer* activeTimer() const { return activeTimer_.get(); }
    void setActiveTimer(std::unique_ptr<Timer> timer) { activeTimer_ = std::move(timer); }
    const std::optional<ManagerServerConfig>& currentVPNConfig() const { return currentVPNConfig_; }
    // The connection life's try the last connect belongs to (none: a tunnel taken over).
    const std::optional<ConnectionTicket>& currentTicket() const { return ticket_; }

    // Hooks the owner installs.
    std::function<void()> onConnectionEstablishedNotification;
    std::function<void(const std::string&)> onConnectionErrorNotification;
    // The system refused the try outright (a protocol this machine cannot
    // run, a helper that created nothing): no retry helps. Unset: as an error.
    std::function<void(const std::string&)> onConnectionRefusedNotification;
    std::function<void()> onNoWayOutAfterReleaseNotification;
    // What a Disconnect left to a helper that was gone is carried out now.
    std::function<void()> onHelperCarriedOutNotification;
    // The tunnel is gone, whichever try it was: only now does a lookup of the
    // user's own address leave outside it.
    std::function<void()> onTunnelDownNotification;
    std::function<void()> onConnectingStateNotification;
    std::function<void(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear)> onDisconnectedStateNotification;
    std::function<void(const std::string&)> connectionTimerTickCallback;
    // Sets the above; a session timed already (a tunnel taken over before
    // the pane was there) ticks into it from now on.
    void setConnectionTimerTickCallback(std::function<void(const std::string&)> tick);

    bool connectionExists() const { return connectionExists_; }
    bool helperToolInstallFailed() const { return helperToolInstallFailed_; }
    bool automaticModeDiscoveryInProgress() const { return automaticModeDiscoveryInProgress_; }
    const std::optional<VPNTypes>& preferedVPNProtocolForAutomaticMode() const {
        return preferedVPNProtocolForAutomaticMode_;
    }
    bool connectionEstablishingInProgress() const { return connectionEstablishingInProgress_; }
    bool connectionInProgress() const { return connectionInProgress_; }
    bool syncWithSystemConnectionStarted() const { return syncWithSystemConnectionStarted_; }
    // True while a host route to a server is being added.
    bool startedAddVPNServerStaticRoute() const { return startedAddVPNServerStaticRoute_; }

    // The application's one connection life: the windows send their intents
    // to it and read its state; the engine's reports reach it here.
    ConnectionLifeHost& connectionLife() { return *life_; }
    const ConnectionLifeHost& connectionLife() const { return *life_; }

    // A view of the connection's life: its attempt was ended on purpose.
    bool connectionInitiateCanceled() const { return env_.context.connectionInitiateCanceled(); }

    // The session clock, made on first use.
    VPNConnection& currentVPNConnection();
    const std::string& connectionName() const { return env_.connectionName; }
    VPNTypes selectedProtocol() const { return env_.context.vpnProtocol(); }

    // Start-up and provider choice.
    void prepareConnectionManager();
    void prepareAfterDataLoaded();
    void onVPNProtocolChanged();
    void updateCurrentProvider();
    // A connect (the user's, or a paced retry): in the automatic mode a round
    // of the order starts, the road that last connected first.
    void beginUserConnect();
    // At sign-out: nothing of this account's attempts reaches the next.
    void forgetAccountAttempt();
    Provider providerForType(VPNTypes type);
    bool isHelperToolInstalled();
    void checkAndInstallHelperToolIfRequired(std::function<void()> onSucceed);
    void syncWithSystemConnection();
    std::int32_t existingSystemConnectionType();
    void subscribeToStatusUpdates(bool skipCurrentStatusNotification);

    // The connect road.
    void connect(const ManagerServerConfig& config);
    void startDialConnection(std::uint64_t attempt, std::optional<ConnectionTicket> ticket = std::nullopt);
    bool dialEnded(std::uint64_t attempt, const std::optional<ConnectionTicket>& ticket);
    ManagerServiceConfig vpnConfigForConnector(const ManagerServerConfig& config);
    void writeOpenVPNConfig(const std::string& text);

    // Status reports and the automatic order (any thread).
    // `ticket`: the try whose subscription reported; a report of a try the
    // connection's life no longer runs is dropped (a late "established" ends
    // its tunnel). Attempt 0: a tunnel taken over, which no try of ours
    // began; none: of no try, dropped (the launch's own look aside).
    void handleStatusChange(std::int32_t status, const std::optional<std::string>& message, VPNTypes type,
                            std::optional<ConnectionTicket> ticket = std::nullopt);
    Provider firstProviderForAutomaticMode();
    bool nextProviderForAutomaticMode();
    // The catalogue key of a PPP last cause.
    static std::string pppErrorKey(const std::string& lastCause);

    // Kill switch, routes and DNS.
    void enableNetworkLock(std::function<void(const std::string&)> onFinished = {});
    // Resolves the server with the two DNS servers, adds its host route
    // through the previous gateway, then engages the lock. Answers whether
    // the attempt must wait for the completion (it gets the resolved
    // address, or "NO").
    bool enableNetworkLock(const std::string& serverHost, const std::optional<std::string>& previousGateway,
                           const std::string& dns1, const std::string& dns2,
                           std::function<void(const std::string&)> completion);
    void reapplyNetworkLock(std::function<void()> onError = [] {});
    void disableNetworkLock();
    // At launch with the kill switch chosen: a lock the last run left in
    // force (it ended without releasing it) stays, and is marked engaged so
    // that the user's disconnect or switching the kill switch off releases it.
    void keepNetworkLockLeftFromEarlierRun();
    // The user lifts that lock with no tunnel taken over: the network comes
    // back as a disconnect leaves it; `lifted` once the helper holds no lock.
    void liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted);
    void disableNetworkLockIfNeeded() { disableNetworkLock(); }
    void staticRouteAddingProcessing(const std::string& serverAddress, const std::string& gateway,
                                     std::function<void(const std::optional<std::string>&)> completion);
    void addVPNServerStaticRoute(const std::string& serverAddress, const std::optional<std::string>& gateway,
                                 std::function<void(const std::optional<std::string>&)> completion);
    void installDNSForVPN();
    void restoreDNSToOriginal(bool forOpenVPN, bool skipFallback);

    // Teardown.
    void disconnect(bool forced);
    void disconnect();
    void disconnectAndNotify();
    // The helper that answered before cannot be reached (died), or answers again.
    void helperDied(bool died);
    void helperCarriedOutTeardown();
    void cleanUpSession(bool forced);
    void cleanUpSessionAndNotifyDisconnected();
    void closeHelperTool();
    void removeExistingConnection();
    void terminatePreviousOpenVPNProcesses(std::function<void(bool ended)> done = {});
    // At launch: an openvpn or IKEv2 tunnel an earlier run left connected
    // (the app crashed) is taken over and shown connected; done(false) when
    // there is none or it is not connected, and then nothing of it is kept.
    void adoptRunningTunnel(std::function<void(bool adopted)> done);
    // The pane installs its hooks after sign-in, later than a tunnel taken
    // over at launch came up: it hears of it then.
    void replayEstablishedToLateListener();
    void stopStatusUpdates(const Provider& provider = nullptr);
    void deleteExistingVPNService();
    void scheduleVPNServiceCleanup();
    void onInternetConnectionLost();
    void shutDown();
    void prepareForTermination() { shutDown(); }
    void onDeviceWillSleep();
    void onDeviceDidWake();
    // After the kernel's routes changed. Under the lock the watch never sees
    // the network come back (the helper holds the default route): a way out
    // the lock keeps that reaches (blocks: called off the main queue) where
    // none did is the network's return for the tries waiting on it.
    void routesChanged(std::function<bool(const std::string& address)> reaches);

    // The error report.
    void sendPPPLogErrorReport(const std::string& message);
    void writeErrorLog(const std::string& message);
    // Atomically, 0600; false when the write failed.
    static bool writeString(const std::string& text, const std::string& path);
    void uploadErrorLogReport(const std::string& message, const std::string& logBytes);
    // The part of a log that goes into a report: its last bytes, whole
    // lines, with the account's password masked.
    std::string boundedReportLog(std::string log) const;
    static constexpr std::size_t kReportLogLimit = 64 * 1024;
    static constexpr int kPPPLogLines = 200;

private:
    void continueConnectAfterHelperCheck(const ManagerServerConfig& config);
    // The helper's installation failed or was dismissed for the try in force.
    void endTryWithoutHelper();
    // A try leans on the helper: one known gone (or any, with `ask`) is asked
    // first whether it answers. It does not: the attempt ends in the helper's
    // error (a forced end, held under the lock) and `gone` runs; no try is
    // left to fail.
    void whenHelperAnswers(Task next, Task gone = {}, bool ask = false);
    void engageNetworkLock(std::function<void(const std::string& gateway, bool engaged)> onFinished);
    void noteLockAnswer(bool engaged, std::uint64_t release);
    void subscribeNow(const Provider& provider, bool skipCurrentStatusNotification);
    void onConnectionCreated(bool created, std::optional<ConnectionTicket> ticket);
    void handleStatusOnMain(std::int32_t status, const std::optional<std::string>& message, VPNTypes type,
                            const std::optional<ConnectionTicket>& ticket);
    // Whether what `ticket`'s try asked for comes too late: that try is over.
    bool staleTry(const std::optional<ConnectionTicket>& ticket, const char* what) const;
    // The tunnel process is ready to be dialled (openvpn answered, or the
    // other roads' second passed): the dial of that try starts, if it is current.
    void dialAfterCreation(std::uint64_t attempt, const std::optional<ConnectionTicket>& ticket);
    // What a helper request was sent for: its reply acts only while both hold.
    struct TryStamp {
        std::uint64_t attempt;
        std::optional<ConnectionTicket> ticket;
    };
    TryStamp stampNow(const std::optional<ConnectionTicket>& reported) const;
    bool replyStale(const TryStamp& stamp, const char* what) const;
    // A reply delivered twice acts once.
    static ConnectionManagerHelper::StringBlock firstReplyOnly(ConnectionManagerHelper::StringBlock done);
    void handleConnected(VPNTypes type, const std::optional<ConnectionTicket>& ticket);
    // Under the kill switch an OpenVPN tunnel is up only once its default
    // route is: tries again while the helper may be coming back, then ends
    // the attempt in its error.
    void letTheTunnelRouteThrough(const std::optional<std::string>& gateway, int triesLeft, const TryStamp& stamp);
    // A tunnel taken over under the lock counts once its default route is in.
    void routeTheAdoptedTunnel(int triesLeft, std::uint64_t attempt);
    // An OpenVPN tunnel is up only once IPv6 is off and the DNS servers it
    // pushed are in place (_tunnel_settings.cpp): the helper is asked again
    // while it may be coming back, then the attempt ends in its error.
    void settleTunnelSettings(bool ipv6Off, bool dnsInstalled, int triesLeft, const TryStamp& stamp);
    void finishConnected();
    void failConnected();
    // Runs `next` once every openvpn the helper was asked to end is gone: a
    // tunnel started while openvpn still holds its routes waits out its server.
    void whenOpenVPNIsGone(Task next);
    void handleDisconnected(std::int32_t status, const std::optional<std::string>& message, VPNTypes type,
                            const std::optional<ConnectionTicket>& ticket);
    bool stepAutomaticOrder(std::int32_t status, VPNTypes type);
    // A protocol that cannot run here leaves the order for this run, with one line.
    void leaveOutOfAutomaticOrder(VPNTypes type, const std::string& why);
    // The account itself was refused: no protocol and no retry changes that.
    static bool accountRefused(const std::optional<std::string>& message, VPNTypes type);
    // mayRefuse: a refusal ends the attempt (else it is an ordinary error).
    void reportPPPFailure(const std::string& message, bool mayRefuse, const std::optional<ConnectionTicket>& ticket);
    // Posts a report to the owner, dropped when `ticket`'s try has ended by then.
    void postReport(const std::optional<ConnectionTicket>& ticket, const char* what, Task task);
    void notifyDisconnected(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear);
    void beginAdoption(const Provider& provider, std::function<void(bool adopted)> done);
    void endAdoption(bool adopted);
    void notifyError(const std::string& text);
    void notifyRefused(const std::string& text);
    // Posts onto the main queue; the task is dropped once the manager is gone.
    void post(Task task);
    void postAfter(double ms, Task task);
    bool isType(const Provider& provider, VPNTypes type) const;

    VPNConnectionManagerEnvironment env_;
    Provider currentProvider_;
    std::vector<Provider> preferedConnectionProviders_;
    std::unique_ptr<Timer> activeTimer_;
    std::optional<ManagerServerConfig> currentVPNConfig_;
    bool connectionExists_ = false;
    bool helperToolInstallFailed_ = false;
    bool automaticModeDiscoveryInProgress_ = false;
    std::optional<VPNTypes> preferedVPNProtocolForAutomaticMode_;
    // This round's order: the last winner first, then the rest as preferred.
    std::vector<Provider> automaticRound_;
    bool connectionEstablishingInProgress_ = false;
    bool connectionInProgress_ = false;
    bool syncWithSystemConnectionStarted_ = false;
    bool startedAddVPNServerStaticRoute_ = false;
    std::unique_ptr<VPNConnection> vpnConnection_;
    bool prepared_ = false;
    // Bumped by every connect, disconnect and down report: work waiting on
    // the helper for an earlier attempt drops out.
    std::uint64_t attempt_ = 0;
    // The connection life's try that the last connect belongs to.
    std::optional<ConnectionTicket> ticket_;
    static constexpr int kDefaultRouteTries = 4;
    static constexpr int kDefaultRouteRetryMs = 1000;
    static constexpr int kAdoptionTimeoutMs = 5000;
    int openVPNEndings_ = 0;
    std::vector<Task> afterOpenVPNEnds_;
    static constexpr int kOpenVPNEndBoundMs = 5000;
    // Set while a running openvpn is being taken over.
    std::function<void(bool adopted)> adoption_;
    bool establishedUnheard_ = false;
    // The resolvers the lock road last used; every engagement lets them through.
    std::vector<std::string> lockResolvers_;
    // As the helper last answered.
    bool lockEngaged_ = false;
    // Bumped by every release: an engagement's answer names the one it followed.
    std::uint64_t lockRelease_ = 0;
    // The lock's way out last found reaching ("" none); unset: not looked
    // at since the lock was lifted.
    std::optional<std::string> lockWayOutSeen_;
    bool lockWayOutLooking_ = false;
    // A Disconnect was left to the helper, which was gone: the user was told.
    bool helperTeardownPending_ = false;
    // The helper's loss was told for the try that last asked for it.
    bool helperLossTold_ = false;
    std::unique_ptr<ConnectionLifeHost> life_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
