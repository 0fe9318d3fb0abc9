#include "connection/connection_life.h"

#include <algorithm>
#include <cmath>

namespace hw {

ConnectionLife::ConnectionLife(MainQueue& queue, Hooks hooks, Timing timing)
    : queue_(queue), hooks_(std::move(hooks)), timing_(timing) {}

ConnectionLife::~ConnectionLife() { *alive_ = false; }

const char* ConnectionLife::stateName(State state) {
    switch (state) {
        case State::disconnected: return "disconnected";
        case State::connecting: return "connecting";
        case State::connected: return "connected";
        case State::waiting: return "waiting";
        case State::waitingForNetwork: return "waiting for the network";
        case State::heldByLock: return "held by the lock";
    }
    return "?";
}

double ConnectionLife::delayFor(int step) const {
    if (step <= 0) return timing_.firstMs;
    // Doubling, without overflow for any step.
    const double grown = timing_.firstMs * std::pow(2.0, std::min(step, 30));
    return std::min(grown, timing_.capMs);
}

void ConnectionLife::say(const std::string& text) const {
    if (hooks_.log) hooks_.log("connection life: " + text);
}

void ConnectionLife::setState(State state) {
    if (state_ == state) return;
    const State from = state_;
    state_ = state;
    say(std::string(stateName(from)) + " -> " + stateName(state));
    if (hooks_.stateChanged) hooks_.stateChanged(from, state);
}

void ConnectionLife::setCountTo(int count) {
    if (count_ == count) return;
    count_ = count;
    if (hooks_.countChanged) hooks_.countChanged(count);
}

void ConnectionLife::openAttempt(Origin origin) {
    ++attempt_;
    ++generation_;
    origin_ = origin;
    step_ = 0;
    announced_ = false;
    hadConnected_ = false;
    endedOnPurpose_ = false;
    tryRunning_ = false;
    setCountTo(0);
}

void ConnectionLife::openFoldWindow() {
    folding_ = true;
    const std::uint64_t window = ++foldWindow_;
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(timing_.foldMs, [this, alive, window] {
        if (alive.lock() && window == foldWindow_) folding_ = false;
    });
}

void ConnectionLife::begin(Origin origin) {
    say(std::string("a new attempt (") +
        (origin == Origin::user ? "the user's Connect" : origin == Origin::takeOver ? "a take-over" : "Wi-Fi security") +
        "), its count at 0");
    openAttempt(origin);
    reachable_ = true;
    folding_ = false;
    setState(State::connecting);
}

void ConnectionLife::tryStarted() {
    // A try that starts outside an attempt opens one; a reconnect of a tunnel
    // keeps the attempt's origin (Wi-Fi security's mark stays).
    if (state_ == State::disconnected || state_ == State::heldByLock) openAttempt(Origin::user);
    else if (state_ == State::connected) openAttempt(origin_);
    ++try_;
    ++generation_;
    tryRunning_ = true;
    setState(State::connecting);
}

bool ConnectionLife::tunnelEstablished() {
    if (state_ == State::heldByLock || (state_ == State::disconnected && endedOnPurpose_)) {
        // The attempt it belonged to has ended: its tunnel must not stay.
        say("a late \"established\" of an ended attempt: its tunnel ends");
        if (hooks_.endSession) hooks_.endSession();
        return false;
    }
    // A tunnel found up with no attempt of ours (a take-over) is adopted.
    if (state_ == State::disconnected) openAttempt(Origin::takeOver);
    hadConnected_ = true;
    settle(State::connected);
    return true;
}

void ConnectionLife::settle(State to) {
    ++generation_;
    step_ = 0;
    announced_ = false;
    tryRunning_ = false;
    setCountTo(0);
    setState(to);
}

void ConnectionLife::end(State to, const char* why) {
    say(std::string("the attempt ends: ") + why);
    const State before = state_;
    endedOnPurpose_ = true;
    folding_ = false;
    settle(to);
    // The views read "ended on purpose" even where the state stays.
    if (before == to && hooks_.stateChanged) hooks_.stateChanged(to, to);
}

void ConnectionLife::cancel() { end(State::disconnected, "the user cancelled or disconnected"); }

void ConnectionLife::signOut() {
    end(State::disconnected, "the user signed out");
    reachable_ = true;
}

bool ConnectionLife::secureNetwork() {
    if (origin_ != Origin::wifiSecurity || state_ == State::disconnected) return false;
    if (hooks_.endSession) hooks_.endSession();
    end(State::disconnected, "Wi-Fi security's attempt on a secure network");
    return true;
}

bool ConnectionLife::forcedEnd(const char* why, bool lockHolds) {
    if (state_ == State::disconnected || state_ == State::heldByLock) return false;
    end(lockHolds ? State::heldByLock : State::disconnected, why);
    return true;
}

bool ConnectionLife::lockLifted() {
    if (state_ != State::heldByLock) return false;
    end(State::disconnected, "the held lock was lifted");
    return true;
}

void ConnectionLife::deviceWillSleep() {
    say("the device sleeps: the tries after the wake are counted afresh");
    step_ = 0;
    setCountTo(0);
}

bool ConnectionLife::isCurrent(const Ticket& ticket, const char* what) const {
    if (currentTry() == ticket) return true;
    say(std::string("dropped: ") + what + " of attempt " + std::to_string(ticket.attempt) + " try " +
        std::to_string(ticket.tryNo) + " (now attempt " + std::to_string(attempt_) + " try " + std::to_string(try_) +
        ", " + stateName(state_) + ")");
    return false;
}

void ConnectionLife::announceOnce() {
    if (announced_) return;
    announced_ = true;
    if (hooks_.announce) hooks_.announce(hadConnected_);
}

void ConnectionLife::schedule(double ms) {
    const std::uint64_t generation = ++generation_;
    nextDelayMs_ = ms;
    tryRunning_ = false;
    setState(State::waiting);
    say("the next try in " + std::to_string(static_cast<long long>(ms)) + " ms (retries counted: " +
        std::to_string(count_) + ")");
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(ms, [this, alive, generation] {
        if (!alive.lock() || generation != generation_ || state_ != State::waiting) return;
        // The caller's startTry says so through tryStarted().
        if (hooks_.startTry) hooks_.startTry();
        if (state_ == State::waiting) tryStarted();
    });
}

void ConnectionLife::waitForNetwork() {
    ++generation_;
    tryRunning_ = false;
    say("no network; the next try starts when it is back");
    setState(State::waitingForNetwork);
}

void ConnectionLife::afterTryEnded() {
    tryRunning_ = false;
    announceOnce();
    if (!reachable_) {
        // Not counted: the try could not have reached anything.
        waitForNetwork();
        return;
    }
    const auto limit = hooks_.limit ? hooks_.limit() : std::nullopt;
    if (limit && count_ >= *limit) {
        end(State::disconnected, (std::to_string(count_) + " retries ended").c_str());
        if (hooks_.gaveUp) hooks_.gaveUp();
        return;
    }
    setCountTo(count_ + 1);
    schedulePaced();
}

void ConnectionLife::schedulePaced() { schedule(delayFor(step_++)); }

bool ConnectionLife::request(ReconnectReason reason, const Ticket& ticket) {
    if (!isCurrent(ticket, reconnectReasonName(reason))) return false;
    return request(reason);
}

bool ConnectionLife::request(ReconnectReason reason) {
    say(std::string(reconnectReasonName(reason)) + " (" + stateName(state_) + ")");
    const bool ended = state_ == State::disconnected || state_ == State::heldByLock;
    switch (reason) {
        case ReconnectReason::networkLost:
            reachable_ = false;
            if (state_ == State::waiting) {
                waitForNetwork();
                return true;
            }
            if (state_ == State::connected) {
                // The tunnel's way out is gone: it is not shown as connected.
                openAttempt(origin_);
                hadConnected_ = true;
                announceOnce();
                if (hooks_.endSession) hooks_.endSession();
                waitForNetwork();
                return true;
            }
            // A try in flight runs on (it may yet get through); its end is not counted.
            return false;
        case ReconnectReason::networkReturned:
            reachable_ = true;
            if (state_ != State::waitingForNetwork) return false;
            step_ = 0;
            schedulePaced();
            return true;
        case ReconnectReason::refused: {
            if (ended) return false;
            const bool held = hooks_.lockEngaged && hooks_.lockEngaged();
            end(held ? State::heldByLock : State::disconnected, "refused: another try cannot change the answer");
            if (hooks_.refused) hooks_.refused(held);
            return true;
        }
        case ReconnectReason::networkChanged:
        case ReconnectReason::woke:
            reachable_ = true;
            // After an end only the user goes on.
            if (ended) return false;
            if (folding_ && state_ == State::waiting) {
                // Its try has not begun: it will begin on the network as it is now.
                say("a change within the reconnect's first second: it folds into that reconnect");
                return false;
            }
            {
                // A try that began already runs over the way out of the first
                // change: it is a reconnect again, told to the user once for both.
                const bool pair = folding_;
                if (pair) say("a change after the reconnect's try began: that try starts again");
                openFoldWindow();
                // The session in force runs over the old way out: it ends, and a
                // new try starts on the new one, with a fresh count.
                if (state_ == State::connected || state_ == State::connecting) {
                    if (hooks_.endSession) hooks_.endSession();
                }
                if (state_ == State::connected) {
                    openAttempt(origin_);
                    hadConnected_ = true;
                    // Its banner was shown a moment ago.
                    announced_ = pair;
                }
            }
            announceOnce();
            step_ = 0;
            setCountTo(0);
            schedulePaced();
            return true;
        case ReconnectReason::tryEnded:
            switch (state_) {
                case State::disconnected:
                case State::heldByLock:
                case State::waiting:
                case State::waitingForNetwork:
                    // No try runs: a second report of one that ended, or
                    // the end of a session the user ended.
                    return false;
                case State::connected:
                    // The tunnel that was up went down: a new attempt. What
                    // is left of its session ends before the first try.
                    openAttempt(origin_);
                    hadConnected_ = true;
                    announceOnce();
                    if (hooks_.endSession) hooks_.endSession();
                    if (!reachable_) {
                        waitForNetwork();
                        return true;
                    }
                    schedulePaced();
                    return true;
                case State::connecting:
                    // Before the attempt's first try has started: an echo of
                    // the session before it.
                    if (!tryRunning_) return false;
                    afterTryEnded();
                    return true;
            }
    }
    return false;
}

}  // namespace hw
