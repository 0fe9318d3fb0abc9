#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/connection_ticket.h"
#include "core/reconnect_reason.h"
#include "platform/main_queue.h"

namespace hw {

// The one owner of a connection's life: an attempt runs from the user's
// Connect (or a take-over, or Wi-Fi security's own connect) to its end, and
// every decision about it is taken here. The window, the tray and the menus
// show its state; the flags other parts read are views written from it.
//
// - A try starts only after the one before has ended.
// - Tries are paced: the first retry after firstMs, each later one twice as
//   long after the last, up to capMs.
// - Tries are counted only while the network is reachable; while it is not,
//   no try starts and the window says it waits for the network.
// - Without a limit (under the lock) tries go on; with one, the attempt ends
//   once that many retries have ended.
// - A refusal (an answer no other try can change) ends the attempt at once,
//   lock or not; under the lock the lock holds until the user lifts it.
// - The attempt is announced once, never again for its later tries.
// - Cancel, sign-out and Wi-Fi security's end stop the attempt: nothing
//   after that reconnects unasked, and a late "established" ends its tunnel.
// - Every event can carry its ticket; one of an ended try is dropped.
// - A change of network within the first second of the reconnect another
//   one began folds into that reconnect while its try has not begun; once
//   it has, the try starts again on the new way out. One banner either way.
//
// Plain C++ on the main queue; virtual time in the tests.
class ConnectionLife {
public:
    struct Timing {
        double firstMs = 500;
        double capMs = 30000;
        // A change of network this soon after the one that began a reconnect
        // is part of the same move (Wi-Fi, then its routes): it folds in.
        double foldMs = 1000;
    };
    enum class State {
        disconnected,       // no attempt: nothing is tried
        connecting,         // a try runs (or the first is about to)
        connected,          // the attempt connected: a drop starts the next
        waiting,            // the next try is due at the paced time
        waitingForNetwork,  // no network: the next try starts when it is back
        heldByLock,         // refused under the lock: it holds until the user lifts it
    };
    // Who began the attempt. Wi-Fi security's mark lasts as long as the attempt.
    enum class Origin { user, takeOver, wifiSecurity };
    using Ticket = ConnectionTicket;
    struct Hooks {
        // Starts one try (the lock road or the direct one).
        std::function<void()> startTry;
        // Ends the session in force, whatever its protocol (a try or a tunnel).
        std::function<void()> endSession;
        // The attempt turned into a reconnect: once per attempt. hadConnected:
        // a tunnel of this attempt was up (a drop, not a first connect).
        std::function<void(bool hadConnected)> announce;
        // The retries allowed; none: without limit.
        std::function<std::optional<int>()> limit;
        // Whether the lock is engaged now (a refusal then holds it).
        std::function<bool()> lockEngaged;
        // The retries are spent: the attempt ends in its error.
        std::function<void()> gaveUp;
        // A refusal ended the attempt; held: the lock holds.
        std::function<void(bool held)> refused;
        // Every change of state: the one place the views are written.
        std::function<void(State from, State to)> stateChanged;
        // The count changed (the state object keeps a copy for other readers).
        std::function<void(int)> countChanged;
        std::function<void(const std::string&)> log;
    };

    ConnectionLife(MainQueue& queue, Hooks hooks, Timing timing);
    ConnectionLife(MainQueue& queue, Hooks hooks) : ConnectionLife(queue, std::move(hooks), Timing{}) {}
    ~ConnectionLife();
    ConnectionLife(const ConnectionLife&) = delete;
    ConnectionLife& operator=(const ConnectionLife&) = delete;

    // A fresh attempt, its count at zero; the caller starts the first try
    // and says so with tryStarted().
    void begin(Origin origin);
    // A try has started (the first of an attempt or one the machine asked for).
    void tryStarted();
    // A tunnel came up. False: no attempt wants it (ended by the user, a
    // sign-out or a refusal), and its session has been ended here.
    bool tunnelEstablished();
    // The user cancelled or disconnected: nothing more is tried.
    void cancel();
    // The user signed out: as a cancel, and no blip after it reconnects.
    void signOut();
    // A secure network: Wi-Fi security's attempt ends whatever its state.
    // False when the attempt is not Wi-Fi security's.
    bool secureNetwork();
    // The lock was lifted (by the user's ×, or turned off): a held lock ends.
    bool lockLifted();
    // The engine ended the connection by itself (the helper's installation
    // dismissed or failed, the helper lost): a running attempt or a tunnel
    // that was up ends, and nothing after it reconnects unasked. A held lock
    // stays held; lockHolds: an engaged lock holds from here, as after a
    // refusal. False when nothing ran.
    bool forcedEnd(const char* why, bool lockHolds = false);
    // The device goes to sleep: the tries after the wake are counted and
    // paced afresh.
    void deviceWillSleep();
    // The one entry for everything that wants the tunnel back or tells of
    // the network. Answers whether it acted (false: absorbed or dropped).
    bool request(ReconnectReason reason);
    // As above, from an event that names its try: an ended try's is dropped.
    bool request(ReconnectReason reason, const Ticket& ticket);

    // The ticket for what a try starts now (a timer, a helper request).
    Ticket ticket() const { return {attempt_, try_}; }
    // The try in force: connecting or connected. Between tries (waiting) and
    // after an end, none: whatever reports then is of an ended try.
    std::optional<Ticket> currentTry() const {
        if (state_ != State::connecting && state_ != State::connected) return std::nullopt;
        return ticket();
    }
    // Whether an event of that ticket still belongs to the try in force;
    // a stale one is logged (once) and must be dropped.
    bool isCurrent(const Ticket& ticket, const char* what) const;

    State state() const { return state_; }
    Origin origin() const { return origin_; }
    bool byWiFiSecurity() const { return origin_ == Origin::wifiSecurity && state_ != State::disconnected; }
    // In an attempt that is not connected: connecting, waiting, or waiting for the network.
    bool inAttempt() const {
        return state_ == State::connecting || state_ == State::waiting || state_ == State::waitingForNetwork;
    }
    // The attempt was ended (by the user, a sign-out, a refusal or spent
    // retries) and none began since: nothing of it may go on. Read elsewhere
    // as "connection initiate canceled".
    bool stopped() const { return state_ == State::disconnected && endedOnPurpose_; }
    // The window keeps its busy look: an attempt runs, or the lock holds.
    bool busy() const { return inAttempt() || state_ == State::heldByLock; }
    // The view others read as "auto-reconnect in progress": the attempt was announced and goes on.
    bool reconnecting() const {
        return state_ == State::waiting || state_ == State::waitingForNetwork ||
               (state_ == State::connecting && announced_);
    }
    // Retries of this attempt that ended while the network was reachable.
    int count() const { return count_; }
    bool reachable() const { return reachable_; }
    // The delay before the retry after `step` earlier paced ones.
    double delayFor(int step) const;
    double nextDelayMs() const { return nextDelayMs_; }
    static const char* stateName(State state);

private:
    void openAttempt(Origin origin);
    void schedule(double ms);
    // The next paced retry: the first after firstMs, each later one doubled.
    void schedulePaced();
    void waitForNetwork();
    void afterTryEnded();
    void announceOnce();
    void end(State to, const char* why);
    // Nothing due, nothing counted: the attempt rests in `to`.
    void settle(State to);
    void setState(State state);
    void setCountTo(int count);
    void openFoldWindow();
    void say(const std::string& text) const;

    MainQueue& queue_;
    Hooks hooks_;
    Timing timing_;
    State state_ = State::disconnected;
    Origin origin_ = Origin::user;
    int count_ = 0;
    int step_ = 0;
    bool announced_ = false;
    bool hadConnected_ = false;
    // The attempt was ended (Cancel, sign-out, a secure network, a refusal,
    // spent retries): a late "established" is its own and is ended, not shown.
    bool endedOnPurpose_ = false;
    // The attempt's try runs: its end is counted (before the first, an end is an echo).
    bool tryRunning_ = false;
    bool reachable_ = true;
    double nextDelayMs_ = 0;
    std::uint64_t attempt_ = 0;
    std::uint64_t try_ = 0;
    // Bumped by every schedule and end: a due try that is no longer wanted drops out.
    std::uint64_t generation_ = 0;
    // A reconnect for a change of network began less than foldMs ago.
    bool folding_ = false;
    std::uint64_t foldWindow_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
