#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/helper_connection.h"
#include "platform/main_queue.h"
#include "services/helper_tool/helper_tool_xpc_connector.h"

namespace hw {

// "server", "username", "server_IP" (optional) and "password" from the
// provider; the connector adds "name" and "ID".
using IKEv2ConnectionDictionary = std::map<std::string, std::string>;

class IKEv2_StrongSwan_ControlDelegate {
public:
    virtual ~IKEv2_StrongSwan_ControlDelegate() = default;
    virtual void change(std::int32_t state, const IKEv2ConnectionDictionary& connection) = 0;
    virtual void onDisconnected() = 0;
    virtual void raise(const std::string& message, const IKEv2ConnectionDictionary& connection) = 0;
    virtual void log(const std::string& message, const IKEv2ConnectionDictionary& connection) = 0;
};

// The app's end of the helper's IKE service: starts and stops the one IKEv2
// connection, answers the service's password request, and turns its events
// into state changes and alerts for the delegate. Runs on the main queue.
class IKEv2_StrongSwan_Connector {
public:
    static constexpr const char* kConnectionName = "Havenway_IKEv2";
    // The alert of a responder that refused the account's credentials.
    static constexpr const char* kClientAuthenticationFailed = "Client authentication failed";
    // The alert of a server whose certificate or identity is not trusted.
    static constexpr const char* kServerAuthenticationFailed = "Server authentication failed";
    static bool isRefusal(const std::optional<std::string>& alert) {
        return alert && (*alert == kClientAuthenticationFailed || *alert == kServerAuthenticationFailed);
    }

    IKEv2_StrongSwan_Connector(MainQueue& queue, HelperTool_XPC_Connector& helper,
                               IKEv2_StrongSwan_ControlDelegate* delegate);
    ~IKEv2_StrongSwan_Connector();
    IKEv2_StrongSwan_Connector(const IKEv2_StrongSwan_Connector&) = delete;
    IKEv2_StrongSwan_Connector& operator=(const IKEv2_StrongSwan_Connector&) = delete;

    void connect(const IKEv2ConnectionDictionary& connection, std::function<void()> connectedHandler);
    void disconnect(bool forced);
    // Takes over the tunnel the helper kept up when this app's last run
    // ended without a stop: its events come as a start's would. done says
    // whether the helper handed it over.
    void adopt(std::function<void(bool adopted)> done);

    // A return channel: its id is only meaningful on the connection that made it.
    struct Channel {
        std::weak_ptr<HelperConnection> connection;
        std::uint64_t id = 0;
    };

    void changeState(std::int32_t state, const Channel& channel, const IKEv2ConnectionDictionary& connection);
    void handleEvent(HelperIncoming& message, const Channel& channel, const IKEv2ConnectionDictionary& connection);
    // The return channel of a start broke (interrupted or invalid).
    void channelBroke(const IKEv2ConnectionDictionary& connection);
    static std::optional<std::string> translateAlert(std::string_view alert);

    const IKEv2ConnectionDictionary& currentConnection() const { return currentConnection_; }
    std::uint64_t currentChannel() const { return currentChannel_.id; }
    bool skipDisconnectEventSend() const { return skipDisconnectEventSend_; }
    bool isActive() const { return active_.count(kConnectionName) > 0; }

private:
    // A return channel on the connection whose events and break go to this
    // connector as the connection's; it becomes the current one.
    HelperConnection::ChannelEnd openChannel(const std::shared_ptr<HelperConnection>& helper,
                                             const IKEv2ConnectionDictionary& connection);

    MainQueue& queue_;
    HelperTool_XPC_Connector& helper_;
    IKEv2_StrongSwan_ControlDelegate* del_;
    std::map<std::string, Channel> active_;  // connection name -> its return channel
    IKEv2ConnectionDictionary currentConnection_;
    Channel currentChannel_;
    bool skipDisconnectEventSend_ = false;
    std::string adoptingID_;  // the take-over waiting for the helper's answer
    // Replies and channel messages may arrive after the connector is gone.
    std::shared_ptr<IKEv2_StrongSwan_Connector*> self_;
};

// A random UUID in upper-case text with hyphens.
std::string makeUpperCaseUUID();

}  // namespace hw
