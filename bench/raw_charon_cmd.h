#pragma once
// charon-cmd alone, started by hand, timed to its CHILD_SA established: the
// other side of the benches that measure an IKEv2 road through our software
// to the same responder. It asks for the EAP password on its terminal; a pty
// answers it.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "helper/ike/charon_runner.h"

extern char** environ;

namespace hw::bench {

// The helper's own charon settings (ports, plugins, ESP backend, the kill
// switch's mark) for charon-cmd, whose defaults differ; its control socket
// at viciSocket, so that it never takes a running charon's.
inline std::string charonCmdConf(const std::string& viciSocket, bool libipsec) {
    std::string conf = ike::CharonRunner::strongswanConf(ike::CharonOptions{}, libipsec);
    auto replace = [&](const std::string& from, const std::string& to) {
        if (auto at = conf.find(from); at != std::string::npos) conf.replace(at, from.size(), to);
    };
    replace("charon {", "charon-cmd {");
    replace("/run/charon.vici", viciSocket);
    replace("/run/charon.log", "stderr");  // on its terminal, where it is read
    return conf;
}

struct CharonCmdRun {
    double up = -1;     // ms to the CHILD_SA established; negative when it was not
    double asked = -1;  // ms to the password asked for
    std::string said;   // its terminal's last words when it did not connect
};

// One charon-cmd with these arguments (after the program's name) and the
// strongswan.conf at conf, in the network namespace at netns (empty: the
// caller's). Returns once it has exited.
inline CharonCmdRun rawCharonCmd(const std::vector<std::string>& args, const std::string& conf,
                                 const std::string& password, const std::string& netns = "",
                                 std::chrono::seconds bound = std::chrono::seconds(20)) {
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); };
    CharonCmdRun result;
    // Everything the child needs is made before the fork: in a threaded
    // process it may only make system calls.
    std::vector<std::string> argStore{"charon-cmd"};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore{"STRONGSWAN_CONF=" + conf};
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("STRONGSWAN_CONF=", 0) != 0) envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int ns = netns.empty() ? -1 : ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
    if (!netns.empty() && ns < 0) return result;

    const auto start = Clock::now();
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) {
        if (ns >= 0) ::close(ns);
        return result;
    }
    if (pid == 0) {
        if (ns >= 0 && ::setns(ns, CLONE_NEWNET) != 0) ::_exit(127);
        ::execve("/usr/sbin/charon-cmd", argv.data(), envp.data());
        ::_exit(127);
    }
    if (ns >= 0) ::close(ns);
    std::string seen;
    const auto deadline = Clock::now() + bound;
    while (result.up < 0 && Clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (result.asked < 0 && seen.find("assword") != std::string::npos) {
            result.asked = since(start);
            const std::string line = password + "\n";
            if (::write(terminal, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
        }
        // charon's own line for it ("CHILD_SA cmd{1} established with SPIs ..."):
        // earlier lines say "establishing CHILD_SA" and, at the EAP's end, "MSK
        // established", a round trip and the SA's installation too soon.
        if (seen.find("established with SPIs") != std::string::npos) result.up = since(start);
    }
    ::kill(pid, SIGINT);
    // Gone before the next run: killed at the bound.
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(terminal);
    if (result.up < 0) result.said = seen.substr(seen.size() > 2000 ? seen.size() - 2000 : 0);
    return result;
}

}  // namespace hw::bench
