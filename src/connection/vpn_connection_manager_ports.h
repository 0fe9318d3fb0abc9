#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_ticket.h"
#include "core/reconnect_reason.h"
#include "core/vpn_types.h"
#include "platform/clock.h"
#include "platform/main_queue.h"
#include "platform/process_runner.h"
#include "connection/manager_server_config.h"
#include "services/helper_tool/helper_vpn_service_description.h"

namespace hw {

// What the connection manager needs of the pieces around it. Each real piece
// (a protocol provider, the helper client, the state object, the backend)
// satisfies its port with a thin adapter; tests use fakes.

// status, optional message (absent is not the same as empty), protocol
using ManagerStatusCallback =
    std::function<void(std::int32_t status, const std::optional<std::string>& message, VPNTypes type)>;

// What vpnConfigForConnector builds: the helper's service description, plus
// the host name the strongSwan road connects to.
struct ManagerServiceConfig {
    HelperVPNServiceDescription description;
    std::optional<std::string> endpoint;
};

// One protocol's provider, driven only on the main thread. A report may come
// back on any thread.
class ManagedConnectionProvider {
public:
    virtual ~ManagedConnectionProvider() = default;
    virtual std::optional<VPNTypes> type() const = 0;

    // Only the strongSwan road connects through its provider; the helper
    // creates every other tunnel.
    virtual void connect(const ManagerServiceConfig& config, std::function<void()> onSuccessfullyConnected) = 0;
    // Only a provider of the platform profile kind prepares.
    virtual void prepare(const ManagerServerConfig&, std::function<void()>) {}
    virtual std::int32_t getExistingVPNConnectionProtocolType(const std::string& connectionName) = 0;
    virtual std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& connectionName,
                                                                       ManagerStatusCallback onStatus,
                                                                       bool skipCurrentStatusNotification) = 0;
    virtual void startDial(std::function<void()> completion) = 0;
    // A provider whose tunnel process must answer before it is dialled waits
    // for that answer, then runs `answered` on the main thread, at once where
    // it is ready already (true: it
    // answered; false: it ended or never answered in time). False: nothing
    // to wait for.
    virtual bool whenReadyToDial(std::function<void(bool answered)> answered) {
        (void)answered;
        return false;
    }
    virtual void adoptRunning() {}
    // Callers never wait for the completion: many providers do not run it.
    virtual void disconnect(std::function<void()> completion) = 0;
    virtual void forceDisconnect() {}
    virtual void stopConnectionStatusUpdates() = 0;
    virtual void deleteExistingVPNService(const std::string& connectionName) = 0;

    // OpenVPN only: what openvpn logged, and the tunnel's gateway.
    virtual std::string logData() const { return {}; }
    virtual std::optional<std::string> latestGateway() const { return std::nullopt; }
    virtual std::vector<std::string> pushedDNSServers() const { return {}; }
};

// The privileged helper commands the manager sends. Completions run on the
// main queue; a helper that cannot be reached answers "NO".
class ConnectionManagerHelper {
public:
    using StringBlock = std::function<void(const std::string&)>;
    using InstallBlock = hw::InstallBlock;
    virtual ~ConnectionManagerHelper() = default;

    virtual bool isHeloperToolAlreadyInstalled(const std::string& storedVersion, bool withVersionCheck) = 0;
    // Installed at all, whatever its version.
    virtual bool isHelperToolPresent() = 0;
    // It answered before and cannot be reached now.
    virtual bool helperDied() const { return false; }
    virtual void installAction(InstallBlock completion) = 0;

    virtual void createVPNConnection(const HelperVPNServiceDescription& config,
                                     std::function<void(bool created)> onCreated) = 0;
    virtual void deleteExistingVPNService(const std::string& serviceName) = 0;
    // done gets the reply ("NO": IPv6 may still be on); it may be empty.
    virtual void disableIPV6(StringBlock done) = 0;
    virtual void reEnableIPV6() = 0;
    // The reply, and whether the lock is engaged ("NO" with the lock on:
    // there was no default gateway to report).
    using LockBlock = std::function<void(const std::string& reply, bool engaged)>;
    virtual void enableNetworkLock(LockBlock completion) = 0;
    // The same, the lock letting the resolvers through (name lookups on port
    // 53, with their host routes while no tunnel carries): the next try can
    // resolve its server under the lock.
    virtual void enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion) {
        (void)resolvers;
        enableNetworkLock(std::move(completion));
    }
    // The server's address as the helper looks it up (the lock lets no
    // lookup of ours out); the completion gets it, or "NO".
    virtual void resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                                      StringBlock completion) {
        (void)host;
        (void)resolvers;
        if (completion) completion("NO");
    }
    virtual void disableNetworkLock(const std::optional<std::string>& gatewayAddress) = 0;
    // The way out the helper's lock keeps (it follows a new network's), or "NO".
    virtual void retrieveDefaultGateway(StringBlock completion) {
        if (completion) completion("NO");
    }
    // released gets the helper's own answer, "NO" when nothing leads out
    // after it; never the silence of a helper that is gone.
    virtual void disableNetworkLock(const std::optional<std::string>& gatewayAddress, StringBlock released) {
        (void)released;
        disableNetworkLock(gatewayAddress);
    }
    // Whether the helper holds a lock; nothing when it did not answer.
    virtual void networkLockState(std::function<void(std::optional<bool> engaged)> completion) = 0;
    virtual void staticRouteAddingProcessing(const std::optional<std::string>& vpnServerAddress,
                                             const std::optional<std::string>& defaultGateway,
                                             StringBlock onStaticRouteAdded) = 0;
    // The completion gets the reply: "NO" when the route is not in place.
    virtual void addDefaultGatewayForOpenVPN(const std::optional<std::string>& gatewayAddress,
                                             StringBlock completion) = 0;
    // The interface of an openvpn the helper still runs for us goes to the
    // OpenVPN connector; done says whether there was one.
    virtual void attachRunningOpenVPN(std::function<void(bool attached)> done) = 0;
    // done runs once the helper has ended them (or could not be reached);
    // ended is false only when the helper says none was running.
    virtual void terminatePreviousOpenVPNProcesses(std::function<void(bool ended)> done) = 0;
    // done gets the reply; it may be empty. For OpenVPN the helper installs
    // the servers its openvpn's up event named; a helper started after that
    // event takes the ones the app saw pushed, and answers "NO" without any.
    virtual void install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed, StringBlock done) = 0;
    virtual void restore_DNS_to_original(bool forOpenVPN, bool skipFallback) = 0;
    virtual void closeHelperTool() = 0;
    // What a Disconnect asked of a helper that was gone has been carried out
    // since it answers again.
    virtual void setTeardownCarriedOut(std::function<void()> carriedOut) { (void)carriedOut; }
};

// What the manager reads and writes of the state object and asks of the
// shell and the details pane. Main thread only.
class ConnectionLifeHost;

// What the life's state shows to the parts that read flags.
struct ConnectionLifeViews {
    // An announced attempt goes on ("auto-reconnect in progress").
    bool reconnecting = false;
    // The attempt in force is Wi-Fi security's.
    bool byWiFiSecurity = false;
    // The attempt was ended on purpose and none began since.
    bool endedOnPurpose = false;
};

class ConnectionManagerContext {
public:
    virtual ~ConnectionManagerContext() = default;

    virtual VPNTypes vpnProtocol() const = 0;
    virtual void addVPNProtocolUpdatedObserver(std::function<void()> observer) = 0;
    virtual std::string vpnServersDomainSuffix() const = 0;

    virtual std::string helperToolCurrentVersion() const = 0;
    virtual void setHelperToolCurrentVersion(const std::string& version) = 0;
    virtual bool perfromHelperToolStoredVersionCheck() const = 0;

    virtual bool useNetworkLock() const = 0;
    virtual bool networkLockActivated() const = 0;
    virtual void setNetworkLockActivated(bool value) = 0;
    virtual std::string previousDefaultGatewayValue() const = 0;
    virtual void setPreviousDefaultGatewayValue(const std::string& gateway) = 0;
    virtual bool openVPN_Reconnect_in_progress() const = 0;

    virtual bool autoReconnectInProgress() const = 0;
    virtual int autoReconnectAttemptsCount() const = 0;
    virtual void setAutoReconnectAttemptsCount(int count) = 0;
    virtual void setDeviceEnteredSleepMode(bool value) = 0;
    virtual bool deviceEnteredSleepMode() const { return false; }
    // Wi-Fi security is on (a change of its network decides an end then).
    virtual bool wiFiSecurityOn() const { return false; }
    // openvpn's "server out of reach" was taken for the try in force.
    virtual bool serverOutOfReachReported() const { return false; }
    virtual void setServerOutOfReachReported(bool) {}
    // The connection's life, the one owner of the attempt: the try in force
    // (nothing between tries or without one), and whether a report of a try
    // may still act (a stale one is logged there, once).
    virtual std::optional<ConnectionTicket> currentTry() const { return std::nullopt; }
    virtual bool isCurrentTry(const ConnectionTicket&, const char*) const { return true; }
    // The attempt was ended on purpose and none began since: what is left of
    // it (a late reply, a due dial) is dropped.
    virtual bool connectionInitiateCanceled() const { return false; }
    // The device goes to sleep: the life counts the tries after the wake afresh.
    virtual void deviceWillSleep() {}
    // The life that answers the four above; none: nothing is current.
    virtual void attachLife(ConnectionLifeHost*) {}
    virtual bool isLoggedInUser() const { return true; }
    // The flags other parts read, written from the life's state.
    virtual void writeLifeViews(const ConnectionLifeViews&) {}

    // The life's own entry for the engine's and the network's events (a wake).
    virtual void requestReconnect(ReconnectReason) {}
    // As above, from what a try started (a timer, a report): only while that
    // try is the one in force.
    virtual void requestReconnect(ReconnectReason reason, const ConnectionTicket& ticket) {
        if (isCurrentTry(ticket, reconnectReasonName(reason))) requestReconnect(reason);
    }
    // A sheet on the current window; the completion gets the response.
    virtual void showHelperInstallAlert(const std::string& messageText, const std::string& informativeText,
                                        std::function<void(int response)> completion) = 0;
};

// Saves one "ErrorLogReport" object with the current user and platform.
class ErrorLogReportUploader {
public:
    virtual ~ErrorLogReportUploader() = default;
    virtual void upload(const std::string& errorMessage, const std::string& logBytes) = 0;
};

// Resolves a host name by asking the given DNS servers; the completion runs
// on the main queue with the first IPv4 address, or nothing.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    virtual void resolve(const std::string& host, const std::vector<std::string>& servers,
                         std::function<void(std::optional<std::string>)> completion) = 0;
};

// Paths and outside pieces the manager is built on. Each reference must
// outlive the manager.
struct VPNConnectionManagerEnvironment {
    MainQueue& mainQueue;
    BackgroundQueue& background;
    const Clock& clock;
    ConnectionManagerHelper& helper;
    ConnectionManagerContext& context;
    ErrorLogReportUploader& uploader;
    ProcessRunner& processRunner;
    HostResolver* resolver = nullptr;
    std::string connectionName;
    std::string errorLogFilePath;
    std::string openVPNConfigFilePath;
    std::string pppLogFilePath;
    // "openvpncmd", "path_tun", "path_tap".
    std::function<HelperParameterList()> openVPNParameters;
    // Why a protocol cannot run on this machine (no kernel PPP, a tool
    // missing); none: it can. Unset: every protocol can.
    std::function<std::optional<std::string>(VPNTypes)> cannotBuild;
};

// The four providers the manager owns, one per protocol.
struct VPNConnectionManagerProviders {
    std::shared_ptr<ManagedConnectionProvider> L2TP;
    std::shared_ptr<ManagedConnectionProvider> PPTP;
    std::shared_ptr<ManagedConnectionProvider> OpenVPN;
    std::shared_ptr<ManagedConnectionProvider> IKEv2_StrongSwan;
};

}  // namespace hw
