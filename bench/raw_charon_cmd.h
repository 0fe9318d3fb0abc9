#pragma once
// charon-cmd alone, started by hand in a network namespace, timed to its
// CHILD_SA established: the other side of the benches that measure an IKEv2
// road through our software to the same responder.
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "helper/ike/charon_runner.h"
#include "helper/esp_probe.h"
#include "platform/posix_process_runner.h"
#include "platform/helper_message.h"
#include "support/child_process.h"

namespace hw::bench {

using Clock = std::chrono::steady_clock;

inline double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The IKE packets of one run as the client's namespace saw them: when the
// first left and when the last answer came, on the bench's clock. What lies
// before the first is start-up work; after the last, installing the SA.
class WireTap {
public:
    explicit WireTap(const std::string& ns) {
        UniqueFd own(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
        UniqueFd there(::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
        if (!own || !there || ::setns(there.get(), CLONE_NEWNET) != 0) return;
        // ETH_P_ALL: only such a tap sees what leaves as well.
        fd_.reset(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL)));
        const int on = 1;
        if (fd_) ::setsockopt(fd_.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        if (::setns(own.get(), CLONE_NEWNET) != 0) std::abort();  // the bench must not stay in there
    }

    // Drops what an earlier run left queued.
    void clear() { collect(nullptr, nullptr); }

    // The first IKE packet out and the last one in, as milliseconds after
    // start; false when the tap saw none.
    bool collect(Clock::time_point start, double* first, double* last) {
        startTime_ = start;
        return collect(first, last);
    }

private:
    bool collect(double* first, double* last) {
        if (!fd_) return false;
        // The kernel stamps packets on the wall clock: mapped to the steady one.
        timespec wall{};
        ::clock_gettime(CLOCK_REALTIME, &wall);
        const auto steadyNow = Clock::now();
        bool sawOut = false, sawIn = false;
        for (;;) {
            unsigned char packet[2048];
            char control[256];
            sockaddr_ll from{};
            iovec io{packet, sizeof packet};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &io;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd_.get(), &msg, MSG_DONTWAIT);
            if (n < 0) break;
            if (!first || from.sll_protocol != htons(ETH_P_IP)) continue;
            if (n < static_cast<ssize_t>(sizeof(iphdr) + sizeof(udphdr))) continue;
            const auto* ip = reinterpret_cast<const iphdr*>(packet);
            if (ip->protocol != IPPROTO_UDP || n < ip->ihl * 4 + static_cast<ssize_t>(sizeof(udphdr))) continue;
            const auto* udp = reinterpret_cast<const udphdr*>(packet + ip->ihl * 4);
            const auto isIke = [](std::uint16_t port) { return port == 500 || port == 4500; };
            if (!isIke(ntohs(udp->source)) || !isIke(ntohs(udp->dest))) continue;
            timespec stamp{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            const double agoMs = (wall.tv_sec - stamp.tv_sec) * 1e3 + (wall.tv_nsec - stamp.tv_nsec) / 1e6;
            const double at = std::chrono::duration<double, std::milli>(steadyNow - startTime_).count() - agoMs;
            if (from.sll_pkttype == PACKET_OUTGOING) {
                if (!sawOut) *first = at;
                sawOut = true;
            } else {
                *last = at;
                sawIn = true;
            }
        }
        return sawOut && sawIn;
    }

    UniqueFd fd_;
    Clock::time_point startTime_{};
};

// The road's own charon settings (ports, plugins, ESP backend) for
// charon-cmd, whose defaults differ; its files go to the bench's folder.
inline std::string charonCmdConf(const std::string& dir) {
    PosixProcessRunner runner;
    std::string conf = ike::CharonRunner::strongswanConf(ike::CharonOptions{}, !helper::kernelSupportsEsp(runner));
    auto replace = [&](const std::string& from, const std::string& to) {
        if (auto at = conf.find(from); at != std::string::npos) conf.replace(at, from.size(), to);
    };
    replace("charon {", "charon-cmd {");
    replace("/run/charon.vici", dir + "/charon-cmd.vici");
    replace("/run/charon.log", "stderr");  // on its terminal, where the bench reads it
    return conf;
}

// Milliseconds from the start of one run.
struct Times {
    double up = -1;        // the tunnel reported established
    double asked = 0;      // the password asked for
    double answered = 0;   // the helper's answer (the road only)
    double firstOut = -1;  // the first IKE packet sent
    double lastIn = -1;    // the last IKE packet received
};

// Where charon-cmd connects to and as whom; its files go to dir.
struct CharonCmdTarget {
    std::string ns, dir, host, identity, remoteIdentity, ca, password;
};

// charon-cmd asks for the EAP password on its terminal: a pty answers it.
inline double rawCharonCmd(const CharonCmdTarget& to, WireTap* tap, Times* times) {
    double* asked = &times->asked;
    const std::string ns = "/run/netns/" + to.ns, conf = to.dir + "/charon-cmd.conf";
    std::ofstream(conf) << charonCmdConf(to.dir);
    if (tap) tap->clear();
    const auto start = Clock::now();
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return -1;
    if (pid == 0) {
        const int fd = ::open(ns.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0 || ::setenv("STRONGSWAN_CONF", conf.c_str(), 1) != 0) ::_exit(127);
        ::execl("/usr/sbin/charon-cmd", "charon-cmd", "--host", to.host.c_str(), "--identity",
                to.identity.c_str(), "--remote-identity", to.remoteIdentity.c_str(), "--cert", to.ca.c_str(), "--profile", "ikev2-eap", nullptr);
        ::_exit(127);
    }
    std::string seen;
    double established = -1;
    bool answered = false;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (established < 0 && Clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (!answered && seen.find("assword") != std::string::npos) {
            *asked = millisSince(start);
            const std::string line = to.password + "\n";
            answered = ::write(terminal, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        }
        // charon's own line for it ("CHILD_SA cmd{1} established with SPIs ..."):
        // earlier lines say "establishing CHILD_SA" and, at the EAP's end, "MSK
        // established", a round trip and the SA's installation too soon.
        if (established < 0 && seen.find("established with SPIs") != std::string::npos) established = millisSince(start);
    }
    if (tap) tap->collect(start, &times->firstOut, &times->lastIn);
    times->up = established;
    ::kill(pid, SIGINT);
    hw::test::waitChild(pid, std::chrono::seconds(10));  // gone before the next run: killed at the bound
    ::close(terminal);
    if (established < 0) std::fprintf(stderr, "charon-cmd said:\n%s\n", seen.substr(seen.size() > 2000 ? seen.size() - 2000 : 0).c_str());
    return established;
}

}  // namespace hw::bench
