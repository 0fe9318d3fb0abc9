#include "windows/details_pane/reconnect_policy.h"

#include <algorithm>
#include <cmath>

namespace hw {

ReconnectPolicy::ReconnectPolicy(MainQueue& queue, Hooks hooks, Timing timing)
    : queue_(queue), hooks_(std::move(hooks)), timing_(timing) {}

ReconnectPolicy::~ReconnectPolicy() { *alive_ = false; }

const char* ReconnectPolicy::stateName(State state) {
    switch (state) {
        case State::idle: return "idle";
        case State::connected: return "connected";
        case State::trying: return "trying";
        case State::waiting: return "waiting";
        case State::waitingForNetwork: return "waiting for the network";
    }
    return "?";
}

double ReconnectPolicy::delayFor(int step) const {
    if (step <= 0) return timing_.firstMs;
    // Doubling, without overflow for any step.
    const double grown = timing_.firstMs * std::pow(2.0, std::min(step, 30));
    return std::min(grown, timing_.capMs);
}

void ReconnectPolicy::say(const std::string& text) const {
    if (hooks_.log) hooks_.log(text);
}

void ReconnectPolicy::setState(State state) {
    if (state_ == state) return;
    const bool wasWaitingForNetwork = state_ == State::waitingForNetwork;
    state_ = state;
    if (wasWaitingForNetwork && hooks_.waitingForNetwork) hooks_.waitingForNetwork(false);
    if (state == State::waitingForNetwork && hooks_.waitingForNetwork) hooks_.waitingForNetwork(true);
}

void ReconnectPolicy::setCountTo(int count) {
    count_ = count;
    if (hooks_.countChanged) hooks_.countChanged(count);
}

void ReconnectPolicy::setCount(int count) { setCountTo(count); }

void ReconnectPolicy::beginAttempt() {
    ++generation_;
    step_ = 0;
    announced_ = false;
    setCountTo(0);
}

void ReconnectPolicy::beginUserAttempt() {
    say("reconnect policy: a new attempt (the user's Connect), its count at 0");
    beginAttempt();
    reachable_ = true;
    setState(State::idle);
}

void ReconnectPolicy::tryStarted() {
    // A try that starts outside an attempt (the first of the user's, or one a
    // road such as automatic Wi-Fi security started) opens one.
    if (state_ == State::idle || state_ == State::connected) beginAttempt();
    ++generation_;
    setState(State::trying);
}

void ReconnectPolicy::connected() {
    ++generation_;
    step_ = 0;
    announced_ = false;
    setCountTo(0);
    setState(State::connected);
}

void ReconnectPolicy::cancel() {
    ++generation_;
    step_ = 0;
    announced_ = false;
    setCountTo(0);
    setState(State::idle);
}

void ReconnectPolicy::schedule(double ms) {
    const std::uint64_t generation = ++generation_;
    nextDelayMs_ = ms;
    setState(State::waiting);
    say("reconnect policy: the next try in " + std::to_string(static_cast<long long>(ms)) + " ms (retries counted: " +
        std::to_string(count_) + ")");
    std::weak_ptr<bool> alive = alive_;
    queue_.postAfter(ms, [this, alive, generation] {
        if (!alive.lock() || generation != generation_ || state_ != State::waiting) return;
        // The pane's startTry says so through tryStarted().
        if (hooks_.startTry) hooks_.startTry();
        if (state_ == State::waiting) setState(State::trying);
    });
}

void ReconnectPolicy::waitForNetwork() {
    ++generation_;
    say("reconnect policy: no network; the next try starts when it is back");
    setState(State::waitingForNetwork);
}

void ReconnectPolicy::afterTryEnded() {
    if (!announced_) {
        announced_ = true;
        if (hooks_.announce) hooks_.announce();
    }
    if (!reachable_) {
        // Not counted: the try could not have reached anything.
        waitForNetwork();
        return;
    }
    const auto limit = hooks_.limit ? hooks_.limit() : std::nullopt;
    if (limit && count_ >= *limit) {
        say("reconnect policy: " + std::to_string(count_) + " retries ended; the attempt ends");
        ++generation_;
        setState(State::idle);
        if (hooks_.gaveUp) hooks_.gaveUp();
        return;
    }
    setCountTo(count_ + 1);
    schedule(delayFor(step_++));
}

bool ReconnectPolicy::request(ReconnectReason reason) {
    const State before = state_;
    say(std::string("reconnect policy: ") + reconnectReasonName(reason) + " (" + stateName(before) + ")");
    switch (reason) {
        case ReconnectReason::networkLost:
            reachable_ = false;
            if (state_ == State::waiting) {
                waitForNetwork();
                return true;
            }
            if (state_ == State::connected) {
                // The tunnel's way out is gone: it is not shown as connected.
                beginAttempt();
                announced_ = true;
                if (hooks_.announce) hooks_.announce();
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
            schedule(timing_.firstMs);
            return true;
        case ReconnectReason::refused:
            if (state_ == State::idle) return false;
            ++generation_;
            setState(State::idle);
            if (hooks_.refused) hooks_.refused();
            return true;
        case ReconnectReason::networkChanged:
        case ReconnectReason::woke:
            reachable_ = true;
            if (state_ == State::idle) return false;
            // The session in force runs over the old way out: it ends, and a
            // new try starts on the new one, with a fresh count.
            if (state_ == State::connected || state_ == State::trying) {
                if (hooks_.endSession) hooks_.endSession();
            }
            if (state_ == State::connected) beginAttempt();
            if (!announced_) {
                announced_ = true;
                if (hooks_.announce) hooks_.announce();
            }
            step_ = 0;
            setCountTo(0);
            schedule(timing_.firstMs);
            return true;
        case ReconnectReason::tryEnded:
            switch (state_) {
                case State::idle:
                case State::waiting:
                case State::waitingForNetwork:
                    // No try runs: a second report of one that ended, or
                    // the end of a session the user ended.
                    return false;
                case State::connected:
                    // The tunnel that was up went down: a new attempt. What
                    // is left of its session ends before the first try.
                    beginAttempt();
                    announced_ = true;
                    if (hooks_.announce) hooks_.announce();
                    if (hooks_.endSession) hooks_.endSession();
                    if (!reachable_) {
                        waitForNetwork();
                        return true;
                    }
                    schedule(timing_.firstMs);
                    return true;
                case State::trying:
                    afterTryEnded();
                    return true;
            }
    }
    return false;
}

}  // namespace hw
