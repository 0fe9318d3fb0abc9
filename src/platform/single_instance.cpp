#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <thread>

#include "platform/log.h"
#include "platform/paths.h"

namespace hw::single_instance {
namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v == '/' ? v : "";
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// A folder in a shared place must be ours and no link: anyone could have
// made it first.
bool ownedPrivateDir(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return fail(error, "mkdir " + path + ": " + std::strerror(errno));
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return fail(error, "stat " + path + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return fail(error, path + " is not this user's folder");
    if ((st.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0)
        return fail(error, "chmod " + path + ": " + std::strerror(errno));
    return true;
}

}  // namespace

std::optional<std::string> runtimeDir(std::string* error) {
    if (std::string dir = env("HAVENWAY_RUNTIME_DIR"); !dir.empty())
        return paths::ensurePrivateDir(dir, error) ? std::optional(dir) : std::nullopt;
    if (std::string base = env("XDG_RUNTIME_DIR"); !base.empty()) {
        const std::string dir = base + "/havenway";
        return paths::ensurePrivateDir(dir, error) ? std::optional(dir) : std::nullopt;
    }
    std::string state = env("XDG_STATE_HOME");
    if (state.empty()) state = paths::home() + "/.local/state";
    const std::string own = state + "/havenway/run";
    // Once a start has fallen back to the user's own folder, every later one
    // stays there: should the squatter leave, the freed shared name would
    // otherwise make a second copy beside the running one.
    struct stat st{};
    std::string why;
    if (::lstat(own.c_str(), &st) == 0) {
        if (paths::ensurePrivateDir(own, &why)) return own;
        fail(error, why);
        return std::nullopt;
    }
    std::string tmp = env("TMPDIR");
    if (tmp.empty()) tmp = "/tmp";
    const std::string dir = tmp + "/havenway-" + std::to_string(::geteuid());
    std::string shared;
    if (ownedPrivateDir(dir, &shared)) return dir;
    // Anyone may take that name first; nobody else can deny a folder in the
    // user's own state folder.
    if (paths::ensurePrivateDir(own, &why)) {
        log::warning("SingleInstance", shared + "; using " + own);
        return own;
    }
    fail(error, shared + "; " + why);
    return std::nullopt;
}

std::optional<UniqueFd> tryLock(const std::string& dir, std::string* error) {
    if (error) error->clear();
    const std::string path = dir + "/instance.lock";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        fail(error, "open " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) fail(error, "lock " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    return fd;
}

std::optional<std::string> requestLine(const std::optional<std::string>& url) {
    if (!url) return std::string("reopen");
    if (url->empty() || url->size() + 4 > kMaxLine) return std::nullopt;
    for (char c : *url) {
        if (c == '\n' || c == '\r' || c == '\0') return std::nullopt;
    }
    return "url " + *url;
}

bool forward(const std::string& socketPath, const std::string& line, int timeoutMs, std::string* why) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remaining = [&] {
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    };
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return fail(why, "socket path too long: " + socketPath);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const std::string message = line + "\n";
    for (;;) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd) return fail(why, std::string("socket: ") + std::strerror(errno));
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            if (::send(fd.get(), message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size()))
                break;
            std::string answer;
            while (answer.find('\n') == std::string::npos) {
                pollfd p{fd.get(), POLLIN, 0};
                if (::poll(&p, 1, remaining()) <= 0) break;
                char buffer[16];
                const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
                if (n <= 0) break;
                answer.append(buffer, static_cast<std::size_t>(n));
            }
            if (answer.rfind("ok\n", 0) == 0) return true;
            break;
        }
        // The running copy may hold the lock a moment before it listens.
        if (remaining() == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20, remaining())));
    }
    return fail(why, "the running copy did not answer within " + std::to_string(timeoutMs / 1000) + " seconds");
}

bool parseRequestLine(const std::string& line, std::optional<std::string>& url) {
    if (line == "reopen") {
        url.reset();
        return true;
    }
    if (line.size() > 4 && line.size() <= kMaxLine && line.rfind("url ", 0) == 0 &&
        line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
        url = line.substr(4);
        return true;
    }
    return false;
}

}  // namespace hw::single_instance
