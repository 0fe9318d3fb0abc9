// The testbed's VPN servers, brought up beside any running testbed and taken
// down after everything of theirs was killed: nothing of them may be left.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <sstream>

#include "support/netns_rig.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

std::string servers() { return NetnsRig::sourceDir() + "/testbed/vpn/servers"; }

std::string output(std::vector<std::string> argv, const TempDir& dir) {
    const std::string file = dir.file("output");
    ::unlink(file.c_str());
    runQuiet(std::move(argv), file);
    return readText(file);
}

std::map<std::string, std::string> readEnv(const std::string& path) {
    std::map<std::string, std::string> values;
    std::istringstream lines(readText(path));
    for (std::string line; std::getline(lines, line);)
        if (auto eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    return values;
}

std::vector<pid_t> pidsIn(const std::string& ns, const TempDir& dir) {
    std::vector<pid_t> pids;
    std::istringstream words(output({"ip", "netns", "pids", ns}, dir));
    for (pid_t pid; words >> pid;) pids.push_back(pid);
    return pids;
}

TEST(VPNServers, DownAfterAKillOfEverythingLeavesNothingBehind) {
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    for (const char* tool : {"/usr/sbin/openvpn", "/usr/lib/ipsec/charon", "/usr/sbin/swanctl", "/usr/sbin/nft"})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << "needs " << tool;
    if (!runQuiet({"node", "--version"})) GTEST_SKIP() << "needs node";

    TempDir dir;
    const std::string log = dir.file("setup.log");
    ASSERT_EQ(::mkdir(dir.file("ca").c_str(), 0700), 0);
    ASSERT_TRUE(runQuiet({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                          "-nodes", "-days", "1", "-subj", "/CN=Scratch CA", "-keyout", dir.file("ca/ca.key"), "-out",
                          dir.file("ca/ca.crt")},
                         log));
    const bool made = runQuiet({servers(), "net", dir.path()}, log);
    const auto env = readEnv(dir.file("vpn.env"));
    const std::string server = env.count("TESTBED_SERVER_NETNS") ? env.at("TESTBED_SERVER_NETNS") : "";
    const std::string client = env.count("TESTBED_CLIENT_NETNS") ? env.at("TESTBED_CLIENT_NETNS") : "";
    ASSERT_TRUE(made && !server.empty() && !client.empty()) << readText(log);
    const bool started = runQuiet({servers(), "pki", dir.path()}, log) && runQuiet({servers(), "start", dir.path()}, log);
    if (!started) runQuiet({servers(), "down", dir.path()});
    ASSERT_TRUE(started) << readText(log);
    // What the helper leaves in the client namespace when it dies with the kill switch on.
    ASSERT_TRUE(NetnsRig::in(client, {"nft", "add", "table", "inet", "havenway"}));

    std::vector<pid_t> killed = pidsIn(server, dir);
    EXPECT_GE(killed.size(), 3u) << "openvpn, charon and the name server";
    for (pid_t pid : killed) ::kill(pid, SIGKILL);
    ASSERT_TRUE(runQuiet({servers(), "down", dir.path()}, log)) << readText(log);

    const std::string namespaces = output({"ip", "netns", "list"}, dir);
    EXPECT_EQ(namespaces.find(server), std::string::npos) << namespaces;
    EXPECT_EQ(namespaces.find(client), std::string::npos) << namespaces;
    const std::string link = "hwtb" + env.at("TESTBED_INDEX") + "m";
    EXPECT_FALSE(runQuiet({"ip", "link", "show", "dev", link})) << link << " is still there";
    const std::string routes = output({"ip", "route", "show", "table", "all"}, dir);
    EXPECT_EQ(routes.find(env.at("TESTBED_LINK_ADDRESS")), std::string::npos) << routes;
    EXPECT_EQ(output({"nft", "list", "tables"}, dir).find("havenway_testbed"), std::string::npos);
    EXPECT_FALSE(::access(("/etc/netns/" + client).c_str(), F_OK) == 0);
    for (pid_t pid : killed)
        EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(5))) << pid << " still runs";
}

}  // namespace
}  // namespace hw::test
