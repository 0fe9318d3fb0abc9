// The server-host resolver against a small DNS responder inside a private
// network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "connection/vpn_connection_manager_resolver.h"
#include "support/netns_rig.h"

namespace hw::test {
namespace {

// Answers every A question with one address and a CNAME first, or with
// NXDOMAIN for names that start with "missing".
class DNSResponder {
public:
    explicit DNSResponder(int fd) : fd_(fd), thread_([this] { serve(); }) {}
    ~DNSResponder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            unsigned char q[512];
            sockaddr_in from{};
            socklen_t len = sizeof(from);
            ssize_t n = ::recvfrom(fd_, q, sizeof(q), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 17) continue;
            std::string a(reinterpret_cast<char*>(q), static_cast<std::size_t>(n));
            const bool missing = std::memcmp(q + 13, "missing", 7) == 0;
            a[2] = static_cast<char>(0x81);
            a[3] = static_cast<char>(missing ? 0x83 : 0x80);
            if (!missing) {
                a[7] = 2;  // two answers
                // CNAME to the question's name (pointer 0xC00C), then the A record.
                a += std::string("\xC0\x0C\x00\x05\x00\x01\x00\x00\x00\x3C\x00\x02\xC0\x0C", 14);
                a += std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x3C\x00\x04\xCB\x00\x71\x07", 16);
            }
            ::sendto(fd_, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ResolverInNetns : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root";
        if (!runQuiet({"ip", "netns", "add", ns_})) GTEST_SKIP() << "cannot create network namespaces";
        made_ = true;
        ASSERT_TRUE(NetnsRig::in(ns_, {"ip", "link", "set", "lo", "up"}));
        ASSERT_TRUE(NetnsRig::in(ns_, {"ip", "addr", "add", "192.0.2.53/32", "dev", "lo"}));
    }
    void TearDown() override {
        if (made_) runQuiet({"ip", "netns", "del", ns_});
    }

    std::string ns_ = NetnsRig::name("hwres");
    bool made_ = false;
};

TEST_F(ResolverInNetns, AsksTheGivenServerAndSkipsToTheAddressRecord) {
    int fd = -1;
    NetnsRig::inside(ns_, [&] {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        ::inet_pton(AF_INET, "192.0.2.53", &a.sin_addr);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    });
    ASSERT_GE(fd, 0);
    DNSResponder responder(fd);
    std::optional<std::string> found, missing, invalid;
    NetnsRig::inside(ns_, [&] {
        // A server that is not an address is skipped; the usable one is asked.
        found = DNSServerHostResolver::resolveNow("de1.example.net", {"not an address", "192.0.2.53"});
        missing = DNSServerHostResolver::resolveNow("missing.example.net", {"192.0.2.53"});
        invalid = DNSServerHostResolver::resolveNow("", {"192.0.2.53"});
    });
    EXPECT_EQ(found, "203.0.113.7");
    EXPECT_EQ(missing, std::nullopt);
    EXPECT_EQ(invalid, std::nullopt);
}

}  // namespace
}  // namespace hw::test
