#include "helper/log_file_cap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace hw::helper {

LogFileCap::LogFileCap(std::shared_ptr<LogSink> next, int fd, off_t capBytes)
    : next_(std::move(next)), fd_(fd), cap_(capBytes) {}

void LogFileCap::write(LogLevel level, std::string_view category, std::string_view message) {
    next_->write(level, category, message);
    // A look at the file now and then, not a stat per line.
    const auto bytes = static_cast<off_t>(category.size() + message.size() + 16);
    if (sinceCheck_.fetch_add(bytes) + bytes >= cap_ / 16) {
        sinceCheck_ = 0;
        rotateIfFull();
    }
}

void LogFileCap::rotateIfFull() {
    std::lock_guard lock(rotating_);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < cap_) return;
    char target[4096];
    const auto n = ::readlink(("/proc/self/fd/" + std::to_string(fd_)).c_str(), target, sizeof target - 1);
    if (n <= 0) return;
    const std::string path(target, static_cast<std::size_t>(n));
    // Only the very file written to moves, never what took its name since.
    struct stat named {};
    if (path[0] != '/' || ::lstat(path.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino)
        return;
    if (::rename(path.c_str(), (path + ".1").c_str()) != 0) return;
    const int fresh = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777);
    if (fresh < 0) return;
    // stdout too, when it shares the file (">> log 2>&1").
    for (int fd : {1, 2, fd_}) {
        struct stat same {};
        if (::fstat(fd, &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino) ::dup2(fresh, fd);
    }
    ::close(fresh);
    next_->write(LogLevel::Info, "LogFileCap", "the log passed " + std::to_string(cap_) + " bytes: the earlier lines are in " + path + ".1");
}

}  // namespace hw::helper
