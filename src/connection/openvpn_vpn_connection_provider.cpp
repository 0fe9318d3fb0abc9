#include "connection/openvpn_vpn_connection_provider.h"

#include <chrono>
#include <utility>

#include "connection/openvpn_constants.h"
#include "connection/openvpn_management_line.h"
#include "platform/log.h"

namespace hw {

namespace {

constexpr const char* kLog = "OpenVPNProvider";

void printLine(const std::string& text) { log::info(kLog, text); }

std::string describe(const std::optional<std::string>& text) {
    return text ? "Optional(\"" + *text + "\")" : std::string("nil");
}

}  // namespace

OpenVPN_VPNConnectionProvider::OpenVPN_VPNConnectionProvider(MainQueue& queue, OpenVPN_ProviderContext& context)
    : queue_(queue), context_(context), connectorHelper_(std::make_unique<OpenVPNConnector>(queue)) {
    connectorHelper_->setEventDelegate(this);
    connectorHelper_->setConfigPath(OpenVPNConstants::configFilePath());
    setType(VPNTypesOpenVPN);
}

OpenVPN_VPNConnectionProvider::~OpenVPN_VPNConnectionProvider() {
    *alive_ = false;
    connectorHelper_->setEventDelegate(nullptr);
}

std::int32_t OpenVPN_VPNConnectionProvider::retrieveConnectionAndSubscribeToStatusUpdates(
    const std::string&, VPNStatusCallback callback, bool) {
    newStatusReceivedCallback_ = std::move(callback);
    return 1;
}

void OpenVPN_VPNConnectionProvider::setNewStatusReceivedCallback(VPNStatusCallback callback) {
    newStatusReceivedCallback_ = std::move(callback);
}

void OpenVPN_VPNConnectionProvider::applyCredentials() {
    auto login = context_.recentLoginData();
    if (!login) {
        // openvpn waits for credentials; empty ones end in its own
        // authentication failure, which the user then sees.
        log::warning(kLog, "dialling without a signed-in user");
        login.emplace();
    }
    connectorHelper_->setUsername(std::move(login->username));
    connectorHelper_->setPassword(std::move(login->password));
}

void OpenVPN_VPNConnectionProvider::dialDone() {
    if (auto done = std::exchange(dialed_, nullptr)) done();
}

void OpenVPN_VPNConnectionProvider::startDial(std::function<void()> dialed) {
    dialed_ = std::move(dialed);
    pushedDNS_.clear();
    applyCredentials();
    const std::uint64_t id = ++tryId_;
    tryConnected_ = false;
    tryEnded_ = false;
    tryTicket_ = context_.currentTry();
    queue_.postAfter(kTryBoundMs, [this, id, alive = std::weak_ptr<bool>(alive_)] {
        auto a = alive.lock();
        if (!a || !*a || id != tryId_ || tryConnected_ || tryEnded_) return;
        endTry("it did not connect within " + std::to_string(static_cast<int>(kTryBoundMs / 1000)) + " s");
    });
    connectorHelper_->connect();
}

bool OpenVPN_VPNConnectionProvider::whenReadyToDial(std::function<void(bool answered)> answered) {
    // The helper hands the interface over only once openvpn listens on it,
    // and openvpn then waits for its credentials: dialled at once, the
    // session reads the greeting itself. An openvpn that never answers is
    // the try's bound to end.
    answered(true);
    return true;
}

void OpenVPN_VPNConnectionProvider::adoptRunning() {
    // A restart of openvpn asks for the credentials again. A tunnel taken
    // over is already up: no bound for it, and no ended try to mute it.
    applyCredentials();
    ++tryId_;
    tryConnected_ = false;
    tryEnded_ = false;
    tryTicket_.reset();
    connectorHelper_->adopt();
}

void OpenVPN_VPNConnectionProvider::disconnect(std::function<void()>) {
    // A disconnect ends the try: its bound must not end a later one.
    ++tryId_;
    connectorHelper_->disconnect();
}

void OpenVPN_VPNConnectionProvider::endTry(const std::string& why, bool asDrop) {
    log::warning(kLog, "the attempt ends: " + why);
    tryEnded_ = true;
    dialDone();
    ++tryId_;
    connectorHelper_->disconnect();
    if (asDrop) report(VPNStatusCodes::disconnected);
    else report(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(4));
}

void OpenVPN_VPNConnectionProvider::report(std::int32_t status, std::optional<std::string> message) {
    if (newStatusReceivedCallback_)
        newStatusReceivedCallback_(status, message, type().value_or(VPNTypesOpenVPN));
}

void OpenVPN_VPNConnectionProvider::queueEnableNetworkLock() {
    queue_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (auto a = alive.lock(); a && *a) context_.enableNetworkLock();
    });
}

void OpenVPN_VPNConnectionProvider::onConnected() {
    printLine("onConnected");
    if (tryEnded_) return;
    tryConnected_ = true;
    dialDone();
    if (context_.useNetworkLock() && context_.networkLockActivated() && context_.autoReconnectInProgress())
        queueEnableNetworkLock();
    report(VPNStatusCodes::connected);
}

void OpenVPN_VPNConnectionProvider::onDisconnected() {
    printLine("onDisconnected");
    dialDone();
    if (tryEnded_) return;  // the ended try has reported its end
    // The report is the try's end: the connection life paces the next.
    report(VPNStatusCodes::disconnected);
}

void OpenVPN_VPNConnectionProvider::onReConnected() {
    printLine("onReConnected");
    if (tryEnded_) return;
    context_.setOpenVPN_Reconnect_in_progress(true);
    if (context_.networkLockActivated() && context_.isLoggedInUser()) queueEnableNetworkLock();
    report(VPNStatusCodes::connecting);
    // A tunnel that was up went down: openvpn's own restart would look the
    // server up through the dead tunnel. The connection life ends it and
    // paces its own tries, with the attempt's one banner.
    if (tryConnected_ && context_.isLoggedInUser())
        context_.tryEnded(tryTicket_);
}

void OpenVPN_VPNConnectionProvider::onNotReachable() {
    printLine("onNotReachable");
    if (tryEnded_) return;
    report(VPNStatusCodes::notReachable);
}

void OpenVPN_VPNConnectionProvider::onStateChanged(const std::optional<std::string>& state) {
    printLine("onStateChanged to : " + describe(state));
}

void OpenVPN_VPNConnectionProvider::onError(std::uint32_t code) {
    printLine("onError: " + std::to_string(code));
    dialDone();
    if (tryEnded_) return;
    report(VPNStatusCodes::disconnected, OpenVPNConstants::errorText(code));
}

void OpenVPN_VPNConnectionProvider::onLog(const std::optional<std::string>& line) {
    if (!line) return;
    // The error log is uploaded; the connector has already logged the line.
    std::string kept = withoutPassword(*line, connectorHelper_->password());
    if (auto pushed = parseOpenVPNPushedDNS(kept); !pushed.empty()) pushedDNS_ = std::move(pushed);
    if (!tryEnded_) {
        const std::string why = openVPNServerOutOfReach(kept);
        // Once connected, only a lookup means an openvpn that restarted by
        // itself and now looks through its dead tunnel; a link that drops a
        // moment is the network watch's.
        const bool lookup = why == kServerNameDoesNotResolve;
        if (!why.empty() && (!tryConnected_ || lookup)) {
            logLines_.push_back(std::move(kept));
            endTry(why, tryConnected_);
            return;
        }
    }
    logLines_.push_back(std::move(kept));
    while (logLines_.size() > kLogLinesKept) logLines_.pop_front();
}

void OpenVPN_VPNConnectionProvider::onGatewayChanged(const std::optional<std::string>& gateway) {
    printLine("onGatewayChanged: " + describe(gateway));
    latestGateway_ = gateway;
}

std::string OpenVPN_VPNConnectionProvider::logData() const {
    std::string out;
    for (const auto& line : logLines_) {
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace hw
