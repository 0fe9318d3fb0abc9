#pragma once
// openvpn alone, started by hand from the calling thread's network namespace,
// timed to "Initialization Sequence Completed": the other side of the benches
// that measure a road through our software to the same server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "connection/openvpn_management_line.h"

extern char** environ;

namespace hw::bench {

// Plays the app's part on openvpn's management interface: the same
// commands, then the credentials when asked.
struct ManagementClient {
    std::string user, password;
    int fd = -1;
    bool answered = false;
    ~ManagementClient() {
        if (fd >= 0) ::close(fd);
    }
    void serve(const std::string& path) {
        if (fd < 0) {
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
            int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return (void)::close(s);
            fd = s;
            const std::string on = "state on all\nlog on\n";
            (void)!::write(fd, on.data(), on.size());
        }
        char buf[8192];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
            if (answered || std::string(buf, static_cast<std::size_t>(n)).find(">PASSWORD:Need") == std::string::npos)
                continue;
            const std::string credentials = "username \"Auth\" " + quoteManagementArgument(user).value_or("") +
                                            "\npassword \"Auth\" " + quoteManagementArgument(password).value_or("") + "\n";
            (void)!::write(fd, credentials.data(), credentials.size());
            answered = true;
        }
    }
};

// One raw openvpn to "Initialization Sequence Completed"; its time in ms, or
// a negative number when it did not connect. Returns once it has exited.
// With a management client, openvpn takes our road's management options and
// the client gives the credentials over that interface, as the app does.
inline double rawOpenVPN(const std::string& config, const std::string& management = "",
                         ManagementClient* client = nullptr) {
    using Clock = std::chrono::steady_clock;
    // openvpn's output straight from a pipe, so the moment it connects is
    // seen at once.
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<std::string> args{"/usr/sbin/openvpn", "--config", config, "--verb", "3"};
    const bool managed = !management.empty() && client;
    if (managed) args.insert(args.end(), {"--management", management, "unix", "--management-query-passwords"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string seen;
    bool up = false;
    char buf[4096];
    while (rc == 0 && !up) {
        pollfd p[2] = {{out[0], POLLIN, 0}, {managed ? client->fd : -1, POLLIN, 0}};
        // Until the interface listens, look for it each millisecond.
        const int wait = managed && client->fd < 0 ? 1 : 20000;
        if (::poll(p, 2, wait) < 0) break;
        if (managed) client->serve(management);
        if (!(p[0].revents & (POLLIN | POLLHUP))) continue;
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
        up = seen.find("Initialization Sequence Completed") != std::string::npos;
    }
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(out[0]);
    if (!up) std::fprintf(stderr, "openvpn said:\n%s\n", seen.substr(seen.size() > 2000 ? seen.size() - 2000 : 0).c_str());
    return up ? elapsed : -1;
}

}  // namespace hw::bench
