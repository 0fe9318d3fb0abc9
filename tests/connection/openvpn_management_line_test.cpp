#include <gtest/gtest.h>

#include "connection/openvpn_constants.h"
#include "connection/openvpn_management_line.h"

namespace hw {
namespace {

using Kind = OpenVPNLineEvent::Kind;
using Change = OpenVPNLineEvent::StateChange;

TEST(OpenVPNLineClassifier, NotificationsAndErrors) {
    EXPECT_EQ(classifyOpenVPNLine(">PASSWORD:Need 'Auth' username/password").kind, Kind::PasswordRequest);

    struct Case {
        const char* line;
        std::uint32_t code;
    };
    for (const Case& c : {Case{">PASSWORD:Verification Failed: 'Auth'", 0},
                          Case{">FATAL:AUTH_FAILED", 0},
                          Case{">FATAL:Error: private key password verification failed", 0},
                          Case{">FATAL:Cannot allocate TUN/TAP dev dynamically", 2},
                          Case{">FATAL:ERROR: Cannot open TUN/TAP dev /dev/net/tun: No such device (errno=19)", 2},
                          Case{">FATAL:Cannot load CA certificate file ca.crt", 3},
                          Case{">FATAL:Options error: something else", 4}}) {
        auto e = classifyOpenVPNLine(c.line);
        EXPECT_EQ(e.kind, Kind::Error) << c.line;
        EXPECT_EQ(e.errorCode, c.code) << c.line;
    }
}

TEST(OpenVPNLineClassifier, LogEchoesAreNotActedOnTwice) {
    // openvpn echoes its notifications inside log lines; only the
    // notification itself counts.
    EXPECT_EQ(classifyOpenVPNLine(">LOG:1796579328,,MANAGEMENT: >STATE:1796579328,CONNECTED,SUCCESS,10.89.0.2,,,,").kind,
              Kind::Other);
    EXPECT_EQ(classifyOpenVPNLine(">LOG:1796579340,F,ERROR: Cannot open TUN/TAP dev /dev/x: No such file").kind,
              Kind::Other);
    EXPECT_EQ(classifyOpenVPNLine(">LOG:1,N,text with FATAL in it").kind, Kind::Other);
}

TEST(OpenVPNLineClassifier, StateLines) {
    auto connected = classifyOpenVPNLine(">STATE:1796579328,CONNECTED,SUCCESS,10.89.0.2,10.88.0.1,1194,,");
    EXPECT_EQ(connected.kind, Kind::State);
    EXPECT_EQ(connected.state, "CONNECTED");
    EXPECT_EQ(connected.stateChange, Change::Connected);

    auto reconnecting = classifyOpenVPNLine(">STATE:1796579328,RECONNECTING,ping-restart,,,,,");
    EXPECT_EQ(reconnecting.stateChange, Change::Reconnecting);
    EXPECT_EQ(reconnecting.state, "RECONNECTING");

    EXPECT_EQ(classifyOpenVPNLine(">STATE:1796579336,EXITING,auth-failure,,,,,").stateChange, Change::Exiting);
    auto wait = classifyOpenVPNLine(">STATE:1796579336,WAIT,,,,,,");
    EXPECT_EQ(wait.stateChange, Change::None);
    EXPECT_EQ(wait.state, "WAIT");

    auto bare = classifyOpenVPNLine(">STATE:1796579336");
    EXPECT_EQ(bare.kind, Kind::State);
    EXPECT_FALSE(bare.state.has_value());
}

TEST(OpenVPNLineClassifier, RestartsAndUnreachableServers) {
    EXPECT_EQ(classifyOpenVPNLine(">LOG:1,,[server] Inactivity timeout (--ping-restart), restarting").kind,
              Kind::Reconnecting);
    EXPECT_EQ(classifyOpenVPNLine("write UDP: Can't assign requested address (code=49)").kind, Kind::NotReachable);
    EXPECT_EQ(classifyOpenVPNLine(">LOG:1,W,write UDPv4 []: Cannot assign requested address (fd=3,code=99)").kind,
              Kind::NotReachable);
}

TEST(OpenVPNGatewayParser, LinuxLines) {
    EXPECT_EQ(parseOpenVPNGateway(">LOG:1,I,net_addr_ptp_v4_add: 10.8.0.6 peer 10.8.0.5 dev tun0"), "10.8.0.5");
    EXPECT_EQ(parseOpenVPNGateway(">LOG:1,,PUSH: Received control message: 'PUSH_REPLY,dhcp-option DNS 10.89.0.1,"
                                  "route-gateway 10.89.0.1,topology subnet,ping 10'"),
              "10.89.0.1");
    auto e = classifyOpenVPNLine(">LOG:1,I,net_addr_ptp_v4_add: 10.8.0.6 peer 10.8.0.5 dev tun0");
    EXPECT_EQ(e.kind, Kind::Gateway);
    EXPECT_EQ(e.gateway, "10.8.0.5");

    // Not a gateway: no peer, a name, or a route-gateway that is not pushed.
    EXPECT_FALSE(parseOpenVPNGateway("net_addr_v4_add: 10.89.0.2/24 dev tun0"));
    EXPECT_FALSE(parseOpenVPNGateway("net_addr_ptp_v4_add: 10.8.0.6 peer evil.example dev tun0"));
    EXPECT_FALSE(parseOpenVPNGateway("PUSH_REPLY,xroute-gateway 10.1.1.1"));
    EXPECT_FALSE(parseOpenVPNGateway("route-gateway 10.1.1.1"));
}

TEST(OpenVPNGatewayParser, UtunLinesTakeTheWordAfterTheLocalAddress) {
    EXPECT_EQ(parseOpenVPNGateway("ifconfig utun1 10.8.0.6 10.8.0.6 netmask 255.255.255.0 mtu 1500 up"), "10.8.0.6");
    // A point-to-point peer is the gateway, not an empty text.
    EXPECT_EQ(parseOpenVPNGateway("ifconfig utun1 10.8.0.6 10.8.0.5 mtu 1500"), "10.8.0.5");
    EXPECT_FALSE(parseOpenVPNGateway("ifconfig utun1 10.8.0.6 mtu 1500"));
    EXPECT_FALSE(parseOpenVPNGateway("ifconfig utun 10.8.0.6 10.8.0.5 mtu 1500"));
}

TEST(OpenVPNPushedDNS, OnlyAPushReplysNumericDNSEntriesCount) {
    using V = std::vector<std::string>;
    EXPECT_EQ(parseOpenVPNPushedDNS(">LOG:1,I,PUSH: Received control message: 'PUSH_REPLY,dhcp-option DNS 10.67.0.1,"
                                    "route 198.18.0.1 255.255.255.255,dhcp-option DNS 2001:db8::53,"
                                    "dhcp-option DOMAIN lan,dhcp-option DNS ns.example,ping 10'"),
              (V{"10.67.0.1", "2001:db8::53"}));
    EXPECT_EQ(parseOpenVPNPushedDNS(">LOG:1,I,OPTIONS IMPORT: dhcp-option DNS 10.67.0.1"), V{}) << "not a push reply";
    EXPECT_EQ(parseOpenVPNPushedDNS("PUSH_REPLY,dhcp-option DNS 10.0.0.1 ,ping 10"), V{}) << "a trailing space is no address";
}

TEST(OpenVPNManagementText, CredentialsAreQuotedAndLineBreaksRefused) {
    EXPECT_EQ(quoteManagementArgument("plain"), "\"plain\"");
    EXPECT_EQ(quoteManagementArgument("a b\"c\\d"), "\"a b\\\"c\\\\d\"");
    EXPECT_EQ(quoteManagementArgument(""), "\"\"");
    EXPECT_FALSE(quoteManagementArgument("pass\nsignal SIGTERM"));
    EXPECT_FALSE(quoteManagementArgument("pass\r"));
    EXPECT_FALSE(quoteManagementArgument(std::string("a\0b", 3)));
}

TEST(OpenVPNManagementText, LinesAreMadeSafeToKeep) {
    EXPECT_EQ(sanitizeOpenVPNLine(">STATE:1,WAIT\r"), ">STATE:1,WAIT");
    EXPECT_EQ(sanitizeOpenVPNLine("caf\xC3\xA9 \xFF\xC3 x\x01"), "caf\xC3\xA9 ?? x?");
    EXPECT_EQ(sanitizeOpenVPNLine("\xED\xA0\x80"), "???");  // an encoded surrogate
    EXPECT_EQ(sanitizeOpenVPNLine("\xC0\xAF"), "??");  // an overlong "/"
    EXPECT_EQ(sanitizeOpenVPNLine(">LOG:1,D,MANAGEMENT: CMD 'username \"Auth\" \"alice\"'\r"),
              ">LOG:1,D,MANAGEMENT: CMD 'username [...]'");
    EXPECT_EQ(sanitizeOpenVPNLine(">LOG:1,D,MANAGEMENT: CMD 'password \"Auth\" \"hunter2\"'"),
              ">LOG:1,D,MANAGEMENT: CMD 'password [...]'");
}

TEST(OpenVPNConstantsTest, CodesBeyondTheTableAndQuotedPaths) {
    EXPECT_EQ(OpenVPNConstants::errorText(4), "General connection error.");
    EXPECT_EQ(OpenVPNConstants::errorText(5), "General connection error, code: 5");
    EXPECT_EQ(OpenVPNConstants::shellQuoted("/home/o'neil/x"), "'/home/o'\\''neil/x'");
}

}  // namespace
}  // namespace hw
