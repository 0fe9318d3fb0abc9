#include "connection/vpn_service_config.h"

#include <gtest/gtest.h>

#include "core/vpn_types.h"
#include "sample_service_config.h"

namespace hw {
namespace {

VPNServiceConfig sample() {
    auto c = test::sampleServiceConfig(VPNTypesL2TP);
    c.setServiceID("SVC-7");
    return c;
}

const ServiceConfigEntry* entry(const ServiceConfigDictionary& d, const std::string& key) {
    for (const auto& e : d)
        if (e.key == key) return &e;
    return nullptr;
}

TEST(VPNServiceConfig, EndpointPrefersAddressThenExplicitThenHostName) {
    auto c = sample();
    EXPECT_EQ(c.endpoint(), "de1.example.net");
    EXPECT_EQ(c.endpoint_FQDN(), "de1.example.net");
    c.setEndpoint("explicit.example.org");
    EXPECT_EQ(c.endpoint(), "explicit.example.org");
    EXPECT_EQ(c.endpoint_FQDN(), "explicit.example.org");
    c.endpointIPAddress = "192.0.2.10";
    EXPECT_EQ(c.endpoint(), "192.0.2.10");
    EXPECT_EQ(c.endpoint_FQDN(), "explicit.example.org");
    c.endpointIPAddress.reset();
    EXPECT_EQ(c.endpoint(), std::nullopt) << "an absent address is the endpoint itself";
}

TEST(VPNServiceConfig, NoHostNameWhenPrefixAndSuffixAreEmptyOrAbsent) {
    VPNServiceConfig c;
    c.endpointIPAddress = "";
    EXPECT_EQ(c.endpoint(), std::nullopt);
    c.endpointPrefix = "";
    c.endpointSuffix = "";
    EXPECT_EQ(c.endpoint_FQDN(), std::nullopt);
    c.endpointSuffix = "example.net";
    EXPECT_EQ(c.endpoint_FQDN(), "example.net");
}

TEST(VPNServiceConfig, DescriptionMasksPasswordAndSharedSecret) {
    auto c = sample();
    std::string d = c.description();
    EXPECT_EQ(d.find("p4ss-word"), std::string::npos);
    EXPECT_EQ(d.find("s3cret-psk"), std::string::npos);
    EXPECT_NE(d.find("[L2TP over IPSec] name=Havenway"), std::string::npos);
    EXPECT_NE(d.find("username=alice"), std::string::npos);
    c.type = VPNTypesPPTP;
    c.password.reset();
    EXPECT_NE(c.description().find("[Unknown]"), std::string::npos);
    EXPECT_NE(c.description().find("password=(null)"), std::string::npos);
}

TEST(VPNServiceConfig, PPPDictionariesReferToTheKeychainByServiceID) {
    auto c = sample();
    auto l2tp = c.L2TP_PPPConfig();
    auto pptp = c.PPTP_PPPConfig();
    ASSERT_EQ(l2tp.size(), 24u);
    ASSERT_EQ(pptp.size(), 27u);
    for (const auto* d : {&l2tp, &pptp}) {
        EXPECT_EQ((*d)[0], (ServiceConfigEntry{"CommRemoteAddress", std::string("de1.example.net")}));
        EXPECT_EQ((*d)[1], (ServiceConfigEntry{"AuthName", std::string("alice")}));
        EXPECT_EQ((*d)[2], (ServiceConfigEntry{"AuthPassword", std::string("SVC-7")}));
        EXPECT_EQ((*d)[3], (ServiceConfigEntry{"AuthPasswordEncryption", std::string("Keychain")}));
        EXPECT_EQ(d->back(), (ServiceConfigEntry{"Logfile", std::string("/var/log/haven_way.log")}));
        EXPECT_EQ(entry(*d, "LCPEchoFailure")->value, (std::variant<std::string, std::int32_t>(15)));
        EXPECT_EQ(entry(*d, "IdleReminderTimer")->value, (std::variant<std::string, std::int32_t>(1800)));
        for (const auto& e : *d) {
            if (auto* s = std::get_if<std::string>(&e.value)) {
                EXPECT_NE(*s, "p4ss-word");
                EXPECT_NE(*s, "s3cret-psk");
            }
        }
    }
    EXPECT_EQ(entry(l2tp, "CCPEnabled"), nullptr);
    EXPECT_EQ(pptp[4], (ServiceConfigEntry{"CCPEnabled", 1}));
    EXPECT_EQ(pptp[5], (ServiceConfigEntry{"CCPMPPE128Enabled", 1}));
    EXPECT_EQ(pptp[6], (ServiceConfigEntry{"CCPMPPE40Enabled", 0}));
    EXPECT_EQ(pptp[7], (ServiceConfigEntry{"ACSPEnabled", 1}));
    // Past the PPTP-only rows the two tables agree entry for entry.
    EXPECT_TRUE(std::equal(l2tp.begin() + 4, l2tp.end(), pptp.begin() + 7));
}

TEST(VPNServiceConfig, IPSecAndIPv4Dictionaries) {
    auto c = sample();
    EXPECT_EQ(c.L2TPIPSecConfig(), (ServiceConfigDictionary{{"AuthenticationMethod", std::string("SharedSecret")},
                                                            {"SharedSecretEncryption", std::string("Keychain")},
                                                            {"SharedSecret", std::string("SVC-7.SS")}}));
    EXPECT_EQ(VPNServiceConfig::L2TPIPv4Config(),
              (ServiceConfigDictionary{{"ConfigMethod", std::string("PPP")}, {"OverridePrimary", 1}}));
}

}  // namespace
}  // namespace hw
