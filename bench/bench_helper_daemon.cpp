// The real helper daemon, as root in a network namespace, answering each
// command of the connect road, against the floor measured in the same run:
// a bare SOCK_SEQPACKET ping-pong between two processes. Prints the median
// and p99 of each and the ratio to the floor, then the kernel's and the
// disk's own part of the heavy commands, done alone in the same namespace
// and folder. Needs root; skips otherwise.
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_helper.h"
#include "helper/helper_files.h"
#include "helper/network_stack.h"
#include "helper/nft_ruleset.h"
#include "platform/helper_message.h"
#include "platform/helper_socket.h"
#include "support/netns_rig.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 200;

struct Figures {
    double median = 0, p99 = 0;
};

Figures figures(std::vector<double> micros) {
    if (micros.empty()) return {};
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

double since(Clock::time_point start) { return std::chrono::duration<double, std::micro>(Clock::now() - start).count(); }

// A peer process serving one end of a socket pair with serve(fd); each
// round is timed on this side, then the peer is ended.
Figures againstPeer(const std::function<void(int)>& serve, const std::function<bool(int)>& round) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        serve(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::vector<double> micros;
    for (int i = 0; i < kRounds * 4; ++i) {
        auto start = Clock::now();
        if (!round(fds[0])) break;
        micros.push_back(since(start));
    }
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return figures(std::move(micros));
}

const std::string kRequest(120, 'x');  // about the size of a framed command

// Two processes, one message each way per round, nothing else.
Figures bareFloor() {
    return againstPeer(
        [](int fd) {
            char buf[512];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                if (::write(fd, buf, static_cast<size_t>(n)) != n) break;
        },
        [](int fd) {
            char buf[512];
            return ::write(fd, kRequest.data(), kRequest.size()) > 0 && ::read(fd, buf, sizeof buf) > 0;
        });
}

// The same, with the app's request shape: a new reply channel each time,
// passed with the request; the answer comes back on it.
Figures channelFloor() {
    return againstPeer(
        [](int fd) {
            char buf[512];
            char control[CMSG_SPACE(sizeof(int))];
            for (;;) {
                iovec iov{buf, sizeof buf};
                msghdr msg{};
                msg.msg_iov = &iov;
                msg.msg_iovlen = 1;
                msg.msg_control = control;
                msg.msg_controllen = sizeof control;
                const ssize_t n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
                cmsghdr* c = CMSG_FIRSTHDR(&msg);
                if (n <= 0 || !c) break;
                int reply;
                std::memcpy(&reply, CMSG_DATA(c), sizeof reply);
                const ssize_t written = ::write(reply, buf, static_cast<size_t>(n));
                ::close(reply);
                if (written != n) break;
            }
        },
        [](int fd) {
            int channel[2];
            if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) return false;
            std::string request = kRequest;
            iovec iov{request.data(), request.size()};
            char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &channel[1], sizeof(int));
            const bool sent = ::sendmsg(fd, &msg, 0) > 0;
            ::close(channel[1]);
            char buf[512];
            const bool answered = sent && ::read(channel[0], buf, sizeof buf) > 0;
            ::close(channel[0]);
            return answered;
        });
}

// What the heavy commands ask of the kernel and the disk, without the
// helper: the same nft transactions through the same code, in the same
// namespace, and the same durable writes in the same folder.
struct Floor {
    const char* label;
    const char* command;  // whose part it is
    std::function<bool()> work;
    Figures measured;
};

std::vector<Floor> kernelFloors(const std::string& ns, const std::string& stateDir) {
    std::vector<Floor> out;
    std::thread([&] {
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) return;
        ::close(fd);
        auto stack = hw::helper::makeKernelNetworkStack();
        const std::string lock = hw::helper::buildLockRuleset({{}, {"10.77.0.1"}, {}});
        const std::string release = hw::helper::buildReleaseRuleset();
        const std::string server = hw::helper::buildAllowServerRuleset("198.51.100.10");
        // The interfaces the helper switches (all but lo and "all"), opened
        // from this thread, so in the namespace's own /proc/sys/net.
        auto ipv6Off = [](const char* value) {
            bool ok = true;
            for (const char* device : {"default", "veth0"}) {
                std::ofstream sysctl(std::string("/proc/sys/net/ipv6/conf/") + device + "/disable_ipv6");
                ok = static_cast<bool>(sysctl << value << "\n" << std::flush) && ok;
            }
            return ok;
        };
        auto write = [&](const char* name) {
            return hw::helper::writeFileAtomically(stateDir + "/" + name, std::string(200, 'x'), 0600, nullptr);
        };
        std::vector<Floor> floors = {
            {"nft: the lock's table", "enableNetworkLock", [&] { return stack->applyRuleset(lock); }, {}},
            {"nft: one server into it", "staticRouteAddingProcessing", [&] { return stack->applyRuleset(server); }, {}},
            {"nft: the table removed", "disableNetworkLock", [&] { return stack->applyRuleset(release); }, {}},
            {"3 durable writes", "install_DNS_for_VPN", [&] { return write("a") && write("b") && write("c"); }, {}},
            {"2 durable writes", "restore_DNS_to_original", [&] { return write("a") && write("b"); }, {}},
            {"IPv6 off on each interface", "disableIPV6", [&] { return ipv6Off("1"); }, {}},
            {"IPv6 back on each interface", "reEnableIPV6", [&] { return ipv6Off("0"); }, {}},
        };
        std::vector<std::vector<double>> micros(floors.size());
        for (int round = 0; round < kRounds; ++round)
            for (std::size_t i = 0; i < floors.size(); ++i) {
                auto start = Clock::now();
                if (!floors[i].work()) return;
                micros[i].push_back(since(start));
            }
        for (std::size_t i = 0; i < floors.size(); ++i) {
            floors[i].measured = figures(std::move(micros[i]));
            floors[i].work = nullptr;  // it holds this thread's objects
        }
        out = std::move(floors);
    }).join();
    return out;
}

struct Step {
    const char* label;
    const char* command;
    hw::HelperDictionary parameters;
};

}  // namespace

int main() {
    if (::geteuid() != 0) {
        std::puts("bench_helper_daemon: needs root (network namespaces); skipped");
        return 0;
    }
    if (auto why = hw::test::NetnsRig::unavailable(); !why.empty()) {
        std::printf("bench_helper_daemon: %s; skipped\n", why.c_str());
        return 0;
    }
    if (std::ifstream load("/proc/loadavg"); load) {
        std::string one, five;
        load >> one >> five;
        std::printf("load average: %s (1 min), %s (5 min)\n", one.c_str(), five.c_str());
    }
    hw::test::NetnsRig rig;
    const std::string client = hw::test::NetnsRig::name("hwbc"), net = hw::test::NetnsRig::name("hwbn");
    if (!rig.link(client, "veth0", "10.77.0.2/24", net, "veth1", "10.77.0.1/24") ||
        !hw::test::NetnsRig::in(client, {"ip", "route", "add", "default", "via", "10.77.0.1"})) {
        std::puts("bench_helper_daemon: cannot wire the namespaces");
        return 1;
    }
    // Beside the build, on a disk as the helper's state is; HW_BENCH_DIR
    // names another folder (a tmpfs one shows the cost of the fsyncs).
    const char* base = std::getenv("HW_BENCH_DIR");
    const std::string dir =
        std::string(base && *base ? base : HW_BINARY_DIR) + "/bench-helper-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir + "/floor");
    // The run folder on tmpfs, as /run is where the helper is installed.
    const std::string runDir = "/dev/shm/bench-helper-run-" + std::to_string(::getpid());

    int status = 0;
    {
        BenchHelper daemon(dir, runDir);
        if (!daemon.start(client)) {
            std::puts("bench_helper_daemon: the helper did not start");
            status = 1;
        } else {
            // The no-op runs back to back, as the floors do: its figure is
            // the daemon's own overhead, not the wake-up after a long command.
            std::vector<double> noOp;
            std::string noOpReply;
            for (int i = 0; i < kRounds; ++i) daemon.rpc("benchNoOp", {});  // past the helper's start-up
            for (int i = 0; i < kRounds * 4; ++i) {
                auto start = Clock::now();
                noOpReply = daemon.rpc("benchNoOp", {});
                noOp.push_back(since(start));
            }
            const std::vector<Step> road = {
                {"retrieveDefaultGateway", "retrieveDefaultGateway", {}},
                {"enableNetworkLock", "enableNetworkLock", {{"dnsResolver", "10.77.0.1"}}},
                {"staticRouteAddingProcessing", "staticRouteAddingProcessing",
                 {{"vpnServerAddress", "198.51.100.10"}, {"defaultGateway", "10.77.0.1"}}},
                {"install_DNS_for_VPN", "install_DNS_for_VPN", {}},
                {"disableIPV6", "disableIPV6", {}},
                {"reEnableIPV6", "reEnableIPV6", {}},
                {"restore_DNS_to_original", "restore_DNS_to_original", {{"forOpenVPN", 1}}},
                {"disableNetworkLock", "disableNetworkLock", {{"gatewayAddress", "10.77.0.1"}}},
            };
            std::vector<std::vector<double>> micros(road.size());
            std::vector<std::string> replies(road.size());
            for (int round = 0; round < kRounds; ++round)
                for (std::size_t i = 0; i < road.size(); ++i) {
                    auto start = Clock::now();
                    replies[i] = daemon.rpc(road[i].command, road[i].parameters);
                    micros[i].push_back(since(start));
                }
            const Figures floor = bareFloor(), channel = channelFloor();
            std::printf("%-30s %10s %10s %8s  %s\n", "command", "median_us", "p99_us", "x floor", "last reply");
            std::printf("%-30s %10.1f %10.1f %8.2f\n", "bare SOCK_SEQPACKET floor", floor.median, floor.p99, 1.0);
            std::printf("%-30s %10.1f %10.1f %8.2f\n", "floor with a reply channel", channel.median, channel.p99,
                        floor.median > 0 ? channel.median / floor.median : 0.0);
            const Figures n = figures(noOp);
            std::printf("%-30s %10.1f %10.1f %8.2f  %s (%.2f x the reply-channel floor)\n", "no-op (unknown command)",
                        n.median, n.p99, floor.median > 0 ? n.median / floor.median : 0.0, noOpReply.c_str(),
                        channel.median > 0 ? n.median / channel.median : 0.0);
            std::vector<double> medians;
            for (std::size_t i = 0; i < road.size(); ++i) {
                const Figures f = figures(micros[i]);
                medians.push_back(f.median);
                std::printf("%-30s %10.1f %10.1f %8.2f  %s\n", road[i].label, f.median, f.p99,
                            floor.median > 0 ? f.median / floor.median : 0.0, replies[i].c_str());
            }
            const auto own = kernelFloors(client, dir + "/floor");
            if (own.empty()) std::puts("(the kernel's and the disk's part could not be measured)");
            else std::printf("\n%-30s %10s %10s  %s\n", "the same work alone", "median_us", "p99_us", "of the command");
            for (const auto& f : own)
                for (std::size_t i = 0; i < road.size(); ++i)
                    if (std::string(road[i].command) == f.command)
                        std::printf("%-30s %10.1f %10.1f  %s: %.0f of %.0f us\n", f.label, f.measured.median,
                                    f.measured.p99, f.command, f.measured.median, medians[i]);
        }
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(runDir);
    return status;
}
