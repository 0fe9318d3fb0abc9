#include "helper/ppp/ppp_options.h"

#include <gtest/gtest.h>

namespace hw::helper::ppp {
namespace {

PppService service(PppServiceType type) {
    PppService s;
    s.serviceID = "0123456789abcdef0123456789abcdef";
    s.name = "Havenway";
    s.type = type;
    s.endpoint = "de1.example.net";
    s.username = "alice";
    return s;
}

PppPaths paths() { return PppPaths::under("/var/lib/havenway", "/run/havenway"); }

TEST(PppEndpoint, OnlyHostNamesAndAddressesPass) {
    for (const char* ok :
         {"de1.example.net", "example.net.", "vpn-1.example.net", "192.0.2.7", "2001:db8::1", "localhost"})
        EXPECT_TRUE(isEndpoint(ok)) << ok;
    for (const char* bad : {"", "1.2.3", "-x.example.net", "a..b", "a b", "x;reboot", "$(id).net", "a`id`",
                            "host\nnoauth", "x.example.net --nolaunchpppd", "\"q\"", "a_b.net", "-o", "0.0.0.0",
                            "255.255.255.255", "::", "224.0.0.1",
                            // Numbers the resolver reads as addresses: "0x0" is 0.0.0.0.
                            "0", "0x0", "0xffffffff", "0xe0000001", "3232235777", "127.1", "0x7f.1", "1.2.3.4.",
                            "example.123"})
        EXPECT_FALSE(isEndpoint(bad)) << bad;
    EXPECT_FALSE(isEndpoint(std::string(64, 'a').append(".net")));
}

TEST(PppCredential, ControlCharactersAndEmptyAreRefused) {
    EXPECT_TRUE(isCredential("p4ss \"word\" \\ # ; $(x)"));
    EXPECT_FALSE(isCredential(""));
    EXPECT_FALSE(isCredential("a\nnoauth"));
    EXPECT_FALSE(isCredential(std::string("a\0b", 3)));
    EXPECT_FALSE(isCredential(std::string(256, 'x')));
}

TEST(PppQuote, EscapesEverythingThatCouldEndTheWord) {
    EXPECT_EQ(pppQuote("alice"), "\"alice\"");
    EXPECT_EQ(pppQuote("a\"b\\c # d"), "\"a\\\"b\\\\c # d\"");
}

TEST(PppdOptions, PPTPRunsPptpAsItsPtyWithMppeAndTheTunnelMtu) {
    PppSecrets secrets{"p\"w nodetach", ""};
    auto o = pppdOptions(service(PppServiceType::PPTP), secrets, paths());
    ASSERT_TRUE(o);
    EXPECT_NE(o->find("\nmtu 1400\nmru 1400\n"), std::string::npos);
    EXPECT_NE(o->find("\nrequire-mppe-128\n"), std::string::npos);
    EXPECT_NE(o->find("\ndefaultroute\nreplacedefaultroute\n"), std::string::npos) << "all traffic through the link";
    EXPECT_NE(o->find("\npty \"/usr/sbin/pptp de1.example.net --nolaunchpppd\"\n"), std::string::npos);
    EXPECT_NE(o->find("\npassword \"p\\\"w nodetach\"\n"), std::string::npos);
    EXPECT_NE(o->find("\nipparam 0123456789abcdef0123456789abcdef\n"), std::string::npos);
}

TEST(PppdOptions, L2TPHasNoPtyAndXl2tpdDialsTheServer) {
    auto s = service(PppServiceType::L2TP);
    auto o = pppdOptions(s, {"pw", "psk"}, paths());
    ASSERT_TRUE(o);
    EXPECT_EQ(o->find("pty"), std::string::npos);
    EXPECT_EQ(o->find("psk"), std::string::npos) << "the IPsec key is no PPP option";
    auto c = xl2tpdConfig(s, paths());
    ASSERT_TRUE(c);
    EXPECT_NE(c->find("\nlns = de1.example.net\n"), std::string::npos);
    EXPECT_NE(c->find("\npppoptfile = /run/havenway/ppp/0123456789abcdef0123456789abcdef.options\n"),
              std::string::npos);
    EXPECT_FALSE(xl2tpdConfig(service(PppServiceType::PPTP), paths()));
}

TEST(PppdOptions, RefusesValuesThatFailTheirChecks) {
    auto s = service(PppServiceType::PPTP);
    s.endpoint = "x.net; reboot";
    EXPECT_FALSE(pppdOptions(s, {"pw", ""}, paths()));
    s = service(PppServiceType::PPTP);
    s.serviceID = "../../etc/x";
    EXPECT_FALSE(pppdOptions(s, {"pw", ""}, paths()));
    EXPECT_FALSE(pppdOptions(service(PppServiceType::PPTP), {"line\nbreak", ""}, paths()));
    auto p = paths();
    p.runDir = "/run/it's";
    EXPECT_FALSE(pppdOptions(service(PppServiceType::PPTP), {"pw", ""}, p));
}

}  // namespace
}  // namespace hw::helper::ppp
