#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    std::string tmp = env("TMPDIR");
    if (tmp.empty()) tmp = "/tmp";
    const std::string dir = tmp + "/havenway-" + std::to_string(::geteuid());
    return ownedPrivateDir(dir, error) ? std::optional(dir) : std::nullopt;
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
