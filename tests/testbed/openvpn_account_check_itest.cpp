// The testbed openvpn server's account check: its plugin asks one long-lived
// checker, which asks the backend. Needs `scripts/testbed up` as root.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/netns_rig.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

// The checker's one-byte verdict for a user name and password, or "" without one.
std::string verdict(const std::string& socketPath, const std::string& user, const std::string& password) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const timeval bound{15, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    std::string answer;
    const std::string ask = user + "\n" + password + "\n";
    char byte = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, ask.data(), ask.size()) == static_cast<ssize_t>(ask.size()) && ::read(fd, &byte, 1) == 1)
        answer.assign(1, byte);
    ::close(fd);
    return answer;
}

TEST(OpenVPNAccountCheck, TheCheckerAcceptsTheAccountAndRefusesAWrongPasswordWithoutAProcessPerConnect) {
    HW_REQUIRE_TESTBED(env);
    const std::string pidFile = env.get("HAVENWAY_TESTBED_OPENVPN_PID");
    if (pidFile.empty()) GTEST_SKIP() << "the testbed runs no VPN servers (it needs root)";
    const std::string dir = pidFile.substr(0, pidFile.rfind('/'));
    const std::string conf = readText(dir + "/server.conf");
    EXPECT_NE(conf.find("plugin " + dir + "/backend_auth_plugin.so"), std::string::npos) << conf;
    EXPECT_EQ(conf.find("auth-user-pass-verify"), std::string::npos) << conf;

    const std::string user = env.get("HAVENWAY_TESTBED_DEMO_USER"), password = env.get("HAVENWAY_TESTBED_DEMO_PASSWORD");
    struct Row {
        const char* name;
        std::string user, password;
        const char* verdict;
    };
    for (const Row& row : {Row{"the account", user, password, "1"}, Row{"a wrong password", user, password + "x", "0"},
                           Row{"an unknown account", "nobody@havenway.test", password, "0"},
                           Row{"the account again", user, password, "1"}}) {
        EXPECT_EQ(verdict(dir + "/checker.sock", row.user, row.password), row.verdict) << row.name;
    }
}

}  // namespace
}  // namespace hw::test
