// What leaves the client namespace while the lock holds and no tunnel runs,
// counted where it would arrive: on the far side of the link.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "helper/nft_ruleset.h"
#include "netns_testbed.h"
#include "running_helper.h"

namespace hw::helper {
namespace {

constexpr uid_t kUser = 12345;
constexpr const char* kServer = "198.51.100.10";
constexpr const char* kResolver = "203.0.113.20";  // not the server's address
constexpr const char* kPeer6 = "fd77::1";           // the link's far end, over IPv6

// One packet (a DNS datagram, or a connection's first) from its own source port.
struct Probe {
    const char* what;
    uid_t uid;
    unsigned mark;
    int type;
    const char* to;
    int port;
    bool arrives;
    int sourcePort = 0;  // 0: one of the probes' own
};

// A DNS question for example.com, as a resolver would read it.
const unsigned char kQuestion[] = {0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 7, 'e', 'x', 'a', 'm', 'p', 'l',
                                   'e', 3, 'c', 'o', 'm', 0, 0, 1, 0, 1};

// In a child: into the namespace, down to the uid, then one try.
void sendProbe(const std::string& ns, const Probe& p, int sourcePort) {
    if (!hw::test::NetnsRig::enter(ns)) ::_exit(2);
    if (p.uid != 0 && (::setgid(p.uid) != 0 || ::setuid(p.uid) != 0)) ::_exit(3);
    const bool v6 = std::strchr(p.to, ':') != nullptr;
    const int s = ::socket(v6 ? AF_INET6 : AF_INET, p.type, 0);
    if (p.mark && ::setsockopt(s, SOL_SOCKET, SO_MARK, &p.mark, sizeof(p.mark)) != 0) ::_exit(4);
    sockaddr_storage from{}, to{};
    socklen_t size = 0;
    if (v6) {
        auto *f = reinterpret_cast<sockaddr_in6*>(&from), *t = reinterpret_cast<sockaddr_in6*>(&to);
        f->sin6_family = t->sin6_family = AF_INET6;
        f->sin6_port = htons(static_cast<uint16_t>(sourcePort));
        t->sin6_port = htons(static_cast<uint16_t>(p.port));
        ::inet_pton(AF_INET6, p.to, &t->sin6_addr);
        size = sizeof(sockaddr_in6);
    } else {
        auto *f = reinterpret_cast<sockaddr_in*>(&from), *t = reinterpret_cast<sockaddr_in*>(&to);
        f->sin_family = t->sin_family = AF_INET;
        f->sin_port = htons(static_cast<uint16_t>(sourcePort));
        t->sin_port = htons(static_cast<uint16_t>(p.port));
        ::inet_pton(AF_INET, p.to, &t->sin_addr);
        size = sizeof(sockaddr_in);
    }
    if (::bind(s, reinterpret_cast<sockaddr*>(&from), size) != 0) ::_exit(5);
    // A connection's first packet is what must not leave; the rest cannot without it.
    if (p.type == SOCK_DGRAM) {
        if (::sendto(s, kQuestion, sizeof(kQuestion), 0, reinterpret_cast<sockaddr*>(&to), size) < 0 && errno != EPERM)
            ::_exit(6);  // no route: the probe would prove nothing
    } else if (::fcntl(s, F_SETFL, O_NONBLOCK) == 0) {
        ::connect(s, reinterpret_cast<sockaddr*>(&to), size);
    }
    ::_exit(0);
}

class LockLeaks : public ::testing::Test {
protected:
    void SetUp() override {
        auto why = bed_.setUp();
        if (!why.empty()) GTEST_SKIP() << why;
        std::ofstream(dir_ / "helper.conf") << "uid=" << kUser << "\n";
        std::ofstream(dir_ / "resolv.conf") << "nameserver " << kResolver << "\n";
        ASSERT_TRUE(helper_.start());
        ASSERT_EQ(helper_.rpc("enableNetworkLock", {{"dnsResolver", kResolver}}), "10.77.0.1");
        ASSERT_EQ(helper_.rpc("staticRouteAddingProcessing", {{"vpnServerAddress", kServer}}), kServer);
    }
    void TearDown() override {
        if (helper_.pid() > 0) {
            EXPECT_EQ(helper_.stop(), 0);
        }
    }

    test::NetnsTestbed bed_;
    test::ScratchDir dir_;
    test::RunningHelper helper_{bed_.client, dir_.path(), {"PATH=" + (dir_ / "no-tools")}};
};

TEST_F(LockLeaks, NothingOfTheUsersReachesTheServerOrTheResolvers) {
    const int udp = SOCK_DGRAM, tcp = SOCK_STREAM;
    const Probe probes[] = {
        {"a user's DNS over UDP", kUser, 0, udp, kResolver, 53, false},
        {"a user's DNS over TCP", kUser, 0, tcp, kResolver, 53, false},
        {"a user's bytes to the server's port 53", kUser, 0, udp, kServer, 53, false},
        {"a user's connection to the server's port 80", kUser, 0, tcp, kServer, 80, false},
        {"a user's datagram to the tunnel's own port", kUser, 0, udp, kServer, 1194, false},
        {"a user's datagram to the IKE port", kUser, 0, udp, kServer, 500, false},
        {"root's unmarked lookup", 0, 0, udp, kResolver, 53, false},
        {"root's unmarked connection to port 80", 0, 0, tcp, kServer, 80, false},
        {"the tunnel software over UDP", 0, kLockMark, udp, kServer, 1194, true},
        {"the tunnel software over TCP", 0, kLockMark, tcp, kServer, 443, true},
        {"root's L2TP tools to the IKE port", 0, 0, udp, kServer, 500, true},
        {"a user's DNS over IPv6", kUser, 0, udp, kPeer6, 53, false},
        {"a user's connection over IPv6", kUser, 0, tcp, kPeer6, 443, false},
        {"root's unmarked lookup over IPv6", 0, 0, udp, kPeer6, 53, false},
        // The lock lets DHCPv6 out: what shows that the IPv6 probes could arrive.
        {"root's DHCPv6 request", 0, 0, udp, kPeer6, 547, true, 546},
    };
    // The link over IPv6 too, as a user's network would have it.
    ASSERT_TRUE(bed_.in(bed_.client, {"ip", "-6", "addr", "add", "fd77::2/64", "dev", "veth0", "nodad"}));
    ASSERT_TRUE(bed_.in(bed_.net, {"ip", "-6", "addr", "add", std::string(kPeer6) + "/64", "dev", "veth1", "nodad"}));
    // A counter per probe where the link arrives, told apart by source port.
    std::string table = "table inet hwprobe {\n";
    std::string rules = "  chain seen {\n    type filter hook prerouting priority raw; policy accept;\n";
    for (std::size_t i = 0; i < std::size(probes); ++i) {
        const std::string n = std::to_string(i);
        table += "  counter p" + n + " {}\n";
        const int port = probes[i].sourcePort ? probes[i].sourcePort : static_cast<int>(41000 + i);
        rules += std::string("    iifname \"veth1\" meta l4proto ") + (probes[i].type == udp ? "udp" : "tcp") +
                 " th sport " + std::to_string(port) + " counter name p" + n + "\n";
    }
    // The helper's own lookup, from a port of its choosing.
    table += "  counter helper {}\n";
    rules += std::string("    iifname \"veth1\" ip daddr ") + kResolver +
             " udp dport 53 udp sport != 41000-41099 counter name helper\n";
    const std::string rulesFile = dir_ / "probe.nft";
    std::ofstream(rulesFile) << table << rules << "  }\n}\n";
    ASSERT_TRUE(bed_.in(bed_.net, {"nft", "-f", rulesFile}));

    std::vector<pid_t> children;
    for (std::size_t i = 0; i < std::size(probes); ++i) {
        const pid_t child = ::fork();
        if (child == 0)
            sendProbe(bed_.client, probes[i], probes[i].sourcePort ? probes[i].sourcePort : static_cast<int>(41000 + i));
        children.push_back(child);
    }
    // After the forks: a child of a process with more threads may find a lock taken.
    std::thread lookup([&] {
        // Nothing answers there: only its leaving counts.
        EXPECT_EQ(helper_.rpc("resolveVPNServerHost", {{"vpnServerHost", "vpn.example.com"}}), "NO");
    });
    for (pid_t child : children) EXPECT_EQ(hw::test::waitChild(child, std::chrono::seconds(10)), 0);

    lookup.join();
    auto arrived = [&](const std::string& counter) {
        std::string out;
        bed_.in(bed_.net, {"nft", "list", "counter", "inet", "hwprobe", counter}, &out);
        const auto at = out.find("packets ");
        return at != std::string::npos && std::stoll(out.substr(at + 8)) > 0;
    };
    for (std::size_t i = 0; i < std::size(probes); ++i)
        EXPECT_EQ(arrived("p" + std::to_string(i)), probes[i].arrives) << probes[i].what;
    EXPECT_TRUE(arrived("helper")) << "the helper's own lookup";
}

// A datagram from `from`:fromPort (the server's openvpn, the resolver) to a
// socket bound to port `port` in the client namespace, sent after the
// client's socket sent its own from there (marked or not), or after a marked
// socket there did and closed; true when it arrived.
struct Answer {
    const char* what;
    int port;
    unsigned mark;
    bool speaksFirst;
    bool arrives;
    bool afterAMarkedSocket = false;
    const char* from = kServer;
    int fromPort = 1194;
};

bool answerArrives(const std::string& client, const std::string& net, const Answer& a) {
    int rx = -1, tx = -1, earlier = -1;
    sockaddr_in local{}, server{}, clientAddress{};
    local.sin_family = server.sin_family = clientAddress.sin_family = AF_INET;
    local.sin_port = clientAddress.sin_port = htons(static_cast<uint16_t>(a.port));
    server.sin_port = htons(static_cast<uint16_t>(a.fromPort));
    ::inet_pton(AF_INET, a.from, &server.sin_addr);
    ::inet_pton(AF_INET, "10.77.0.2", &clientAddress.sin_addr);
    const unsigned lockMark = kLockMark;
    hw::test::NetnsRig::inside(client, [&] {
        if (a.afterAMarkedSocket) {
            earlier = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ::setsockopt(earlier, SOL_SOCKET, SO_MARK, &lockMark, sizeof(lockMark));
            ::bind(earlier, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        }
        rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (a.mark) ::setsockopt(rx, SOL_SOCKET, SO_MARK, &a.mark, sizeof(a.mark));
    });
    // The tunnel software spoke from the port and ended; its connection's
    // mark lives on.
    if (earlier >= 0) {
        ::sendto(earlier, "?", 1, 0, reinterpret_cast<sockaddr*>(&server), sizeof(server));
        ::close(earlier);
    }
    ::bind(rx, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    hw::test::NetnsRig::inside(net, [&] {
        tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ::bind(tx, reinterpret_cast<sockaddr*>(&server), sizeof(server));
    });
    if (a.speaksFirst) ::sendto(rx, "?", 1, 0, reinterpret_cast<sockaddr*>(&server), sizeof(server));
    ::sendto(tx, "!", 1, 0, reinterpret_cast<sockaddr*>(&clientAddress), sizeof(clientAddress));
    // Only the server's datagram counts, not one that looped back.
    bool got = false;
    for (pollfd p{rx, POLLIN, 0}; !got && ::poll(&p, 1, 1000) == 1;) {
        char c = 0;
        got = ::recv(rx, &c, 1, 0) == 1 && c == '!';
    }
    ::close(rx);
    ::close(tx);
    return got;
}

TEST_F(LockLeaks, FromTheServerOnlyAnswersToTheTunnelSoftwareComeIn) {
    const Answer rows[] = {
        {"to a user's socket that never spoke", 42001, 0, false, false},
        {"to a user's socket that tried to speak", 42002, 0, true, false},
        {"an answer to the tunnel software", 42003, kLockMark, true, true},
        {"to a user's socket where the tunnel software's was", 42004, 0, false, false, true},
        {"to a user's socket where the helper's lookup was", 42005, 0, false, false, true, kResolver, 53},
        {"an answer to the helper's lookup", 42006, kLockMark, true, true, false, kResolver, 53},
    };
    for (const auto& row : rows) EXPECT_EQ(answerArrives(bed_.client, bed_.net, row), row.arrives) << row.what;
}

}  // namespace
}  // namespace hw::helper
