#pragma once
// A Parse-compatible backend and web API in memory, behind the HTTP port, so the
// services run through the real backend client in unit tests.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "platform/backend/parse_core.h"
#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw::test {

class FakeBackend final : public HttpClient {
public:
    static constexpr char kServerURL[] = "https://backend.test/parse";

    // What a cloud function answers: a result, or an error code and text.
    struct Reply {
        JSON result;
        int errorCode = 0;
        std::string errorText;
        static Reply ok(JSON r) { return Reply{std::move(r), 0, {}}; }
        static Reply error(int code, std::string text) { return Reply{JSON(), code, std::move(text)}; }
    };
    using Function = std::function<Reply(const JSON& params)>;

    explicit FakeBackend(MainQueue& queue) : queue_(queue) {}

    static ParseClientConfig clientConfig(const std::string& datastorePath = {}) {
        ParseClientConfig c;
        c.applicationId = "app";
        c.clientKey = "client";
        c.serverURL = kServerURL;
        c.secretService = "com.havenway.test";
        c.datastorePath = datastorePath;
        c.requestTimeoutMs = 10000;
        return c;
    }

    // ---- what the backend holds ----
    std::map<std::string, Function> functions;
    JSON configParams = JSON(std::map<std::string, JSON>{});
    std::optional<Reply> configError;
    // Objects by class, each a dictionary with "objectId".
    std::map<std::string, std::vector<JSON>> classes;
    std::optional<Reply> findError;  // every query fails with it while set
    // While set, a query answers its "skip" and "limit" and a count when asked,
    // as the real server does; otherwise it answers the whole class.
    bool pages = false;
    std::string sessionUserId = "user1";
    std::string sessionUserName = "user@example.com";
    // Other hosts (the web API, the identity service, the trackers).
    std::function<HttpResponse(const HttpRequest&)> web;
    // While set, answers wait until release().
    bool hold = false;

    std::vector<HttpRequest> requests;

    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        HttpResponse response = answer(request);
        std::lock_guard lock(mutex_);
        requests.push_back(request);
        if (hold) {
            held_.emplace_back(std::move(completion), std::move(response));
            return;
        }
        queue_.post([completion = std::move(completion), response] { completion(response); });
    }
    void release() {
        std::deque<std::pair<std::function<void(HttpResponse)>, HttpResponse>> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
            hold = false;
        }
        for (auto& [c, r] : held) queue_.post([c = std::move(c), r = std::move(r)] { c(r); });
    }
    // Requests whose URL contains the text.
    std::vector<HttpRequest> requestsTo(const std::string& text) const {
        std::vector<HttpRequest> out;
        for (const auto& r : requests) {
            if (r.url.find(text) != std::string::npos) out.push_back(r);
        }
        return out;
    }
    // Saved objects of a class (POST /classes/<name>), in order.
    std::vector<JSON> saved(const std::string& className) const {
        auto it = saved_.find(className);
        return it == saved_.end() ? std::vector<JSON>{} : it->second;
    }

    static HttpResponse json(int status, const JSON& body) {
        HttpResponse r;
        r.status = status;
        r.body = body.rawString(JSONEncoding::utf8, JSONWritingOptions::none).value_or("{}");
        return r;
    }

private:
    static std::size_t param(const std::string& url, const std::string& key, std::size_t absent) {
        for (const char sep : {'?', '&'}) {
            const auto at = url.find(sep + key + "=");
            if (at != std::string::npos) return std::strtoul(url.c_str() + at + key.size() + 2, nullptr, 10);
        }
        return absent;
    }
    static HttpResponse errorResponse(const Reply& reply) {
        return json(400, JSON::dictionaryLiteral({{"code", reply.errorCode}, {"error", reply.errorText}}));
    }

    HttpResponse answer(const HttpRequest& request) {
        const std::string base = kServerURL;
        if (request.url.rfind(base, 0) != 0) {
            if (web) return web(request);
            HttpResponse r;
            r.error = HttpTransportError{HttpCannotConnect, "no such host"};
            return r;
        }
        std::string path = request.url.substr(base.size());
        const auto query = path.find('?');
        if (query != std::string::npos) path = path.substr(0, query);
        if (path.rfind("/functions/", 0) == 0) {
            auto it = functions.find(path.substr(11));
            if (it == functions.end()) return errorResponse(Reply::error(141, "Invalid function"));
            auto reply = it->second(JSON::parse(request.body));
            if (reply.errorCode != 0) return errorResponse(reply);
            return json(200, JSON::dictionaryLiteral({{"result", reply.result}}));
        }
        if (path == "/config") {
            if (configError) return errorResponse(*configError);
            return json(200, JSON::dictionaryLiteral({{"params", configParams}}));
        }
        if (path == "/users/me") {
            return json(200, JSON::dictionaryLiteral({{"objectId", sessionUserId}, {"username", sessionUserName}}));
        }
        if (path == "/logout") return json(200, JSON::dictionaryLiteral({}));
        if (path.rfind("/classes/", 0) == 0) {
            const auto cls = path.substr(9);
            if (request.method == "GET") {
                if (findError) return errorResponse(*findError);
                if (!pages) return json(200, JSON::dictionaryLiteral({{"results", JSON(classes[cls])}}));
                const auto& all = classes[cls];
                const std::size_t skip = std::min(all.size(), param(request.url, "skip", 0));
                const std::size_t end = std::min(all.size(), skip + param(request.url, "limit", 100));
                auto reply = JSON::dictionaryLiteral({{"results", JSON(std::vector<JSON>(all.begin() + skip, all.begin() + end))}});
                if (param(request.url, "count", 0) == 1) reply.set("count", JSON(static_cast<int>(all.size())));
                return json(200, reply);
            }
            if (request.method == "POST") {
                auto body = JSON::parse(request.body);
                const auto id = "saved" + std::to_string(++nextId_);
                body.set("objectId", JSON(id));
                saved_[cls].push_back(body);
                return json(201, JSON::dictionaryLiteral({{"objectId", id}, {"createdAt", "2026-01-01T00:00:00.000Z"}}));
            }
        }
        if (path.rfind("/files/", 0) == 0) {
            const auto name = path.substr(7);
            return json(201, JSON::dictionaryLiteral({{"name", name}, {"url", "https://files.test/" + name}}));
        }
        return errorResponse(Reply::error(119, "unsupported in the fake backend"));
    }

    MainQueue& queue_;
    std::mutex mutex_;
    std::deque<std::pair<std::function<void(HttpResponse)>, HttpResponse>> held_;
    std::map<std::string, std::vector<JSON>> saved_;
    int nextId_ = 0;
};

}  // namespace hw::test
