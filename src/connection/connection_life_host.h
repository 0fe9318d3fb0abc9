#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/connection_intents.h"
#include "connection/connection_life.h"
#include "core/vpn_types.h"

namespace hw {

class ConnectionManagerContext;

// What the manager reports of a connection's state: the host's entries,
// which put the machine first.
struct ConnectionStatusHooks {
    std::function<void()> established;
    std::function<void(const std::string&)> error;
    std::function<void()> connecting;
    std::function<void(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear)> disconnected;
    // The system refused the try outright: the attempt ends in its error.
    std::function<void(const std::string&)> refused;
    // The lock was lifted and nothing leads out: no quiet Connect.
    std::function<void()> noWayOut;
    // The helper, back, has carried out what a Disconnect left to it.
    std::function<void()> helperCarriedOut;
};

// What the window makes of an error, once the machine has taken it.
enum class ErrorLook {
    absorbed,  // nothing of it acts (a repeat, or asleep under the lock)
    quiet,     // the attempt goes on, or has shown its own end
    shown,     // this error is the one to show
};

// What the window shows of those reports, once the machine has taken them.
struct ConnectionStatusViews {
    std::function<void()> established;
    std::function<void(const std::string& text, ErrorLook look)> error;
    std::function<void()> connecting;
    std::function<void(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear)> disconnected;
    // The attempt has ended in this error (held or not: the machine's state says).
    std::function<void(const std::string&)> refused;
    std::function<void()> noWayOut;
    std::function<void()> helperCarriedOut;
    bool empty() const {
        return !established && !error && !connecting && !disconnected && !refused && !noWayOut && !helperCarriedOut;
    }
};

// The window that shows the attempt. It starts the tries (it knows the
// location) and draws what the machine decided; it decides nothing.
class ConnectionLifeListener {
public:
    virtual ~ConnectionLifeListener() = default;
    virtual void startTry() = 0;
    // The user's Connect control, as the machine reads it: the window
    // carries it out (it knows the location and the lock's road).
    virtual void performIntent(ConnectionIntent intent) = 0;
    virtual void announceReconnect(bool hadConnected) = 0;
    virtual void attemptGaveUp() = 0;
    virtual void attemptRefused(bool held) = 0;
    virtual void lifeChanged(ConnectionLife::State from, ConnectionLife::State to) = 0;
};

// The application's one ConnectionLife, owned by the connection layer. The
// windows, the tray and the menus send intents here and read its state; the
// engine's reports reach the machine here, before any window sees them. The
// flags other parts read are written from its state in one place.
class ConnectionLifeHost final : public ConnectionIntents {
public:
    // The first retry's delay, as it always was; later retries double it up
    // to the cap, so that tries that keep failing cost a few a minute.
    static constexpr double kReconnectDelayMs = 500;
    static constexpr double kReconnectCapMs = 30000;

    // endSession ends the session in force, whatever its protocol.
    ConnectionLifeHost(MainQueue& queue, ConnectionManagerContext& context, std::function<void()> endSession);
    ~ConnectionLifeHost() override;
    ConnectionLifeHost(const ConnectionLifeHost&) = delete;
    ConnectionLifeHost& operator=(const ConnectionLifeHost&) = delete;

    ConnectionLife& life() { return *life_; }
    const ConnectionLife& life() const { return *life_; }

    // One window at a time; it leaves before it dies.
    void setListener(ConnectionLifeListener* listener) { listener_ = listener; }
    ConnectionLifeListener* listener() const { return listener_; }
    // Whether a network change decides the end just reported (the Wi-Fi
    // network changed): then the end is not a try's.
    void setNetworkChangePending(std::function<bool()> pending) { networkChangePending_ = std::move(pending); }
    // The protocol of the session in force, if any (the manager knows it).
    void setProtocolInForce(std::function<std::optional<VPNTypes>()> protocol) { protocolInForce_ = std::move(protocol); }
    // Whether Automatic's search for a protocol runs (the manager knows it).
    void setDiscoveryInProgress(std::function<bool()> discovery) { discoveryInProgress_ = std::move(discovery); }
    // Whether the helper's lock is in the kernel now, not only asked for.
    void setLockEngaged(std::function<bool()> engaged) { lockEngaged_ = std::move(engaged); }

    // The retries an attempt gets without the lock: strongSwan's own road
    // reconnects slower than the others and gets more of them, but not
    // while Automatic is still searching.
    static constexpr int kRetries = 4;
    static constexpr int kStrongSwanRetries = 10;
    int autoReconnectTryAttempts_if_NetworkLockDisabled() const;

    // The manager's entries: the machine takes each report, then the window
    // shows it. No window, no entries: nothing counts as current then.
    ConnectionStatusHooks wrap(ConnectionStatusViews window);

    // The user's intents, from any window, the tray or a menu.
    ConnectionIntent primaryIntent() const override;
    void connectOrEnd() override;
    void signOut() override;
    ConnectionLife::State state() const override { return life_->state(); }
    bool wifiNetworkChanged() override;

    // The user's and the network's events.
    bool request(ReconnectReason reason);
    // The reachability watch's report.
    void reachabilityChanged(bool reachable);
    // The lock was engaged for the try `ticket` but gave no server address.
    // Under the lock that try has ended (the next is paced); false: the
    // attempt cannot go on, and the caller ends it.
    bool lockGaveNoAddress(const ConnectionTicket& ticket);
    // A try's end, from whatever ended it; one of an ended try is dropped.
    bool tryEnded(const std::optional<ConnectionTicket>& ticket = std::nullopt);
    // The engine ended the connection by itself (the helper's installation
    // dismissed or failed, the helper lost): nothing of the attempt goes on.
    bool forcedEnd(const char* why);
    // The helper is gone. A tunnel that was up ends its try (the next may
    // find the helper back); an attempt without one ends, and under the lock
    // the lock holds, since nothing may leave outside a tunnel.
    void helperLost(const std::string& text, bool tunnelUp);

    // Fail closed: an event of no try in force is stale.
    std::optional<ConnectionTicket> currentTry() const { return life_->currentTry(); }
    bool isCurrentTry(const ConnectionTicket& ticket, const char* what) const { return life_->isCurrent(ticket, what); }
    bool stopped() const override { return life_->stopped(); }

private:
    ConnectionLife::Hooks hooks();
    // openvpn found the server out of reach: once per try, and not while a
    // change of Wi-Fi network decides instead.
    void serverOutOfReach(const std::string& text);
    void errorReported(const std::string& text);
    void writeViews();

    ConnectionManagerContext& context_;
    std::function<void()> endSession_;
    std::function<bool()> networkChangePending_;
    std::function<std::optional<VPNTypes>()> protocolInForce_;
    std::function<bool()> discoveryInProgress_;
    std::function<bool()> lockEngaged_;
    ConnectionLifeListener* listener_ = nullptr;
    ConnectionStatusViews views_;
    std::unique_ptr<ConnectionLife> life_;
};

}  // namespace hw
