#include "network/probe_url_reachability_helper.h"

#include <algorithm>

#include "network/host_name.h"
#include "platform/log.h"

namespace hw {

ProbeURLReachabilityHelper::ProbeURLReachabilityHelper(HttpClient& http, MainQueue& main) : http_(http), main_(main) {}

ProbeURLReachabilityHelper::~ProbeURLReachabilityHelper() = default;

void ProbeURLReachabilityHelper::startProbeURLChecking(const std::string& url) {
    retry_.reset();
    ++sequence_;
    cancel_ = false;
    requestInFlight_ = false;
    timeout_ = kInitialTimeout;
    attempts_ = 0;
    url_ = url;
    inProgress_ = true;
    if (!isValidProbeURL(url)) {
        log::warning("probe", "probe address is not a valid http(s) URL");
        // Answer as a finished sequence would: later, on the main queue.
        std::weak_ptr<int> alive = alive_;
        auto seq = sequence_;
        main_.post([this, alive, seq] {
            if (alive.expired() || seq != sequence_ || cancel_) return;
            finish(false);
        });
        return;
    }
    attempt(sequence_);
}

void ProbeURLReachabilityHelper::stopProbeURLChecking() {
    cancel_ = true;
    if (inProgress_ && !requestInFlight_) {
        retry_.reset();
        inProgress_ = false;
    }
}

void ProbeURLReachabilityHelper::attempt(std::uint64_t sequence) {
    ++attempts_;
    requestInFlight_ = true;
    HttpRequest request;
    request.method = "GET";
    request.url = url_;
    request.timeoutMs = timeout_ * 1000.0;
    request.ignoreCache = true;
    std::weak_ptr<int> alive = alive_;
    http_.send(std::move(request), [this, alive, sequence](HttpResponse response) {
        if (alive.expired()) return;
        onAnswer(sequence, response);
    });
}

void ProbeURLReachabilityHelper::onAnswer(std::uint64_t sequence, const HttpResponse& response) {
    if (sequence != sequence_) return;  // a newer sequence owns the state
    requestInFlight_ = false;
    if (cancel_) {
        inProgress_ = false;
        return;
    }
    if (!response.error && response.status >= 200 && response.status < 300) {
        finish(true);
        return;
    }
    if (attempts_ >= kMaxAttempts) {
        finish(false);
        return;
    }
    double wait = timeout_;
    timeout_ = std::min(timeout_ * 2.0, kMaxTimeout);
    std::weak_ptr<int> alive = alive_;
    retry_ = main_.startTimer(wait * 1000.0, false, [this, alive, sequence] {
        if (alive.expired() || sequence != sequence_ || cancel_) return;
        attempt(sequence);
    });
}

void ProbeURLReachabilityHelper::finish(bool succeeded) {
    inProgress_ = false;
    log::info("probe", succeeded ? "probe address answered" : "probe address did not answer; giving up");
    if (auto d = delegate.lock()) {
        if (succeeded) d->onProbeURL_Succeded();
        else d->onProbeURL_Failed();
    }
}

}  // namespace hw
