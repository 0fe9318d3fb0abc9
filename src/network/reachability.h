#pragma once
#include <functional>
#include <mutex>
#include <string>

#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw {

// One question to the backend: does "https://<backendHost>" answer a HEAD
// with 200 within 10 seconds, bypassing every cache.
class Reachability {
public:
    static constexpr double kTimeoutMs = 10000;

    // The initial host is the deployment's backend host (build setting),
    // unless HAVENWAY_BACKEND_HOST redirects it. Tests may shorten the timeout.
    Reachability(HttpClient& http, MainQueue& main, double timeoutMs = kTimeoutMs);

    // The hub assigns the configured domain before each check; any thread.
    void setBackendHost(std::string host);
    std::string backendHost() const;

    // The completion runs once, on the main queue: true only for status 200.
    // A host that is not a plain host name answers false without a request.
    void checkReachability(std::function<void(bool)> completion);

private:
    HttpClient& http_;
    MainQueue& main_;
    double timeoutMs_;
    mutable std::mutex mutex_;
    std::string host_;
};

}  // namespace hw
