#pragma once
// The network-namespace rig of the integration tests and benchmarks: the
// C++ side of testbed/rig, which the testbed's VPN servers use as well.
// Namespaces it links are removed (their processes ended first) when it goes.
// Header-only and free of our libraries, so bench programs can share it.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hw::test {

inline pid_t spawnLogged(std::vector<std::string> argv, const std::string& logFile,
                         const std::vector<std::string>& extraEnv = {}) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> envStore(extraEnv);
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Whether the helper listens on its socket file. The file exists from the
// server's bind on, and a connect is still refused until its listen.
inline bool helperSocketListens(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool listens = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return listens;
}

// Runs argv to its end, output appended to logFile; true on exit code 0.
inline bool runQuiet(std::vector<std::string> argv, const std::string& logFile = "/dev/null") {
    const pid_t pid = spawnLogged(std::move(argv), logFile);
    if (pid < 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A child process that is stopped (TERM, then KILL) when this goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(std::vector<std::string> argv, const std::string& logFile,
                 const std::vector<std::string>& extraEnv = {})
        : pid_(spawnLogged(std::move(argv), logFile, extraEnv)) {}
    ChildProcess(ChildProcess&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
    ChildProcess& operator=(ChildProcess&& o) noexcept {
        stop();
        pid_ = o.pid_;
        o.pid_ = -1;
        return *this;
    }
    ~ChildProcess() { stop(); }
    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        return ::waitpid(pid_, &status, WNOHANG) == 0;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 300 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (running()) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class NetnsRig {
public:
    NetnsRig() = default;
    NetnsRig(const NetnsRig&) = delete;
    NetnsRig& operator=(const NetnsRig&) = delete;
    ~NetnsRig() { removeAll(); }

    static std::string sourceDir() {
        if (const char* s = std::getenv("HW_SOURCE_DIR"); s && *s) return s;
#ifdef HW_SOURCE_DIR
        return HW_SOURCE_DIR;
#else
        return ".";
#endif
    }
    static std::string script() { return sourceDir() + "/testbed/rig"; }

    // Why this machine cannot build the rig, or empty.
    static std::string unavailable() {
        const std::string out = "/tmp/hw-rig-check." + std::to_string(::getpid());
        const bool ok = runQuiet({script(), "check"}, out);
        std::string why = readText(out);
        ::unlink(out.c_str());
        while (!why.empty() && why.back() == '\n') why.pop_back();
        if (ok) return {};
        return why.empty() ? "cannot run " + script() : why;
    }

    // A name no other run on this machine uses at the same time.
    static std::string name(const std::string& prefix) { return prefix + std::to_string(::getpid()); }

    // A veth pair between two namespaces ("-": the machine's own), made when
    // missing; addresses are comma-separated CIDRs.
    bool link(const std::string& ns, const std::string& dev, const std::string& addrs, const std::string& peerNs,
              const std::string& peerDev, const std::string& peerAddrs, const std::string& logFile = "/dev/null") {
        for (const auto& n : {ns, peerNs})
            if (n != "-" && std::find(namespaces_.begin(), namespaces_.end(), n) == namespaces_.end())
                namespaces_.push_back(n);
        return runQuiet({script(), "link", ns, dev, addrs, peerNs, peerDev, peerAddrs}, logFile);
    }

    // Runs argv inside the namespace.
    static bool in(const std::string& ns, std::vector<std::string> argv, const std::string& logFile = "/dev/null") {
        argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
        return runQuiet(std::move(argv), logFile);
    }

    // Moves the calling thread (and what it starts afterwards) into ns.
    static bool enter(const std::string& ns) {
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    }

    // Runs fn on a thread inside ns; sockets made there stay in it.
    static void inside(const std::string& ns, const std::function<void()>& fn) {
        std::thread t([&] {
            if (enter(ns)) fn();
        });
        t.join();
    }

    void removeAll() {
        if (namespaces_.empty()) return;
        std::vector<std::string> argv{script(), "remove"};
        argv.insert(argv.end(), namespaces_.begin(), namespaces_.end());
        runQuiet(std::move(argv));
        namespaces_.clear();
    }

private:
    std::vector<std::string> namespaces_;
};

}  // namespace hw::test
