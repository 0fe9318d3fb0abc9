#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/ikev2_strongswan_connector.h"
#include "core/vpn_types.h"
#include "platform/main_queue.h"

namespace hw {

// status, optional message, protocol
using IKEv2StatusCallback = std::function<void(std::int32_t, std::optional<std::string>, VPNTypes)>;

struct IKEv2LoginData {
    std::string username;
    std::string password;
};

// The part of the service description this provider reads.
struct IKEv2ServiceEndpoint {
    std::optional<std::string> endpoint_FQDN;
    std::optional<std::string> endpointIPAddress;
};

// What the provider reads and writes of the state object, and the two calls
// it makes into its neighbours (the details pane, the connection manager).
class IKEv2_StrongSwan_ProviderContext {
public:
    virtual ~IKEv2_StrongSwan_ProviderContext() = default;
    virtual std::optional<IKEv2LoginData> recentLoginData() const = 0;
    virtual bool useNetworkLock() const = 0;
    virtual bool networkLockActivated() const = 0;
    virtual bool autoReconnectInProgress() const = 0;
    virtual void setAutoReconnectInProgress(bool value) = 0;
    virtual bool intensionallyDisconnectedVPN() const = 0;
    virtual bool isLoggedInUser() const = 0;
    virtual void requestAutoReconnect() = 0;  // the details pane's
    virtual void enableNetworkLock() = 0;     // the manager's, without a callback
};

// The provider of IKEv2 tunnels through the helper's IKE service (type 5).
// Everything runs on the main queue.
class IKEv2_StrongSwan_ConnectionProvider final : public IKEv2_StrongSwan_ControlDelegate {
public:
    IKEv2_StrongSwan_ConnectionProvider(MainQueue& queue, IKEv2_StrongSwan_HelperAccess& helper,
                                        IKEv2_StrongSwan_ProviderContext& context);
    ~IKEv2_StrongSwan_ConnectionProvider() override;

    std::optional<VPNTypes> type;

    // The provider operations the connection manager drives.
    void connect(const IKEv2ServiceEndpoint& config, std::function<void()> onSuccessfullyConnected,
                 IKEv2StatusCallback failure);
    std::int32_t getExistingVPNConnectionProtocolType(const std::string& name) const;
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name, IKEv2StatusCallback callback,
                                                               bool skipCurrentStatusNotification);
    void startDial(std::function<void()> completion);
    void disconnect(std::function<void()> completion);
    void stopConnectionStatusUpdates() {}
    void deleteExistingVPNService(const std::string&) {}
    void setNewStatusReceivedCallback(IKEv2StatusCallback callback);
    void forceDisconnect();

    // The connector's delegate.
    void change(std::int32_t state, const IKEv2ConnectionDictionary& connection) override;
    void onDisconnected() override;
    void raise(const std::string& message, const IKEv2ConnectionDictionary& connection) override;
    void log(const std::string& message, const IKEv2ConnectionDictionary& connection) override;

    void onConnecting();
    void onConnected();
    void onNotReachable();
    void onGatewayChanged(const std::optional<std::string>& gateway);

    IKEv2_StrongSwan_Connector* connectorHelper() { return connectorHelper_.get(); }
    const std::string& logData() const { return logData_; }
    const std::optional<std::string>& latestGateway() const { return latestGateway_; }
    bool hasStatusCallback() const { return static_cast<bool>(newStatusReceivedCallback_); }

private:
    void report(std::int32_t status);

    MainQueue& queue_;
    IKEv2_StrongSwan_ProviderContext& context_;
    std::unique_ptr<IKEv2_StrongSwan_Connector> connectorHelper_;
    IKEv2StatusCallback newStatusReceivedCallback_;
    std::string logData_;
    std::optional<std::string> latestGateway_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
