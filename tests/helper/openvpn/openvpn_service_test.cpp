#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <fstream>

#include "../fake_system.h"
#include "helper/openvpn/openvpn_service.h"

namespace hw::helper {
namespace {

// The refusals happen before anything is started, so no openvpn runs here.
class OpenVPNServiceRefusals : public test::HelperFixture {
protected:
    std::string writeConfig(const std::string& name, const std::string& text) {
        std::string path = dir_.file(name);
        std::ofstream(path) << text;
        return path;
    }
    std::string create(const std::string& path, uid_t uid = ::getuid()) {
        HelperDictionary params{{"openvpncmd", "'/usr/sbin/openvpn' --config '" + path + "' --management 127.0.0.1 9544&"},
                                {"path_tun", "/dev/net/tun"}};
        HelperRequest request({}, UniqueFd(), HelperPeer{1, uid, 0});
        HelperCommand command{kHelperToolRpc, "createOpenVPNConnection", params, request};
        return *helperString(service.create(command), "reply");
    }

    OpenVPNServiceOptions options{.openvpnBinary = "/nonexistent/openvpn", .eventProgram = "/x", .eventPlugin = {}};
    OpenVPNService service{*services_, options};
};

TEST_F(OpenVPNServiceRefusals, FileChecks) {
    auto good = writeConfig("config_current.ovpn", "client\nup /tmp/evil.sh\n");
    EXPECT_EQ(create(good), "NO");  // a directive that runs a program
    EXPECT_EQ(create(good, ::getuid() + 1), "NO");  // someone else's file
    EXPECT_EQ(create(writeConfig("other.ovpn", "client\n")), "NO");

    std::string linkDir = dir_.file("l");
    ::mkdir(linkDir.c_str(), 0700);
    ::symlink(writeConfig("target.ovpn", "client\n").c_str(), (linkDir + "/config_current.ovpn").c_str());
    EXPECT_EQ(create(linkDir + "/config_current.ovpn"), "NO");

    std::string fifoDir = dir_.file("f");
    ::mkdir(fifoDir.c_str(), 0700);
    ::mkfifo((fifoDir + "/config_current.ovpn").c_str(), 0600);
    EXPECT_EQ(create(fifoDir + "/config_current.ovpn"), "NO");  // and does not hang on it

    EXPECT_FALSE(service.runningPid());
    struct stat st {};
    EXPECT_NE(::stat(service.configCopyPath().c_str(), &st), 0);  // nothing copied
}

TEST_F(OpenVPNServiceRefusals, OurArgvPutsManagementAndScriptsAfterTheFile) {
    auto args = service.openvpnArguments();
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[1], "--config");
    EXPECT_EQ(args[2], service.configCopyPath());
    auto at = [&](const std::string& v) { return std::find(args.begin(), args.end(), v) - args.begin(); };
    EXPECT_EQ(args[at("--management") + 1], service.managementPath());
    EXPECT_EQ(args[at("--management") + 2], "unix");
    EXPECT_EQ(args[at("--up") + 1], "\"/x\" --openvpn-event \"" + services_->context.paths.socket + "\"");
    EXPECT_LT(at("--up"), static_cast<long>(args.size()));

    // With the plugin, no program runs for the events and none may.
    OpenVPNService withPlugin{*services_, {.openvpnBinary = "/nonexistent/openvpn", .eventProgram = "/x",
                                           .eventPlugin = "/p.so"}};
    args = withPlugin.openvpnArguments();
    EXPECT_EQ(std::vector<std::string>(args.end() - 3, args.end()),
              (std::vector<std::string>{"--plugin", "/p.so", services_->context.paths.socket}));
    for (const char* script : {"--up", "--down", "--script-security"}) EXPECT_EQ(at(script), args.size()) << script;
}

TEST_F(OpenVPNServiceRefusals, UnderTheLockThePushedRedirectIsIgnored) {
    // The lock took the default route away: openvpn's own redirect would end
    // in a route error that never counts as connected.
    auto ignores = [&] {
        const auto args = service.openvpnArguments();
        const std::vector<std::string> filter{"--pull-filter", "ignore", "redirect-gateway"};
        return std::search(args.begin(), args.end(), filter.begin(), filter.end()) != args.end();
    };
    EXPECT_FALSE(ignores());
    ASSERT_NE(services_->lock.enable({}), "");
    EXPECT_TRUE(ignores());
    services_->lock.disable(std::nullopt);
    EXPECT_FALSE(ignores());
}

TEST_F(OpenVPNServiceRefusals, TunnelEventsOnlyFromRootAndTheCurrentOpenVPN) {
    auto event = [&](const std::string& name, HelperDictionary params, uid_t uid) {
        HelperRequest request({}, UniqueFd(), HelperPeer{1, uid, 0});
        HelperCommand command{kOpenVPNEventType, name, params, request};
        return *helperString(service.event(command), "reply");
    };
    const HelperDictionary up{{"dev", "tun0"}, {"dns", HelperArray{HelperValue("10.89.0.1")}}, {"pid", 4242}};
    EXPECT_EQ(event("up", up, 1000), "NO");
    EXPECT_EQ(event("up", up, 0), "NO");  // no openvpn of ours runs with that pid
    EXPECT_NE(services_->dns.serversToInstall().front(), "10.89.0.1");
}

// openvpn itself masks the password it is handed, not the user name.
TEST(OpenVPNLog, TheUserNameNeverReachesTheLog) {
    EXPECT_EQ(openvpnLogLine("2026-12-07 06:00:00 MANAGEMENT: CMD 'username \"Auth\" \"demo@havenway.test\"'"),
              "2026-12-07 06:00:00 MANAGEMENT: CMD 'username [...]'");
    EXPECT_EQ(openvpnLogLine("MANAGEMENT: CMD 'password [...]'"), "MANAGEMENT: CMD 'password [...]'");
    EXPECT_EQ(openvpnLogLine("Initialization Sequence Completed"), "Initialization Sequence Completed");
}

}  // namespace
}  // namespace hw::helper
