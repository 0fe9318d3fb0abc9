#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hw {

// Every byte but the unreserved ASCII ones as %XX, whatever the C locale says.
std::string percentEncode(std::string_view text);

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HttpHeaders headers;
    std::string body;
    double timeoutMs = 60000;
    bool ignoreCache = false;
    // On a connection of its own: one kept from before the tunnel came up or
    // went down may run over a route that no longer answers.
    bool freshConnection = false;
    // Not sent again when connections are dropped under it: the server may
    // have carried it out already, and would refuse a repeat.
    bool sendOnce = false;
    // With freshConnection: left alone when connections are dropped, for a
    // caller that asks again itself when it fails.
    bool keptThroughDrops = false;
    // Past this many bytes (or a length that says so) the answer is refused
    // unread, with HttpTooLarge; 0 leaves the client's own bound.
    std::int64_t maxResponseBytes = 0;
};

struct HttpTransportError {
    int code = 0;            // our own small set, see HttpErrorCode
    std::string message;
};

enum HttpErrorCode { HttpTimedOut = 1, HttpCannotConnect = 2, HttpBadUrl = 3, HttpTlsFailed = 4, HttpCancelled = 5, HttpTooLarge = 6, HttpOther = 99 };

struct HttpResponse {
    int status = 0;
    HttpHeaders headers;
    std::string body;
    std::optional<HttpTransportError> error;
    // Case-insensitive header look-up.
    std::optional<std::string> header(const std::string& name) const;
};

// Asynchronous HTTP. The completion runs exactly once, on the main queue.
// Bodies are never logged: they carry passwords and tokens.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual void send(HttpRequest request, std::function<void(HttpResponse)> completion) = 0;
    // A tunnel under the connections ended or began: a kept connection may
    // run from an address that is gone and never answer. Kept connections
    // are closed, and requests in flight go again on fresh ones.
    virtual void dropConnections() {}
};

}  // namespace hw
