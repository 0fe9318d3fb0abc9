#include "connection/connection_life_host.h"

#include <cstdlib>
#include <string>

#include "connection/vpn_connection_manager_ports.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "ConnectionLife";

// HAVENWAY_RECONNECT_CAP_MS lowers the cap, never raises it: the by-hand
// runs count a whole attempt's tries without waiting out minutes of pacing.
double reconnectCapMs() {
    const char* value = std::getenv("HAVENWAY_RECONNECT_CAP_MS");
    if (!value || !*value) return ConnectionLifeHost::kReconnectCapMs;
    char* end = nullptr;
    const long ms = std::strtol(value, &end, 10);
    if (*end != '\0' || ms < ConnectionLifeHost::kReconnectDelayMs || ms > ConnectionLifeHost::kReconnectCapMs) {
        log::warning(kLog, "HAVENWAY_RECONNECT_CAP_MS=" + std::string(value) + " is not a cap between " +
                               std::to_string(static_cast<long>(ConnectionLifeHost::kReconnectDelayMs)) + " and " +
                               std::to_string(static_cast<long>(ConnectionLifeHost::kReconnectCapMs)) + " ms: ignored");
        return ConnectionLifeHost::kReconnectCapMs;
    }
    return static_cast<double>(ms);
}
}  // namespace

ConnectionLifeHost::ConnectionLifeHost(MainQueue& queue, ConnectionManagerContext& context,
                                       std::function<void()> endSession)
    : context_(context), endSession_(std::move(endSession)) {
    life_ = std::make_unique<ConnectionLife>(queue, hooks(), ConnectionLife::Timing{kReconnectDelayMs, reconnectCapMs()});
}

ConnectionLifeHost::~ConnectionLifeHost() = default;

ConnectionLife::Hooks ConnectionLifeHost::hooks() {
    // The machine lives and dies with this host: its hooks may hold this.
    ConnectionLife::Hooks hooks;
    hooks.startTry = [this] {
        if (!context_.isLoggedInUser()) {
            // Signed out while the try was due: nothing is tried for nobody.
            life_->signOut();
            return;
        }
        if (!listener_) {
            // Only the window knows the location: without it no try can be built.
            log::warning(kLog, "a try is due but no window shows the attempt: it ends");
            life_->cancel();
            return;
        }
        listener_->startTry();
    };
    hooks.endSession = [this] {
        // Every protocol's: an openvpn or a PPP link left running would meet
        // the next try, and IKEv2's start would end its predecessor's.
        log::info(kLog, "the session in force ends");
        if (endSession_) endSession_();
    };
    hooks.announce = [this](bool hadConnected) {
        if (listener_) listener_->announceReconnect(hadConnected);
    };
    hooks.limit = [this]() -> std::optional<int> {
        // Under the lock the user is offline anyway: tries go on, paced.
        if (context_.networkLockActivated()) return std::nullopt;
        return autoReconnectTryAttempts_if_NetworkLockDisabled();
    };
    hooks.lockEngaged = [this] { return context_.networkLockActivated(); };
    hooks.gaveUp = [this] {
        if (listener_) listener_->attemptGaveUp();
    };
    hooks.refused = [this](bool held) {
        if (listener_) listener_->attemptRefused(held);
    };
    hooks.stateChanged = [this](ConnectionLife::State from, ConnectionLife::State to) {
        writeViews();
        if (listener_) listener_->lifeChanged(from, to);
    };
    hooks.countChanged = [this](int count) {
        if (context_.autoReconnectAttemptsCount() != count) context_.setAutoReconnectAttemptsCount(count);
        if (count > 0) log::info(kLog, "Connection attempts count: " + std::to_string(count));
    };
    hooks.log = [](const std::string& text) { log::info(kLog, text); };
    return hooks;
}

void ConnectionLifeHost::writeViews() {
    // The one place the flags other parts read are written.
    context_.writeLifeViews(ConnectionLifeViews{life_->reconnecting(), life_->byWiFiSecurity(), life_->stopped()});
}

ConnectionStatusHooks ConnectionLifeHost::wrap(ConnectionStatusViews window) {
    views_ = std::move(window);
    // Empty views uninstall: nothing of a closed window is called.
    if (views_.empty()) return {};
    ConnectionStatusHooks hooks;
    hooks.connecting = [this] {
        if (views_.connecting) views_.connecting();
    };
    hooks.established = [this] {
        // A tunnel of an attempt that ended (a Cancel it crossed, a sign-out,
        // a refusal) is ended by the machine, never shown.
        if (!life_->tunnelEstablished()) return;
        if (views_.established) views_.established();
    };
    hooks.disconnected = [this](bool force, bool skip) {
        if (force) {
            forcedEnd("the engine ended the connection");
        } else if (!context_.isLoggedInUser()) {
            signOut();
        } else if (networkChangePending_ && networkChangePending_()) {
            log::info(kLog, "the end of a session on a changed network: the network change decides");
        } else {
            // The machine takes it once: a second report of the same end is absorbed.
            tryEnded();
        }
        if (views_.disconnected) views_.disconnected(force, skip);
    };
    hooks.error = [this](const std::string& text) {
        if (!context_.isLoggedInUser()) {
            signOut();
            return;
        }
        if (text == LocaleData::openvpn_not_reachable_error_notification()) serverOutOfReach(text);
        else errorReported(text);
    };
    hooks.refused = [this](const std::string& text) {
        if (!context_.isLoggedInUser()) {
            signOut();
            return;
        }
        // Lock or not; after an end on purpose the machine drops it.
        life_->request(ReconnectReason::refused);
        if (views_.refused) views_.refused(text);
    };
    hooks.noWayOut = [this] {
        if (views_.noWayOut) views_.noWayOut();
    };
    hooks.helperCarriedOut = [this] {
        if (views_.helperCarriedOut) views_.helperCarriedOut();
    };
    return hooks;
}

void ConnectionLifeHost::errorReported(const std::string& text) {
    // An error whose attempt goes on is no end to show, and one that ended
    // the attempt (its retries spent) has shown the attempt's own end.
    const bool taken = tryEnded();
    if (views_.error) views_.error(text, !taken && !life_->inAttempt() ? ErrorLook::shown : ErrorLook::quiet);
}

void ConnectionLifeHost::serverOutOfReach(const std::string& text) {
    const bool repeated = context_.serverOutOfReachReported();
    context_.setServerOutOfReachReported(true);
    // Asleep under the lock the wake starts the next try.
    if (repeated || (context_.deviceEnteredSleepMode() && context_.networkLockActivated())) {
        if (views_.error) views_.error(text, ErrorLook::absorbed);
        return;
    }
    const bool networkDecides = context_.wiFiSecurityOn() && networkChangePending_ && networkChangePending_();
    log::info(kLog, std::string("the server is out of reach; a change of Wi-Fi network decides: ") +
                        (networkDecides ? "true" : "false"));
    if (!networkDecides) tryEnded();
    // While the machine tries again by itself the window says so, not "check your Internet".
    if (views_.error) views_.error(text, life_->inAttempt() ? ErrorLook::quiet : ErrorLook::shown);
}

void ConnectionLifeHost::helperLost(const std::string& text, bool tunnelUp) {
    if (!context_.isLoggedInUser()) {
        signOut();
        return;
    }
    if (tunnelUp) {
        errorReported(text);
        return;
    }
    // A lock asked for but never put in place by the dead helper holds
    // nothing back: saying traffic is blocked would be untrue.
    const bool held = lockEngaged_ ? lockEngaged_() : context_.networkLockActivated();
    if (life_->forcedEnd("the helper is gone: no try can reach it", held) && listener_) listener_->attemptRefused(held);
    if (views_.refused) views_.refused(text);
}

bool ConnectionLifeHost::request(ReconnectReason reason) {
    if (!context_.isLoggedInUser()) {
        // Signed out: no event of the account's attempt acts again.
        signOut();
        return false;
    }
    return life_->request(reason);
}

ConnectionIntent ConnectionLifeHost::primaryIntent() const {
    switch (life_->state()) {
        case ConnectionLife::State::disconnected: return ConnectionIntent::connect;
        case ConnectionLife::State::connected: return ConnectionIntent::disconnect;
        case ConnectionLife::State::heldByLock: return ConnectionIntent::liftLock;
        default: return ConnectionIntent::cancel;
    }
}

void ConnectionLifeHost::connectOrEnd() {
    const ConnectionIntent intent = primaryIntent();
    if (!listener_) {
        // Only the window knows the location and the lock's road.
        log::warning(kLog, std::string("the user's ") + connectionIntentName(intent) + " with no window to carry it out");
        return;
    }
    listener_->performIntent(intent);
}

int ConnectionLifeHost::autoReconnectTryAttempts_if_NetworkLockDisabled() const {
    if (discoveryInProgress_ && discoveryInProgress_()) return kRetries;
    const auto protocol = protocolInForce_ ? protocolInForce_() : std::nullopt;
    return protocol == VPNTypesIKEv2_StrongSwan ? kStrongSwanRetries : kRetries;
}

bool ConnectionLifeHost::wifiNetworkChanged() {
    const auto protocol = protocolInForce_ ? protocolInForce_() : std::nullopt;
    // Only IKEv2's and openvpn's tunnels start afresh on a new network; the
    // others are left to report their own end.
    if (protocol != VPNTypesIKEv2_StrongSwan && protocol != VPNTypesOpenVPN) {
        log::info(kLog, "the Wi-Fi network changed: the session in force is left as it is");
        return false;
    }
    return request(ReconnectReason::networkChanged);
}

void ConnectionLifeHost::reachabilityChanged(bool reachable) {
    if (!reachable && context_.networkLockActivated()) {
        // The lock takes the default route away, so the watch reads a loss
        // without a tunnel and never sees the network come back: the tries
        // go on, paced, and find the way out the helper follows.
        if (life_->state() != ConnectionLife::State::connected) {
            log::info(kLog, "reachability under the lock (not reachable) before a tunnel: the tries go on");
            return;
        }
        log::info(kLog, "reachability under the lock (not reachable): the tunnel's way out is gone, the tries go on");
        request(ReconnectReason::tryEnded);
        return;
    }
    request(reachable ? ReconnectReason::networkReturned : ReconnectReason::networkLost);
}

bool ConnectionLifeHost::lockGaveNoAddress(const ConnectionTicket& ticket) {
    if (!context_.networkLockActivated() || !context_.useNetworkLock() || life_->stopped()) return false;
    // The lock lets the resolvers through: the next try resolves once the
    // name server answers, and the window keeps saying that the lock holds.
    log::warning(kLog, "the network lock gave no server address: the next try is paced");
    tryEnded(ticket);
    return true;
}

void ConnectionLifeHost::signOut() {
    if (life_->state() != ConnectionLife::State::disconnected || !life_->stopped()) life_->signOut();
}

bool ConnectionLifeHost::tryEnded(const std::optional<ConnectionTicket>& ticket) {
    if (!context_.isLoggedInUser()) {
        signOut();
        return false;
    }
    return ticket ? life_->request(ReconnectReason::tryEnded, *ticket) : life_->request(ReconnectReason::tryEnded);
}

bool ConnectionLifeHost::forcedEnd(const char* why) { return life_->forcedEnd(why); }

}  // namespace hw
