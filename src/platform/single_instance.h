#pragma once
#include <optional>
#include <string>

#include "platform/helper_message.h"

// One running copy per user, wherever it is installed.
namespace hw::single_instance {

// $HAVENWAY_RUNTIME_DIR, else $XDG_RUNTIME_DIR/havenway, else a 0700
// "havenway-<uid>" of this user in $TMPDIR (else the standard temporary
// folder); when another user holds that name, "havenway/run" in the user's
// state folder, which then stays the choice of every later start. Made when
// missing; nothing when it cannot be made private.
std::optional<std::string> runtimeDir(std::string* error = nullptr);

// The per-user lock, held for the process's life by its descriptor.
// Nothing when another process holds it (error empty) or on failure (error set).
std::optional<UniqueFd> tryLock(const std::string& dir, std::string* error);

// The request a later start sends: "reopen", or "url <text>" for a URL given
// on its command line. At most kMaxLine bytes; nothing for a URL that does
// not fit one line.
constexpr std::size_t kMaxLine = 4096;
std::optional<std::string> requestLine(const std::optional<std::string>& url);
// Sends the line to the running copy at the socket and waits for its "ok",
// at most timeoutMs in all; retries while the copy is not listening yet.
bool forward(const std::string& socketPath, const std::string& line, int timeoutMs, std::string* why);
// The URL of a request line, or nothing for "reopen"; false for a line that
// is neither.
bool parseRequestLine(const std::string& line, std::optional<std::string>& url);

}  // namespace hw::single_instance
