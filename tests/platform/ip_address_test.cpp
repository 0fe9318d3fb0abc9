#include "platform/ip_address.h"

#include <gtest/gtest.h>

#include <string>

namespace hw {
namespace {

struct AddressCase {
    std::string text;
    std::optional<AddressFamily> family;
};

// The rows every caller relies on: the backend's resolver and server
// addresses, openvpn's management lines, the helper's routes and rules.
TEST(IPAddress, TakesOnlyAWholeLiteral) {
    const AddressCase cases[] = {
        {"10.0.0.1", AddressFamily::V4},
        {"255.255.255.255", AddressFamily::V4},
        {"::1", AddressFamily::V6},
        {"2001:db8::8:800:200c:417a", AddressFamily::V6},
        {"::ffff:192.0.2.1", AddressFamily::V6},
        {"", std::nullopt},
        {"010.0.0.1", std::nullopt},          // leading zero: octal to some parsers
        {"256.0.0.1", std::nullopt},
        {"10.0.0", std::nullopt},
        {"10.0.0.1 ", std::nullopt},
        {"10.0.0.1\nremote evil", std::nullopt},
        {std::string("10.0.0.1\0junk", 13), std::nullopt},  // trailing text behind a NUL
        {"10.0.0.0/8", std::nullopt},
        {"fe80::1%eth0", std::nullopt},
        {"[::1]", std::nullopt},
        {"vpn.example.com", std::nullopt},
        {std::string(64, '1'), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(addressFamily(c.text), c.family) << c.text;
        EXPECT_EQ(isIPAddress(c.text), c.family.has_value()) << c.text;
        EXPECT_EQ(isIPv4Address(c.text), c.family == AddressFamily::V4) << c.text;
    }
}

}  // namespace
}  // namespace hw
