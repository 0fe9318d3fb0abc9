#include "platform/posix_process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

extern char** environ;

namespace hw {
namespace {

using SteadyClock = std::chrono::steady_clock;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = Fd(fds[0]);
        write = Fd(fds[1]);
        return true;
    }
};

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string errnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

std::optional<std::string> validate(const ProcessRequest& request) {
    if (request.argv.empty() || request.argv[0].empty()) return "no program to run";
    for (const auto& arg : request.argv) {
        if (arg.find('\0') != std::string::npos) return "an argument contains a NUL byte";
    }
    for (const auto& [name, value] : request.environment) {
        if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string::npos ||
            value.find('\0') != std::string::npos) {
            return "invalid environment variable name or value";
        }
    }
    return std::nullopt;
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string_view::npos && extra.count(std::string(entry.substr(0, eq)))) continue;
        env.emplace_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Blocks SIGPIPE on this thread while it writes to the child's stdin, so a
// child that stops reading gives EPIPE instead of ending this process.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_{};
    bool wasPending_ = false;
};

// Reads what is there; false at end of file or on error.
bool readSome(Fd& fd, std::string& into) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < sizeof buf) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        fd.reset();
        return false;
    }
}

class Child {
public:
    Child(pid_t pid, Fd in, Fd out, Fd err, std::string_view input, std::chrono::milliseconds grace)
        : pid_(pid), in_(std::move(in)), out_(std::move(out)), err_(std::move(err)), input_(input), grace_(grace) {
        // Through syscall(): the glibc 2.36 header lacks C linkage for C++.
        pidfd_ = Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
        for (Fd* fd : {&in_, &out_, &err_}) {
            if (fd->valid()) setNonBlocking(fd->get());
        }
        if (in_.valid() && input_.empty()) in_.reset();
    }

    void run(std::optional<SteadyClock::time_point> deadline, ProcessResult& result) {
        SigpipeGuard sigpipe;
        while (!exited_) {
            const auto now = SteadyClock::now();
            if (deadline && now >= *deadline && !result.timedOut) {
                result.timedOut = true;
                ::kill(-pid_, SIGTERM);
                in_.reset();
                killAt_ = now + grace_;
            }
            if (killAt_ && now >= *killAt_) {
                ::kill(-pid_, SIGKILL);
                killAt_.reset();
            }
            pollOnce(wakeIn(now, result.timedOut ? std::nullopt : deadline), result);
            if (!pidfd_.valid()) checkExited();
        }
        // The child is gone: what it wrote is in the pipes already. Anything it
        // left running that still holds them is not waited for.
        if (out_.valid()) readSome(out_, result.out);
        if (err_.valid()) readSome(err_, result.err);
        // Kill what is left of the group while the zombie still holds its id.
        if (result.timedOut) ::kill(-pid_, SIGKILL);
        reap(result);
    }

private:
    int wakeIn(SteadyClock::time_point now, std::optional<SteadyClock::time_point> deadline) const {
        std::optional<SteadyClock::time_point> next = deadline;
        if (killAt_ && (!next || *killAt_ < *next)) next = killAt_;
        int ms = -1;
        if (next) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
            ms = static_cast<int>(std::clamp<long long>(left, 0, 60000));
        }
        // Without a pidfd, exit is noticed by looking now and then.
        if (!pidfd_.valid() && (ms < 0 || ms > 20)) ms = 20;
        return ms;
    }

    void pollOnce(int timeoutMs, ProcessResult& result) {
        pollfd fds[4];
        int n = 0;
        auto add = [&](const Fd& fd, short events) {
            if (!fd.valid()) return -1;
            fds[n] = {fd.get(), events, 0};
            return n++;
        };
        const int iOut = add(out_, POLLIN);
        const int iErr = add(err_, POLLIN);
        const int iIn = add(in_, POLLOUT);
        const int iPid = add(pidfd_, POLLIN);
        const int rc = ::poll(fds, static_cast<nfds_t>(n), timeoutMs);
        if (rc <= 0) return;
        if (iOut >= 0 && fds[iOut].revents) readSome(out_, result.out);
        if (iErr >= 0 && fds[iErr].revents) readSome(err_, result.err);
        if (iIn >= 0 && fds[iIn].revents) writeSome();
        if (iPid >= 0 && fds[iPid].revents) exited_ = true;
    }

    void writeSome() {
        while (written_ < input_.size()) {
            const ssize_t n = ::write(in_.get(), input_.data() + written_, input_.size() - written_);
            if (n > 0) {
                written_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            break;  // EPIPE: the child does not want the rest
        }
        in_.reset();
    }

    void checkExited() {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) {
            exited_ = true;
        }
    }

    void reap(ProcessResult& result) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid_, &status, 0);
        } while (r < 0 && errno == EINTR);
        if (r != pid_) return;
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    }

    pid_t pid_;
    Fd in_, out_, err_, pidfd_;
    std::string_view input_;
    std::size_t written_ = 0;
    std::chrono::milliseconds grace_;
    std::optional<SteadyClock::time_point> killAt_;
    bool exited_ = false;
};

}  // namespace

PosixProcessRunner::PosixProcessRunner(std::chrono::milliseconds killGrace) : killGrace_(killGrace) {}

ProcessResult PosixProcessRunner::run(const ProcessRequest& request) {
    ProcessResult result;
    if (auto problem = validate(request)) {
        result.error = *problem;
        return result;
    }
    const auto start = SteadyClock::now();

    Pipe in, out, err;
    if ((request.stdinData && !in.open()) || !out.open() || !err.open()) {
        result.error = errnoText("pipe", errno);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (request.stdinData) {
        posix_spawn_file_actions_adddup2(&actions, in.read.get(), STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
    // Descriptors other threads opened without O_CLOEXEC stay out of the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = request.argv;
    std::vector<std::string> env = mergedEnvironment(request.environment);
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0].c_str(), &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    in.read.reset();
    out.write.reset();
    err.write.reset();
    if (rc != 0) {
        result.error = errnoText("cannot start " + args[0], rc);
        return result;
    }
    result.started = true;

    std::optional<SteadyClock::time_point> deadline;
    if (request.timeout.count() > 0) deadline = start + request.timeout;
    const std::string_view input = request.stdinData ? std::string_view(*request.stdinData) : std::string_view();
    Child child(pid, std::move(in.write), std::move(out.read), std::move(err.read), input, killGrace_);
    child.run(deadline, result);
    return result;
}

}  // namespace hw
