#pragma once
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix_process_runner.h"

namespace hw::helper::test {

// Two network namespaces joined by a veth pair: "client", where the helper
// works (10.77.0.2, default route via 10.77.0.1), and "net", the rest of the
// world (10.77.0.1; 198.51.100.10 plays the VPN server, 203.0.113.20 any
// other host). Removed again on destruction, whatever happened.
class NetnsTestbed {
public:
    NetnsTestbed() : client("hwc" + std::to_string(::getpid())), net("hwn" + std::to_string(::getpid())) {}
    ~NetnsTestbed() {
        run({"ip", "netns", "del", client});
        run({"ip", "netns", "del", net});
    }

    // Empty when ready, else why the tests must skip.
    std::string setUp() {
        if (::geteuid() != 0) return "needs root";
        if (!run({"nft", "--version"}) || !run({"ip", "-V"})) return "needs nft and ip";
        if (!run({"ip", "netns", "add", client}) || !run({"ip", "netns", "add", net}))
            return "cannot create network namespaces";
        bool ok = in(client, {"ip", "link", "add", "veth0", "type", "veth", "peer", "name", "veth1", "netns", net}) &&
                  in(client, {"ip", "link", "set", "lo", "up"}) && in(net, {"ip", "link", "set", "lo", "up"}) &&
                  in(client, {"ip", "addr", "add", "10.77.0.2/24", "dev", "veth0"}) &&
                  in(client, {"ip", "link", "set", "veth0", "up"}) &&
                  in(net, {"ip", "addr", "add", "10.77.0.1/24", "dev", "veth1"}) &&
                  in(net, {"ip", "link", "set", "veth1", "up"}) &&
                  in(net, {"ip", "addr", "add", "198.51.100.10/32", "dev", "lo"}) &&
                  in(net, {"ip", "addr", "add", "203.0.113.20/32", "dev", "lo"}) &&
                  in(client, {"ip", "route", "add", "default", "via", "10.77.0.1"});
        return ok ? "" : "cannot wire the namespaces";
    }

    bool run(std::vector<std::string> argv, std::string* out = nullptr, std::optional<std::string> input = {}) {
        ProcessRequest r;
        r.argv = std::move(argv);
        r.stdinData = std::move(input);
        r.timeout = std::chrono::seconds(10);
        auto result = runner.run(r);
        if (out) *out = result.out;
        return result.ok();
    }
    bool in(const std::string& ns, std::vector<std::string> argv, std::string* out = nullptr) {
        argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
        return run(std::move(argv), out);
    }

    // Runs fn on a thread that has entered the namespace; sockets made there
    // stay in it.
    static void inside(const std::string& ns, const std::function<void()>& fn) {
        std::thread t([&] {
            int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0) fn();
            if (fd >= 0) ::close(fd);
        });
        t.join();
    }

    // A UDP datagram from the client namespace to host:port (IPv4 or IPv6);
    // true when a socket listening in `listenNs` got it within a second.
    bool udpGetsThrough(const std::string& host, const std::string& listenNs, int port = 9999) {
        sockaddr_storage a{};
        socklen_t len = 0;
        if (auto* v4 = reinterpret_cast<sockaddr_in*>(&a); ::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(static_cast<uint16_t>(port));
            len = sizeof(sockaddr_in);
        } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
                   ::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(static_cast<uint16_t>(port));
            len = sizeof(sockaddr_in6);
        } else {
            return false;
        }
        int rx = -1, tx = -1;
        inside(listenNs, [&] {
            rx = ::socket(a.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (::bind(rx, reinterpret_cast<sockaddr*>(&a), len) != 0) {
                ::close(rx);
                rx = -1;
            }
        });
        inside(client, [&] { tx = ::socket(a.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
        bool got = false;
        if (rx >= 0 && tx >= 0 && ::sendto(tx, "x", 1, 0, reinterpret_cast<sockaddr*>(&a), len) == 1) {
            pollfd p{rx, POLLIN, 0};
            got = ::poll(&p, 1, 1000) == 1;
        }
        if (rx >= 0) ::close(rx);
        if (tx >= 0) ::close(tx);
        return got;
    }

    // Packets our table dropped on the way out.
    long long droppedOut() {
        std::string out;
        if (!in(client, {"nft", "list", "counter", "inet", "havenway", "dropped_out"}, &out)) return -1;
        auto at = out.find("packets ");
        return at == std::string::npos ? -1 : std::stoll(out.substr(at + 8));
    }

    std::string defaultRoute() {
        std::string out;
        in(client, {"ip", "-4", "route", "show", "default"}, &out);
        return out;
    }

    PosixProcessRunner runner;
    std::string client;
    std::string net;
};

}  // namespace hw::helper::test
