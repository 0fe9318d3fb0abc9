#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/abstract_vpn_connection_provider.h"
#include "connection/ikev2_strongswan_connector.h"
#include "core/connection_ticket.h"
#include "core/vpn_types.h"
#include "platform/main_queue.h"

namespace hw {

struct IKEv2LoginData {
    std::string username;
    std::string password;
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
    virtual bool intensionallyDisconnectedVPN() const = 0;
    virtual bool isLoggedInUser() const = 0;
    // The try in force when one starts (none: no connection life to ask).
    virtual std::optional<ConnectionTicket> currentTry() const { return std::nullopt; }
    // The session a try started has ended; `ticket`: that try, captured at its start.
    virtual void tryEnded(const std::optional<ConnectionTicket>& ticket) = 0;
    virtual void enableNetworkLock() = 0;     // the manager's, without a callback
};

// The provider of IKEv2 tunnels through the helper's IKE service (type 5).
// Everything runs on the main queue.
class IKEv2_StrongSwan_ConnectionProvider final : public AbstractVPNConnectionProvider,
                                                   public IKEv2_StrongSwan_ControlDelegate {
public:
    IKEv2_StrongSwan_ConnectionProvider(MainQueue& queue, HelperTool_XPC_Connector& helper,
                                        IKEv2_StrongSwan_ProviderContext& context);
    ~IKEv2_StrongSwan_ConnectionProvider() override;

    // The failure callback is not used: every report goes through the status
    // callback of the subscription.
    void connect(const VPNServiceConfig& config, std::function<void()> onSuccessfullyConnected,
                 VPNStatusCallback onFailure) override;
    // Only keeps the callback; answers 1 and reports nothing at once.
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& connectionName,
                                                               VPNStatusCallback onStatus,
                                                               bool skipCurrentStatusNotification) override;
    // The connection starts in connect; neither runs its completion.
    void startDial(std::function<void()> completion) override;
    void adoptRunning() override;
    void disconnect(std::function<void()> completion) override;
    void setNewStatusReceivedCallback(VPNStatusCallback callback);
    void forceDisconnect();

    // The connector's delegate.
    void change(std::int32_t state, const IKEv2ConnectionDictionary& connection) override;
    void onDisconnected() override;
    void raise(const std::string& message, const IKEv2ConnectionDictionary& connection) override;
    void log(const std::string& message, const IKEv2ConnectionDictionary& connection) override;

    void onConnecting();
    void onConnected();
    void onNotReachable();
    // Status 0 with the error's text, as the OpenVPN provider reports it.
    void onError(std::uint32_t code);
    void onGatewayChanged(const std::optional<std::string>& gateway);

    IKEv2_StrongSwan_Connector* connectorHelper() { return connectorHelper_.get(); }
    const std::string& logData() const { return logData_; }
    const std::optional<std::string>& latestGateway() const { return latestGateway_; }
    bool hasStatusCallback() const { return static_cast<bool>(newStatusReceivedCallback_); }

private:
    void report(std::int32_t status, const std::optional<std::string>& message = std::nullopt);
    // The session's end, said once: whatever its connector says after it
    // (a down after an alert, a broken channel) is no news.
    void endSession(const std::optional<std::string>& message);

    MainQueue& queue_;
    IKEv2_StrongSwan_ProviderContext& context_;
    std::unique_ptr<IKEv2_StrongSwan_Connector> connectorHelper_;
    VPNStatusCallback newStatusReceivedCallback_;
    std::string logData_;
    std::optional<std::string> latestGateway_;
    // The connection life's try this session started for.
    std::optional<ConnectionTicket> tryTicket_;
    bool sessionEnded_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
