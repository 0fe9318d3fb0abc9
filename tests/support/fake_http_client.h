#pragma once
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw::test {

// Records requests. Answers come from `responder` (or the scripted list)
// and are delivered through the main queue, as the real client does; with
// neither, the request stays pending until the test calls respond().
class FakeHttpClient final : public HttpClient {
public:
    explicit FakeHttpClient(MainQueue& queue) : queue_(queue) {}
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        std::lock_guard lock(mutex_);
        requests.push_back(request);
        if (responder) {
            auto r = bounded(request, responder(request));
            queue_.post([completion, r] { completion(r); });
        } else if (!scripted.empty()) {
            auto r = bounded(request, scripted.front());
            scripted.pop_front();
            queue_.post([completion, r] { completion(r); });
        } else {
            pending_.push_back(std::move(completion));
        }
    }
    // Answers the oldest pending request.
    bool respond(HttpResponse response) {
        std::function<void(HttpResponse)> c;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return false;
            c = std::move(pending_.front());
            pending_.pop_front();
        }
        queue_.post([c, response] { c(response); });
        return true;
    }
    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    // As the real client: an answer past the request's bound is refused.
    static HttpResponse bounded(const HttpRequest& request, HttpResponse r) {
        if (request.maxResponseBytes <= 0 || static_cast<std::int64_t>(r.body.size()) <= request.maxResponseBytes) return r;
        return failed(HttpTooLarge, "the answer is larger than " + std::to_string(request.maxResponseBytes) +
                                        " bytes");
    }
    static HttpResponse ok(std::string body, int status = 200, HttpHeaders headers = {}) {
        HttpResponse r;
        r.status = status;
        r.body = std::move(body);
        r.headers = std::move(headers);
        return r;
    }
    static HttpResponse failed(int code, std::string message) {
        HttpResponse r;
        r.error = HttpTransportError{code, std::move(message)};
        return r;
    }
    std::vector<HttpRequest> requests;
    std::deque<HttpResponse> scripted;
    std::function<HttpResponse(const HttpRequest&)> responder;

private:
    MainQueue& queue_;
    mutable std::mutex mutex_;
    std::deque<std::function<void(HttpResponse)>> pending_;
};

}  // namespace hw::test
