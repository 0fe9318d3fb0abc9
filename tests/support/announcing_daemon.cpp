#include "announcing_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace hw::test {

bool programOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool AnnouncingDaemon::start(std::vector<std::string> argv, std::chrono::milliseconds bound, std::string* reason) {
    stop();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        if (reason) *reason = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // The write end must survive exec; a copy without close-on-exec does.
    const int writeEnd = ::fcntl(fds[1], F_DUPFD, 10);
    ::close(fds[1]);
    for (auto& arg : argv)
        for (std::size_t at; (at = arg.find("{fd}")) != std::string::npos;) arg.replace(at, 4, std::to_string(writeEnd));
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Quiet: their chatter is not the test's output.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = ::posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(writeEnd);
    if (spawned != 0) {
        pid_ = -1;
        ::close(fds[0]);
        if (reason) *reason = argv[0] + ": " + std::strerror(spawned);
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::string got;
    bool complete = false;
    while (!complete) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, std::size_t(n));
        complete = got.find('\n') != std::string::npos;
    }
    ::close(fds[0]);
    if (!complete) {
        if (reason) *reason = argv[0] + " did not announce itself in time";
        stop();
        return false;
    }
    line_ = got.substr(0, got.find('\n'));
    return true;
}

bool AnnouncingDaemon::startInstalled(const std::string& package, std::vector<std::string> argv, std::string* reason) {
    if (!programOnPath(argv.at(0))) {
        if (reason) *reason = argv[0] + " is not installed (Debian package " + package + ")";
        return false;
    }
    return start(std::move(argv), std::chrono::seconds(15), reason);
}

void AnnouncingDaemon::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    line_.clear();
}

}  // namespace hw::test
