#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/reconnect_reason.h"
#include "platform/main_queue.h"

namespace hw {

// The one retry policy of every protocol, lock or not. An attempt is what a
// user's Connect (or a tunnel that went down) starts; it is made of tries.
//
// - A try starts only after the one before has ended: a request while a try
//   runs is the end of that try, and is taken once.
// - Tries are paced: the first retry after firstMs (half a second),
//   each later one twice as long after the last, up to capMs.
// - Tries are counted only while the network is reachable; while it is not,
//   no try starts, the pane says it waits for the network, and a try starts
//   firstMs after it returns.
// - Without a limit (under the lock) tries go on; with one, the attempt ends
//   once that many retries have ended.
// - A try the system refused outright ends the attempt at once, lock or not.
// - The attempt is announced once (the kill-switch banner): never again for
//   its later tries.
//
// Plain C++ on the main queue; virtual time in the tests.
class ReconnectPolicy {
public:
    struct Timing {
        double firstMs = 500;
        double capMs = 30000;
    };
    enum class State {
        idle,               // no attempt: nothing is tried
        connected,          // the attempt connected: a drop starts the next
        trying,             // a try runs
        waiting,            // the next try is due at the paced time
        waitingForNetwork,  // no network: the next try starts when it is back
    };
    struct Hooks {
        // Starts one try (the lock road or the direct one).
        std::function<void()> startTry;
        // Ends the session in force, whatever its protocol (a try or a tunnel).
        std::function<void()> endSession;
        // The attempt turned into a reconnect: once per attempt.
        std::function<void()> announce;
        // The pane shows that it waits for the network (true) or not.
        std::function<void(bool)> waitingForNetwork;
        // The retries allowed; none: without limit.
        std::function<std::optional<int>()> limit;
        // The retries are spent: the attempt ends in its error.
        std::function<void()> gaveUp;
        // The system refused the try: the attempt ends in its error.
        std::function<void()> refused;
        // The count changed (the state object keeps a copy for other readers).
        std::function<void(int)> countChanged;
        std::function<void(const std::string&)> log;
    };

    ReconnectPolicy(MainQueue& queue, Hooks hooks, Timing timing);
    ReconnectPolicy(MainQueue& queue, Hooks hooks) : ReconnectPolicy(queue, std::move(hooks), Timing{}) {}
    ~ReconnectPolicy();
    ReconnectPolicy(const ReconnectPolicy&) = delete;
    ReconnectPolicy& operator=(const ReconnectPolicy&) = delete;

    // A user's Connect: a fresh attempt, its count at zero. The pane starts
    // the first try itself and says so with tryStarted().
    void beginUserAttempt();
    // A try has started (the first of an attempt or one the policy asked for).
    void tryStarted();
    // The try connected: the attempt is over.
    void connected();
    // The user cancelled or disconnected, or signed out: nothing more is tried.
    void cancel();
    // The one entry for everything that wants the tunnel back or tells of
    // the network. Answers whether it acted (false: absorbed, e.g. a second
    // report of a try that already ended).
    bool request(ReconnectReason reason);

    State state() const { return state_; }
    // In an attempt that is not connected: trying, waiting, or waiting for the network.
    bool inAttempt() const {
        return state_ == State::trying || state_ == State::waiting || state_ == State::waitingForNetwork;
    }
    // Retries of this attempt that ended while the network was reachable.
    int count() const { return count_; }
    // A caller that must stop the retries (automatic Wi-Fi security) sets the
    // count; at or past the limit the next end gives up.
    void setCount(int count);
    bool reachable() const { return reachable_; }
    // The delay before the retry after `step` earlier paced ones.
    double delayFor(int step) const;
    // When the next try is due, in the queue's time (for the tests and the log).
    double nextDelayMs() const { return nextDelayMs_; }
    static const char* stateName(State state);

private:
    void beginAttempt();
    void schedule(double ms);
    void waitForNetwork();
    void afterTryEnded();
    void setState(State state);
    void setCountTo(int count);
    void say(const std::string& text) const;

    MainQueue& queue_;
    Hooks hooks_;
    Timing timing_;
    State state_ = State::idle;
    int count_ = 0;
    int step_ = 0;
    bool announced_ = false;
    bool reachable_ = true;
    double nextDelayMs_ = 0;
    // Bumped by every schedule and cancel: a due try that is no longer wanted drops out.
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
