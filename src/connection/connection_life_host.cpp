#include "connection/connection_life_host.h"

#include <cstdlib>
#include <string>

#include "connection/vpn_connection_manager_ports.h"
#include "platform/log.h"

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
        return context_.autoReconnectTryAttempts_if_NetworkLockDisabled();
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

ConnectionStatusHooks ConnectionLifeHost::wrap(ConnectionStatusHooks window) {
    ConnectionStatusHooks wrapped = window;
    wrapped.established = [this, shown = std::move(window.established)] {
        // A tunnel of an attempt that ended (a Cancel it crossed, a sign-out,
        // a refusal) is ended by the machine, never shown.
        if (!life_->tunnelEstablished()) return;
        if (shown) shown();
    };
    wrapped.disconnected = [this, shown = std::move(window.disconnected)](bool force, bool skip) {
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
        if (shown) shown(force, skip);
    };
    return wrapped;
}

bool ConnectionLifeHost::request(ReconnectReason reason) {
    if (!context_.isLoggedInUser()) {
        // Signed out: no event of the account's attempt acts again.
        signOut();
        return false;
    }
    return life_->request(reason);
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
