#include "app/discarded_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/helper_message.h"
#include "platform/paths.h"

namespace hw {
namespace {

constexpr off_t kMaxBytes = 4 * 1024 * 1024;

bool goesNowhere(int fd) {
    struct stat s{}, null{};
    return ::fstat(fd, &s) == 0 && S_ISCHR(s.st_mode) && ::stat("/dev/null", &null) == 0 && s.st_rdev == null.st_rdev;
}

}  // namespace

std::string keepDiscardedOutput(const std::string& logsDir) {
    const bool out = goesNowhere(STDOUT_FILENO), err = goesNowhere(STDERR_FILENO);
    if ((!out && !err) || logsDir.empty() || !paths::ensurePrivateDir(logsDir)) return {};
    const std::string path = logsDir + "/havenway.log";
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    struct stat st{};
    // Only a file of ours: a fifo in its place would hold the start up.
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return {};
    if ((st.st_mode & 0777) != 0600 && ::fchmod(fd.get(), 0600) != 0) return {};
    if (st.st_size > kMaxBytes && ::ftruncate(fd.get(), 0) != 0) return {};
    if (out && ::dup2(fd.get(), STDOUT_FILENO) < 0) return {};
    if (err && ::dup2(fd.get(), STDERR_FILENO) < 0) return {};
    return path;
}

}  // namespace hw
