#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/helper_connection.h"
#include "platform/helper_installer.h"
#include "platform/helper_job_table.h"
#include "platform/main_queue.h"
#include "platform/process_runner.h"
#include "services/helper_tool/helper_tool_xpc_connector.h"
#include "services/helper_tool/helper_vpn_service_description.h"

namespace hw {

// The application's client of the privileged helper: every operation is one
// "helper_tool_rpc" message. Each call keeps its own parameters and
// completion, so calls never overwrite each other. Every completion runs on
// the main queue exactly once: with the reply, or "NO" when there is no
// connection or the reply carries no "reply" string.
class HelperToolManager {
public:
    using StringBlock = std::function<void(const std::string&)>;
    // The creation completions say whether the helper created the service.
    using CreatedBlock = std::function<void(bool created)>;
    using ProxyErrorBlock = std::function<void()>;  // kept for callers; a failure arrives as "NO"
    using InstallBlock = hw::InstallBlock;

    static constexpr const char* kNo = "NO";

    HelperToolManager(MainQueue& queue, HelperTool_XPC_Connector& connector, HelperJobTable& jobs,
                      HelperInstaller& installer, ProcessRunner& runner, std::string bundledVersion);

    void createVPNConnection(const HelperVPNServiceDescription& config, CreatedBlock onSuccessfullyConnected,
                             ProxyErrorBlock onProxyError = {});
    void createOpenVPNConnection(const HelperParameterList& openVPNParameters, CreatedBlock onConnectionCreated,
                                 ProxyErrorBlock onProxyError = {});
    void deleteExistingVPNService(const std::optional<std::string>& serviceName);
    void disableIPV6();
    // The same, done getting the reply ("NO": IPv6 may still be on).
    void disableIPV6(StringBlock done);
    void reEnableIPV6();
    // The same, done getting the reply.
    void reEnableIPV6(StringBlock done);
    void enableNetworkLock(StringBlock completion, ProxyErrorBlock onProxyError = {});
    // The same command, also telling whether the lock is engaged: "NO" is
    // the reply both when there was no gateway to report (the lock is on)
    // and when the lock could not be engaged.
    using LockBlock = std::function<void(const std::string& reply, bool engaged)>;
    void enableNetworkLock(LockBlock completion);
    // With the resolvers the lock lets through (at most two; the first two
    // given are sent as the helper's dnsResolver and dnsResolverSecondary).
    void enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion);
    void disableNetworkLock(const std::optional<std::string>& gatewayAddress);
    void disableNetworkLock(const std::optional<std::string>& gatewayAddress, StringBlock done);
    void retrieveDefaultGateway(StringBlock completion);
    // Whether the helper holds a lock; nothing when no helper answered.
    void networkLockState(std::function<void(std::optional<bool> engaged)> completion);
    // The helper looks the host up through the resolvers (sent as
    // dnsResolver and dnsResolverSecondary); the reply is the address or "NO".
    void resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                              StringBlock completion);
    void staticRouteAddingProcessing(const std::optional<std::string>& vpnServerAddress,
                                     const std::optional<std::string>& defaultGateway, StringBlock onStaticRouteAdded);
    void addDefaultGatewayForOpenVPN(const std::optional<std::string>& gatewayAddress, StringBlock completion = {});
    // Asks for the interface of the openvpn the helper still runs for us;
    // it goes to the management receiver before done(true).
    void attachRunningOpenVPN(std::function<void(bool attached)> done);
    // done runs once the helper answered (or could not be reached).
    // ended: an openvpn was running and is gone.
    void terminatePreviousOpenVPNProcesses(std::function<void(bool ended)> done = {});
    void install_DNS_for_VPN();
    // The same, done getting the reply. For OpenVPN the helper installs the
    // servers its openvpn's up event named; one that started after that
    // event takes `pushed`, what the app saw the server push ("NO" without).
    void install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed, StringBlock done);
    void restore_DNS_to_original(bool forOpenVPN, bool skipFallback);
    void restore_DNS_to_original(bool forOpenVPN, bool skipFallback, StringBlock done);
    void closeHelperTool();

    // Receives the management interface of the openvpn the helper started,
    // on the main queue, just before the creation completion reports success.
    using ManagementBlock = std::function<void(UniqueFd)>;
    void setOpenVPNManagementReceiver(ManagementBlock receiver) { openVPNManagement_ = std::move(receiver); }
    // Receives, before the interface of an openvpn taken over, the gateway
    // of its tunnel as the helper recorded it when the tunnel came up.
    void setOpenVPNGatewayReceiver(StringBlock receiver) { openVPNGateway_ = std::move(receiver); }

    // A helper that answered once and now cannot be reached died: the
    // observer hears it once (false), and again when it answers (true), on
    // the main queue. One never reached (not installed, not started) is not
    // reported: its calls answer "NO" as before.
    void setHelperDiedObserver(std::function<void(bool died)> observer) { diedObserver_ = std::move(observer); }
    bool helperDied() const { return answered_ && !reachable_; }

    // Installation and version check.
    void installAction(InstallBlock completion);
    bool isHeloperToolAlreadyInstalled(const std::string& storedVersion, bool withVersionCheck);
    // Asks the installed helper its version on `background`, so that the
    // check above, on a connect's road, finds it known.
    void learnInstalledVersion(BackgroundQueue& background);
    std::string getHelperToolVersionInsideOfBundle() const { return bundledVersion_; }

    // The lower level, for the other senders on the helper connection.
    void connectToHelperTool_XPC();
    void execute_XPC_command(const std::string& command, const std::optional<HelperParameterList>& parameters,
                             StringBlock reply);

    // Ordered parameters end at the first absent value.
    static HelperParameterList orderedUntilAbsent(HelperParameterList parameters);
    static HelperDictionary toDictionary(const HelperParameterList& parameters);

private:
    // The reply text and the whole reply message (empty when none came).
    using MessageBlock = std::function<void(const std::string& reply, const HelperMessage& message)>;
    void execute(const std::string& command, const std::optional<HelperParameterList>& parameters,
                 MessageBlock reply);
    // Sends on the calling (main) thread, or on a later turn of the main queue.
    void now(std::string command, std::optional<HelperParameterList> parameters, StringBlock reply);
    void later(std::string command, std::optional<HelperParameterList> parameters, StringBlock reply);
    void later(std::string command, std::optional<HelperParameterList> parameters, MessageBlock reply);
    static StringBlock logOnly(const char* line);
    static StringBlock logThen(const char* line, StringBlock next);
    // Logs the line on success and what failed otherwise, then hands on the reply.
    static StringBlock logOutcome(const char* command, const char* line, StringBlock next);
    std::optional<std::string> installedVersion(const std::string& path, const struct stat& st);
    // path, device, inode, size, mtime and ctime of the helper that gave the version.
    using HelperFileIdentity = std::tuple<std::string, dev_t, ino_t, off_t, time_t, long, time_t, long>;
    static HelperFileIdentity identityOf(const std::string& path, const struct stat& st);
    static std::optional<std::string> askVersion(ProcessRunner& runner, const std::string& path);
    void noteReachable(bool reachable);

    MainQueue& queue_;
    HelperTool_XPC_Connector& connector_;
    HelperJobTable& jobs_;
    HelperInstaller& installer_;
    ProcessRunner& runner_;
    std::string bundledVersion_;
    std::shared_ptr<HelperConnection> helper_;
    std::shared_ptr<HelperConnection> channelOwner_;  // the connection app_connection listens on
    HelperValue app_connection_;
    ManagementBlock openVPNManagement_;
    StringBlock openVPNGateway_;
    std::function<void(bool)> diedObserver_;
    bool answered_ = false;  // the helper answered at least once
    bool reachable_ = true;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    std::optional<std::pair<HelperFileIdentity, std::string>> knownVersion_;
};

}  // namespace hw
