#include "connection/vpn_service_config.h"

#include <gtest/gtest.h>

#include "core/vpn_types.h"
#include "sample_service_config.h"

namespace hw {
namespace {

using Value = std::variant<std::string, std::int32_t>;

const ServiceConfigEntry* entry(const ServiceConfigDictionary& d, const std::string& key) {
    for (const auto& e : d)
        if (e.key == key) return &e;
    return nullptr;
}

TEST(VPNServiceConfig, EndpointPrefersAddressThenExplicitThenHostName) {
    auto c = test::sampleServiceConfig(VPNTypesL2TP);
    EXPECT_EQ(c.endpoint(), "de1.example.net");
    c.setEndpoint("explicit.example.org");
    EXPECT_EQ(c.endpoint(), "explicit.example.org");
    c.endpointIPAddress = "192.0.2.10";
    EXPECT_EQ(c.endpoint(), "192.0.2.10");
    EXPECT_EQ(c.endpoint_FQDN(), "explicit.example.org");
    c.endpointIPAddress.reset();
    EXPECT_EQ(c.endpoint(), std::nullopt) << "an absent address is the endpoint itself";

    VPNServiceConfig empty;
    empty.endpointIPAddress = "";
    empty.endpointPrefix = "";
    empty.endpointSuffix = "";
    EXPECT_EQ(empty.endpoint(), std::nullopt);
    EXPECT_EQ(empty.endpoint_FQDN(), std::nullopt);
}

TEST(VPNServiceConfig, SecretsAreMaskedInTheDescriptionAndKeptOutOfTheDictionaries) {
    auto c = test::sampleServiceConfig(VPNTypesL2TP);
    c.setServiceID("SVC-7");
    const std::string d = c.description();
    EXPECT_EQ(d.find("p4ss-word"), std::string::npos);
    EXPECT_EQ(d.find("s3cret-psk"), std::string::npos);
    EXPECT_NE(d.find("username=alice"), std::string::npos);

    const auto l2tp = c.L2TP_PPPConfig();
    const auto pptp = c.PPTP_PPPConfig();
    const auto ipsec = c.L2TPIPSecConfig();
    for (const auto* dict : {&l2tp, &pptp, &ipsec}) {
        for (const auto& e : *dict) {
            EXPECT_NE(e.value, Value("p4ss-word")) << e.key;
            EXPECT_NE(e.value, Value("s3cret-psk")) << e.key;
        }
    }
    // The keychain holds them, by the service's ID.
    EXPECT_EQ(entry(pptp, "AuthPassword")->value, Value("SVC-7"));
    EXPECT_EQ(entry(ipsec, "SharedSecret")->value, Value("SVC-7.SS"));
}

}  // namespace
}  // namespace hw
