#include "network/reachability.h"

#include <cstdlib>

#include "havenway/build_config.h"
#include "network/host_name.h"
#include "platform/log.h"

namespace hw {

Reachability::Reachability(HttpClient& http, MainQueue& main, double timeoutMs)
    : http_(http), main_(main), timeoutMs_(timeoutMs) {
    const char* redirect = std::getenv("HAVENWAY_BACKEND_HOST");
    host_ = redirect && *redirect ? redirect : HW_DEFAULT_BACKEND_HOST;
}

void Reachability::setBackendHost(std::string host) {
    std::lock_guard lock(mutex_);
    host_ = std::move(host);
}

std::string Reachability::backendHost() const {
    std::lock_guard lock(mutex_);
    return host_;
}

void Reachability::checkReachability(std::function<void(bool)> completion) {
    auto host = backendHost();
    if (!isValidHostName(host)) {
        log::warning("reachability", "backend host is not a valid host name; answering unreachable");
        main_.post([completion = std::move(completion)] { completion(false); });
        return;
    }
    HttpRequest request;
    request.method = "HEAD";
    request.url = "https://" + host;
    request.timeoutMs = timeoutMs_;
    request.ignoreCache = true;
    http_.send(std::move(request), [completion = std::move(completion)](HttpResponse response) {
        completion(!response.error && response.status == 200);
    });
}

}  // namespace hw
