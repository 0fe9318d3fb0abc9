#include "helper/helper_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace hw::helper {

std::optional<std::string> readFile(const std::string& path) {
    // Plain reads: the state files are read on every command.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

namespace {
bool writeAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
bool fail(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
}
}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, mode_t mode, std::string* error,
                         bool durable) {
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string tmp = dir + "/.hw-tmp-XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fail(error, "create temp file");
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && (!durable || ::fsync(fd) == 0);
    ::close(fd);
    if (!ok) {
        ::unlink(tmp.c_str());
        return fail(error, "write temp file");
    }
    if (::rename(tmp.c_str(), path.c_str()) == 0) return true;
    int renameErr = errno;
    ::unlink(tmp.c_str());
    if (renameErr != EBUSY && renameErr != EXDEV) {
        errno = renameErr;
        return fail(error, "rename");
    }
    int out = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (out < 0) return fail(error, "open in place");
    ok = writeAll(out, content) && (!durable || ::fsync(out) == 0);
    ::close(out);
    return ok || fail(error, "write in place");
}

bool makeDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);  // the common case: one call, not one per level
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        // Only the last folder takes `mode`: a private folder must not make
        // the folders above it (the socket's, say) unsearchable.
        if (::mkdir(partial.c_str(), pos == std::string::npos ? mode : 0755) != 0 && errno != EEXIST) return false;
    }
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makePrivateDirectory(const std::string& path) {
    if (!makeDirectories(path, 0700)) return false;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        log::warning("HelperFiles", "refused: " + path + " is not a folder of ours alone");
        return false;
    }
    return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

}  // namespace hw::helper
