#pragma once
#include <optional>
#include <string>
#include <utility>

#include "json/json.h"

namespace hw {

// Error codes of the backend's REST protocol, and the client's own.
inline constexpr int kParseErrorOtherCause = -1;
inline constexpr int kParseErrorInternalServer = 1;
inline constexpr int kParseErrorConnectionFailed = 100;
inline constexpr int kParseErrorObjectNotFound = 101;
inline constexpr int kParseErrorInvalidJSON = 107;
inline constexpr int kParseErrorCacheMiss = 120;
inline constexpr int kParseErrorTimeout = 124;
inline constexpr int kParseErrorScriptFailed = 141;
inline constexpr int kParseErrorRequestLimitExceeded = 155;
inline constexpr int kParseErrorInvalidSessionToken = 209;

// A failed backend call: the code, the message, and the server's whole error reply
// ("payload"; null when the failure was local or the reply was not JSON).
struct ParseError {
    int code = kParseErrorOtherCause;
    std::string message;
    JSON payload;

    bool isInvalidSession() const { return code == kParseErrorInvalidSessionToken; }
};

using OptionalParseError = std::optional<ParseError>;

// A failure of the client's own making, with no reply behind it.
inline ParseError localError(int code, std::string message) {
    ParseError e;
    e.code = code;
    e.message = std::move(message);
    return e;
}

}  // namespace hw
