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

TEST(VPNServiceConfig, DictionariesReferToTheKeychainByServiceIDAndHoldNoSecret) {
    auto c = sample();
    const auto l2tp = c.L2TP_PPPConfig();
    const auto pptp = c.PPTP_PPPConfig();
    for (const auto* d : {&l2tp, &pptp}) {
        EXPECT_EQ(entry(*d, "CommRemoteAddress")->value, (std::variant<std::string, std::int32_t>("de1.example.net")));
        EXPECT_EQ(entry(*d, "AuthName")->value, (std::variant<std::string, std::int32_t>("alice")));
        EXPECT_EQ(entry(*d, "AuthPassword")->value, (std::variant<std::string, std::int32_t>("SVC-7")));
        EXPECT_EQ(entry(*d, "AuthPasswordEncryption")->value, (std::variant<std::string, std::int32_t>("Keychain")));
        for (const auto& e : *d) {
            if (auto* s = std::get_if<std::string>(&e.value)) {
                EXPECT_NE(*s, "p4ss-word");
                EXPECT_NE(*s, "s3cret-psk");
            }
        }
    }
    // Encryption belongs to PPTP alone.
    EXPECT_EQ(entry(l2tp, "CCPEnabled"), nullptr);
    EXPECT_NE(entry(pptp, "CCPEnabled"), nullptr);
    EXPECT_EQ(entry(c.L2TPIPSecConfig(), "SharedSecret")->value, (std::variant<std::string, std::int32_t>("SVC-7.SS")));
}

}  // namespace
}  // namespace hw
