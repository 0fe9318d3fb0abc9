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
                             "\"up\" x", "'up' x", "mark 1", "socks-proxy 127.0.0.1 1080",
                             "socks-proxy 127.0.0.1 1080 /etc/shadow", "engine dynamic", "providers legacy"}) {
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
    auto r = filterOpenVPNConfig("client\nremote host#1 1194 # comment ; up /x\n");
    ASSERT_TRUE(r.config) << r.refusal;
    EXPECT_EQ(*r.config, "client\nremote \"host#1\" 1194\nnobind\n");
    r = filterOpenVPNConfig("client\nremote \"#host\" 1194\n");
    ASSERT_TRUE(r.config);
    EXPECT_EQ(*r.config, "client\nremote \"#host\" 1194\nnobind\n");
}

// Root's openvpn holds no fixed local port, whether the file says so or not.
TEST(OpenVPNConfigFilter, EveryClientIsGivenNoFixedPort) {
    for (const char* text : {"client\nremote vpn.example.net 1194\n", "client\nremote vpn.example.net 1194\nnobind\n",
                             "client\nproto tcp\n<connection>\nremote vpn.example.net 443\n</connection>\n"}) {
        auto r = filterOpenVPNConfig(text);
        ASSERT_TRUE(r.config) << text << r.refusal;
        std::size_t count = 0;
        for (auto at = r.config->find("nobind\n"); at != std::string::npos; at = r.config->find("nobind\n", at + 1)) ++count;
        EXPECT_EQ(count, 1u) << *r.config;
    }
}

// Root's openvpn is only ever a TLS client of the remote server: one row per
// way a file could have it listen for peers or serve them.
TEST(OpenVPNConfigFilter, ServerAndListeningFormsAreRefused) {
    const std::string head = "client\nremote vpn.example.net 1194\n";
    struct Row {
        std::string text;
        std::string refusal;
    };
    for (const Row& row : std::vector<Row>{
             {head + "proto tcp-server\n", "line 3: 'proto' with other than a client's udp or tcp"},
             {head + "proto tcp4-server\n", "line 3: 'proto' with other than a client's udp or tcp"},
             {head + "proto tcp6-server\n", "line 3: 'proto' with other than a client's udp or tcp"},
             {head + "proto udp tcp\n", "line 3: 'proto' with other than a client's udp or tcp"},
             {head + "remote 10.0.0.1 443 tcp-server\n", "line 3: 'remote' with other than a client's udp or tcp"},
             {"client\n<connection>\nremote 10.0.0.1 443 tcp-server\n</connection>\n",
              "line 3: 'remote' with other than a client's udp or tcp"},
             {"client\n<connection>\nremote 10.0.0.1\nlport 25\n</connection>\n",
              "line 4: 'lport' would have openvpn listen or serve; it runs only as a client"},
             {head + "--lport 25\n", "line 3: 'lport' would have openvpn listen or serve; it runs only as a client"},
             {head + "local 0.0.0.0\n", "line 3: 'local' would have openvpn listen or serve; it runs only as a client"},
             {head + "bind\n", "line 3: 'bind' would have openvpn listen or serve; it runs only as a client"},
             {head + "ifconfig 10.9.0.1 10.9.0.2\n",
              "line 3: 'ifconfig' would have openvpn listen or serve; it runs only as a client"},
             {head + "ifconfig-ipv6 fd00::1/64 fd00::2\n",
              "line 3: 'ifconfig-ipv6' would have openvpn listen or serve; it runs only as a client"},
             {head + "mode server\n", "line 3: 'mode' would have openvpn listen or serve; it runs only as a client"},
             {head + "server 10.8.0.0 255.255.255.0\n",
              "line 3: 'server' would have openvpn listen or serve; it runs only as a client"},
             {head + "tls-server\n", "line 3: 'tls-server' would have openvpn listen or serve; it runs only as a client"},
             {head + "push \"route 0.0.0.0\"\n",
              "line 3: 'push' would have openvpn listen or serve; it runs only as a client"},
             // The whole case of the report: no client mode at all.
             {"dev tun0\nproto tcp-server\n", "line 2: 'proto' with other than a client's udp or tcp"},
             {"dev tun0\nproto udp\nremote 10.0.0.1\n",
              "no 'client' (or 'tls-client' with 'pull'): openvpn runs only as a client"},
             {"tls-client\nremote 10.0.0.1\n", "no 'client' (or 'tls-client' with 'pull'): openvpn runs only as a client"},
             {"pull\nremote 10.0.0.1\n", "no 'client' (or 'tls-client' with 'pull'): openvpn runs only as a client"},
             {"client\nproto udp\n", "no 'remote': openvpn runs only as a client of a remote server"},
             {"client\nremote\n", "line 2: 'remote' with no host"},
         }) {
        auto r = filterOpenVPNConfig(row.text);
        EXPECT_FALSE(r.config) << row.text;
        EXPECT_EQ(r.refusal, row.refusal) << row.text;
    }
    for (const char* text : {"tls-client\npull\nremote 10.0.0.1 1194 tcp-client\n", "client\nremote a 1 udp6\nproto tcp4\n",
                             "client\nremote a\nproto tcp6-client\n"})
        EXPECT_TRUE(filterOpenVPNConfig(text).config) << text;
}

// What the service hands out, as the testbed's backend builds it, with the
// inline blocks of its servers: unchanged but for the static key's comments.
TEST(OpenVPNConfigFilter, TheServedConfigurationPasses) {
    const std::string served =
        "client\ndev tun\nproto udp\nremote us1.vpn.havenway.test 1194\nresolv-retry infinite\nnobind\n"
        "persist-key\npersist-tun\nauth-user-pass\ncipher AES-256-GCM\nverb 3\nremote-cert-tls server\n"
        "<ca>\n-----BEGIN CERTIFICATE-----\nMIIBszCCAVmgAwIBAgIUQ+/x==\n-----END CERTIFICATE-----\n</ca>\n"
        "<tls-crypt>\n#\n# 2048 bit OpenVPN static key\n#\n-----BEGIN OpenVPN Static key V1-----\n"
        "6b3c6f0e\n-----END OpenVPN Static key V1-----\n</tls-crypt>\n";
    std::string expected = served;
    expected.erase(expected.find("#\n"), std::string("#\n# 2048 bit OpenVPN static key\n#\n").size());
    auto r = filterOpenVPNConfig(served);
    ASSERT_TRUE(r.config) << r.refusal;
    EXPECT_EQ(*r.config, expected);
    // The application writes it with the server's address in place of its name.
    std::string byAddress = served;
    byAddress.replace(byAddress.find("us1.vpn.havenway.test"), 21, "10.88.0.1");
    expected.replace(expected.find("us1.vpn.havenway.test"), 21, "10.88.0.1");
    r = filterOpenVPNConfig(byAddress);
    ASSERT_TRUE(r.config) << r.refusal;
    EXPECT_EQ(*r.config, expected);
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
