#pragma once
// Shared inside the backend client: the REST transport, the session and the datastore.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "json/json.h"
#include "platform/backend/local_datastore.h"
#include "platform/backend/parse_error.h"
#include "platform/http.h"
#include "platform/main_queue.h"

namespace hw {

struct ParseClientConfig {
    std::string applicationId;
    std::string clientKey;
    std::string serverURL;       // e.g. "https://host/parse", no trailing slash needed
    std::string secretService;   // secret-store service for the session token
    std::string datastorePath;   // SQLite file of the local datastore
    std::string installationId;  // sent with every request when not empty
    double requestTimeoutMs = 60000;
};

using ParseReply = std::function<void(JSON result, OptionalParseError error)>;
// Turns a reply into what its caller takes on the main queue.
using ParseDecode = std::function<Task(JSON result, OptionalParseError error)>;

class ParseCore : public std::enable_shared_from_this<ParseCore> {
public:
    ParseCore(ParseClientConfig config, HttpClient& http, MainQueue& queue)
        : config(std::move(config)), http(http), queue(queue) {}

    // A REST call: path relative to the server address ("/functions/x"), a JSON body for
    // POST and PUT. The reply is the decoded JSON, or an error; exactly once, on the
    // main queue, a timeout error at the latest a little after the request's timeout.
    // `session` replaces the current session token for this call ("" sends none).
    // `timeoutMs` replaces the configured timeout for this call.
    void call(const std::string& method, const std::string& path, const std::optional<JSON>& body, ParseReply reply,
              const std::optional<std::string>& session = std::nullopt,
              std::optional<double> timeoutMs = std::nullopt, std::int64_t maxBytes = 0);
    // As call, with `decode` run on the decode queue where one is set and
    // the task it returns on the main queue: a page of thousands of objects
    // then costs the main thread nothing. Replies keep their order.
    // maxBytes bounds the answer (0: the HTTP client's own bound): a larger
    // one is refused before it is read whole, and never parsed.
    void callDecoding(const std::string& method, const std::string& path, ParseDecode decode, std::int64_t maxBytes = 0);
    // Raw bytes in and out (file uploads and downloads), with the same guarantees.
    void send(HttpRequest request, std::function<void(HttpResponse)> done);

    std::string url(const std::string& path) const;
    HttpHeaders headers(const std::optional<std::string>& session = std::nullopt) const;
    static ParseError errorFrom(const HttpResponse& response);
    // The reply's JSON object, or the error it stands for.
    static std::pair<JSON, OptionalParseError> decoded(const std::string& method, const std::string& path,
                                                       const HttpResponse& response);

    std::string sessionToken() const {
        std::lock_guard lock(mutex_);
        return sessionToken_;
    }
    void setSessionToken(std::string token) {
        std::lock_guard lock(mutex_);
        sessionToken_ = std::move(token);
    }

    const ParseClientConfig config;
    HttpClient& http;
    MainQueue& queue;
    std::unique_ptr<LocalDatastore> datastore;
    bool revocableSession = false;
    // One worker, so the decoded replies reach the main queue in the order they came.
    BackgroundQueue* decodeQueue = nullptr;

private:
    HttpRequest request(const std::string& method, const std::string& path, const std::optional<JSON>& body,
                        const std::optional<std::string>& session, std::optional<double> timeoutMs,
                        std::int64_t maxBytes = 0) const;

    mutable std::mutex mutex_;
    std::string sessionToken_;
};

}  // namespace hw
