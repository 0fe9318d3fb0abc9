#include "platform/backend/parse_core.h"

#include "platform/log.h"

namespace hw {

namespace {

constexpr std::string_view kLog = "Parse";
// How long past the request's own timeout the client waits for an HTTP port that
// never answers before it gives up itself.
constexpr double kGuardMarginMs = 1000;

}  // namespace

std::string ParseCore::url(const std::string& path) const {
    auto base = config.serverURL;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + path;
}

ParseError ParseCore::errorFrom(const HttpResponse& response) {
    if (response.error && response.error->code == HttpTooLarge) {
        return localError(kParseErrorInvalidJSON, response.error->message);
    }
    if (response.error) {
        const auto code = response.error->code == HttpTimedOut ? kParseErrorTimeout : kParseErrorConnectionFailed;
        return localError(code, response.error->message);
    }
    auto body = JSON::parse(response.body);
    if (body.type() == JSON::Type::dictionary) {
        ParseError e;
        e.payload = body;
        e.code = static_cast<int>(body["code"].int64().value_or(kParseErrorInternalServer));
        e.message = body["error"].string().value_or("");
        if (e.message.empty()) e.message = "the server answered status " + std::to_string(response.status);
        return e;
    }
    return localError(response.status >= 500 ? kParseErrorInternalServer : kParseErrorInvalidJSON,
                      "the server answered status " + std::to_string(response.status) + " without a JSON error");
}

void ParseCore::send(HttpRequest request, std::function<void(HttpResponse)> done) {
    // Exactly once: whichever of the answer and the guard comes first wins.
    // The answer ends the guard, so an idle application keeps no timer for
    // requests long done; the guard holds the request weakly, the client's
    // completion owns it.
    struct Pending {
        std::function<void(HttpResponse)> done;
        std::unique_ptr<Timer> guard;
        void finish(HttpResponse r) {
            if (!done) return;
            auto f = std::move(done);
            done = nullptr;
            guard.reset();
            f(std::move(r));
        }
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    pending->guard = queue.startTimer(request.timeoutMs + kGuardMarginMs, false, [weak = std::weak_ptr<Pending>(pending)] {
        if (auto held = weak.lock()) {
            HttpResponse r;
            r.error = HttpTransportError{HttpTimedOut, "no answer from the server"};
            held->finish(std::move(r));
        }
    });
    http.send(std::move(request), [pending](HttpResponse r) { pending->finish(std::move(r)); });
}

HttpHeaders ParseCore::headers(const std::optional<std::string>& session) const {
    HttpHeaders h{{"X-Parse-Application-Id", config.applicationId}, {"X-Parse-Client-Key", config.clientKey}};
    if (!config.installationId.empty()) h.emplace_back("X-Parse-Installation-Id", config.installationId);
    if (revocableSession) h.emplace_back("X-Parse-Revocable-Session", "1");
    const auto token = session ? *session : sessionToken();
    if (!token.empty()) h.emplace_back("X-Parse-Session-Token", token);
    return h;
}

HttpRequest ParseCore::request(const std::string& method, const std::string& path, const std::optional<JSON>& body,
                               const std::optional<std::string>& session, std::optional<double> timeoutMs,
                               std::int64_t maxBytes) const {
    HttpRequest request;
    request.maxResponseBytes = maxBytes;
    request.method = method;
    request.url = url(path);
    request.timeoutMs = timeoutMs.value_or(config.requestTimeoutMs);
    request.ignoreCache = true;
    request.headers = headers(session);
    if (body) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = body->rawString().value_or("{}");
    }
    return request;
}

std::pair<JSON, OptionalParseError> ParseCore::decoded(const std::string& method, const std::string& path,
                                                       const HttpResponse& response) {
    if (!response.error && response.status >= 200 && response.status < 300) {
        auto json = JSON::parse(response.body);
        if (json.type() == JSON::Type::dictionary) return {std::move(json), std::nullopt};
        log::warning(kLog, method + " " + path + ": the answer is not a JSON object");
        return {JSON(), localError(kParseErrorInvalidJSON, "the server's answer is not a JSON object")};
    }
    auto error = errorFrom(response);
    if (response.error && response.error->code == HttpTooLarge) {
        log::warning(kLog, method + " " + path + ": " + response.error->message + "; refused before parsing");
        return {JSON(), std::move(error)};
    }
    log::warning(kLog, method + " " + path + " failed with code " + std::to_string(error.code));
    return {JSON(), std::move(error)};
}

void ParseCore::call(const std::string& method, const std::string& path, const std::optional<JSON>& body,
                     ParseReply reply, const std::optional<std::string>& session,
                     std::optional<double> timeoutMs, std::int64_t maxBytes) {
    send(request(method, path, body, session, timeoutMs, maxBytes), [method, path, reply = std::move(reply)](HttpResponse response) {
        auto [json, error] = decoded(method, path, response);
        reply(std::move(json), std::move(error));
    });
}

void ParseCore::callDecoding(const std::string& method, const std::string& path, ParseDecode decode,
                             std::int64_t maxBytes) {
    send(request(method, path, std::nullopt, std::nullopt, std::nullopt, maxBytes),
         [method, path, decode = std::move(decode), worker = decodeQueue, &main = queue](HttpResponse response) {
             auto run = [method, path, decode, response = std::move(response)] {
                 auto [json, error] = decoded(method, path, response);
                 return decode(std::move(json), std::move(error));
             };
             if (!worker) {
                 run()();
                 return;
             }
             worker->async([run = std::move(run), &main] { main.post(run()); });
         });
}

}  // namespace hw
