#include "helper/ike/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace hw::ike {

namespace {

bool waitExited(pid_t pid, int* status, std::chrono::steady_clock::time_point until) {
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        ::poll(nullptr, 0, 10);
    }
}

}  // namespace

int runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout, std::string* output) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return -1;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output && output->size() < 1024 * 1024) output->append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    if (timedOut || !waitExited(pid, &status, std::chrono::steady_clock::now() + (timedOut ? std::chrono::milliseconds(0) : timeout))) {
        timedOut = true;
        ::kill(-pid, SIGTERM);
        if (!waitExited(pid, &status, std::chrono::steady_clock::now() + std::chrono::seconds(1))) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
    if (timedOut || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace hw::ike
