#include "helper/tied_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace hw::helper {

namespace {

struct Lifelong {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::packaged_task<pid_t()>> tasks;
};

Lifelong& lifelong() {
    // Never freed: the thread outlives every static destructor. A process
    // forked from ours has none of our threads: it makes its own.
    static std::mutex guard;
    static Lifelong* made = nullptr;
    static pid_t madeIn = 0;
    std::lock_guard lock(guard);
    if (made && madeIn == ::getpid()) return *made;
    made = new Lifelong;
    madeIn = ::getpid();
    std::thread([l = made] {
        for (;;) {
            std::unique_lock lock(l->mutex);
            l->ready.wait(lock, [l] { return !l->tasks.empty(); });
            auto task = std::move(l->tasks.front());
            l->tasks.pop_front();
            lock.unlock();
            task();
        }
    }).detach();
    return *made;
}

// All the child needs, made beforehand: it shares our memory until its exec.
struct Plan {
    const char* path;
    char* const* argv;
    char* const* envp;
    int output;
    int status;  // gets the errno of what failed
    int openMax;
    bool ownSession;
    pid_t parent;
    sigset_t none;
};

int runChild(void* arg) {
    const auto& plan = *static_cast<const Plan*>(arg);
    auto fail = [&](int err) {
        [[maybe_unused]] auto n = ::write(plan.status, &err, sizeof err);
        ::_exit(127);
    };
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_DFL) continue;
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(sig, &dfl, nullptr);
    }
    ::sigprocmask(SIG_SETMASK, &plan.none, nullptr);
    if ((plan.ownSession ? ::setsid() : ::setpgid(0, 0)) < 0) fail(errno);
    if (!endWithParent(plan.parent)) fail(ECHILD);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull < 0) fail(errno);
    if (devnull != 0) {
        ::dup2(devnull, 0);
        ::close(devnull);
    }
    if (::dup2(plan.output, 1) < 0 || ::dup2(plan.output, 2) < 0) fail(errno);
    // Closed at the exec, so that the status pipe still tells of a failed one.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < plan.openMax; ++fd)
            if (fd != plan.status) ::close(fd);
    }
    ::execve(plan.path, plan.argv, plan.envp);
    fail(errno);
    return 127;
}

}  // namespace

pid_t onLifelongThread(const std::function<pid_t()>& make) {
    // The caller waits for it: make() may refer to its stack.
    std::packaged_task<pid_t()> task([&make] { return make(); });
    auto result = task.get_future();
    auto& l = lifelong();
    {
        std::lock_guard lock(l.mutex);
        l.tasks.push_back(std::move(task));
    }
    l.ready.notify_one();
    return result.get();
}

bool endWithParent(pid_t parent) {
    return ::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && ::getppid() == parent;
}

pid_t spawnTied(const TiedProgram& program, int* error) {
    std::vector<std::string> args = program.argv, env = program.environment;
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0) {
        if (error) *error = errno;
        return -1;
    }
    constexpr std::size_t kStack = 256 * 1024;
    void* stack = ::mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) {
        if (error) *error = errno;
        ::close(status[0]);
        ::close(status[1]);
        return -1;
    }
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    Plan plan{program.path.c_str(), argv.data(), envp.data(), program.output, status[1],
              openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536, program.ownSession,
              ::getpid(), {}};
    sigemptyset(&plan.none);
    int cloneError = 0;
    const pid_t pid = onLifelongThread([&] {
        // No handler of ours may run in the child before it has reset them.
        sigset_t all, old;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        // Sharing our memory until its exec, the child copies no page tables.
        const pid_t child = ::clone(runChild, static_cast<char*>(stack) + kStack, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
        cloneError = errno;
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return child;
    });
    ::munmap(stack, kStack);
    ::close(status[1]);
    if (pid < 0) {
        ::close(status[0]);
        if (error) *error = cloneError;
        return -1;
    }
    int childError = 0;
    ssize_t n;
    do {
        n = ::read(status[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    ::close(status[0]);
    if (n == static_cast<ssize_t>(sizeof childError)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (error) *error = childError;
        return -1;
    }
    return pid;
}

}  // namespace hw::helper
