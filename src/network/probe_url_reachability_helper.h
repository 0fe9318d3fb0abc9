#pragma once
#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw {

class ProbeURLDelegate {
public:
    virtual ~ProbeURLDelegate() = default;
    virtual void onProbeURL_Succeded() = 0;
    virtual void onProbeURL_Failed() = 0;
};

// Probes an address until it answers, backing off between attempts.
// Attempt n waits PROBE_URL_CALL_TIMEOUT for an answer (1.5 s, doubled after
// each failure, at most 12 s), and the next attempt starts that many seconds
// after the failure; after kMaxAttempts failures the delegate hears
// onProbeURL_Failed. Any 2xx answer is success. Main queue only; the
// delegate is called on the main queue.
class ProbeURLReachabilityHelper {
public:
    static constexpr double kInitialTimeout = 1.5;  // seconds
    static constexpr double kMaxTimeout = 12.0;
    static constexpr int kMaxAttempts = 6;

    ProbeURLReachabilityHelper(HttpClient& http, MainQueue& main);
    ~ProbeURLReachabilityHelper();

    std::weak_ptr<ProbeURLDelegate> delegate;

    // Starts a new sequence; one still running is abandoned without a word.
    void startProbeURLChecking(const std::string& url);
    // Only raises cancelProbeURLChecking: a request in flight still finishes
    // (its outcome is dropped); a wait between attempts ends at once.
    void stopProbeURLChecking();

    bool probeURLCallInProgress() const { return inProgress_; }
    bool cancelProbeURLChecking() const { return cancel_; }
    double PROBE_URL_CALL_TIMEOUT() const { return timeout_; }
    int attemptsMade() const { return attempts_; }

private:
    void attempt(std::uint64_t sequence);
    void onAnswer(std::uint64_t sequence, const HttpResponse& response);
    void finish(bool succeeded);

    HttpClient& http_;
    MainQueue& main_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<Timer> retry_;
    std::string url_;
    std::uint64_t sequence_ = 0;
    bool inProgress_ = false;
    bool requestInFlight_ = false;
    bool cancel_ = false;
    double timeout_ = kInitialTimeout;
    int attempts_ = 0;
};

}  // namespace hw
