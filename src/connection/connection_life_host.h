#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/connection_life.h"

namespace hw {

class ConnectionManagerContext;

// What the manager reports of a connection's state. The window installs its
// own; the host puts the machine first.
struct ConnectionStatusHooks {
    std::function<void()> established;
    std::function<void(const std::string&)> error;
    std::function<void()> connecting;
    std::function<void(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear)> disconnected;
    // The system refused the try outright: the attempt ends in its error.
    std::function<void(const std::string&)> refused;
    // The lock was lifted and nothing leads out: no quiet Connect.
    std::function<void()> noWayOut;
};

// The window that shows the attempt. It starts the tries (it knows the
// location) and draws what the machine decided; it decides nothing.
class ConnectionLifeListener {
public:
    virtual ~ConnectionLifeListener() = default;
    virtual void startTry() = 0;
    virtual void announceReconnect(bool hadConnected) = 0;
    virtual void attemptGaveUp() = 0;
    virtual void attemptRefused(bool held) = 0;
    virtual void lifeChanged(ConnectionLife::State from, ConnectionLife::State to) = 0;
};

// The application's one ConnectionLife, owned by the connection layer. The
// windows, the tray and the menus send intents here and read its state; the
// engine's reports reach the machine here, before any window sees them. The
// flags other parts read are written from its state in one place.
class ConnectionLifeHost {
public:
    // The first retry's delay, as it always was; later retries double it up
    // to the cap, so that tries that keep failing cost a few a minute.
    static constexpr double kReconnectDelayMs = 500;
    static constexpr double kReconnectCapMs = 30000;

    // endSession ends the session in force, whatever its protocol.
    ConnectionLifeHost(MainQueue& queue, ConnectionManagerContext& context, std::function<void()> endSession);
    ~ConnectionLifeHost();
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

    // The window's hooks, behind the machine's own.
    ConnectionStatusHooks wrap(ConnectionStatusHooks window);

    // The user's and the network's events.
    bool request(ReconnectReason reason);
    void signOut();
    // A try's end, from whatever ended it; one of an ended try is dropped.
    bool tryEnded(const std::optional<ConnectionTicket>& ticket = std::nullopt);
    // The engine ended the connection by itself (the helper's installation
    // dismissed or failed, the helper lost): nothing of the attempt goes on.
    bool forcedEnd(const char* why);

    // Fail closed: an event of no try in force is stale.
    std::optional<ConnectionTicket> currentTry() const { return life_->currentTry(); }
    bool isCurrentTry(const ConnectionTicket& ticket, const char* what) const { return life_->isCurrent(ticket, what); }
    bool stopped() const { return life_->stopped(); }

private:
    ConnectionLife::Hooks hooks();
    void writeViews();

    ConnectionManagerContext& context_;
    std::function<void()> endSession_;
    std::function<bool()> networkChangePending_;
    ConnectionLifeListener* listener_ = nullptr;
    std::unique_ptr<ConnectionLife> life_;
};

}  // namespace hw
