#include "connection/ikev2_strongswan_connection_provider.h"

#include "connection/openvpn_constants.h"
#include "connection/vpn_service_config.h"
#include "platform/log.h"

namespace hw {

namespace {

constexpr const char* kLog = "ikev2";

void printLine(const std::string& text) { hw::log::info(kLog, text); }

}  // namespace

IKEv2_StrongSwan_ConnectionProvider::IKEv2_StrongSwan_ConnectionProvider(MainQueue& queue,
                                                                         HelperTool_XPC_Connector& helper,
                                                                         IKEv2_StrongSwan_ProviderContext& context)
    : queue_(queue),
      context_(context),
      connectorHelper_(std::make_unique<IKEv2_StrongSwan_Connector>(queue, helper, this)) {
    setType(VPNTypesIKEv2_StrongSwan);
}

IKEv2_StrongSwan_ConnectionProvider::~IKEv2_StrongSwan_ConnectionProvider() { *alive_ = false; }

void IKEv2_StrongSwan_ConnectionProvider::connect(const VPNServiceConfig& config,
                                                  std::function<void()> onSuccessfullyConnected, VPNStatusCallback) {
    // A new session: what it reports is news again, and its end names this try.
    sessionEnded_ = false;
    tryTicket_ = context_.currentTry();
    const auto server = config.endpoint_FQDN();
    if (!server) return;
    const auto login = context_.recentLoginData();
    if (!login) {
        // Without a signed-in user there is nothing to connect with; say so
        // rather than leave the manager waiting in "connecting".
        hw::log::warning(kLog, "IKEv2 connect without a signed-in user");
        sessionEnded_ = true;
        report(0);
        return;
    }
    printLine("Connecting using IKEv2 to endpoint: " + *server + " & username: " + login->username);
    IKEv2ConnectionDictionary dictionary{{"server", *server}, {"username", login->username}, {"password", login->password}};
    if (config.endpointIPAddress && !config.endpointIPAddress->empty())
        dictionary["server_IP"] = *config.endpointIPAddress;
    connectorHelper_->connect(dictionary, [done = std::move(onSuccessfullyConnected)] {
        if (done) done();
    });
}

std::int32_t IKEv2_StrongSwan_ConnectionProvider::retrieveConnectionAndSubscribeToStatusUpdates(
    const std::string&, VPNStatusCallback callback, bool) {
    newStatusReceivedCallback_ = std::move(callback);
    return 1;
}

void IKEv2_StrongSwan_ConnectionProvider::startDial(std::function<void()>) {}

void IKEv2_StrongSwan_ConnectionProvider::adoptRunning() {
    sessionEnded_ = false;
    tryTicket_.reset();
    std::weak_ptr<bool> alive = alive_;
    connectorHelper_->adopt([this, alive](bool adopted) {
        if (auto a = alive.lock(); a && *a && !adopted) endSession(std::nullopt);
    });
}

void IKEv2_StrongSwan_ConnectionProvider::disconnect(std::function<void()>) { connectorHelper_->disconnect(false); }

void IKEv2_StrongSwan_ConnectionProvider::setNewStatusReceivedCallback(VPNStatusCallback callback) {
    newStatusReceivedCallback_ = std::move(callback);
}

void IKEv2_StrongSwan_ConnectionProvider::forceDisconnect() { connectorHelper_->disconnect(true); }

void IKEv2_StrongSwan_ConnectionProvider::report(std::int32_t status, const std::optional<std::string>& message) {
    if (newStatusReceivedCallback_) newStatusReceivedCallback_(status, message, type().value_or(VPNTypesIKEv2_StrongSwan));
}

void IKEv2_StrongSwan_ConnectionProvider::change(std::int32_t state, const IKEv2ConnectionDictionary&) {
    hw::log::info(kLog, "IKEv2 StrongSwan state changed to: " + std::to_string(state));
    if (sessionEnded_) {
        printLine("the session has ended: its state " + std::to_string(state) + " is not reported");
        return;
    }
    switch (state) {
    case 0: onDisconnected(); break;
    case 1: onConnecting(); break;
    case 2: onConnected(); break;
    default: printLine("IKEv2_StrongSwan_ConnectionProvider -- change state -- default case"); break;
    }
}

void IKEv2_StrongSwan_ConnectionProvider::onConnecting() {
    printLine("IKEv2 (StrongSwan) - onConnecting");
    report(1);
}

void IKEv2_StrongSwan_ConnectionProvider::onConnected() {
    printLine("IKEv2 (StrongSwan) - onConnected");
    if (context_.useNetworkLock() && context_.networkLockActivated() && context_.autoReconnectInProgress()) {
        std::weak_ptr<bool> alive = alive_;
        queue_.post([this, alive] {
            if (auto a = alive.lock(); a && *a) context_.enableNetworkLock();
        });
    }
    report(2);
}

void IKEv2_StrongSwan_ConnectionProvider::onDisconnected() {
    printLine("IKEv2 (StrongSwan) - onDisconnected");
    endSession(std::nullopt);
}

void IKEv2_StrongSwan_ConnectionProvider::endSession(const std::optional<std::string>& message) {
    if (sessionEnded_) {
        printLine("the session has ended already: nothing more is reported");
        return;
    }
    sessionEnded_ = true;
    if (!newStatusReceivedCallback_) return;
    report(0, message);
    // A refusal is the manager's to weigh (the attempt's end, or Automatic's
    // next protocol): this session asks for no try of its own.
    if (IKEv2_StrongSwan_Connector::isRefusal(message)) return;
    // The status handling may have changed both fields: look again. Whether
    // and when a next try starts is the connection life's to say.
    if (!context_.intensionallyDisconnectedVPN() && context_.isLoggedInUser()) {
        printLine(std::string("the tunnel ended ") +
                  (context_.networkLockActivated() ? "under the Kill Switch" : "without the Kill Switch") + " | proto IKEv2");
        context_.tryEnded(tryTicket_);
    }
}

void IKEv2_StrongSwan_ConnectionProvider::raise(const std::string& message, const IKEv2ConnectionDictionary&) {
    hw::log::warning(kLog, "IKEv2 StrongSwan ALERT: " + message);
    // Only the refusals travel as a text: the other alerts end the try as a down does.
    endSession(IKEv2_StrongSwan_Connector::isRefusal(message) ? std::optional<std::string>(message) : std::nullopt);
    if (context_.useNetworkLock() && context_.networkLockActivated()) {
        std::weak_ptr<bool> alive = alive_;
        queue_.post([this, alive] {
            if (auto a = alive.lock(); a && *a) context_.enableNetworkLock();
        });
    }
}

void IKEv2_StrongSwan_ConnectionProvider::log(const std::string& message, const IKEv2ConnectionDictionary&) {
    printLine("IKEv2 StrongSwan: " + message);
    logData_ += message;
    logData_ += '\n';
}

void IKEv2_StrongSwan_ConnectionProvider::onNotReachable() {
    printLine("onNotReachable");
    report(9);
}

void IKEv2_StrongSwan_ConnectionProvider::onError(std::uint32_t code) {
    printLine("onError: " + std::to_string(code));
    if (newStatusReceivedCallback_)
        newStatusReceivedCallback_(0, OpenVPNConstants::errorText(code), type().value_or(VPNTypesIKEv2_StrongSwan));
}

void IKEv2_StrongSwan_ConnectionProvider::onGatewayChanged(const std::optional<std::string>& gateway) {
    printLine("onGatewayChanged: " + (gateway ? "Optional(\"" + *gateway + "\")" : std::string("nil")));
    latestGateway_ = gateway;
}

}  // namespace hw
