#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "connection/system_vpn_service.h"
#include "connection/vpn_keychain.h"
#include "connection/vpn_service_config.h"

namespace hw {

// Finds, creates, dials, watches and hangs up one system VPN service.
//
// Watching does not block the caller: status reports run on a thread of the
// connector's own, one at a time and in the order the changes happened, the
// current status (when asked for) first. Reports of a connection that is no
// longer watched are dropped.
class AbstractVPNConnector {
public:
    using StatusBlock =
        std::function<void(std::int32_t status, const std::optional<std::string>& message, std::int64_t type)>;

    // systemKeychain may be null where the caller never creates services.
    explicit AbstractVPNConnector(std::shared_ptr<SystemVPNServiceStore> store,
                                  std::shared_ptr<SecretStore> systemKeychain = nullptr);
    virtual ~AbstractVPNConnector();
    AbstractVPNConnector(const AbstractVPNConnector&) = delete;
    AbstractVPNConnector& operator=(const AbstractVPNConnector&) = delete;

    // The PPP cause a refused start reports when the system gave none: a
    // fatal error, which the user sees as the generic one.
    static constexpr std::int64_t kStartRefusedCause = 1;

    virtual std::int64_t getConnectorType() const { return 2; }
    virtual bool configureTopInterface(SystemVPNPreferences& prefs, const std::string& serviceID,
                                       const VPNServiceConfig& config);
    // 0, or the creation result to answer (35: IPsec).
    virtual std::int32_t applyAdditionalInterfacesConfiguration(SystemVPNPreferences& prefs,
                                                                const std::string& serviceID,
                                                                const VPNServiceConfig& config);

    void connect(const std::optional<std::string>& serviceName, std::function<void()> onSuccessfullyConnected,
                 StatusBlock statusBlock);
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& serviceName, StatusBlock block,
                                                               bool skipCurrentStatusNotification);
    std::int32_t retrieveConnection(const std::string& serviceName);
    void subscribeToConnectionStatusUpdates(StatusBlock block, std::int32_t status,
                                            bool skipCurrentStatusNotification);
    void startDialCurrentConnection(std::function<void()> onStarted);
    // The block is never called.
    void disconnect(std::function<void()> block);
    void stopConnectionStatusUpdates();
    void deleteExistingVPNService(const std::string& serviceName);
    // 2 with IPsec, 3 without, -1 for no such service.
    std::int32_t getExistingVPNConnectionProtocolType(const std::string& serviceName);
    std::optional<SystemVPNServiceInfo> getExistedVPNNetworkService(const std::string& serviceName);
    void cleanupConnectorBeforeAppExit();

    // The creation road: 0, or the number of the step that failed (31 store,
    // 33 PPP interface, 35 IPsec, 36 to 42 the service, 60 to 63 keychain).
    std::int32_t createAndConnect(VPNServiceConfig& config, std::function<void()> onSuccessfullyConnected);
    std::int32_t createService(VPNServiceConfig& config, SystemVPNPreferences& prefs,
                               std::function<void()> onSuccessfullyConnected);

    std::string connectionName() const;
    bool isWatching() const;

private:
    std::shared_ptr<SystemVPNConnection> makeConnection(const std::string& serviceName);
    void watch(std::shared_ptr<SystemVPNConnection> connection, StatusBlock block);
    void statusChanged(std::uint64_t generation, const std::weak_ptr<SystemVPNConnection>& connection,
                       std::int32_t status);
    void report(std::uint64_t generation, std::int32_t status, const std::optional<std::string>& message);
    static std::optional<std::string> lastCauseMessage(const std::shared_ptr<SystemVPNConnection>& connection,
                                                       std::int32_t status);
    bool startConnection(SystemVPNConnection& connection);
    void post(std::function<void()> task);
    void runReports();

    std::shared_ptr<SystemVPNServiceStore> store_;
    VPNKeychain keychain_;

    mutable std::mutex mutex_;
    std::shared_ptr<SystemVPNConnection> lastConnectionObject_;
    StatusBlock newStatusReceivedCallback_;
    std::string connectionName_;
    std::uint64_t generation_ = 0;  // bumped whenever the watched connection changes

    // Held while a report runs, so that stopping waits for one in flight;
    // recursive because a report may stop the watch itself.
    std::recursive_mutex reportMutex_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<std::function<void()>> reports_;
    bool quitting_ = false;
    std::thread reportThread_;
};

}  // namespace hw
