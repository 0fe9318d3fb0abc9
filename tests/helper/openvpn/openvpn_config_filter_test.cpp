#include <gtest/gtest.h>

#include "helper/openvpn/openvpn_command_line.h"
#include "helper/openvpn/openvpn_config_filter.h"

namespace hw::helper {
namespace {

const char* kClient =
    "# a comment\n"
    "client\r\n"
    "dev tun\n"
    "proto udp\n"
    "remote vpn.example.net 1194\n"
    "--nobind\n"
    "auth-user-pass\n"
    "verify-x509-name \"server one\" name\n"
    "<ca>\n"
    "-----BEGIN CERTIFICATE-----\n"
    "MIIB\n"
    "-----END CERTIFICATE-----\n"
    "</ca>\n"
    "<connection>\n"
    "remote 10.0.0.1 443 tcp\n"
    "</connection>\n";

TEST(OpenVPNConfigFilter, AllowedConfigIsRebuiltWithOurQuoting) {
    auto r = filterOpenVPNConfig(kClient);
    ASSERT_TRUE(r.config) << r.refusal;
    EXPECT_EQ(*r.config,
              "client\ndev tun\nproto udp\nremote vpn.example.net 1194\nnobind\nauth-user-pass\n"
              "verify-x509-name \"server one\" name\n"
              "<ca>\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n</ca>\n"
              "<connection>\nremote 10.0.0.1 443 tcp\n</connection>\n");
}

TEST(OpenVPNConfigFilter, DirectivesThatRunProgramsOrTouchFilesAreRefused) {
    for (const char* line : {"up /tmp/x.sh", "--up /tmp/x.sh", "down x", "route-up x", "route-pre-down x",
                             "ipchange x", "iproute /tmp/ip", "tls-verify x", "auth-user-pass /root/creds",
                             "askpass /etc/shadow", "http-proxy proxy 8080 /etc/shadow basic", "plugin x.so",
                             "script-security 3", "log /etc/passwd", "log-append /etc/x", "status /etc/x",
                             "writepid /etc/x", "management 0.0.0.0 1", "config /etc/x", "cd /", "chroot /",
                             "client-connect x", "client-disconnect x", "learn-address x", "tls-export-cert /tmp",
                             "replay-persist /tmp/x", "ca /etc/ssl/ca.pem", "key /root/key", "setenv PATH /tmp",
                             "dev-node /dev/sda", "user nobody", "daemon", "no-such-directive", "dev ../../x",
                             "\"up\" x", "'up' x"}) {
        auto r = filterOpenVPNConfig(std::string("client\n") + line + "\n");
        EXPECT_FALSE(r.config) << line;
        EXPECT_EQ(r.refusal.rfind("line 2:", 0), 0u) << line << ": " << r.refusal;
    }
}

TEST(OpenVPNConfigFilter, TricksWithQuotingAndBlocksAreRefused) {
    for (const char* text : {
             "remote a\\ b\n",                 // backslash outside quotes
             "remote \"a\n",                   // open quote
             "remote \"a\"b\n",                // word glued to a quote
             "remote a\x01\n",                 // control character
             "<ca>\nMIIB\n",                   // never closed
             "<ca>\n</ca>up /x\n</ca>\n",      // a close tag openvpn might take early
             "<script>\nx\n</script>\n",       // unknown block
             "<connection>\nup /x\n</connection>\n",
             "<connection>\n<connection>\n</connection>\n</connection>\n",
             "<auth-user-pass>\nu\np\n</auth-user-pass>\n",
         }) {
        EXPECT_FALSE(filterOpenVPNConfig(text).config) << text;
    }
    EXPECT_FALSE(filterOpenVPNConfig(std::string(kOpenVPNConfigMaxBytes + 1, '#')).config);
    // A comment ends a line only at the start of a word.
    auto r = filterOpenVPNConfig("remote host#1 1194 # comment ; up /x\n");
    ASSERT_TRUE(r.config) << r.refusal;
    EXPECT_EQ(*r.config, "remote \"host#1\" 1194\n");
    r = filterOpenVPNConfig("remote \"#host\" 1194\n");
    ASSERT_TRUE(r.config);
    EXPECT_EQ(*r.config, "remote \"#host\" 1194\n");
}

TEST(OpenVPNCommandLine, OnlyTheConfigPathIsTaken) {
    EXPECT_EQ(configPathFromCommand("'/usr/sbin/openvpn' --config '/home/a/x/config_current.ovpn' --management "
                                    "127.0.0.1 9544 --up \"'/x/up.sh' -9 -d\"&"),
              "/home/a/x/config_current.ovpn");
    EXPECT_EQ(configPathFromCommand("openvpn --config '/home/o'\\''neil/config_current.ovpn'"),
              "/home/o'neil/config_current.ovpn");
    EXPECT_EQ(configPathFromCommand("openvpn --config /a\\ b/c.ovpn;rm -rf /"), "/a b/c.ovpn");
    EXPECT_FALSE(configPathFromCommand("openvpn --config relative.ovpn"));
    EXPECT_FALSE(configPathFromCommand("openvpn --config '/a' --config '/b'"));
    EXPECT_FALSE(configPathFromCommand("openvpn --config '/unterminated"));
    EXPECT_FALSE(configPathFromCommand("openvpn"));
}

}  // namespace
}  // namespace hw::helper
