#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/abstract_vpn_connection_provider.h"
#include "connection/openvpn_connector.h"
#include "core/connection_ticket.h"
#include "core/vpn_types.h"
#include "platform/main_queue.h"

namespace hw {

struct OpenVPNLoginData {
    std::string username;
    std::string password;
};

// What the provider reads and writes of the state object, and the calls it
// makes into its neighbours (details pane, banner, connection manager). All
// on the main thread.
class OpenVPN_ProviderContext {
public:
    virtual ~OpenVPN_ProviderContext() = default;
    virtual std::optional<OpenVPNLoginData> recentLoginData() const = 0;
    virtual bool useNetworkLock() const = 0;
    virtual bool networkLockActivated() const = 0;
    virtual bool autoReconnectInProgress() const = 0;
    virtual void setOpenVPN_Reconnect_in_progress(bool value) = 0;
    virtual bool isLoggedInUser() const = 0;
    // The try in force when one starts (none: no connection life to ask).
    virtual std::optional<ConnectionTicket> currentTry() const { return std::nullopt; }
    // The session a try started has ended; `ticket`: that try, captured at its start.
    virtual void tryEnded(const std::optional<ConnectionTicket>& ticket) = 0;
    virtual void showAutoReconnectOverlay() = 0;    // the details pane's, when the main window has one
    virtual void showAutoReconnectWithNetworkLockNotification() = 0;
    virtual void enableNetworkLock() = 0;           // the manager's, without a callback
};

// The provider of OpenVPN tunnels (type 1). The helper starts openvpn and
// hands over its management interface; this provider attaches the connector
// to it when dialled and turns the connector's events into status reports.
// Main thread only.
class OpenVPN_VPNConnectionProvider final : public AbstractVPNConnectionProvider, public OpenVPNConnectorEvents {
public:
    static constexpr std::size_t kLogLinesKept = 1000;
    // However the served configuration tells openvpn to retry, a try that
    // has not connected by then ends as a failure.
    static constexpr double kTryBoundMs = 60000;

    OpenVPN_VPNConnectionProvider(MainQueue& queue, OpenVPN_ProviderContext& context);
    ~OpenVPN_VPNConnectionProvider() override;

    // The tunnel itself is created through the helper, so connect keeps the
    // base's empty default. Only stores the callback; answers 1.
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& connectionName,
                                                               VPNStatusCallback onStatus,
                                                               bool skipCurrentStatusNotification) override;
    // Neither runs its completion.
    void startDial(std::function<void()> completion) override;
    // Ready as soon as the helper handed openvpn's management interface over.
    bool whenReadyToDial(std::function<void(bool answered)> answered) override;
    void adoptRunning() override;
    void disconnect(std::function<void()> completion) override;
    void setNewStatusReceivedCallback(VPNStatusCallback callback);
    void applyCredentials();

    // The connector's events.
    void onConnected() override;
    void onDisconnected() override;
    void onNotReachable() override;
    void onReConnected() override;
    void onStateChanged(const std::optional<std::string>& state) override;
    void onError(std::uint32_t code) override;
    void onLog(const std::optional<std::string>& line) override;
    void onGatewayChanged(const std::optional<std::string>& gateway) override;

    OpenVPNConnector* connectorHelper() { return connectorHelper_.get(); }
    // The last kLogLinesKept lines from openvpn, each ending in a line feed.
    std::string logData() const;
    const std::optional<std::string>& latestGateway() const { return latestGateway_; }
    // The DNS servers the server pushed to the current try.
    const std::vector<std::string>& pushedDNSServers() const { return pushedDNS_; }

private:
    void report(std::int32_t status, std::optional<std::string> message = std::nullopt);
    void queueEnableNetworkLock();
    // Stops openvpn and reports this try's failure (a drop, with no error,
    // for a tunnel that had connected); its later events are dropped.
    void endTry(const std::string& why, bool asDrop = false);

    MainQueue& queue_;
    OpenVPN_ProviderContext& context_;
    std::unique_ptr<OpenVPNConnector> connectorHelper_;
    VPNStatusCallback newStatusReceivedCallback_;
    std::deque<std::string> logLines_;
    std::optional<std::string> latestGateway_;
    std::vector<std::string> pushedDNS_;
    std::uint64_t tryId_ = 0;
    bool tryConnected_ = false;
    bool tryEnded_ = false;
    // The connection life's try this session was dialled for.
    std::optional<ConnectionTicket> tryTicket_;
    // The manager's dial completion: it clears its connect-in-progress, so it
    // runs once the try has connected or ended, or a reconnect would find the
    // connect still going and return at once.
    std::function<void()> dialed_;
    void dialDone();
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
