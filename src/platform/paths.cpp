#include "platform/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace hw::paths {
namespace {

std::optional<std::string> env(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::nullopt;
    return std::string(v);
}

// The XDG base directory rules ignore relative values.
std::optional<std::string> xdg(const char* name) {
    auto v = env(name);
    if (v && (*v)[0] == '/') return v;
    return std::nullopt;
}

std::string join(std::string a, std::string_view b) {
    while (a.size() > 1 && a.back() == '/') a.pop_back();
    if (a.empty() || a.back() != '/') a += '/';
    a += b;
    return a;
}

bool fail(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return false;
}

bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool fsyncDir(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string home() {
    if (auto h = env("HOME")) return *h;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

std::string configDir() {
    if (auto v = env("HAVENWAY_CONFIG_DIR")) return *v;
    return join(xdg("XDG_CONFIG_HOME").value_or(join(home(), ".config")), "havenway");
}

std::string dataDir() {
    if (auto v = env("HAVENWAY_DATA_DIR")) return *v;
    return join(xdg("XDG_DATA_HOME").value_or(join(home(), ".local/share")), "havenway");
}

std::string logsDir() {
    if (auto v = env("HAVENWAY_LOGS_DIR")) return *v;
    return join(xdg("XDG_STATE_HOME").value_or(join(home(), ".local/state")), "havenway/logs");
}

std::string helperSocket() { return env("HAVENWAY_HELPER_SOCKET").value_or("/run/havenway/helper.sock"); }

std::string settingsFile() { return env("HAVENWAY_SETTINGS_FILE").value_or(join(configDir(), "settings.json")); }

std::string secretsFile() { return env("HAVENWAY_SECRETS_FILE").value_or(join(dataDir(), "secrets.json")); }

std::string executable() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool ensurePrivateDir(const std::string& path, std::string* error) {
    if (path.empty()) return fail(error, "empty folder name", EINVAL);
    // Create each missing component in turn, like mkdir -p.
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string prefix = path.substr(0, pos);
        if (prefix.back() == '/') continue;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return fail(error, "mkdir " + prefix, errno);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(error, "stat " + path, errno);
    if (!S_ISDIR(st.st_mode)) return fail(error, path, ENOTDIR);
    if ((st.st_mode & 07777) == 0700) return true;
    // Never narrow a shared folder such as /tmp, even when allowed to (root).
    if (st.st_uid != ::geteuid() || (st.st_mode & S_ISVTX)) return fail(error, path + " is not a private folder", EPERM);
    if (::chmod(path.c_str(), 0700) != 0) return fail(error, "chmod " + path, errno);
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, std::string* error) {
    const std::string dir = parentOf(path);
    const auto slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return fail(error, "no file name in " + path, EINVAL);
    std::string tmp = join(dir, "." + base + ".XXXXXX");
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return fail(error, "create temp file in " + dir, errno);
    auto abandon = [&](const std::string& what) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return fail(error, what, err);
    };
    if (::fchmod(fd, mode) != 0) return abandon("chmod " + tmp);
    if (!writeAll(fd, bytes)) return abandon("write " + tmp);
    if (::fsync(fd) != 0) return abandon("fsync " + tmp);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, "close " + tmp, err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, "rename to " + path, err);
    }
    // The rename is only durable once the folder itself is on disk.
    if (!fsyncDir(dir)) return fail(error, "fsync " + dir, errno);
    return true;
}

ReadStatus readFile(const std::string& path, std::string& out, std::size_t maxBytes, std::string* error) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) return ReadStatus::Missing;
        fail(error, "open " + path, err);
        return ReadStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno ? errno : EINVAL;
        ::close(fd);
        fail(error, path + " is not a readable file", err);
        return ReadStatus::Failed;
    }
    if (static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        if (error) *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
        return ReadStatus::TooLarge;
    }
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            out.clear();
            fail(error, "read " + path, err);
            return ReadStatus::Failed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        // The file may grow while it is read.
        if (out.size() > maxBytes) {
            ::close(fd);
            out.clear();
            if (error) *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            return ReadStatus::TooLarge;
        }
    }
    ::close(fd);
    return ReadStatus::Ok;
}

std::optional<std::string> moveAside(const std::string& path, const std::string& tag, std::string* error) {
    for (int i = 0; i < 1000; ++i) {
        std::string target = path + "." + tag;
        if (i > 0) {
            target += '.';
            target += std::to_string(i);
        }
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            fsyncDir(parentOf(path));
            return target;
        }
        int err = errno;
        if (err == EINVAL || err == ENOSYS) {
            // File systems without RENAME_NOREPLACE: link() also refuses to replace.
            if (::link(path.c_str(), target.c_str()) == 0) {
                ::unlink(path.c_str());
                fsyncDir(parentOf(path));
                return target;
            }
            err = errno;
        }
        if (err != EEXIST) {
            fail(error, "move " + path + " aside", err);
            return std::nullopt;
        }
    }
    fail(error, "move " + path + " aside", EEXIST);
    return std::nullopt;
}

std::string corruptTag() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "corrupt-%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

}  // namespace hw::paths
